#include "CommandFrame.h"
#include "LinkErrors.h"
#include "LinkTestSupport.h"
#include "ModuleLink.h"
#include "OperationTestSupport.h"
#include "Operations.h"
#include "simmodule.h"

#include <QElapsedTimer>
#include <QTest>

Q_DECLARE_METATYPE(SimFaults)

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
struct Rig
{
    SimModule sim;
    RecordingOwner owner;
    ModuleLink link{&owner};
    RecordingView view;
    ModuleOperations ops{link, view};

    Rig()
    {
        owner.link = &link;
        sim.setRecording(true);
        sim.listen(QHostAddress::LocalHost, 0);
        link.setPort(sim.port());
    }

    bool connectLink()
    {
        link.OpenLink(QStringLiteral("127.0.0.1"));
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
    ModuleLink link{&owner};
    RecordingView view;
    ModuleOperations ops{link, view};

    explicit ScriptedRig(const QList<ScriptedModule::Reply> &replies)
    {
        module.setScript([replies](const QByteArray &) { return replies; });
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
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("lineCount");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("yellow");
        QTest::addColumn<QList<int>>("beeps");
        QTest::addColumn<QByteArray>("sent");

        const QString before = QStringLiteral("S/N : ________");
        const QString beforeVersion = QStringLiteral("VER : __.__-__");
        const QString serial = QStringLiteral("S/N : VQ240817");
        const QString version = QStringLiteral("VER : 03.21-01");
        const QByteArray all = frames(QList<QByteArray>{"S01", "V01"} + slotReads());

        QTest::newRow("good module") << SimFaults{} << false << serial << version << 8 << "Ok."
                                     << true << QList<int>{1000} << all;
        QTest::newRow("serial and version but no slot")
            << answerOnly({"S01", "V01"}) << false << serial << version << 0 << "Ok." << true
            << QList<int>{1000} << all;
        QTest::newRow("version silent")
            << answerOnly({"S01"}) << false << serial << beforeVersion << 0 << "Error!" << false
            << QList<int>{300} << frames({"S01", "V01"});
        QTest::newRow("no connection") << SimFaults{} << true << before << beforeVersion << 0
                                       << "Error!" << false << QList<int>{300} << QByteArray();
    }

    void scan()
    {
        QFETCH(SimFaults, faults);
        QFETCH(bool, refuse);
        QFETCH(QString, serial);
        QFETCH(QString, version);
        QFETCH(int, lineCount);
        QFETCH(QString, status);
        QFETCH(bool, yellow);
        QFETCH(QList<int>, beeps);
        QFETCH(QByteArray, sent);

        Rig rig;
        faults.refuseConnections = refuse;
        rig.sim.setFaults(faults);
        rig.view.lines << "old line";
        rig.ops.Scan();

        QCOMPARE(rig.view.serial, serial);
        QCOMPARE(rig.view.version, version);
        QCOMPARE(rig.view.lines.size(), lineCount);
        for (int i = 0; i < lineCount; ++i)
            QCOMPARE(rig.view.lines.at(i),
                     QStringLiteral("(%1) ").arg(i + 1, 2, 10, QLatin1Char('0')) +
                         QString::fromLatin1(rig.sim.slotData(i + 1)));
        QCOMPARE(rig.view.status, status);
        QCOMPARE(rig.view.indicator, yellow ? IndicatorColour::Yellow : IndicatorColour::Red);
        QList<int> heard;
        for (const BeepCall &b : rig.view.beeps) {
            heard << b.frequencyHz;
            QCOMPARE(b.durationMs, 300);
        }
        QCOMPARE(heard, beeps);
        QVERIFY(rig.view.windowEnabled);
        QCOMPARE(rig.view.log.first(), QStringLiteral("disable"));
        QCOMPARE(rig.view.log.at(1), QStringLiteral("status Connecting..."));
        QCOMPARE(rig.view.navigations, yellow ? QStringList{"127.0.0.1"} : QStringList{});
        QCOMPARE(rig.view.refreshes, yellow ? 1 : 0);
        QCOMPARE(rig.sim.received(), sent);
    }

    void scanWhileConnectedClosesFirst()
    {
        Rig rig;
        QVERIFY(rig.connectLink());
        SimFaults silent;
        silent.silent = true; // the second scan's commands go unanswered
        rig.sim.setFaults(silent);
        rig.ops.Scan();
        QCOMPARE(rig.owner.events,
                 (QStringList{"connected flag=1", "disconnected flag=1", "connected flag=1"}));
        QCOMPARE(rig.view.status, QStringLiteral("Error!"));
    }

    void scanWithEmptyAddress()
    {
        Rig rig;
        rig.view.ip.clear();
        QVERIFY_THROWS_EXCEPTION(LinkError, rig.ops.Scan());
        // The error ends the scan where it is raised: no "Error!", no beep.
        QCOMPARE(rig.owner.events, QStringList{"disconnected flag=0"});
        QCOMPARE(rig.view.status, QStringLiteral("Connecting..."));
        QVERIFY(rig.view.beeps.isEmpty());
    }

    void setTestData_data()
    {
        QTest::addColumn<bool>("connect");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("yellow");
        QTest::addColumn<int>("beep");
        QTest::addColumn<QByteArray>("sent");

        const QByteArray pattern = BuildCommandFrame("F01KAVRO*Technology*Corp.********99");
        QTest::newRow("answered") << true << false << "Set Data Ok" << true << 1000 << pattern;
        QTest::newRow("unanswered") << true << true << "Set Data Error" << false << 300 << pattern;
        QTest::newRow("not connected")
            << false << false << "Start Scan Module!" << false << 300 << QByteArray();
    }

    void setTestData()
    {
        QFETCH(bool, connect);
        QFETCH(bool, silent);
        QFETCH(QString, status);
        QFETCH(bool, yellow);
        QFETCH(int, beep);
        QFETCH(QByteArray, sent);

        Rig rig;
        if (connect)
            QVERIFY(rig.connectLink());
        SimFaults faults;
        faults.silent = silent;
        rig.sim.setFaults(faults);
        rig.view.lines << "(01) old";
        rig.ops.SetTestData();

        QCOMPARE(rig.view.lines, QStringList());
        QCOMPARE(rig.view.status, status);
        QCOMPARE(rig.view.indicator, yellow ? IndicatorColour::Yellow : IndicatorColour::Red);
        QCOMPARE(rig.view.beeps, (QList<BeepCall>{{beep, 300}}));
        QCOMPARE(rig.view.log.mid(0, 3), (QStringList{"hourglass", "disable", "clear list"}));
        QCOMPARE(rig.view.log.mid(rig.view.log.size() - 2), (QStringList{"enable", "arrow"}));
        QTest::qWait(20);
        QCOMPARE(rig.sim.received(), sent);
        if (connect && !silent)
            QCOMPARE(rig.sim.slotData(1), QByteArray("KAVRO*Technology*Corp.********99"));
    }

    void clearWithOnlySlotOneAnswered()
    {
        Rig rig;
        for (int slot = 1; slot <= 8; ++slot)
            rig.sim.setSlotData(slot, "something");
        QVERIFY(rig.connectLink());
        rig.sim.setFaults(answerOnly({"F01"}));
        QElapsedTimer timer;
        timer.start();
        rig.ops.ClearAllData();

        QCOMPARE(rig.view.status, QStringLiteral("Set Data Ok"));
        QCOMPARE(rig.view.indicator, IndicatorColour::Yellow);
        QCOMPARE(rig.view.beeps, (QList<BeepCall>{{1000, 300}}));
        QList<QByteArray> clears;
        for (int slot = 1; slot <= 8; ++slot)
            clears << ModuleMessages::SlotClearCommand(slot);
        QCOMPARE(rig.sim.received(), frames(clears));
        // Each of the seven unanswered commands waits out its one-second budget.
        QVERIFY2(timer.elapsed() >= 7000, qPrintable(QString::number(timer.elapsed())));
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
        rig.ops.ClearAllData();
        QCOMPARE(rig.view.status, QStringLiteral("Set Data Error"));
        // Slot 1 went unanswered: slots 2 to 8 are not touched.
        QCOMPARE(rig.sim.received(), BuildCommandFrame(ModuleMessages::SlotClearCommand(1)));
    }

    void reader_data()
    {
        QTest::addColumn<QList<ScriptedModule::Reply>>("replies");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("status");

        using R = ScriptedModule::Reply;
        QTest::newRow("card number") << QList<R>{{0, "\tA01R=04172635\r"}} << "04172635"
                                     << "Reader Card Ok";
        QTest::newRow("exactly 14 characters") << QList<R>{{0, "\tA01R=04172635"}} << "04172635"
                                               << "Reader Card Ok";
        QTest::newRow("12 characters: from the 7th to the end")
            << QList<R>{{0, "\tA01R=041726"}} << "041726"
            << "Reader Card Ok";
        QTest::newRow("11 characters") << QList<R>{{0, "\tA01R=04172"}} << "04172"
                                       << "Reader Card Ok";
        QTest::newRow("10 characters: no card") << QList<R>{{0, "\tA01N=NONE"}} << "No Card !"
                                                << "Reader Card Ok";
        QTest::newRow("6 characters: no card") << QList<R>{{0, "\tA01N\r"}} << "No Card !"
                                               << "Reader Card Ok";
        QTest::newRow("5 characters: no reply") << QList<R>{{0, "\tA01\r"}} << ""
                                                << "Reader Card Error";
        QTest::newRow("silent") << QList<R>{} << ""
                                << "Reader Card Error";
        QTest::newRow("replaced by a shorter piece still counts")
            << QList<R>{{0, "\tA01R=04172635\r"}, {100, "\r"}} << "No Card !"
            << "Reader Card Ok";
        QTest::newRow("zero bytes inside the card number are kept")
            << QList<R>{{0, QByteArray("\tA01R=04\0"
                                       "72635\r",
                                       15)}}
            << QStringLiteral("04") + QChar(0) + QStringLiteral("72635") << "Reader Card Ok";
    }

    void reader()
    {
        QFETCH(QList<ScriptedModule::Reply>, replies);
        QFETCH(QString, card);
        QFETCH(QString, status);

        ScriptedRig rig(replies);
        QVERIFY(rig.connectLink());
        rig.view.cardId = "stale";
        rig.ops.ReaderTest();
        QCOMPARE(rig.view.cardId, card);
        QCOMPARE(rig.view.status, status);
        QCOMPARE(rig.view.indicator,
                 card.isEmpty() ? IndicatorColour::Red : IndicatorColour::Yellow);
        QCOMPARE(rig.module.received(), QByteArray("\x09"
                                                   "A01F0F\x0D"));
    }

    void loop_data()
    {
        QTest::addColumn<QList<ScriptedModule::Reply>>("replies");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("status");

        using R = ScriptedModule::Reply;
        QTest::newRow("echoed unchanged")
            << QList<R>{{0, QByteArray("Loop Test Ok.\0\r", 15)}} << "Loop Test Ok."
            << "Loop Test Ok";
        QTest::newRow("no zero byte: the whole reply")
            << QList<R>{{0, "LOOPED BACK\r"}} << "LOOPED BACK\r"
            << "Loop Test Ok";
        QTest::newRow("zero byte first") << QList<R>{{0, QByteArray("\0abcdef", 7)}} << ""
                                         << "Loop Test Ok";
        QTest::newRow("silent") << QList<R>{} << ""
                                << "Loop Test Error";
    }

    void loop()
    {
        QFETCH(QList<ScriptedModule::Reply>, replies);
        QFETCH(QString, shown);
        QFETCH(QString, status);

        ScriptedRig rig(replies);
        QVERIFY(rig.connectLink());
        rig.ops.LoopTest();
        QCOMPARE(rig.view.loopText, shown);
        QCOMPARE(rig.view.status, status);
        QCOMPARE(rig.module.received(), QByteArray("Loop Test Ok.\0\r", 15));
    }

    void loopAgainstTheSimulator()
    {
        Rig rig;
        QVERIFY(rig.connectLink());
        rig.ops.LoopTest();
        QCOMPARE(rig.view.loopText, QStringLiteral("Loop Test Ok."));
        QCOMPARE(rig.view.status, QStringLiteral("Loop Test Ok"));
        rig.sim.setNoCard(true);
        rig.ops.ReaderTest();
        QCOMPARE(rig.view.cardId, QStringLiteral("No Card !"));
        QCOMPARE(rig.view.status, QStringLiteral("Reader Card Ok"));
    }

    void testsWhileNotConnected_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("reader") << 0;
        QTest::newRow("loop") << 1;
        QTest::newRow("clear") << 2;
    }

