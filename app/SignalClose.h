#pragma once

#include <QObject>
#include <QPointer>

class QSocketNotifier;
class QWidget;

// SIGTERM and SIGINT close the window the way its Exit button does: an operation in flight runs
// to its end and its record is made, then the tool ends as after Exit. An error box that is open
// is closed first, so that nothing waits for a click. The handlers only write the signal's
// number to a pipe, which the event loop reads; a second signal does what it did before (for
// the tool: end the process at once).
class SignalClose : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers (once per process) and makes `window` the one a signal closes.
    static SignalClose &Watch(QWidget *window);

signals:
    // A signal arrived and the window is about to be closed.
    void received(int signalNumber);

private:
    SignalClose();
    void onSignal();

    QPointer<QWidget> m_window;
    QSocketNotifier *m_notifier = nullptr;
};
