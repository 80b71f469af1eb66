#include "MessageCatalogue.h"
#include "Operations.h"
#include "SoakHarness.h"
#include "SoakJudge.h"
#include "WebTestSupport.h"

#include <QtTest>

#include <cstdio>

Q_DECLARE_METATYPE(SoakObservation)
Q_DECLARE_METATYPE(SoakExpectation)
Q_DECLARE_METATYPE(SoakOutcome)

static const QString SendRefused =
    QStringLiteral("Windows socket error: Broken pipe (32), on API 'send'");

// A press that ended well on an open link; each row below spoils one thing about it.
static SoakObservation succeeded(SoakOperation operation)
{
    SoakObservation o;
    o.operation = operation;
    o.statusBefore = CatalogueText(Msg::ConnectOk);
    o.indicatorBefore = IndicatorColour::Red;
    o.indicator = IndicatorColour::Yellow;
    o.beepFrequencies = {ModuleOperations::BeepHighHz};
    o.connected = true;
    o.operationButtons = {true, true, true, true};
    o.serial = QStringLiteral("S/N : ________");
    o.version = QStringLiteral("VER : __.__-__");
    switch (operation) {
    case SoakOperation::Scan:
        o.status = FixedTexts::ScanOk;
        o.serial = QStringLiteral("S/N : VQ240817");
        o.version = QStringLiteral("VER : 03.21-01");
        o.dataLines = {QStringLiteral("(01) Slot 1 factory data"),
                       QStringLiteral("(03) Slot 3 factory data")};
        break;
    case SoakOperation::SetData:
    case SoakOperation::Clear:
        o.status = CatalogueText(Msg::SetDataOk);
        break;
    case SoakOperation::Reader:
        o.status = CatalogueText(Msg::ReaderCardOk);
        o.cardId = QStringLiteral("04172635");
        break;
    case SoakOperation::Loop:
        o.status = CatalogueText(Msg::LoopTestOk);
        o.loopText = QStringLiteral("Loop Test Ok.");
        break;
    case SoakOperation::Refresh:
        o.status = o.statusBefore;
        break;
    }
    return o;
}

// The same press reported as failed, with the link up (no reply) or down (not connected).
static SoakObservation failed(SoakOperation operation, bool linkUp)
{
    SoakObservation o = succeeded(operation);
    o.indicator = IndicatorColour::Red;
    o.beepFrequencies = {ModuleOperations::BeepLowHz};
    o.connected = linkUp;
    o.operationButtons = {linkUp, linkUp, linkUp, linkUp};
    o.cardId.clear();
    o.loopText.clear();
    o.dataLines.clear();
    const Msg noReply = operation == SoakOperation::Reader ? Msg::ReaderCardError
                        : operation == SoakOperation::Loop ? Msg::LoopTestError
                                                           : Msg::SetDataError;
    o.status = operation == SoakOperation::Scan ? FixedTexts::ScanError
               : linkUp                         ? CatalogueText(noReply)
                                                : CatalogueText(Msg::StartScanModule);
    return o;
}

// A link button pressed while disabled: nothing may change.
static SoakObservation inert(SoakOperation operation)
{
    SoakObservation o = failed(operation, false);
    o.buttonWasEnabled = false;
    o.statusBefore = CatalogueText(Msg::Disconnect);
    o.status = o.statusBefore;
    o.indicatorBefore = IndicatorColour::Yellow;
    o.indicator = IndicatorColour::Yellow;
    o.beepFrequencies.clear();
    return o;
}

// A send the system refused: the disconnect event's status, no beep, indicator untouched.
static SoakObservation sendRefused(SoakOperation operation)
{
    SoakObservation o = failed(operation, false);
    o.errors = {SendRefused};
    o.status = CatalogueText(Msg::Disconnect);
    o.indicator = o.indicatorBefore;
    o.beepFrequencies.clear();
    return o;
}

class TestSoak : public QObject
{
    Q_OBJECT

public:
    static void initMain() { PrepareWebTest(); }

private slots:
    void initTestCase() { (void)MessageCatalogue::instance(); }

