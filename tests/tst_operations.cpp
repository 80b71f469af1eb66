#include "CommandFrame.h"
#include "LinkErrors.h"
#include "LinkTestSupport.h"
#include "ModuleLink.h"
#include "OperationTestSupport.h"
#include "Operations.h"
#include "TestClock.h"
#include "simmodule.h"

#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(SimFaults)
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(std::optional<SimFaults>)

namespace {

QByteArray frames(const QList<QByteArray> &commands)
{
    QByteArray all;
    for (const QByteArray &c : commands)
        all += BuildCommandFrame(c);
    return all;
}

QList<QByteArray> slotReads()
{
    QList<QByteArray> reads;
    for (int slot = 1; slot <= 8; ++slot)
        reads << ModuleMessages::SlotReadCommand(slot);
    return reads;
}

SimFaults answerOnly(const QList<QByteArray> &requests)
{
    SimFaults f;
    f.answerOnly = QSet<QByteArray>(requests.begin(), requests.end());
    return f;
}

// The module operations wired to a module on loopback, with an observer standing in for the
// window: the simulator, or with `replies` a module whose bytes the test chooses exactly. The
// waits run on a test clock: their budgets pass in virtual time.
struct Rig
{
    SimModule sim;
    ScriptedModule module;
    RecordingOwner owner;
    TestClock clock;
    ModuleLink link{&owner};
    RecordingObserver view;
    ModuleOperations ops{link, &view};
    const QString ip = QStringLiteral("127.0.0.1");

    explicit Rig(const std::optional<QList<ScriptedModule::Reply>> &replies = {})
    {
        owner.link = &link;
        link.setClock(&clock);
        sim.setRecording(true);
        sim.listen(QHostAddress::LocalHost, 0);
        module.setClock(&clock);
        if (replies)
            module.setScript([replies](const QByteArray &) { return *replies; });
        link.setPort(replies ? module.port() : sim.port());
    }

    bool connectLink()
    {
        link.OpenLink(ip);
        const bool up = QTest::qWaitFor(
            [this] { return link.ConnectedFlag() && (sim.hasClient() || module.client()); }, 5000);
        view.log.clear();
        return up;
    }
};

} // namespace

