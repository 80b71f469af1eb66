#pragma once

#include <QtGlobal>

// The one source of time for the link, its waits and the operations. Milliseconds() is a 32-bit
// counter that wraps about every 49.7 days, so elapsed times are always taken as the difference
// of two readings modulo 2^32. A test clock keeps virtual time and moves it on in its waits.
class Clock
{
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual quint32 Milliseconds() const = 0;
    // Lasts at least `ms` milliseconds of this clock while the thread's events keep being
    // dispatched, at least once, also for 0 ms.
    virtual void PumpFor(quint32 ms) const = 0;
    // Lasts `ms` milliseconds of this clock and dispatches nothing.
    virtual void Sleep(quint32 ms) const = 0;
};

// The monotonic system clock, truncated to 32 bits. Its pumped wait sleeps in the event loop
// between events instead of spinning.
class SteadyClock : public Clock
{
public:
    [[nodiscard]] quint32 Milliseconds() const override;
    void PumpFor(quint32 ms) const override;
    void Sleep(quint32 ms) const override;
};

[[nodiscard]] Clock &systemClock();
