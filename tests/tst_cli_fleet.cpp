#include "CliTestSupport.h"
#include "CommandFrame.h"
#include "LinkTestSupport.h"
#include "ModuleJob.h"
#include "ModuleLink.h"
#include "OperationTestSupport.h"
#include "Operations.h"
#include "TestClock.h"
#include "simfleet.h"
#include "simmodule.h"

#include "ModuleEngine.h"
#include "ModuleRunner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <utility>

#include <sys/resource.h>

Q_DECLARE_METATYPE(CliCommand)

// Each test function here uses its own 127.0.x block, apart from the other command line tests.
static QHostAddress at(const char *address)
{
    return QHostAddress(QString::fromLatin1(address));
}

static QByteArray scanFrames()
{
    QByteArray bytes = BuildCommandFrame(ModuleMessages::SerialCommand) +
                       BuildCommandFrame(ModuleMessages::VersionCommand);
    for (int slot = 1; slot <= 8; ++slot)
        bytes += BuildCommandFrame(ModuleMessages::SlotReadCommand(slot));
    return bytes;
}

static QHash<QString, QJsonObject> byAddress(const QString &json)
{
    QHash<QString, QJsonObject> objects;
    const QJsonArray array = QJsonDocument::fromJson(json.toUtf8()).array();
    for (const QJsonValue &value : array)
        objects.insert(value.toObject()["address"].toString(), value.toObject());
    return objects;
}

static SimFaults answerOnly(const QList<QByteArray> &requests)
{
    SimFaults faults;
    faults.answerOnly = QSet<QByteArray>(requests.begin(), requests.end());
    return faults;
}

// The command line in this process, its modules' waits on a test clock: budgets pass in virtual
// time while the simulated fleet answers from this thread.
static CliRun fleetRun(const QStringList &arguments, HostResolver *resolver = nullptr)
{
    TestClock clock;
    return runCli(arguments, false, resolver, nullptr, nullptr, &clock);
}

// A test clock whose pumped wait comes back late once, as when the processor was busy elsewhere.
class StallingClock : public TestClock
{
public:
    mutable quint32 stallOnce = 0;
    void PumpFor(quint32 ms) const override
    {
        TestClock::PumpFor(ms);
        if (stallOnce > 0) {
            const quint32 stall = std::exchange(stallOnce, 0);
            Sleep(stall);
        }
    }
};

class TestCliFleet : public QObject
{
    Q_OBJECT

private slots:
    void fleetGivesEachAddressItsOwnModule();
    void fleetsOnOverlappingAddressesTakeDifferentPorts();
    void fleetRefusesAddressesOffLoopback();
    void mixOfGoodAndFaultyModules();
    void sameBytesAsTheWindow_data();
    void sameBytesAsTheWindow();
    void discoverListsOnlyModules();
    void traceShowsEveryExchange();
    void scanWithoutWebPageStep();
    void engineTimeRules_data();
    void engineTimeRules();
    void slotWritesReadBack_data();
    void slotWritesReadBack();
    void interruptedRunReportsWhatItStarted_data();
    void interruptedRunReportsWhatItStarted();
    void simulatorSaysWhenItsLimitIsTooSmall();
};

void TestCliFleet::fleetGivesEachAddressItsOwnModule()
{
    SimFleet fleet;
    QVERIFY2(fleet.listen(at("127.0.6.254"), 3), qPrintable(fleet.errorString()));
    QCOMPARE(fleet.count(), 3);
    QVERIFY(fleet.port() != 0);
    QCOMPARE(fleet.address(2), at("127.0.7.0"));
    QCOMPARE(fleet.module(0)->serialNumber(), QByteArray("VQ001790"));
    QCOMPARE(fleet.module(2)->serialNumber(), QByteArray("VQ001792"));
    QCOMPARE(fleet.module(1)->slotData(4), QByteArray("Slot 4 of VQ001791").leftJustified(32));
    for (int i = 0; i < fleet.count(); ++i)
        QVERIFY(fleet.module(i)->isListening());
}

