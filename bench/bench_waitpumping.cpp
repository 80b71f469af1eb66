// Measures the pumped wait: how far each wait overshoots its length, and how much processor
// time the waiting costs as a share of the time waited (a busy loop would cost about 100 %).

#include "Clock.h"
#include "WaitPumping.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));

    struct Case
    {
        quint32 ms;
        int samples;
    };
    const std::vector<Case> cases =
        quick ? std::vector<Case>{{3, 20}, {10, 10}, {100, 3}}
              : std::vector<Case>{{3, 300}, {10, 150}, {100, 30}, {500, 8}, {2000, 3}};
    std::printf("%8s %8s %12s %12s %12s %10s\n", "wait ms", "samples", "over min", "over median",
                "over p99", "cpu share");
    bool met = true;
    for (const Case &c : cases) {
        std::vector<double> over;
        QElapsedTimer wall;
        wall.start();
        const std::clock_t cpu0 = std::clock();
        for (int i = 0; i < c.samples; ++i) {
            QElapsedTimer t;
            t.start();
            WaitPumping(c.ms, systemClock());
            over.push_back(double(t.nsecsElapsed()) / 1e6 - c.ms);
        }
        const double cpuMs = double(std::clock() - cpu0) * 1000.0 / CLOCKS_PER_SEC;
        const double share = 100.0 * cpuMs / double(wall.elapsed());
        std::sort(over.begin(), over.end());
        const double p99 = over[std::min(over.size() - 1, size_t(over.size() * 0.99))];
        std::printf("%8u %8d %10.2fms %10.2fms %10.2fms %9.2f%%\n", c.ms, c.samples, over.front(),
                    over[over.size() / 2], p99, share);
        met = met && p99 <= 2.0 && share <= 3.0;
    }
    std::printf("targets (p99 overshoot <= 2 ms, cpu share <= 3 %%): %s\n",
                met ? "met" : "NOT met");
    return 0;
}
