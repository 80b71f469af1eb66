#include "SignalClose.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT};
struct sigaction g_before[2] = {};

extern "C" void writeSignalNumber(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void catchSignals()
{
    struct sigaction action = {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &action, &g_before[i]);
}

// What the signals did before: for the tool, end the process.
void restoreSignals()
{
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &g_before[i], nullptr);
}

} // namespace

SignalClose::SignalClose()
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalClose::onSignal);
    catchSignals();
}

SignalClose &SignalClose::Watch(QWidget *window)
{
    static SignalClose *instance = new SignalClose;
    instance->m_window = window;
    return *instance;
}

void SignalClose::onSignal()
{
    unsigned char byte = 0;
    if (::read(g_pipe[0], &byte, 1) != 1)
        return;
    restoreSignals();
    emit received(byte);
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget != m_window && widget->isVisible() && widget->isModal())
            widget->close();
    }
    if (m_window)
        m_window->close();
}
