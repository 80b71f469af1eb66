#pragma once

#include "Outcome.h"

#include <QColor>
#include <QWidget>

// The round outcome lamp: red at start and after a failure, yellow after a success. Screen readers
// hear what the colour means ("Status lamp: yellow, ok") each time an outcome sets it.
class IndicatorShape : public QWidget
{
    Q_OBJECT

public:
    explicit IndicatorShape(QWidget *parent = nullptr);

    [[nodiscard]] IndicatorColour colour() const { return m_colour; }
    [[nodiscard]] QColor brushColour() const;
    void setColour(IndicatorColour colour);

    // The lamp in words, for those who cannot see it, in the current language.
    [[nodiscard]] QString meaning() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    IndicatorColour m_colour = IndicatorColour::Red;
    // Red before any outcome only means that nothing has succeeded yet, not that something failed.
    bool m_reported = false;
};
