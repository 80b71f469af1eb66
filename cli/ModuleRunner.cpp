#include "ModuleRunner.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <vector>

// The module threads only wait and exchange a few bytes; a small stack lets hundreds run.
static constexpr uint kThreadStack = 512 * 1024;

QList<ModuleResult> RunModules(const QStringList &hosts, const JobOptions &options, int jobs,
                               const std::function<void(int done)> &progress)
{
    const int total = int(hosts.size());
    std::vector<ModuleResult> results(size_t(hosts.size()));
    std::atomic<int> next{0};
    std::atomic<int> done{0};

    const int threadCount = std::max(1, std::min(jobs, total));
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