void TestCliFleet::fleetsOnOverlappingAddressesTakeDifferentPorts()
{
    SimFleet first;
    QVERIFY2(first.listen(at("127.0.9.1"), 3), qPrintable(first.errorString()));
    SimFleet taken;
    QVERIFY(!taken.listen(at("127.0.9.3"), 2, first.port()));
    QVERIFY(taken.errorString().contains("127.0.9.3"));
    QCOMPARE(taken.count(), 0);
    SimFleet second;
    QVERIFY2(second.listen(at("127.0.9.3"), 2), qPrintable(second.errorString()));
    QVERIFY(second.port() != first.port());
}

void TestCliFleet::fleetRefusesAddressesOffLoopback()
{
    SimFleet fleet;
    QVERIFY(!fleet.listen(at("203.0.113.7"), 2));
    QVERIFY(!fleet.listen(QHostAddress::LocalHostIPv6, 2));
    QVERIFY(!fleet.listen(at("127.255.255.250"), 10));
    QCOMPARE(fleet.count(), 0);
}

void TestCliFleet::mixOfGoodAndFaultyModules()
{
    SimFleet fleet;
    QVERIFY2(fleet.listen(at("127.0.10.1"), 6), qPrintable(fleet.errorString()));
    SimFaults silent;
    silent.silent = true;
    fleet.module(1)->setFaults(silent);
    fleet.module(2)->setFaults(answerOnly({"S01"}));
    SimFaults refusing;
    refusing.refuseConnections = true;
    fleet.module(3)->setFaults(refusing);
    fleet.module(4)->setFaults(
        answerOnly({"S01", "V01", "G01", "G02", "G04", "G06", "G07", "G08"}));

    QTemporaryDir dir;
    const QString junit = dir.filePath("report.xml");
    // 127.0.10.7 has no module at all; no name "nowhere" is known, and that module ends at once,
    // before the next one starts.
    FakeResolver resolver;
    const CliRun run = fleetRun({"scan", "nowhere", "127.0.10.1-7", "--json", "--jobs", "1",
                                 "--junit", junit, "--port", QString::number(fleet.port())},
                                &resolver);
    QCOMPARE(run.exitCode, int(CliExit::SomeFailed));
    const QHash<QString, QJsonObject> results = byAddress(run.out);
    QCOMPARE(results.size(), 8);

    struct Expected
    {
        const char *address;
        const char *outcome;
        const char *status;
        const char *serial;
        int slotCount;
    };
    const Expected expected[] = {
        {"127.0.10.1", "success", "Ok.", "VQ002561", 8},
        {"127.0.10.2", "no-reply", "Error!", nullptr, 0},
        {"127.0.10.3", "no-reply", "Error!", "VQ002563", 0},
        {"127.0.10.4", "not-connected", "Error!", nullptr, 0},
        {"127.0.10.5", "success", "Ok.", "VQ002565", 6},
        {"127.0.10.6", "success", "Ok.", "VQ002566", 8},
        {"127.0.10.7", "not-connected", "Error!", nullptr, 0},
        {"nowhere", "not-connected", "Error!", nullptr, 0},
    };
    for (const Expected &e : expected) {
        const QJsonObject r = results.value(e.address);
        QVERIFY2(!r.isEmpty(), e.address);
        QCOMPARE(r["outcome"].toString(), e.outcome);
        QCOMPARE(r["status"].toString(), e.status);
        if (e.serial)
            QCOMPARE(r["serial"].toString(), e.serial);
        else
            QVERIFY2(r["serial"].isNull(), e.address);
        QCOMPARE(r["slots"].toArray().size(), e.slotCount);
    }
    // Slots that did not answer leave gaps, the others keep their numbers.
    const QJsonArray partial = results.value("127.0.10.5")["slots"].toArray();
    QCOMPARE(partial[2].toObject()["slot"].toInt(), 4);
    QCOMPARE(partial[2].toObject()["data"].toString(),
             QStringLiteral("Slot 4 of VQ002565").leftJustified(32));
    // A refused connection and an unknown host are what the window's error box would have
    // shown, each once.
    QCOMPARE(results.value("127.0.10.4")["errors"].toArray(),
             QJsonArray{"Asynchronous socket error 111"});
    QCOMPARE(results.value("nowhere")["errors"].toArray(),
             QJsonArray{"Windows socket error: Unknown host (1), on API 'ASync Lookup'"});

    QFile report(junit);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray xml = report.readAll();
    QVERIFY2(xml.contains("tests=\"8\" failures=\"5\" errors=\"0\""), xml.constData());
}

