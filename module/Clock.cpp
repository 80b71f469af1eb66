#include "Clock.h"

#include <QThread>

#include <chrono>

quint32 SteadyClock::Milliseconds() const
{
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SteadyClock::Sleep(quint32 ms) const
{
    QThread::msleep(ms);
}

Clock &systemClock()
{
    static SteadyClock clock;
    return clock;
}
