#pragma once

#include "ModuleJob.h"

#include <QList>
#include <QStringList>

#include <functional>

// Each module in flight holds its thread's event dispatcher (an eventfd, or both ends of a pipe
// where there is none) and its socket; four descriptors leave room for a lookup's socket.
inline constexpr int DescriptorsPerJob = 4;

// Raises the soft limit on open descriptors to the hard limit, then returns how many module
// threads the descriptors still free allow at once; 0 when not even one.
[[nodiscard]] int JobsWithinDescriptorLimit();

// Runs the command on every host, each module's run on one of up to `jobs` threads (with none,
// all on the calling thread, one after another), and returns
// the results in the order of the hosts. The calling thread keeps dispatching its own events
// meanwhile (a simulated fleet in the same process keeps serving) and calls `progress` with the
// number of modules done, at most ten times a second and once at the end.
[[nodiscard]] QList<ModuleResult> RunModules(const QStringList &hosts, const JobOptions &options,
                                             int jobs,
                                             const std::function<void(int done)> &progress = {});