void TestCliFleet::sameBytesAsTheWindow_data()
{
    QTest::addColumn<CliCommand>("command");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");

    QByteArray clear;
    for (int slot = 1; slot <= 8; ++slot)
        clear += BuildCommandFrame(ModuleMessages::SlotClearCommand(slot));
    QTest::newRow("scan") << CliCommand::Scan << QByteArray() << "Ok." << QString() << QString();
    QTest::newRow("set-test-data")
        << CliCommand::SetTestData << BuildCommandFrame(ModuleMessages::TestPattern)
        << "Set Data Ok" << QString() << QString();
    QTest::newRow("clear") << CliCommand::Clear << clear << "Set Data Ok" << QString() << QString();
    QTest::newRow("reader-test") << CliCommand::ReaderTest << ModuleMessages::ReaderRequest
                                 << "Reader Card Ok"
                                 << "card"
                                 << "04172635";
    QTest::newRow("loop-test") << CliCommand::LoopTest << ModuleMessages::LoopMessage
                               << "Loop Test Ok"
                               << "loop"
                               << "Loop Test Ok.";
}

void TestCliFleet::sameBytesAsTheWindow()
{
    QFETCH(CliCommand, command);
    QFETCH(QByteArray, after);
    QFETCH(QString, status);
    QFETCH(QString, field);
    QFETCH(QString, value);

    SimFleet fleet;
    QVERIFY2(fleet.listen(at("127.0.11.1"), 2), qPrintable(fleet.errorString()));
    fleet.module(0)->setRecording(true);
    fleet.module(1)->setRecording(true);
    const CliRun run = fleetRun(
        {CommandName(command), "127.0.11.1-2", "--json", "--port", QString::number(fleet.port())});
    QCOMPARE(run.exitCode, int(CliExit::AllSucceeded));
    const QHash<QString, QJsonObject> results = byAddress(run.out);
    for (const char *address : {"127.0.11.1", "127.0.11.2"}) {
        QCOMPARE(results.value(address)["status"].toString(), status);
        if (!field.isEmpty())
            QCOMPARE(results.value(address)[field].toString(), value);
    }
    const QByteArray wire = fleet.module(0)->received();
    QCOMPARE(wire, scanFrames() + after);
    QCOMPARE(fleet.module(1)->received(), wire);

    // The window: a scan, then the operation's button, on a module of its own.
    SimModule window;
    window.setRecording(true);
    QVERIFY(window.listen(QHostAddress::LocalHost, 0));
    RecordingOwner owner;
    ModuleLink link(&owner);
    TestClock clock;
    link.setClock(&clock);
    link.setPort(window.port());
    ModuleOperations operations(link);
    const CommandEntry &entry = CommandFor(command);
    QVERIFY(entry.operation);
    QCOMPARE(CommandName(command), OperationName(*entry.operation));
    const QString ip = QStringLiteral("127.0.0.1");
    OperationResult result = operations.Scan(ip);
    QCOMPARE(result.status, "Ok.");
    if (entry.scanFirst)
        result = operations.Run(*entry.operation, ip);
    QCOMPARE(result.operation, *entry.operation);
    QCOMPARE(result.status, status);
    QCOMPARE(window.received(), wire);
}