    void testsWhileNotConnected()
    {
        QFETCH(int, which);
        Rig rig;
        rig.view.cardId = "stale";
        rig.view.loopText = "stale";
        rig.view.lines << "stale";
        if (which == 0)
            rig.ops.ReaderTest();
        else if (which == 1)
            rig.ops.LoopTest();
        else
            rig.ops.ClearAllData();
        QCOMPARE(rig.view.status, QStringLiteral("Start Scan Module!"));
        QCOMPARE(rig.view.indicator, IndicatorColour::Red);
        QCOMPARE(rig.view.beeps, (QList<BeepCall>{{300, 300}}));
        QCOMPARE(which == 0   ? rig.view.cardId
                 : which == 1 ? rig.view.loopText
                              : rig.view.lines.join(""),
                 QString());
        QVERIFY(rig.view.windowEnabled);
        QVERIFY(!rig.view.busyCursor);
        QTest::qWait(20);
        QCOMPARE(rig.sim.received(), QByteArray());
    }

    void webPageStep()
    {
        Rig rig;
        rig.view.ip = "127.0.0.1:8080";
        rig.ops.ShowWebPage();
        QCOMPARE(rig.view.log, (QStringList{"disable", "navigate 127.0.0.1:8080", "refresh",
                                            "beep 1000", "yellow", "enable"}));
    }
};

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"
