// Plays the tool's two beeps through ToneBeeper, one after the other, and prints how long each
// Beep() call took to return; bench/beep_proof.sh records and measures what came out.
#include "Beeper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMediaDevices>
#include <QTimer>

#include <cstdio>

static bool WaitFor(ToneBeeper &tone, int timeoutMs)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    bool finished = false;
    QObject::connect(&tone, &ToneBeeper::toneFinished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
    return finished;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        std::printf("no audio output: nothing to play\n");
        return 1;
    }
    std::printf("output: %s\n", qPrintable(QMediaDevices::defaultAudioOutput().description()));

    ToneBeeper tone;
    const int tones[][2] = {{1000, 300}, {300, 300}};
    for (const auto &t : tones) {
        QElapsedTimer timer;
        timer.start();
        tone.Beep(t[0], t[1]);
        const double returnedMs = double(timer.nsecsElapsed()) / 1e6;
        const bool finished = WaitFor(tone, 5000);
        std::printf("played %d Hz for %d ms: Beep() returned after %.2f ms, sink released after "
                    "%lld ms%s\n",
                    t[0], t[1], returnedMs, static_cast<long long>(timer.elapsed()),
                    finished ? "" : " (did not finish)");
        std::printf("format: %d Hz, %d channel(s), %d bytes a sample\n", tone.format().sampleRate(),
                    tone.format().channelCount(), tone.format().bytesPerSample());
        std::fflush(stdout);
        if (!finished)
            return 1;
    }
    return 0;
}
