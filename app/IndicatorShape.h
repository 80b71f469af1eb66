#pragma once

#include "Outcome.h"

#include <QColor>
#include <QWidget>

// The round outcome lamp: red at start and after a failure, yellow after a success.
class IndicatorShape : public QWidget
{
    Q_OBJECT

public:
    explicit IndicatorShape(QWidget *parent = nullptr);

    [[nodiscard]] IndicatorColour colour() const { return m_colour; }
    [[nodiscard]] QColor brushColour() const;
    void setColour(IndicatorColour colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    IndicatorColour m_colour = IndicatorColour::Red;
};