void TestCliFleet::discoverListsOnlyModules()
{
    SimFleet fleet;
    QVERIFY2(fleet.listen(at("127.0.12.1"), 3), qPrintable(fleet.errorString()));
    SimFaults silent;
    silent.silent = true;
    fleet.module(1)->setFaults(silent);
    // Something else on the port that takes the connection but is no module.
    QTcpServer other;
    QVERIFY(other.listen(at("127.0.12.4"), fleet.port()));
    // A module that answers "S01" but not "V01" is not counted either.
    SimModule half;
    half.setFaults(answerOnly({"S01"}));
    QVERIFY(half.listen(at("127.0.12.5"), fleet.port()));

    const CliRun run =
        fleetRun({"discover", "127.0.12.1-6", "--port", QString::number(fleet.port())});
    QCOMPARE(run.exitCode, int(CliExit::AllSucceeded));
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith("ADDRESS"));
    QVERIFY(lines[1].startsWith("127.0.12.1 "));
    QVERIFY(lines[1].contains("VQ003073  03.21-01"));
    QVERIFY(lines[2].startsWith("127.0.12.3 "));
    QVERIFY(lines[2].contains("VQ003075"));
    QCOMPARE(lines[3].left(36), "2 of 6 addresses answered as modules");

    const CliRun none =
        fleetRun({"discover", "127.0.12.7-9", "--json", "--port", QString::number(fleet.port())});
    QCOMPARE(none.exitCode, int(CliExit::SomeFailed));
    QCOMPARE(QJsonDocument::fromJson(none.out.toUtf8()).array().size(), 0);
}

void TestCliFleet::traceShowsEveryExchange()
{
    SimFleet fleet;
    QVERIFY2(fleet.listen(at("127.0.13.1"), 1), qPrintable(fleet.errorString()));
    const CliRun run =
        fleetRun({"loop-test", "127.0.13.1", "--trace", "--port", QString::number(fleet.port())});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    QStringList sent;
    QStringList received;
    for (const QString &line : lines) {
        QVERIFY2(line.contains(QRegularExpression("^ +\\d+ ms  127\\.0\\.13\\.1 +[<>]  ")) ||
                     line.startsWith("        "),
                 qPrintable(line));
        if (line.contains("127.0.13.1") && line.contains(" >  "))
            sent << line.mid(line.indexOf(" >  ") + 4);
        if (line.contains("127.0.13.1") && line.contains(" <  "))
            received << line.mid(line.indexOf(" <  ") + 4);
    }
    // Ten framed commands of the scan and the loop message, each answered.
    QCOMPARE(sent.size(), 11);
    QCOMPARE(received.size(), 11);
    QCOMPARE(sent.first(),
             QStringLiteral("51 4D 4B 0F 53 30 31 35 44 0D").leftJustified(48) + " QMK.S015D.");
    QCOMPARE(sent.last(),
             QStringLiteral("4C 6F 6F 70 20 54 65 73 74 20 4F 6B 2E 00 0D").leftJustified(48) +
                 " Loop Test Ok...");
    QCOMPARE(received.last(), sent.last());
    // The results stay on standard output, apart from the trace.
    QVERIFY(run.out.contains("Loop Test Ok."));
    QVERIFY(!run.out.contains("4C 6F"));
}

