#include "simtimer.h"

#include <algorithm>

SimTimer::SimTimer(Action timeout, bool singleShot)
    : m_timeout(std::move(timeout)), m_singleShot(singleShot)
{
    m_timer.setSingleShot(singleShot);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { m_timeout(); });
}

void SimTimer::setScheduler(Scheduler scheduler)
{
    stop();
    m_scheduler = std::move(scheduler);
}

void SimTimer::start(int ms)
{
    stop();
    m_intervalMs = std::max(ms, 0);
    if (!m_scheduler) {
        m_timer.start(m_intervalMs);
        return;
    }
    m_scheduled = true;
    schedule();
}

void SimTimer::stop()
{
    ++*m_run;
    m_scheduled = false;
    m_timer.stop();
}

bool SimTimer::isActive() const
{
    return m_scheduler ? m_scheduled : m_timer.isActive();
}

void SimTimer::schedule()
{
    const std::weak_ptr<quint64> run = m_run;
    const quint64 current = *m_run;
    // A repeating timer waits at least a millisecond, or a clock that runs what is due in a loop
    // would run it for ever.
    const int ms = m_singleShot ? m_intervalMs : std::max(m_intervalMs, 1);
    m_scheduler(ms, [this, run, current] {
        const std::shared_ptr<quint64> alive = run.lock();
        if (!alive || *alive != current)
            return;
        if (m_singleShot)
            m_scheduled = false;
        else
            schedule();
        m_timeout();
    });
}
