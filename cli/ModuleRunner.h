#pragma once

#include "ModuleJob.h"

#include <QList>
#include <QStringList>

#include <atomic>
#include <functional>

// Raises the soft limit on open descriptors to the hard limit, then returns how many modules the
// descriptors still free allow at once (each holds one socket); 0 when not even one.
[[nodiscard]] int JobsWithinDescriptorLimit();

// Runs the command on every host on the engine, at most `jobs` modules at once, and returns the
// results of the modules run, in the order of the hosts; with the run cancelled
// (JobOptions::cancel), modules not started are left out. The calling thread keeps dispatching
// its own events meanwhile (a simulated fleet in the same process keeps serving) and calls
// `progress` with the number of modules done, at most ten times a second and once at the end.
[[nodiscard]] QList<ModuleResult> RunModules(const QStringList &hosts, const JobOptions &options,
                                             int jobs,
                                             const std::function<void(int done)> &progress = {});

// Set by the program's handler of SIGINT and SIGTERM: the run starts no new module, finishes
// those in flight, reports them and ends with 128 + the signal's number.
struct RunInterruption
{
    std::atomic<bool> requested{false};
    std::atomic<int> signal{0};
};
[[nodiscard]] RunInterruption &Interruption();