void TestCliFleet::scanWithoutWebPageStep()
{
    SimModule sim;
    sim.setRecording(true);
    QVERIFY(sim.listen(QHostAddress::LocalHost, 0));
    RecordingOwner owner;
    ModuleLink link(&owner);
    owner.link = &link;
    link.setPort(sim.port());
    TestClock clock;
    link.setClock(&clock);
    QByteArray sent;
    QList<QByteArray> reads;
    link.setWireObserver([&](ModuleLink::WireDirection direction, const QByteArray &bytes) {
        if (direction == ModuleLink::WireDirection::Sent)
            sent += bytes;
        else
            reads << bytes;
    });
    RecordingObserver view;
    ModuleOperations operations(link, &view);
    QVERIFY(operations.webPageStep());
    operations.setWebPageStep(false);
    const OperationResult result = operations.Scan(QStringLiteral("127.0.0.1"));

    QCOMPARE(result.status, "Ok.");
    QCOMPARE(result.outcome, Outcome::Success);
    QCOMPARE(view.log.mid(view.log.size() - 3), (QStringList{"yellow", "status Ok.", "enable"}));
    QVERIFY(view.windowEnabled);
    QCOMPARE(result.slotsRead.size(), 8);
    // No browser pane and no beep of its step: a successful scan is silent without it.
    QVERIFY(!view.log.contains("refresh"));
    QVERIFY(view.beeps.isEmpty());
    // The observer saw exactly what reached the module, and every reply.
    QCOMPARE(sent, sim.received());
    QCOMPARE(reads.size(), 10);
    QCOMPARE(reads.first().mid(4, 8), sim.serialNumber());
    QCOMPARE(result.serial, sim.serialNumber());
}

void TestCliFleet::engineTimeRules_data()
{
    QTest::addColumn<int>("replyMs");
    QTest::addColumn<quint32>("stallMs");
    QTest::addColumn<bool>("answered");

    QTest::newRow("prompt reply") << 0 << 0u << true;
    // The reply lands in the last slice before the deadline: it is read before the wait is judged.
    QTest::newRow("reply in the budget's last slice") << 990 << 0u << true;
    QTest::newRow("reply after the budget") << 1010 << 0u << false;
    // The engine came back two seconds late: its own lateness does not count against the module,
    // which answers 600 ms after it.
    QTest::newRow("reply after the engine's own stall") << 2600 << 2000u << true;
}

void TestCliFleet::engineTimeRules()
{
    QFETCH(int, replyMs);
    QFETCH(quint32, stallMs);
    QFETCH(bool, answered);

    StallingClock clock;
    ScriptedModule module(at("127.0.14.1"));
    module.setClock(&clock);
    const QByteArray serial = QByteArray("QMK\x06VQ001234") + "00\r";
    module.setScript([&](const QByteArray &chunk) {
        // The stall comes while S01 waits; the other commands are answered at once.
        const bool first = chunk.contains("S01");
        if (first)
            clock.stallOnce = stallMs;
        return QList<ScriptedModule::Reply>{{first ? replyMs : 0, serial}};
    });
    JobOptions options;
    options.port = module.port();
    options.clock = &clock;
    const QList<ModuleResult> results = RunModules({"127.0.14.1"}, options, 1);

    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].outcome, answered ? Outcome::Success : Outcome::NoReply);
    QCOMPARE(results[0].serial, answered ? QStringLiteral("VQ001234") : QString());
    // A module that does not answer fails within its budget, plus a slice of the engine's own.
    if (!answered)
        QVERIFY2(results[0].durationMs >= 1000 && results[0].durationMs <= 1100,
                 qPrintable(QString::number(results[0].durationMs)));
}

void TestCliFleet::slotWritesReadBack_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("every write read back") << false;
    // Cancelled as the first write goes out: it is still read back, nothing more is written and
    // no further module starts.
    QTest::newRow("cancelled during the first write") << true;
}

