#include "CommandFrame.h"
#include "LinkErrors.h"
#include "LinkTestSupport.h"
#include "ModuleLink.h"
#include "OperationTestSupport.h"
#include "Operations.h"
#include "TestClock.h"
#include "simmodule.h"

#include <QTest>

Q_DECLARE_METATYPE(SimFaults)
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Operation)

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

// The module operations wired to a simulated module on loopback, with a stand-in window.
// The waits run on a test clock: their budgets pass in virtual time.
struct Rig
{
    SimModule sim;
    RecordingOwner owner;
    TestClock clock;
    ModuleLink link{&owner};
    RecordingObserver view;
    ModuleOperations ops{link, &view};
    const QString ip = QStringLiteral("127.0.0.1");

    Rig()
    {
        owner.link = &link;
        link.setClock(&clock);
        sim.setRecording(true);
        sim.listen(QHostAddress::LocalHost, 0);
        link.setPort(sim.port());
    }

    bool connectLink()
    {
        link.OpenLink(ip);
        if (!QTest::qWaitFor([this] { return link.ConnectedFlag() && sim.hasClient(); }, 5000))
            return false;
        view.log.clear();
        return true;
    }
};

// A stand-in module whose reply bytes a test chooses exactly.
struct ScriptedRig
{
    ScriptedModule module;
    RecordingOwner owner;
    TestClock clock;
    ModuleLink link{&owner};
    RecordingObserver view;
    ModuleOperations ops{link, &view};

    explicit ScriptedRig(const QList<ScriptedModule::Reply> &replies)
    {
        module.setScript([replies](const QByteArray &) { return replies; });
        module.setClock(&clock);
        link.setClock(&clock);
        link.setPort(module.port());
    }

    bool connectLink()
    {
        link.OpenLink(QStringLiteral("127.0.0.1"));
        return QTest::qWaitFor([this] { return link.ConnectedFlag() && module.client(); }, 5000);
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
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("ending");
        QTest::addColumn<QByteArray>("sent");

        const QByteArray all = frames(QList<QByteArray>{"S01", "V01"} + slotReads());
        const QStringList good{
            "navigate 127.0.0.1", "refresh", "beep 1000 300", "yellow", "enable", "yellow",
            "status Ok.",         "enable"};
        const QStringList bad{"status Error!", "beep 300 300", "red", "enable"};

        QTest::newRow("good module")
            << SimFaults{} << false << Outcome::Success << QByteArray("VQ240817")
            << QByteArray("03.21-01") << 8 << "Ok." << good << all;
        QTest::newRow("serial and version but no slot")
            << answerOnly({"S01", "V01"}) << false << Outcome::Success << QByteArray("VQ240817")
            << QByteArray("03.21-01") << 0 << "Ok." << good << all;
        QTest::newRow("version silent")
            << answerOnly({"S01"}) << false << Outcome::NoReply << QByteArray("VQ240817")
            << QByteArray() << 0 << "Error!" << bad << frames({"S01", "V01"});
        QTest::newRow("no connection")
            << SimFaults{} << true << Outcome::NotConnected << QByteArray() << QByteArray() << 0
            << "Error!" << bad << QByteArray();
    }

    void scan()
    {
        QFETCH(SimFaults, faults);
        QFETCH(bool, refuse);
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, version);
        QFETCH(int, slotCount);
        QFETCH(QString, status);
        QFETCH(QStringList, ending);
        QFETCH(QByteArray, sent);

