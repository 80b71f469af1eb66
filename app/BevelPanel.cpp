#include "BevelPanel.h"

#include <QAccessibleWidget>
#include <QPainter>

static const QColor EdgeLight(255, 255, 255);
static const QColor EdgeShadow(128, 128, 128);
static const QColor EdgeDarkShadow(64, 64, 64);

// Draws `width` rings inward from `rect`, top and left in one colour, bottom and right in the
// other.
static QRect drawFrame(QPainter &painter, QRect rect, const QColor &topLeft,
                       const QColor &bottomRight, int width)
{
    for (int i = 0; i < width && rect.width() > 1 && rect.height() > 1; ++i) {
        painter.setPen(topLeft);
        painter.drawLine(rect.topLeft(), rect.topRight() - QPoint(1, 0));
        painter.drawLine(rect.topLeft(), rect.bottomLeft() - QPoint(0, 1));
        painter.setPen(bottomRight);
        painter.drawLine(rect.bottomLeft(), rect.bottomRight());
        painter.drawLine(rect.topRight(), rect.bottomRight());
        rect.adjust(1, 1, -1, -1);
    }
    return rect;
}

static QRect drawBevel(QPainter &painter, const QRect &rect, Bevel bevel, int width)
{
    switch (bevel) {
    case Bevel::Raised:
        return drawFrame(painter, rect, EdgeLight, EdgeShadow, width);
    case Bevel::Lowered:
        return drawFrame(painter, rect, EdgeShadow, EdgeLight, width);
    case Bevel::None:
        break;
    }
    return rect;
}

// The painted text is the panel's name unless the window gave it one of its own.
class BevelPanelAccessible : public QAccessibleWidget
{
public:
    explicit BevelPanelAccessible(BevelPanel *panel) : QAccessibleWidget(panel) {}

    [[nodiscard]] QAccessible::Role role() const override
    {
        return static_cast<const BevelPanel *>(widget())->accessibleRole();
    }

    [[nodiscard]] QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const BevelPanel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

static QAccessibleInterface *panelAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("BevelPanel") && object && object->isWidgetType())
        return new BevelPanelAccessible(static_cast<BevelPanel *>(object));
    return nullptr;
}

BevelPanel::BevelPanel(QWidget *parent)
    : QWidget(parent), m_background(palette().color(QPalette::Button)),
      m_foreground(palette().color(QPalette::ButtonText))
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(panelAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::NoFocus);
}

void BevelPanel::setText(const QString &text)
{
    if (text != m_text) {
        m_text = text;
        update();
    }
    // Announced even when the text stays: a second "Set Data Error" is a new outcome to someone
    // who only hears the window.
    if (QAccessible::isActive() && accessibleName().isEmpty()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void BevelPanel::setFrame(bool singleBorder, Bevel outer, Bevel inner, int bevelWidth,
                          int borderWidth)
{
    m_singleBorder = singleBorder;
    m_outer = outer;
    m_inner = inner;
    m_bevelWidth = bevelWidth;
    m_borderWidth = borderWidth;
    update();
}

void BevelPanel::setColours(const QColor &background, const QColor &foreground)
{
    m_background = background;
    m_foreground = foreground;
    update();
}

void BevelPanel::setHighlighted(bool highlighted)
{
    if (highlighted != m_highlighted) {
        m_highlighted = highlighted;
        update();
    }
}

QRect BevelPanel::clientRect() const
{
    QRect r = rect();
    int inset = m_singleBorder ? 2 : 0;
    inset += m_outer == Bevel::None ? 0 : m_bevelWidth;
    inset += m_borderWidth;
    inset += m_inner == Bevel::None ? 0 : m_bevelWidth;
    return r.adjusted(inset, inset, -inset, -inset);
}

void BevelPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);

    QRect r = rect();
    if (m_singleBorder) {
        // The sunken two-line edge of a bordered panel.
        r = drawFrame(painter, r, EdgeShadow, EdgeLight, 1);
        r = drawFrame(painter, r, EdgeDarkShadow, palette().color(QPalette::Button), 1);
    }
    r = drawBevel(painter, r, m_outer, m_bevelWidth);
    if (m_highlighted)
        painter.fillRect(r, palette().color(QPalette::Highlight));
    r.adjust(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth);
    r = drawBevel(painter, r, m_inner, m_bevelWidth);

    painter.setPen(m_foreground);
    if (!m_text.isEmpty()) {
        painter.setFont(font());
        painter.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, m_text);
    }
    // A panel that takes the focus shows it as a dotted frame in its text colour.
    if (hasFocus()) {
        QPen dots(m_foreground, 1, Qt::DotLine);
        painter.setPen(dots);
        painter.drawRect(r.adjusted(1, 1, -2, -2));
    }
}
