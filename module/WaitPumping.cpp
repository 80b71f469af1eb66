#include "WaitPumping.h"

#include "Clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>

void WaitPumping(quint32 ms, const Clock &clock)
{
    const quint32 start = clock.Milliseconds();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    for (;;) {
        const quint32 elapsed = clock.Milliseconds() - start;
        if (elapsed >= ms)
            return;
        const quint32 remaining = ms - elapsed;

        // A timer object on the stack: a single-shot timer left pending by a refused exec()
        // would fire into a later wait.
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(int(std::min<quint32>(remaining, 24u * 3600 * 1000)));
        if (loop.exec() < 0) {
            // The application is quitting and refuses nested loops until the outer loop
            // unwinds; dispatch what is pending and sleep in short slices instead of spinning.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::msleep(std::min<quint32>(remaining, 10));
        }
    }
}
