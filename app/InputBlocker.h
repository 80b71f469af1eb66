#pragma once

#include <QEvent>
#include <QObject>

class QWidget;

// Keeps mouse, keyboard and drag-and-drop input away from a window and its controls while an
// operation runs. Unlike QWidget::setEnabled(false) the controls keep their normal look, and
// painting, socket events and other windows (the error box) go on as usual.
class WindowInputBlocker : public QObject
{
public:
    explicit WindowInputBlocker(QWidget *window);

    [[nodiscard]] bool blocked() const { return m_blocked; }
    void setBlocked(bool blocked) { m_blocked = blocked; }

    // The events that count as input.
    [[nodiscard]] static bool isInput(QEvent::Type type);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    bool m_blocked = false;
};
