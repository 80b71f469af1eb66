#pragma once

#include "Beeper.h"
#include "ErrorBox.h"
#include "RecordingDoubles.h"
#include "SoakJudge.h"
#include "TestClock.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <array>
#include <memory>

class SimModule;
class TfrmMain;
class QPushButton;

// The simulated module's misbehaviour for one press; Healthy answers everything at once.
enum class SoakFault {
    Healthy,
    Garbage,
    Split,
    Flood,
    Reset,
    Close,
    Silent,
    Delay,
    Unsolicited,
    Refused,
    Short
};
inline constexpr int SoakFaultCount = 11;

[[nodiscard]] QString SoakFaultName(SoakFault fault);

// How often each operation is pressed, while the link is up and while it is down (when the four
// link buttons are disabled and pressing them must do nothing).
struct SoakMix
{
    QString name;
    QString note;
    std::array<int, SoakOperationCount> connected{};
    std::array<int, SoakOperationCount> disconnected{};

    // Every operation often enough to matter, about two minutes for 50 presses.
    [[nodiscard]] static SoakMix ci();
    // The quick tests weighted up, so that 1,000 presses take minutes rather than an hour.
    [[nodiscard]] static SoakMix quick();
};

struct SoakOptions
{
    int operations = 50;
    quint32 seed = 20240817;
    SoakMix mix = SoakMix::ci();
    // One line per press on standard output.
    bool verbose = false;
    // The window's waits and the module's delays, gaps and unasked bytes on one test clock, so
    // a press takes a small part of its time in real time; off, everything runs on the real clock.
    bool virtualTime = false;
};

struct SoakReport
{
    int operations = 0;
    quint32 seed = 0;
    QString mixName;
    QString mixNote;
    QString moduleAddress;
    quint16 modulePort = 0;
    bool webPageServed = false;
    std::array<std::array<int, SoakOutcomeCount>, SoakFaultCount> byFault{};
    std::array<std::array<int, SoakOutcomeCount>, SoakOperationCount> byOperation{};
    std::array<qint64, SoakOperationCount> totalMs{};
    std::array<qint64, SoakOperationCount> maxMs{};
    QMap<QString, int> errorKinds;
    int strictChecks = 0;
    int rssEarlyAt = 0;
    qint64 rssEarlyKb = -1;
    qint64 rssEndKb = -1;
    // Real time of the run, and the time the presses took on the clock they ran on.
    qint64 elapsedMs = 0;
    bool virtualTime = false;
    qint64 clockMs = 0;
    int failureCount = 0;
    // The first problems found, each naming its press.
    QStringList failures;

    [[nodiscard]] double rssGrowthPercent() const;
    // A run too short to have settled says little about growth: it is shown, not judged.
    [[nodiscard]] bool rssJudged() const { return operations >= 200; }
    [[nodiscard]] bool passed() const;
    [[nodiscard]] int faultTotal(SoakFault fault) const;
    [[nodiscard]] QString text() const;
};

// Presses the real window's buttons, one after another, against a simulated module in the same
// process whose faults change at random before every press, and checks the window after each.
class SoakHarness
{
public:
    explicit SoakHarness(SoakOptions options);
    ~SoakHarness();
    SoakHarness(const SoakHarness &) = delete;
    SoakHarness &operator=(const SoakHarness &) = delete;

    // Redirects the settings to a scratch folder, starts the module on a loopback address of
    // this run's own (its web page on port 80 when that can be bound) and shows the window.
    [[nodiscard]] bool setUp(QString *why);
    [[nodiscard]] SoakReport run();

private:
    struct FaultDraw
    {
        SoakFault fault = SoakFault::Healthy;
        int splitGapMs = 0;
        bool floodOnConnect = false;
        int afterDraw = 0;
        bool closeNow = false;
        int delayMs = 0;
        int unsolicitedMs = 0;
    };

    [[nodiscard]] FaultDraw drawFault();
    [[nodiscard]] SoakOperation pickOperation(int draw, bool connected) const;
    // Sets the module's faults for the coming press; returns them in words.
    QString applyFault(const FaultDraw &draw, SoakOperation operation);
    void runOne(int index);
    [[nodiscard]] SoakObservation observe(SoakOperation operation) const;
    [[nodiscard]] SoakExpectation healthyExpectation(SoakOperation operation) const;
    [[nodiscard]] QStringList moduleProblems(SoakOperation operation) const;
    void tallyErrors(QStringList *shown);
    void fail(int index, const QString &what, const QString &problem);
    [[nodiscard]] QPushButton *button(const char *name) const;
    [[nodiscard]] QString text(const char *name) const;
    // Milliseconds on the run's clock since the run started.
    [[nodiscard]] qint64 now() const;

    SoakOptions m_options;
    QRandomGenerator m_random;
    QTemporaryDir m_store;
    QHostAddress m_address;
    RecordingBeeper m_beeper;
    RecordingPresenter m_presenter;
    // Outlives the module and the window, whose timers and waits it runs.
    std::unique_ptr<TestClock> m_testClock;
    const Clock *m_clock = &systemClock();
    quint32 m_start = 0;
    std::unique_ptr<SimModule> m_sim;
    std::unique_ptr<TfrmMain> m_window;
    SoakReport m_report;
    // Commands the module handled on its current connection, as it counts them itself.
    int m_moduleCommands = 0;
    QElapsedTimer m_wall;
    // Until then replies, closes or floods of an earlier fault may still be on their way.
    qint64 m_unsettledUntilMs = 0;
};
