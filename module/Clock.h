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
    // For a loop that waits on descriptors of its own (the command line's engine), from one
    // thread at a time: the real milliseconds it may block when nothing of its own is due for
    // `dueInMs` of this clock, and Idled() when such a block ended with nothing to do. The
    // system's clock blocks for all of it; a test clock blocks briefly and moves its time on.
    [[nodiscard]] virtual quint32 BlockMs(quint32 dueInMs) const { return dueInMs; }
    virtual void Idled(quint32 /*dueInMs*/) const {}
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
