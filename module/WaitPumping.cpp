#include "WaitPumping.h"

#include "Clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>

void WaitPumping(quint32 ms, const Clock &clock)
{
    clock.PumpFor(ms);
}

void SteadyClock::PumpFor(quint32 ms) const
{
    const quint32 start = Milliseconds();
    // The millisecond counter counts whole milliseconds, so its first tick may come at once; the
    // deadline keeps the wait from ending up to a millisecond early.
    const QDeadlineTimer deadline(qint64(ms), Qt::PreciseTimer);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    for (;;) {
        const quint32 elapsed = Milliseconds() - start;
        if (elapsed >= ms && deadline.hasExpired())
            return;
        const quint32 remaining =
            std::max<quint32>({elapsed < ms ? ms - elapsed : 0u,
                               quint32(std::max<qint64>(deadline.remainingTime(), 0)), 1u});

        // A timer object on the stack: a single-shot timer left pending by a refused exec()
        // would fire into a later wait.
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        // Long sleeps in the event loop overshoot by about a tenth of a percent here, so the
        // wait sleeps in slices of at most 25 ms and checks the clock after each.
        timer.start(int(std::min<quint32>(remaining, 25)));
        if (loop.exec() < 0) {
            // The application is quitting and refuses nested loops until the outer loop
            // unwinds; dispatch what is pending and sleep in short slices instead of spinning.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::msleep(std::min<quint32>(remaining, 10));
        }
    }
}