    void judgeReadsTheOutcome_data()
    {
        QTest::addColumn<SoakObservation>("observation");
        QTest::addColumn<SoakOutcome>("outcome");
        // Empty: the state is one the press may leave; otherwise a piece of the complaint.
        QTest::addColumn<QString>("problem");

        const auto row = [](const char *name, const SoakObservation &o, SoakOutcome outcome,
                            const QString &problem = {}) {
            QTest::newRow(name) << o << outcome << problem;
        };
        using Op = SoakOperation;
        using Out = SoakOutcome;
        for (Op op : {Op::Scan, Op::SetData, Op::Clear, Op::Reader, Op::Loop, Op::Refresh}) {
            const QByteArray name = SoakOperationName(op).toLatin1();
            QTest::newRow(name + " succeeded") << succeeded(op) << Out::Success << QString();
        }
        for (Op op : {Op::Scan, Op::SetData, Op::Clear, Op::Reader, Op::Loop}) {
            const QByteArray name = SoakOperationName(op).toLatin1();
            QTest::newRow(name + " had no reply") << failed(op, true) << Out::NoReply << QString();
            QTest::newRow(name + " ended by a refused send")
                << sendRefused(op) << Out::LinkError << QString();
        }
        for (Op op : {Op::SetData, Op::Clear, Op::Reader, Op::Loop}) {
            const QByteArray name = SoakOperationName(op).toLatin1();
            QTest::newRow(name + " found the link down")
                << failed(op, false) << Out::NotConnected << QString();
            QTest::newRow(name + " pressed while disabled") << inert(op) << Out::Inert << QString();
        }

        SoakObservation o = succeeded(Op::Loop);
        o.indicator = IndicatorColour::Red;
        row("success with a red indicator", o, Out::Success, "indicator red");
        o = failed(Op::Reader, true);
        o.indicator = IndicatorColour::Yellow;
        row("failure with a yellow indicator", o, Out::NoReply, "indicator yellow");
        o = succeeded(Op::SetData);
        o.beepFrequencies = {ModuleOperations::BeepLowHz};
        row("success with the low beep", o, Out::Success, "beeps [300]");
        o = succeeded(Op::Scan);
        o.beepFrequencies = {ModuleOperations::BeepHighHz, ModuleOperations::BeepHighHz};
        row("scan beeping twice", o, Out::Success, "beeps [1000,1000]");
        o = failed(Op::Loop, true);
        o.loopText = QStringLiteral("Loop Test Ok.");
        row("failed loop test keeps its text", o, Out::NoReply, "left after a failed test");
        o = failed(Op::Clear, false);
        o.connected = true;
        o.operationButtons = {true, true, true, true};
        row("not connected while the link is up", o, Out::NotConnected, "while the link is up");
        o = succeeded(Op::Reader);
        o.operationButtons = {true, false, true, true};
        row("a button out of step with the link", o, Out::Success, "btnClear is disabled");
        o = succeeded(Op::Loop);
        o.windowEnabled = false;
        row("window left ignoring input", o, Out::Success, "ignores input");
        o = failed(Op::SetData, true);
        o.busyCursor = true;
        row("hourglass left on", o, Out::NoReply, "hourglass");
        o = inert(Op::Reader);
        o.beepFrequencies = {ModuleOperations::BeepLowHz};
        o.status = CatalogueText(Msg::StartScanModule);
        row("disabled button that acted", o, Out::Inert, "status changed");
        o = sendRefused(Op::Clear);
        o.beepFrequencies = {ModuleOperations::BeepLowHz};
        row("refused send followed by a beep", o, Out::LinkError, "beeps [300]");
        o = sendRefused(Op::SetData);
        o.connected = true;
        o.operationButtons = {true, true, true, true};
        row("refused send leaves the link up", o, Out::LinkError, "still marked up");
        o = succeeded(Op::Scan);
        o.dataLines = {QStringLiteral("(02) b"), QStringLiteral("(01) a")};
        row("slot lines out of order", o, Out::Success, "out of shape or order");
        o = succeeded(Op::Scan);
        o.serial = QStringLiteral("________");
        row("serial panel without its prefix", o, Out::Success, "serial panel");
        o = failed(Op::Scan, false);
        o.dataLines = {QStringLiteral("(01) a")};
        row("failed scan with slot lines", o, Out::NoReply, "left 1 data lines");
        o = failed(Op::Scan, false);
        o.status = CatalogueText(Msg::ConnectOk);
        row("scan ended on a link event's text", o, Out::NoReply, "a scan ended with status");
        o = failed(Op::Scan, false);
        o.errors = {QStringLiteral("Asynchronous socket error 111")};
        row("refused connection during a scan", o, Out::NoReply);
        o = failed(Op::Scan, false);
        o.errors = {QStringLiteral("Can't change value while socket is active")};
        row("error box no press should raise", o, Out::NoReply, "unexpected error box");
        o = succeeded(Op::Refresh);
        o.status = FixedTexts::ScanOk;
        row("web page step writing a status", o, Out::Success, "refresh changed the status");
        o = succeeded(Op::Refresh);
        o.status = CatalogueText(Msg::Disconnect);
        o.connected = false;
        o.operationButtons = {false, false, false, false};
        row("link dropped during the web page step", o, Out::Success);
        o = succeeded(Op::Reader);
        o.cardId = QStringLiteral("041726351");
        row("card number too long", o, Out::Success, "not 1 to 8 characters");
        o = succeeded(Op::Loop);
        o.loopText = QStringLiteral("Loop Test Ok.") + QChar(0);
        row("loop text past its zero byte", o, Out::Success, "loop text shows a zero byte");
        o = succeeded(Op::Reader);
        o.cardId = QStringLiteral("est Ok.") + QChar(0);
        row("late loop echo read as the card reply", o, Out::Success);
        o = succeeded(Op::Reader);
        o.cardId = FixedTexts::NoCard;
        row("reader without a card", o, Out::Success);
        o = failed(Op::SetData, true);
        o.dataLines = {QStringLiteral("(01) a")};
        row("set data keeps the slot list", o, Out::NoReply, "the data list kept 1 lines");
        o = succeeded(Op::Loop);
        o.status = CatalogueText(Msg::ReaderCardOk);
        row("loop test with the reader's text", o, Out::NoReply, "is none of");
    }

