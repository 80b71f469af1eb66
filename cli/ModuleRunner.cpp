#include "ModuleRunner.h"

#include <QDir>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <limits>
#include <memory>
#include <vector>

#include <sys/resource.h>

// The module threads only wait and exchange a few bytes; a small stack lets hundreds run.
static constexpr uint kThreadStack = 512 * 1024;

// Descriptors kept free for what else the program opens: its report file, the resolver's files.
static constexpr rlim_t kSpareDescriptors = 16;

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
    return int(std::min<rlim_t>((limit.rlim_cur - used) / DescriptorsPerJob,
                                rlim_t(std::numeric_limits<int>::max())));
}

QList<ModuleResult> RunModules(const QStringList &hosts, const JobOptions &options, int jobs,
                               const std::function<void(int done)> &progress)
{
    const int total = int(hosts.size());
    std::vector<ModuleResult> results(size_t(hosts.size()));
    std::atomic<int> next{0};
    std::atomic<int> done{0};

    const int threadCount = std::max(0, std::min(jobs, total));
    std::vector<std::unique_ptr<QThread>> threads;
    QEventLoop loop;
    int running = threadCount;
    for (int t = 0; t < threadCount; ++t) {
        // Each thread takes the next module when its last one is done: its own link and event
        // loop per module, so the operations run exactly as they do in the window.
        std::unique_ptr<QThread> thread(QThread::create([&] {
            for (int i = next++; i < total; i = next++) {
                results[size_t(i)] = RunModuleJob(hosts[i], options);
                ++done;
            }
        }));
        thread->setStackSize(kThreadStack);
        QObject::connect(thread.get(), &QThread::finished, &loop, [&running, &loop] {
            if (--running == 0)
                loop.quit();
        });
        threads.push_back(std::move(thread));
    }

    QTimer ticker;
    if (progress) {
        QObject::connect(&ticker, &QTimer::timeout, &loop, [&] { progress(done.load()); });
        ticker.start(100);
    }
    for (auto &thread : threads) {
        thread->start();
        // A thread the system refused to create never finishes; the others share its modules.
        if (!thread->isRunning() && !thread->isFinished())
            --running;
    }
    if (running > 0)
        loop.exec();
    for (int i = next++; i < total; i = next++) {
        results[size_t(i)] = RunModuleJob(hosts[i], options);
        ++done;
    }
    ticker.stop();
    for (auto &thread : threads)
        thread->wait();
    if (progress)
        progress(done.load());
    return QList<ModuleResult>(results.begin(), results.end());
}
