#include "WindowParts.h"

#include "Pictures.h"

#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionTab>

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

QIcon picture(const char *name, const QPalette &palette)
{
    return Picture(QLatin1String(name), palette);
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
    // Enter presses the focused button, and only a focused button looks like the default one.
    button->setAutoDefault(true);
    return button;
}

} // namespace WindowLook

QSize FixedRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return {QStyledItemDelegate::sizeHint(option, index).width(), m_rowHeight};
}

void FixedRowDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->displayAlignment = Qt::AlignLeft | Qt::AlignTop;
}

CompactTabStyle::CompactTabStyle() : QProxyStyle(QApplication::style()->name()) {}

int CompactTabStyle::pixelMetric(PixelMetric metric, const QStyleOption *option,
                                 const QWidget *widget) const
{
    if (metric == PM_TabBarTabHSpace)
        return 2 * TextMargin;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QSize CompactTabStyle::sizeFromContents(ContentsType type, const QStyleOption *option,
                                        const QSize &contents, const QWidget *widget) const
{
    const auto *tab = qstyleoption_cast<const QStyleOptionTab *>(option);
    if (type != CT_TabBarTab || !tab)
        return QProxyStyle::sizeFromContents(type, option, contents, widget);
    const QFontMetrics metrics = widget ? widget->fontMetrics() : option->fontMetrics;
    const QSize base = QProxyStyle::sizeFromContents(type, option, contents, widget);
    return {metrics.horizontalAdvance(tab->text) + 2 * TextMargin,
            qMax(base.height(), metrics.height() + 2 * TextMargin)};
}

void CompactTabStyle::drawControl(ControlElement element, const QStyleOption *option,
                                  QPainter *painter, const QWidget *widget) const
{
    const auto *tab = qstyleoption_cast<const QStyleOptionTab *>(option);
    if (element != CE_TabBarTab || !tab) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    QProxyStyle::drawControl(CE_TabBarTabShape, tab, painter, widget);
    QRect textRect = tab->rect;
    // A tab behind the current one sits lower, as the base style draws its shape.
    if (!(tab->state & State_Selected))
        textRect.translate(0, QProxyStyle::pixelMetric(PM_TabBarTabShiftVertical, tab, widget));
    painter->save();
    if (widget)
        painter->setFont(widget->font());
    drawItemText(painter, textRect, Qt::AlignCenter | Qt::TextSingleLine, tab->palette,
                 tab->state & State_Enabled, tab->text, QPalette::WindowText);
    painter->restore();
    if (tab->state & State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(*tab);
        focus.rect = textRect.adjusted(2, 2, -2, -2);
        QProxyStyle::drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
    }
}
