#pragma once

#include <QtGlobal>

class Clock;

// Waits at least `ms` milliseconds by `clock` while the thread's events keep being dispatched,
// so socket events run in the middle of the handler that waits. Events are dispatched at least
// once, also for 0 ms. Every reading of time is the clock's own.
void WaitPumping(quint32 ms, const Clock &clock);