    void judgeReadsTheOutcome()
    {
        QFETCH(SoakObservation, observation);
        QFETCH(SoakOutcome, outcome);
        QFETCH(QString, problem);
        const SoakVerdict verdict = JudgeOperation(observation);
        QCOMPARE(verdict.outcome, outcome);
        if (problem.isEmpty()) {
            QVERIFY2(verdict.problems.isEmpty(), qPrintable(verdict.problems.join('\n')));
        } else {
            QVERIFY2(verdict.problems.join('\n').contains(problem),
                     qPrintable(verdict.problems.join('\n')));
        }
    }

    void judgeHoldsAHealthyModuleToItsResults_data()
    {
        QTest::addColumn<SoakObservation>("observation");
        QTest::addColumn<SoakExpectation>("expected");
        QTest::addColumn<QString>("problem");

        SoakExpectation e;
        e.loopText = QStringLiteral("Loop Test Ok.");
        QTest::newRow("loop returned the message")
            << succeeded(SoakOperation::Loop) << e << QString();
        SoakObservation o = succeeded(SoakOperation::Loop);
        o.loopText = QStringLiteral("NOISE");
        QTest::newRow("loop returned something else") << o << e << "loop text \"NOISE\"";
        QTest::newRow("healthy module without a reply")
            << failed(SoakOperation::Loop, true) << e << "a healthy module gave no reply";

        SoakExpectation scan;
        scan.serial = QStringLiteral("S/N : VQ240817");
        scan.dataLines = succeeded(SoakOperation::Scan).dataLines;
        QTest::newRow("scan showed the module")
            << succeeded(SoakOperation::Scan) << scan << QString();
        scan.dataLines << QStringLiteral("(08) Slot 8 factory data");
        QTest::newRow("scan lost a slot") << succeeded(SoakOperation::Scan) << scan << "data lines";
        SoakExpectation page;
        page.webLocation = QStringLiteral("http://127.0.0.9/");
        o = succeeded(SoakOperation::Refresh);
        o.webLocation = QStringLiteral("http://192.0.2.1/");
        QTest::newRow("page from elsewhere") << o << page << "web location";
    }