        Rig rig;
        faults.refuseConnections = refuse;
        rig.sim.setFaults(faults);
        QList<OperationResult> finished;
        rig.ops.setFinished([&finished](const OperationResult &r) { finished << r; });
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
        QVERIFY(result.started.isValid());
        QCOMPARE(result.started.timeSpec(), Qt::UTC);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().status, status);
        // The window is told at once: disabled and "Connecting...", the serial panel right after
        // S01 answers; the ending in its order.
        QCOMPARE(rig.view.log.mid(0, 2), (QStringList{"disable", "status Connecting..."}));
        if (!serial.isNull())
            QCOMPARE(rig.view.log.at(rig.view.log.indexOf("clear slots") + 1), "serial " + serial);
        QCOMPARE(rig.view.log.mid(rig.view.log.size() - ending.size()), ending);
        QCOMPARE(rig.sim.received(), sent);
        // 500 ms for the connection, 2000 for the web page: budgets of the test clock.
        QVERIFY(result.durationMs >= (outcome == Outcome::Success ? 2500 : 500));
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

    void linkErrorsEndTheOperation_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("errors");
        QTest::addColumn<QString>("status");

        QTest::newRow("empty address")
            << "" << QStringList{"No address specified"} << "Disconnect.";
        // The refusal comes asynchronously during the wait and lands in the result too.
        QTest::newRow("refused") << "refused" << QStringList{"Asynchronous socket error 111"}
                                 << "Error!";
    }

    void linkErrorsEndTheOperation()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, errors);
        QFETCH(QString, status);

        Rig rig;
        SimFaults refuse;
        refuse.refuseConnections = true;
        rig.sim.setFaults(refuse);
        const OperationResult result = rig.ops.Scan(address == "refused" ? rig.ip : address);
        QCOMPARE(result.errors, errors);
        QCOMPARE(result.status, status);
        if (address.isEmpty()) {
            // The error ends the scan where it is raised: no "Error!", no beep; the window
            // shows the box and takes input again.
            QCOMPARE(result.outcome, Outcome::Error);
            QCOMPARE(rig.owner.events, QStringList{"disconnected flag=0"});
            QCOMPARE(rig.view.log, (QStringList{"disable", "status Connecting...",
                                                "error No address specified", "enable", "arrow"}));
        } else {
            QCOMPARE(result.outcome, Outcome::NotConnected);
        }
    }

    void setTestData_data()
    {
        QTest::addColumn<bool>("connect");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QByteArray>("sent");

        const QByteArray pattern = BuildCommandFrame("F01KAVRO*Technology*Corp.********99");
        QTest::newRow("answered") << true << false << Outcome::Success << "Set Data Ok"
                                  << "yellow|status Set Data Ok|beep 1000 300" << pattern;
        QTest::newRow("unanswered") << true << true << Outcome::NoReply << "Set Data Error"
                                    << "red|status Set Data Error|beep 300 300" << pattern;
        QTest::newRow("not connected")
            << false << false << Outcome::NotConnected << "Start Scan Module!"
            << "red|status Start Scan Module!|beep 300 300" << QByteArray();
    }

    void setTestData()
    {
        QFETCH(bool, connect);
        QFETCH(bool, silent);
        QFETCH(Outcome, outcome);
        QFETCH(QString, status);
        QFETCH(QString, ending);
        QFETCH(QByteArray, sent);

        Rig rig;
        if (connect)
            QVERIFY(rig.connectLink());
        SimFaults faults;
        faults.silent = silent;
        rig.sim.setFaults(faults);
        const OperationResult result = rig.ops.SetTestData(rig.ip);

        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.status, status);
        QCOMPARE(rig.view.log.mid(0, 3), (QStringList{"hourglass", "disable", "clear slots"}));
        QCOMPARE(rig.view.log.mid(rig.view.log.size() - 5),
                 ending.split('|') + QStringList({"enable", "arrow"}));
        QTRY_COMPARE(rig.sim.received(), sent);
        if (connect && !silent) {
            QCOMPARE(rig.sim.slotData(1), QByteArray("KAVRO*Technology*Corp.********99"));
            // The module's pause to store the slot passes on the clock too.
            QVERIFY(result.durationMs >= 50);
        }
        if (silent)
            QVERIFY(result.durationMs >= 1000);
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
        QCOMPARE(rig.view.beeps, QList<int>{1000});
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
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("card");

        using R = ScriptedModule::Reply;
        QTest::newRow("card number")
            << QList<R>{{0, "\tA01R=04172635\r"}} << Outcome::Success << QByteArray("04172635");
        QTest::newRow("exactly 14 characters")
            << QList<R>{{0, "\tA01R=04172635"}} << Outcome::Success << QByteArray("04172635");
        QTest::newRow("12 characters: from the 7th to the end")
            << QList<R>{{0, "\tA01R=041726"}} << Outcome::Success << QByteArray("041726");
        QTest::newRow("11 characters")
            << QList<R>{{0, "\tA01R=04172"}} << Outcome::Success << QByteArray("04172");
        QTest::newRow("10 characters: no card")
            << QList<R>{{0, "\tA01N=NONE"}} << Outcome::Success << QByteArray("");
        QTest::newRow("6 characters: no card")
            << QList<R>{{0, "\tA01N\r"}} << Outcome::Success << QByteArray("");
        QTest::newRow("5 characters: no reply")
            << QList<R>{{0, "\tA01\r"}} << Outcome::NoReply << QByteArray();
        QTest::newRow("silent") << QList<R>{} << Outcome::NoReply << QByteArray();
        QTest::newRow("replaced by a shorter piece still counts")
            << QList<R>{{0, "\tA01R=04172635\r"}, {100, "\r"}} << Outcome::Success
            << QByteArray("");
        QTest::newRow("zero bytes inside the card number are kept")
            << QList<R>{{0, QByteArray("\tA01R=04\0"
                                       "72635\r",
                                       15)}}
            << Outcome::Success
            << QByteArray("04\0"
                          "72635",
                          8);
    }

    void reader()
    {
        QFETCH(QList<ScriptedModule::Reply>, replies);
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, card);

        ScriptedRig rig(replies);
        QVERIFY(rig.connectLink());
        const OperationResult result = rig.ops.ReaderTest("127.0.0.1");
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.card, card);
        const QString status = outcome == Outcome::Success ? QStringLiteral("Reader Card Ok")
                                                           : QStringLiteral("Reader Card Error");
        QCOMPARE(result.status, status);
        QCOMPARE(rig.view.log.contains("card " + card), outcome == Outcome::Success);
        QCOMPARE(rig.module.received(), QByteArray("\x09"
                                                   "A01F0F\x0D"));
        // Always the full 100 waits of 3 ms.
        QVERIFY(result.durationMs >= 300);
    }

    void loop_data()
    {
        QTest::addColumn<QList<ScriptedModule::Reply>>("replies");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("loop");

        using R = ScriptedModule::Reply;
        QTest::newRow("echoed unchanged") << QList<R>{{0, QByteArray("Loop Test Ok.\0\r", 15)}}
                                          << Outcome::Success << QByteArray("Loop Test Ok.");
        QTest::newRow("no zero byte: the whole reply")
            << QList<R>{{0, "LOOPED BACK\r"}} << Outcome::Success << QByteArray("LOOPED BACK\r");
        QTest::newRow("zero byte first")
            << QList<R>{{0, QByteArray("\0abcdef", 7)}} << Outcome::Success << QByteArray("");
        QTest::newRow("silent") << QList<R>{} << Outcome::NoReply << QByteArray();
    }

    void loop()
    {
        QFETCH(QList<ScriptedModule::Reply>, replies);
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, loop);

        ScriptedRig rig(replies);
        QVERIFY(rig.connectLink());
        const OperationResult result = rig.ops.LoopTest("127.0.0.1");
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.loop, loop);
        const QString status = outcome == Outcome::Success ? QStringLiteral("Loop Test Ok")
                                                           : QStringLiteral("Loop Test Error");
        QCOMPARE(result.status, status);
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

    void namesOfOperationsAndOutcomes()
    {
        QCOMPARE(OperationName(Operation::ClearAllData), QStringLiteral("clear"));
        QCOMPARE(OperationName(Operation::WebPage), QStringLiteral("web-page"));
        QCOMPARE(OutcomeName(Outcome::NotConnected), QStringLiteral("not-connected"));
        QCOMPARE(OutcomeName(Outcome::Error), QStringLiteral("error"));
    }
};

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"
