#pragma once

// Virtual time for the module's waits. A pumped wait moves the clock on in slices of at most
// 25 ms; in each slice the thread's events are dispatched for a real millisecond, so that bytes
// between the link and a module on loopback in the same thread are delivered before time moves
// on. Actions scheduled on the clock run when virtual time reaches them.

#include "Clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <map>

class TestClock : public Clock
{
public:
    static constexpr quint32 SliceMs = 25;

    explicit TestClock(quint32 start = 1000) : m_now(start) {}

    [[nodiscard]] quint32 Milliseconds() const override { return m_now; }

    void PumpFor(quint32 ms) const override
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        for (quint32 left = ms; left > 0;) {
            const quint32 slice = std::min(left, SliceMs);
            dispatchForAMillisecond();
            advance(slice);
            left -= slice;
        }
    }

    void Sleep(quint32 ms) const override { advance(ms); }

    // Runs `action` once the clock has moved on by `ms` (checked after each slice).
    void after(quint32 ms, std::function<void()> action) const
    {
        m_due.emplace(quint64(m_elapsed) + ms, std::move(action));
    }

    // Virtual milliseconds since the clock was made.
    [[nodiscard]] quint64 elapsed() const { return m_elapsed; }

private:
    static void dispatchForAMillisecond()
    {
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(1);
        if (loop.exec() < 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

    void advance(quint32 ms) const
    {
        m_now += ms;
        m_elapsed += ms;
        while (!m_due.empty() && m_due.begin()->first <= m_elapsed) {
            const auto action = m_due.begin()->second;
            m_due.erase(m_due.begin());
            action();
        }
    }

    mutable quint32 m_now;
    mutable quint64 m_elapsed = 0;
    mutable std::multimap<quint64, std::function<void()>> m_due;
};
