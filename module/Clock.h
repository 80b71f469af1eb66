#pragma once

#include <QtGlobal>

// The 32-bit millisecond counter that the waits run on. It wraps about every 49.7 days, so
// elapsed times are always taken as the difference of two readings modulo 2^32.
class Clock
{
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual quint32 Milliseconds() const = 0;
};

// Milliseconds of the monotonic system clock, truncated to 32 bits.
class SteadyClock : public Clock
{
public:
    [[nodiscard]] quint32 Milliseconds() const override;
};

[[nodiscard]] Clock &systemClock();