    void judgeHoldsAHealthyModuleToItsResults()
    {
        QFETCH(SoakObservation, observation);
        QFETCH(SoakExpectation, expected);
        QFETCH(QString, problem);
        const QStringList problems = JudgeOperation(observation, expected).problems;
        if (problem.isEmpty())
            QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        else
            QVERIFY2(problems.join('\n').contains(problem), qPrintable(problems.join('\n')));
    }

    void errorKinds_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("expectedKind");
        QTest::addColumn<bool>("sendError");
        QTest::newRow("refused later") << "Asynchronous socket error 111" << true << false;
        QTest::newRow("send") << SendRefused << true << true;
        QTest::newRow("connect") << "Windows socket error: Connection refused (111), on API "
                                    "'connect'"
                                 << true << false;
        QTest::newRow("lookup of a loopback address")
            << "Windows socket error: Unknown host (1), on API 'ASync Lookup'" << false << false;
        QTest::newRow("empty address") << "No address specified" << false << false;
        QTest::newRow("address changed while connected")
            << "Can't change value while socket is active" << false << false;
    }

    void errorKinds()
    {
        QFETCH(QString, message);
        QFETCH(bool, expectedKind);
        QFETCH(bool, sendError);
        QCOMPARE(!SoakErrorKind(message).startsWith(QLatin1String("other: ")), expectedKind);
        QCOMPARE(SoakIsSendError(message), sendError);
    }

    void residentSize_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<qint64>("kilobytes");
        QTest::newRow("usual") << QByteArray("Name:\tx\nVmPeak:\t  9 kB\nVmRSS:\t  183412 kB\n"
                                             "RssAnon:\t 5 kB\n")
                               << qint64(183412);
        QTest::newRow("last line") << QByteArray("VmHWM:\t 7 kB\nVmRSS:\t42 kB") << qint64(42);
        QTest::newRow("missing") << QByteArray("Name:\tx\nVmHWM:\t 7 kB\n") << qint64(-1);
        QTest::newRow("garbled") << QByteArray("VmRSS:\t lots kB\n") << qint64(-1);
    }

    void residentSize()
    {
        QFETCH(QByteArray, status);
        QFETCH(qint64, kilobytes);
        QCOMPARE(ResidentKilobytes(status), kilobytes);
    }

    void residentSizeOfThisProcess() { QVERIFY(CurrentResidentKilobytes() > 1000); }

    // Fifty presses with a fixed seed against every fault mode of the simulated module, on the
    // test clock.
    void shortSoak()
    {
        SoakOptions options;
        options.operations = 50;
        options.seed = ShortSoakSeed;
        options.mix = SoakMix::ci();
        options.verbose = true;
        options.virtualTime = true;
        SoakHarness harness(options);
        QString why;
        QVERIFY2(harness.setUp(&why), qPrintable(why));
        const SoakReport report = harness.run();
        std::printf("%s", qPrintable(report.text()));
        std::fflush(stdout);

        QVERIFY2(report.failureCount == 0, qPrintable(report.failures.join('\n')));
        int presses = 0;
        for (int f = 0; f < SoakFaultCount; ++f) {
            QVERIFY2(report.faultTotal(SoakFault(f)) > 0, qPrintable(SoakFaultName(SoakFault(f))));
            presses += report.faultTotal(SoakFault(f));
        }
        QCOMPARE(presses, options.operations);
        QVERIFY(report.strictChecks > 0);
        // The presses end as the same fifty do on the real clock (bench_soak --seed 20240817
        // --operations 50 --mix ci): the module's delays, gaps and unasked bytes keep pace with
        // the window's waits.
        QList<int> outcomes(SoakOutcomeCount);
        for (const auto &counts : report.byFault) {
            for (int o = 0; o < SoakOutcomeCount; ++o)
                outcomes[o] += counts[size_t(o)];
        }
        // Success, no reply, not connected, link error, disabled.
        QCOMPARE(outcomes, QList<int>({29, 12, 2, 0, 7}));
        QVERIFY(report.rssEarlyKb > 0 && report.rssEndKb > 0);
    }

private:
    // Its first fifty draws meet every fault mode.
    static constexpr quint32 ShortSoakSeed = 20240817;
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
