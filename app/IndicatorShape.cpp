#include "IndicatorShape.h"

#include "SpokenText.h"

#include <QAccessibleWidget>
#include <QPainter>

class IndicatorAccessible : public QAccessibleWidget
{
public:
    explicit IndicatorAccessible(IndicatorShape *lamp)
        : QAccessibleWidget(lamp, QAccessible::Graphic)
    {
    }

    [[nodiscard]] QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<const IndicatorShape *>(widget())->meaning();
        return QAccessibleWidget::text(t);
    }
};

static QAccessibleInterface *lampAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("IndicatorShape") && object && object->isWidgetType())
        return new IndicatorAccessible(static_cast<IndicatorShape *>(object));
    return nullptr;
}

IndicatorShape::IndicatorShape(QWidget *parent) : QWidget(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(lampAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
}

QString IndicatorShape::meaning() const
{
    if (m_colour == IndicatorColour::Yellow)
        return SpokenText(Spoken::LampOk);
    return SpokenText(m_reported ? Spoken::LampError : Spoken::LampNotYetOk);
}

QColor IndicatorShape::brushColour() const
{
    return m_colour == IndicatorColour::Yellow ? QColor(255, 255, 0) : QColor(255, 0, 0);
}

void IndicatorShape::setColour(IndicatorColour colour)
{
    m_reported = true;
    if (colour != m_colour) {
        m_colour = colour;
        update();
    }
    // Every outcome is announced, also one that leaves the colour as it was.
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void IndicatorShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A circle as wide as the shorter side, centred, with a one-pixel black outline.
    const int diameter = qMin(width(), height()) - 1;
    const QRectF circle((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter,
                        diameter);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(brushColour());
    painter.drawEllipse(circle);
}
