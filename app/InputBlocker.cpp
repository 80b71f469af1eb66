#include "InputBlocker.h"

#include <QApplication>
#include <QWidget>

WindowInputBlocker::WindowInputBlocker(QWidget *window) : QObject(window), m_window(window)
{
    qApp->installEventFilter(this);
}

bool WindowInputBlocker::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_blocked || !isInput(event->type()) || !watched->isWidgetType())
        return false;
    return static_cast<QWidget *>(watched)->window() == m_window;
}

bool WindowInputBlocker::isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::InputMethod:
    // A drop from another window would change the address field in the middle of a scan.
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}
