#include "IndicatorShape.h"

#include <QPainter>

IndicatorShape::IndicatorShape(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
}

QColor IndicatorShape::brushColour() const
{
    return m_colour == IndicatorColour::Yellow ? QColor(255, 255, 0) : QColor(255, 0, 0);
}

void IndicatorShape::setColour(IndicatorColour colour)
{
    if (colour == m_colour)
        return;
    m_colour = colour;
    update();
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
