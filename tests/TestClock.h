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
    explicit TestClock(quint32 start = 1000) : m_now(start) {}

    [[nodiscard]] quint32 Milliseconds() const override { return m_now; }

    void PumpFor(quint32 ms) const override
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        for (quint32 left = ms; left > 0;) {
            const quint32 slice = std::min(left, quint32(25));
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
        QTimer::singleShot(1, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }

    void advance(quint32 ms) const
    {
        m_now += ms;
        m_elapsed += ms;
        while (!m_due.empty() && m_due.begin()->first <= m_elapsed)
            m_due.extract(m_due.begin()).mapped()();
    }

    mutable quint32 m_now;
    mutable quint64 m_elapsed = 0;
    mutable std::multimap<quint64, std::function<void()>> m_due;
};
