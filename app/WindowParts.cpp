#include "WindowParts.h"

#include <QPushButton>

namespace WindowLook {

static QFont makeFont(const QStringList &families, int pixelSize, bool bold)
{
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QFont courierFont(bool bold)
{
    return makeFont({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")}, 13, bold);
}

QFont msSansSerifFont()
{
    return makeFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")}, 16, true);
}

QFont microsoftSansSerifFont()
{
    return makeFont({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans")}, 11,
                    false);
}

void installFontSubstitutes()
{
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Microsoft Sans Serif"),
                              QStringLiteral("Liberation Sans"));
}

QString literalCaption(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
    return escaped;
}

QIcon picture(const char *name)
{
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

void switchInputMethodOff(QWidget *widget)
{
    widget->setAttribute(Qt::WA_InputMethodEnabled, false);
}

QPushButton *makeButton(QWidget *parent, const char *name, const QRect &geometry,
                        const QString &text, const QIcon &icon, const QSize &iconSize)
{
    auto *button = makeControl<QPushButton>(parent, name, geometry);
    button->setText(text);
    button->setIcon(icon);
    button->setIconSize(iconSize);
    button->setAutoDefault(false);
    return button;
}

} // namespace WindowLook

QSize FixedRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return {QStyledItemDelegate::sizeHint(option, index).width(), m_rowHeight};
}

int CompactTabStyle::pixelMetric(PixelMetric metric, const QStyleOption *option,
                                 const QWidget *widget) const
{
    if (metric == PM_TabBarTabHSpace)
        return 10;
    return QProxyStyle::pixelMetric(metric, option, widget);
}