void TestCliFleet::slotWritesReadBack()
{
    QFETCH(bool, cancel);

    SimFleet fleet;
    QVERIFY2(fleet.listen(at("127.0.16.1"), 3), qPrintable(fleet.errorString()));
    const QByteArray planned = QByteArray("Written by plan").leftJustified(32, '.');
    QStringList scanned;
    ModuleProcedure procedure;
    procedure.operations = {Operation::Scan};
    procedure.decide = [&](const OperationResult &scan) {
        scanned << QString::fromLatin1(scan.serial);
        return QList<SlotWrite>{{2, planned, false, false, {}}, {5, planned, false, false, {}}};
    };
    TestClock clock;
    std::atomic<bool> cancelled{false};
    EngineOptions options;
    options.port = fleet.port();
    options.jobs = 1;
    options.clock = &clock;
    options.cancel = &cancelled;
    options.wire = [&](const QString &, ModuleLink::WireDirection direction, const QByteArray &b) {
        if (cancel && direction == ModuleLink::WireDirection::Sent && b.contains("F02"))
            cancelled = true;
    };
    const QList<ModuleRun> runs =
        RunFleet({"127.0.16.1", "127.0.16.2", "127.0.16.3"}, procedure, options);

    QCOMPARE(runs.size(), cancel ? 1 : 3);
    QCOMPARE(scanned.size(), runs.size());
    for (const ModuleRun &run : runs) {
        QCOMPARE(run.results.first().outcome, Outcome::Success);
        QCOMPARE(run.writes.size(), cancel ? 1 : 2);
        QCOMPARE(run.writesLeft, cancel ? 1 : 0);
        QCOMPARE(run.writes.first().slot, 2);
        QVERIFY(run.writes.first().verified());
        QCOMPARE(run.writes.first().readBack, planned);
    }
    QCOMPARE(fleet.module(0)->slotData(2), planned);
    QCOMPARE(fleet.module(0)->slotData(5) == planned, !cancel);
    QCOMPARE(fleet.module(1)->slotData(2) == planned, !cancel);
}

void TestCliFleet::interruptedRunReportsWhatItStarted_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("SIGINT") << SIGINT << 130;
    QTest::newRow("SIGTERM") << SIGTERM << 143;
}

// The program itself: the signal comes while the first module runs; that one is finished and
// reported, no other starts.
void TestCliFleet::interruptedRunReportsWhatItStarted()
{
    QFETCH(int, signal);
    QFETCH(int, exitCode);

    SimFleet fleet;
    QVERIFY2(fleet.listen(at("127.0.17.1"), 3), qPrintable(fleet.errorString()));
    QProcess cli;
    connect(
        fleet.module(0), &SimModule::commandHandled, &cli,
        [&cli, signal] { ::kill(pid_t(cli.processId()), signal); }, Qt::SingleShotConnection);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELQA_JOURNAL", "off");
    cli.setProcessEnvironment(environment);
    QSignalSpy finished(&cli, &QProcess::finished);
    cli.start(VELQA_CLI_PROGRAM, {"scan", "127.0.17.1-3", "--jobs", "1", "--json", "--port",
                                  QString::number(fleet.port())});
    QVERIFY2(finished.wait(20000), qPrintable(cli.errorString()));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), exitCode);
    const QHash<QString, QJsonObject> results =
        byAddress(QString::fromUtf8(cli.readAllStandardOutput()));
    QCOMPARE(results.keys(), QStringList{"127.0.17.1"});
    QCOMPARE(results.value("127.0.17.1")["outcome"].toString(), "success");
    QVERIFY(QString::fromUtf8(cli.readAllStandardError())
                .contains("1 started and reported, 2 not started"));
}

void TestCliFleet::simulatorSaysWhenItsLimitIsTooSmall()
{
    QProcess sim;
    sim.setChildProcessModifier([] {
        const rlimit limit{64, 64};
        setrlimit(RLIMIT_NOFILE, &limit);
    });
    sim.start(VELQA_SIM_PROGRAM, {"--count", "100", "--port", "0"});
    QVERIFY(sim.waitForFinished(20000));
    QCOMPARE(sim.exitCode(), 2);
    const QString error = QString::fromUtf8(sim.readAllStandardError());
    QVERIFY2(error.contains("100 modules need 132 open files") && error.contains("limit on open "
                                                                                 "files is 64"),
             qPrintable(error));
}

QTEST_GUILESS_MAIN(TestCliFleet)
#include "tst_cli_fleet.moc"