class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void scan_data()
    {
        QTest::addColumn<SimFaults>("faults");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<QByteArray>("sent");

        const QByteArray all = frames(QList<QByteArray>{"S01", "V01"} + slotReads());

        QTest::newRow("good module") << SimFaults{} << Outcome::Success << QByteArray("VQ240817")
                                     << QByteArray("03.21-01") << 8 << all;
        QTest::newRow("serial and version but no slot")
            << answerOnly({"S01", "V01"}) << Outcome::Success << QByteArray("VQ240817")
            << QByteArray("03.21-01") << 0 << all;
        QTest::newRow("version silent")
            << answerOnly({"S01"}) << Outcome::NoReply << QByteArray("VQ240817") << QByteArray()
            << 0 << frames({"S01", "V01"});
        QTest::newRow("no connection") << SimFaults{} << Outcome::NotConnected << QByteArray()
                                       << QByteArray() << 0 << QByteArray();
    }

    void scan()
    {
        QFETCH(SimFaults, faults);
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, version);
        QFETCH(int, slotCount);
        QFETCH(QByteArray, sent);
        const bool ok = outcome == Outcome::Success;
        const QString status = ok ? QStringLiteral("Ok.") : QStringLiteral("Error!");
        const QStringList ending =
            QString(ok ? "navigate 127.0.0.1|refresh|beep 1000 300|yellow|enable|yellow|status Ok."
                         "|enable"
                       : "status Error!|beep 300 300|red|enable")
                .split('|');

        Rig rig;
        const bool refuse = outcome == Outcome::NotConnected;
        faults.refuseConnections = refuse;
        rig.sim.setFaults(faults);
        QStringList finished;
        rig.ops.setFinished([&finished](const OperationResult &r) { finished << r.status; });
        const OperationResult result = rig.ops.Scan(rig.ip);

        QCOMPARE(result.operation, Operation::Scan);
        QCOMPARE(result.address, rig.ip);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.serial, serial);
        QCOMPARE(result.serial.isNull(), serial.isNull());
        QCOMPARE(result.version, version);
        QCOMPARE(result.slotsRead.size(), slotCount);
        for (int i = 0; i < slotCount; ++i) {
            QCOMPARE(result.slotsRead.at(i).slot, i + 1);
            QCOMPARE(result.slotsRead.at(i).data, rig.sim.slotData(i + 1));
        }
        QCOMPARE(result.status, status);
        // A refusal comes asynchronously during the wait and lands in the result too.
        QCOMPARE(result.errors,
                 refuse ? QStringList{"Asynchronous socket error 111"} : QStringList());
        QCOMPARE(result.started.timeSpec(), Qt::UTC);
        QCOMPARE(finished, QStringList{status});
        // The window is told at once: disabled and "Connecting...", the serial panel right after
        // S01 answers; the ending in its order.
        QCOMPARE(rig.view.log.mid(0, 2), (QStringList{"disable", "status Connecting..."}));
        if (!serial.isNull())
            QCOMPARE(rig.view.log.at(rig.view.log.indexOf("clear slots") + 1), "serial " + serial);
        QCOMPARE(rig.view.log.mid(rig.view.log.size() - ending.size()), ending);
        QCOMPARE(rig.sim.received(), sent);
        // 500 ms for the connection, 2000 for the web page: budgets of the test clock.
        QVERIFY(result.durationMs >= (ok ? 2500 : 500));
        QVERIFY(rig.clock.elapsed() >= quint64(result.durationMs));
    }

    void scanWhileConnectedClosesFirst()
    {
        Rig rig;
        QVERIFY(rig.connectLink());
        SimFaults silent;
        silent.silent = true; // the second scan's commands go unanswered
        rig.sim.setFaults(silent);
        const OperationResult result = rig.ops.Scan(rig.ip);
        QCOMPARE(rig.owner.events,
                 (QStringList{"connected flag=1", "disconnected flag=1", "connected flag=1"}));
        QCOMPARE(result.status, QStringLiteral("Error!"));
        QCOMPARE(result.outcome, Outcome::NoReply);
        // 100 ms after closing, 500 for the connection and S01's second.
        QVERIFY(result.durationMs >= 1600);
    }

    void scanWithEmptyAddress()
    {
        Rig rig;
        const OperationResult result = rig.ops.Scan(QString());
        // The error ends the scan where it is raised: no "Error!", no beep; the window shows the
        // box and takes input again.
        QCOMPARE(result.outcome, Outcome::Error);
        QCOMPARE(result.errors, QStringList{"No address specified"});
        QCOMPARE(result.status, QStringLiteral("Disconnect."));
        QCOMPARE(rig.owner.events, QStringList{"disconnected flag=0"});
        QCOMPARE(rig.view.log, (QStringList{"disable", "status Connecting...",
                                            "error No address specified", "enable", "arrow"}));
    }

    void setTestData_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("answered") << false;
        QTest::newRow("unanswered") << true;
    }

    void setTestData()
    {
        QFETCH(bool, silent);
        const QString status = silent ? QStringLiteral("Set Data Error") : "Set Data Ok";

        Rig rig;
        QVERIFY(rig.connectLink());
        SimFaults faults;
        faults.silent = silent;
        rig.sim.setFaults(faults);
        const OperationResult result = rig.ops.SetTestData(rig.ip);

        QCOMPARE(result.outcome, silent ? Outcome::NoReply : Outcome::Success);
        QCOMPARE(result.status, status);
        QCOMPARE(rig.view.log,
                 (QStringList{"hourglass", "disable", "clear slots", silent ? "red" : "yellow",
                              "status " + status, silent ? "beep 300 300" : "beep 1000 300",
                              "enable", "arrow"}));
        QTRY_COMPARE(rig.sim.received(), BuildCommandFrame("F01KAVRO*Technology*Corp.********99"));
        // The module's pause to store the slot, or the unanswered command's budget, passes on
        // the clock too.
        QVERIFY(result.durationMs >= (silent ? 1000 : 50));
        if (!silent)
            QCOMPARE(rig.sim.slotData(1), QByteArray("KAVRO*Technology*Corp.********99"));
    }

    void clearWithOnlySlotOneAnswered()
    {
        Rig rig;
        for (int slot = 1; slot <= 8; ++slot)
            rig.sim.setSlotData(slot, "something");
        QVERIFY(rig.connectLink());
        rig.sim.setFaults(answerOnly({"F01"}));
        const OperationResult result = rig.ops.ClearAllData(rig.ip);

        QCOMPARE(result.status, QStringLiteral("Set Data Ok"));
        QCOMPARE(result.outcome, Outcome::Success);
        QCOMPARE(rig.view.log.filter("beep"), QStringList{"beep 1000 300"});
        QList<QByteArray> clears;
        for (int slot = 1; slot <= 8; ++slot)
            clears << ModuleMessages::SlotClearCommand(slot);
        QCOMPARE(rig.sim.received(), frames(clears));
        // Each of the seven unanswered commands waits out its one-second budget.
        QVERIFY2(result.durationMs >= 7000, qPrintable(QString::number(result.durationMs)));
        for (int slot = 1; slot <= 8; ++slot)
            QCOMPARE(rig.sim.slotData(slot), QByteArray(32, '*'));
    }

    void clearUnanswered()
    {
        Rig rig;
        QVERIFY(rig.connectLink());
        SimFaults silent;
        silent.silent = true;
        rig.sim.setFaults(silent);
        const OperationResult result = rig.ops.ClearAllData(rig.ip);
        QCOMPARE(result.status, QStringLiteral("Set Data Error"));
        QCOMPARE(result.outcome, Outcome::NoReply);
        // Slot 1 went unanswered: slots 2 to 8 are not touched.
        QCOMPARE(rig.sim.received(), BuildCommandFrame(ModuleMessages::SlotClearCommand(1)));
    }

    void reader_data()
    {
        QTest::addColumn<QList<ScriptedModule::Reply>>("replies");
        QTest::addColumn<QByteArray>("card");

        using R = ScriptedModule::Reply;
        QTest::newRow("card number")
            << QList<R>{{0, "\tA01R=04172635\r"}} << QByteArray("04172635");
        QTest::newRow("exactly 14 characters")
            << QList<R>{{0, "\tA01R=04172635"}} << QByteArray("04172635");
        QTest::newRow("12 characters: from the 7th to the end")
            << QList<R>{{0, "\tA01R=041726"}} << QByteArray("041726");
        QTest::newRow("11 characters") << QList<R>{{0, "\tA01R=04172"}} << QByteArray("04172");
        QTest::newRow("10 characters: no card") << QList<R>{{0, "\tA01N=NONE"}} << QByteArray("");
        QTest::newRow("6 characters: no card") << QList<R>{{0, "\tA01N\r"}} << QByteArray("");
        QTest::newRow("5 characters: no reply") << QList<R>{{0, "\tA01\r"}} << QByteArray();
        QTest::newRow("silent") << QList<R>{} << QByteArray();
        QTest::newRow("replaced by a shorter piece still counts")
            << QList<R>{{0, "\tA01R=04172635\r"}, {100, "\r"}} << QByteArray("");
        QTest::newRow("zero bytes inside the card number are kept")
            << QList<R>{{0, QByteArray("\tA01R=04") + '\0' + "72635\r"}}
            << QByteArray("04") + '\0' + "72635";
    }

    void reader()
    {
        QFETCH(QList<ScriptedModule::Reply>, replies);
        QFETCH(QByteArray, card);

        Rig rig(replies);
        QVERIFY(rig.connectLink());
        const OperationResult result = rig.ops.ReaderTest(rig.ip);
        // No value read: the module did not answer.
        QCOMPARE(result.outcome, card.isNull() ? Outcome::NoReply : Outcome::Success);
        QCOMPARE(result.card, card);
        QCOMPARE(result.status, QString(card.isNull() ? "Reader Card Error" : "Reader Card Ok"));
        QCOMPARE(rig.view.log.contains("card " + card), !card.isNull());
        QCOMPARE(rig.module.received(), QByteArray("\x09"
                                                   "A01F0F\x0D"));
        // Always the full 100 waits of 3 ms.
        QVERIFY(result.durationMs >= 300);
    }

    void loop_data()
    {
        QTest::addColumn<QList<ScriptedModule::Reply>>("replies");
        QTest::addColumn<QByteArray>("loop");

        using R = ScriptedModule::Reply;
        QTest::newRow("echoed unchanged")
            << QList<R>{{0, QByteArray("Loop Test Ok.\0\r", 15)}} << QByteArray("Loop Test Ok.");
        QTest::newRow("no zero byte: the whole reply")
            << QList<R>{{0, "LOOPED BACK\r"}} << QByteArray("LOOPED BACK\r");
        QTest::newRow("zero byte first")
            << QList<R>{{0, QByteArray("\0abcdef", 7)}} << QByteArray("");
        QTest::newRow("silent") << QList<R>{} << QByteArray();
    }

    void loop()
    {
        QFETCH(QList<ScriptedModule::Reply>, replies);
        QFETCH(QByteArray, loop);

        Rig rig(replies);
        QVERIFY(rig.connectLink());
        const OperationResult result = rig.ops.LoopTest(rig.ip);
        // No value read: the module did not answer.
        QCOMPARE(result.outcome, loop.isNull() ? Outcome::NoReply : Outcome::Success);
        QCOMPARE(result.loop, loop);
        QCOMPARE(result.status, QString(loop.isNull() ? "Loop Test Error" : "Loop Test Ok"));
        QCOMPARE(rig.module.received(), QByteArray("Loop Test Ok.\0\r", 15));
    }

    void loopAgainstTheSimulator()
    {
        Rig rig;
        QVERIFY(rig.connectLink());
        QCOMPARE(rig.ops.LoopTest(rig.ip).loop, QByteArray("Loop Test Ok."));
        rig.sim.setNoCard(true);
        const OperationResult reader = rig.ops.ReaderTest(rig.ip);
        QCOMPARE(reader.outcome, Outcome::Success);
        QCOMPARE(reader.card, QByteArray(""));
    }

    void testsWhileNotConnected_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QString>("cleared");
        QTest::newRow("reader") << Operation::ReaderTest << "clear card";
        QTest::newRow("loop") << Operation::LoopTest << "clear loop";
        QTest::newRow("clear") << Operation::ClearAllData << "clear slots";
        QTest::newRow("set data") << Operation::SetTestData << "clear slots";
    }

    void testsWhileNotConnected()
    {
        QFETCH(Operation, operation);
        QFETCH(QString, cleared);
        Rig rig;
        const OperationResult result = rig.ops.Run(operation, rig.ip);
        QCOMPARE(result.operation, operation);
        QCOMPARE(result.outcome, Outcome::NotConnected);
        QCOMPARE(result.status, QStringLiteral("Start Scan Module!"));
        QCOMPARE(rig.view.log,
                 (QStringList{"hourglass", "disable", cleared, "red", "status Start Scan Module!",
                              "beep 300 300", "enable", "arrow"}));
        QCOMPARE(result.durationMs, qint64(0));
        QTest::qWait(20);
        QCOMPARE(rig.sim.received(), QByteArray());
    }

    void operationsCarryTheirConnectionsScan_data()
    {
        QTest::addColumn<std::optional<SimFaults>>("rescan"); // a second scan, with these faults
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QList<int>>("slotNumbers"); // the slots the result holds

        SimFaults refused;
        refused.refuseConnections = true;
        SimFaults silent;
        silent.silent = true;
        QTest::newRow("set test data: slot 1 written")
            << std::optional<SimFaults>() << Operation::SetTestData << QByteArray("VQ240817")
            << QList<int>{1};
        QTest::newRow("clear: the slots written")
            << std::optional<SimFaults>() << Operation::ClearAllData << QByteArray("VQ240817")
            << QList<int>{1, 2, 3, 4, 5, 6, 7, 8};
        QTest::newRow("after a refused scan: none")
            << std::optional<SimFaults>(refused) << Operation::ReaderTest << QByteArray()
            << QList<int>{};
        QTest::newRow("after a scan that read nothing: none")
            << std::optional<SimFaults>(silent) << Operation::LoopTest << QByteArray()
            << QList<int>{};
    }

    // An operation records the serial number and version its connection's scan read, never one
    // of an earlier connection, and the slots it wrote itself.
    void operationsCarryTheirConnectionsScan()
    {
        QFETCH(std::optional<SimFaults>, rescan);
        QFETCH(Operation, operation);
        QFETCH(QByteArray, serial);
        QFETCH(QList<int>, slotNumbers);
        Rig rig;
        QCOMPARE(rig.ops.Scan(rig.ip).outcome, Outcome::Success);
        if (rescan) {
            rig.sim.setFaults(*rescan);
            QVERIFY(rig.ops.Scan(rig.ip).outcome != Outcome::Success);
            rig.sim.setFaults({});
        }
        const OperationResult result = rig.ops.Run(operation, rig.ip);
        QCOMPARE(result.serial, serial);
        QCOMPARE(result.version.isNull(), serial.isNull());
        QList<int> written;
        for (const SlotRead &slot : result.slotsRead) {
            written << slot.slot;
            QCOMPARE(slot.data, rig.sim.slotData(slot.slot));
        }
        QCOMPARE(written, slotNumbers);
    }

    void webPageStep()
    {
        Rig rig;
        QVERIFY(rig.connectLink());
        const OperationResult result = rig.ops.ShowWebPage("127.0.0.1:8080");
        QCOMPARE(rig.view.log, (QStringList{"disable", "navigate 127.0.0.1:8080", "refresh",
                                            "beep 1000 300", "yellow", "enable"}));
        QCOMPARE(result.operation, Operation::WebPage);
        QCOMPARE(result.outcome, Outcome::Success);
        QCOMPARE(result.address, QStringLiteral("127.0.0.1:8080"));
        // The status line keeps what the link's event last put there.
        QCOMPARE(result.status, QStringLiteral("Connect Ok."));
        QVERIFY(result.durationMs >= 2000);
    }
};

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"
