#pragma once

#include <QTimer>

#include <functional>
#include <memory>

// A timer of the simulated module: the delay of a reply, the gap inside a split reply, the
// period of unasked bytes, the wait for the rest of a request. It runs on Qt's timers unless a
// scheduler is set; then every interval is handed to the scheduler, so that a test moves the
// module's time on with its own clock instead of waiting in real time.
class SimTimer
{
public:
    using Action = std::function<void()>;
    // Calls `action` once, `ms` milliseconds from now on the scheduler's clock.
    using Scheduler = std::function<void(int ms, Action action)>;

    explicit SimTimer(Action timeout, bool singleShot = true);
    SimTimer(const SimTimer &) = delete;
    SimTimer &operator=(const SimTimer &) = delete;

    // An empty scheduler puts the timer back on Qt's timers; a running interval is dropped.
    void setScheduler(Scheduler scheduler);
    void start(int ms);
    void stop();
    [[nodiscard]] bool isActive() const;

private:
    void schedule();

    Action m_timeout;
    bool m_singleShot;
    QTimer m_timer;
    Scheduler m_scheduler;
    int m_intervalMs = 0;
    bool m_scheduled = false;
    // Counts starts and stops; a scheduled call made for an earlier count does nothing, and none
    // outlives the timer.
    std::shared_ptr<quint64> m_run = std::make_shared<quint64>(0);
};
