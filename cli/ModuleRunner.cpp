#include "ModuleRunner.h"

#include "ModuleEngine.h"

#include <QDir>

#include <limits>
#include <thread>

#include <sys/resource.h>

// Descriptors kept free for what else the program opens: its report file, the journal, the
// engine's own epoll sets, the resolver's files.
static constexpr rlim_t kSpareDescriptors = 32;

int JobsWithinDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<int>::max();
    // Those open now, the listing's own included.
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    const auto open = rlim_t(
        descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    const rlim_t used = open + kSpareDescriptors;
    if (limit.rlim_cur <= used)
        return 0;
    return int(std::min<rlim_t>((limit.rlim_cur - used) / DescriptorsPerModule,
                                rlim_t(std::numeric_limits<int>::max())));
}

QList<ModuleResult> RunModules(const QStringList &hosts, const JobOptions &options, int jobs,
                               const std::function<void(int done)> &progress)
{
    EngineOptions engine;
    engine.port = options.port;
    engine.jobs = jobs;
    engine.clock = options.clock;
    engine.cancel = options.cancel;
    engine.wire = options.wire;
    engine.finished = options.finished;
    QList<ModuleRun> runs = RunFleet(hosts, ProcedureFor(options.command), engine, progress);
    QList<ModuleResult> results;
    results.reserve(runs.size());
    for (ModuleRun &run : runs) {
        results.append(ResultFromRun(run, options.command));
        // Ten thousand modules' runs need not stay beside their results.
        run = ModuleRun{};
    }
    return results;
}

RunInterruption &Interruption()
{
    static RunInterruption interruption;
    return interruption;
}
