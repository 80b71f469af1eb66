#pragma once

// Virtual time for the module's waits. A pumped wait moves the clock on in slices of at most
// 25 ms; in each slice the thread's events are dispatched for a real millisecond, so that bytes
// between the link and a module on loopback in the same thread are delivered before time moves
// on. Actions scheduled on the clock run when virtual time reaches them.
//
// When every party to the exchange lives in this thread and keeps its time on this clock, a slice
// need not last a real millisecond: UntilIdle moves the clock on first and then dispatches, until
// a pass finds nothing to do and no byte is still on its way between the parties (the system
// delivers a loopback write a moment after it was made, at times later when the machine is
// busy), so what a due action sets off is seen within the same slice, as in real time.

#include "Clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <map>

class TestClock : public Clock
{
public:
    enum class Dispatch { ForAMillisecond, UntilIdle };

    explicit TestClock(quint32 start = 1000, Dispatch dispatch = Dispatch::ForAMillisecond)
        : m_now(start), m_dispatch(dispatch)
    {
    }

    [[nodiscard]] quint32 Milliseconds() const override { return m_now; }

    void PumpFor(quint32 ms) const override
    {
        runDue();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        for (quint32 left = ms; left > 0;) {
            const quint32 slice = std::min(left, quint32(25));
            if (m_dispatch == Dispatch::UntilIdle) {
                advance(slice);
                dispatchUntilIdle();
            } else {
                dispatchForAMillisecond();
                advance(slice);
            }
            left -= slice;
        }
    }

    // The thread is blocked: what comes due meanwhile runs at the next pumped wait, as a timer
    // that came due during a sleep fires at the next dispatch.
    void Sleep(quint32 ms) const override
    {
        m_now += ms;
        m_elapsed += ms;
    }

    // UntilIdle: true while bytes are still on their way between the parties.
    void setInFlight(std::function<bool()> inFlight) { m_inFlight = std::move(inFlight); }

    // Runs `action` once the clock has moved on by `ms` (checked after each slice).
    void after(quint32 ms, std::function<void()> action) const
    {
        m_due.emplace(quint64(m_elapsed) + ms, std::move(action));
    }

    // after() in the shape a simulated module's timers take: `ms` from now, once.
    [[nodiscard]] std::function<void(int, std::function<void()>)> scheduler() const
    {
        return [this](int ms, std::function<void()> action) {
            after(quint32(std::max(ms, 0)), std::move(action));
        };
    }

    // Virtual milliseconds since the clock was made.
    [[nodiscard]] quint64 elapsed() const { return m_elapsed; }

private:
    static void dispatchForAMillisecond()
    {
        QEventLoop loop;
        QTimer::singleShot(1, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // A write is read in the pass after the one that made it. The bounds keep a source that is
    // never idle, or bytes that never arrive, from holding the slice for ever.
    void dispatchUntilIdle() const
    {
        const QDeadlineTimer patience(1000);
        for (;;) {
            QEventLoop loop;
            for (int pass = 0; pass < 100 && loop.processEvents(QEventLoop::AllEvents); ++pass) {
            }
            if (!m_inFlight || !m_inFlight() || patience.hasExpired())
                return;
            dispatchForAMillisecond();
        }
    }

    void advance(quint32 ms) const
    {
        m_now += ms;
        m_elapsed += ms;
        runDue();
    }

    void runDue() const
    {
        while (!m_due.empty() && m_due.begin()->first <= m_elapsed)
            m_due.extract(m_due.begin()).mapped()();
    }

    mutable quint32 m_now;
    const Dispatch m_dispatch;
    std::function<bool()> m_inFlight;
    mutable quint64 m_elapsed = 0;
    mutable std::multimap<quint64, std::function<void()>> m_due;
};
