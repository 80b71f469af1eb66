#pragma once

#include "ModuleJob.h"

#include <QList>
#include <QStringList>

#include <functional>

// Runs the command on every host, each module's run on one of up to `jobs` threads, and returns
// the results in the order of the hosts. The calling thread keeps dispatching its own events
// meanwhile (a simulated fleet in the same process keeps serving) and calls `progress` with the
// number of modules done, at most ten times a second and once at the end.
[[nodiscard]] QList<ModuleResult> RunModules(const QStringList &hosts, const JobOptions &options,
                                             int jobs,
                                             const std::function<void(int done)> &progress = {});
