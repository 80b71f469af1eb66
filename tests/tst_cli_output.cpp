#include "CliTestSupport.h"
#include "Console.h"
#include "Report.h"
#include "simfleet.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

#include <sys/resource.h>

Q_DECLARE_METATYPE(ModuleLink::WireDirection)

static ModuleResult goodScan(const QString &address, const QString &serial)
{
    ModuleResult r;
    r.address = address;
    r.command = CliCommand::Scan;
    r.serial = serial;
    r.version = QStringLiteral("03.21-01");
    r.slotLines = {{1, QStringLiteral("Slot one").leftJustified(32)},
                   {3, QStringLiteral("Slot three").leftJustified(32)}};
    r.outcome = Outcome::Success;
    r.status = QStringLiteral("Ok.");
    r.durationMs = 683;
    return r;
}

static ModuleResult failed(const QString &address, Outcome outcome, const QString &status,
                           const QStringList &errors = {})
{
    ModuleResult r;
    r.address = address;
    r.outcome = outcome;
    r.status = status;
    r.errors = errors;
    r.durationMs = 500;
    return r;
}

class TestCliOutput : public QObject
{
    Q_OBJECT

private slots:
    void jsonHasOneObjectPerModule();
    void jsonCarriesTheTestsResultFields();
    void discoverReportsOnlyModulesFound();
    void junitCountsFailuresAndErrors();
    void tableShowsRowsErrorsAndSummary();
    void traceLines_data();
    void traceLines();
    void progressBarOnlyOnATerminal();
    void progressLine_data();
    void progressLine();
    void moduleBytesReachNoTerminal_data();
    void moduleBytesReachNoTerminal();
    void runsAtTheEdges_data();
    void runsAtTheEdges();
};

void TestCliOutput::jsonHasOneObjectPerModule()
{
    const QList<ModuleResult> results{
        goodScan("127.0.0.1", "VQ000001"),
        failed("127.0.0.2", Outcome::NotConnected, "Error!", {"Asynchronous socket error 111"})};
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(FormatJson(results, CliCommand::Scan), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(doc.isArray());
    const QJsonArray array = doc.array();
    QCOMPARE(array.size(), 2);

    const QJsonObject good = array[0].toObject();
    QCOMPARE(good["address"].toString(), "127.0.0.1");
    QCOMPARE(good["command"].toString(), "scan");
    QCOMPARE(good["serial"].toString(), "VQ000001");
    QCOMPARE(good["version"].toString(), "03.21-01");
    QCOMPARE(good["outcome"].toString(), "success");
    QCOMPARE(good["status"].toString(), "Ok.");
    QCOMPARE(good["duration_ms"].toInt(), 683);
    QCOMPARE(good["errors"].toArray().size(), 0);
    const QJsonArray slotArray = good["slots"].toArray();
    QCOMPARE(slotArray.size(), 2);
    QCOMPARE(slotArray[1].toObject()["slot"].toInt(), 3);
    // The slot's 32 characters, trailing spaces included.
    QCOMPARE(slotArray[1].toObject()["data"].toString().size(), 32);
    QVERIFY(!good.contains("scan_status"));

    const QJsonObject bad = array[1].toObject();
    QCOMPARE(bad["outcome"].toString(), "not-connected");
    // A module that never answered has no serial number, not an empty one.
    QVERIFY(bad["serial"].isNull());
    QVERIFY(bad["version"].isNull());
    QCOMPARE(bad["errors"].toArray().first().toString(), "Asynchronous socket error 111");
}

void TestCliOutput::jsonCarriesTheTestsResultFields()
{
    ModuleResult reader = goodScan("127.0.0.1", "VQ000001");
    reader.command = CliCommand::ReaderTest;
    reader.cardId = QStringLiteral("No Card !");
    reader.status = QStringLiteral("Reader Card Ok");
    reader.scanStatus = QStringLiteral("Ok.");
    // The scan found no module, so the test had no link to run on.
    ModuleResult loop = failed("127.0.0.2", Outcome::NotConnected, "Start Scan Module!");
    loop.command = CliCommand::LoopTest;
    loop.scanStatus = QStringLiteral("Error!");

    const QJsonArray array =
        QJsonDocument::fromJson(FormatJson({reader, loop}, CliCommand::ReaderTest)).array();
    QCOMPARE(array[0].toObject()["card"].toString(), "");
    QCOMPARE(array[0].toObject()["scan_status"].toString(), "Ok.");
    QVERIFY(!array[0].toObject().contains("loop"));
    QVERIFY(array[1].toObject().contains("loop"));
    QCOMPARE(array[1].toObject()["status"].toString(), "Start Scan Module!");
    QCOMPARE(array[1].toObject()["scan_status"].toString(), "Error!");

    // The table speaks for itself, without the window's captions.
    const QString table = FormatTable({reader, loop}, CliCommand::ReaderTest, false, 700);
    QVERIFY2(table.contains(" no card ") && table.contains("not run: the scan failed") &&
                 !table.contains("Start Scan") && !table.contains("No Card"),
             qPrintable(table));
}

void TestCliOutput::discoverReportsOnlyModulesFound()
{
    ModuleResult found = goodScan("127.0.0.7", "VQ000007");
    found.command = CliCommand::Discover;
    found.found = true;
    found.slotLines.clear();
    ModuleResult silent = failed("127.0.0.8", Outcome::NoReply, "Connect Ok.");
    silent.command = CliCommand::Discover;
    ModuleResult empty = failed("127.0.0.9", Outcome::NotConnected, "Start Scan Module",
                                {"Asynchronous socket error 111"});
    empty.command = CliCommand::Discover;
    const QList<ModuleResult> results{found, silent, empty};

    const QJsonArray array =
        QJsonDocument::fromJson(FormatJson(results, CliCommand::Discover)).array();
    QCOMPARE(array.size(), 1);
    QCOMPARE(array[0].toObject()["serial"].toString(), "VQ000007");

    const QString table = FormatTable(results, CliCommand::Discover, false, 600);
    QVERIFY(table.contains("127.0.0.7"));
    QVERIFY(!table.contains("127.0.0.8"));
    QVERIFY(!table.contains("127.0.0.9"));
    QVERIFY(table.contains("1 of 3 addresses answered as modules"));
}

void TestCliOutput::junitCountsFailuresAndErrors()
{
    const QList<ModuleResult> results{
        goodScan("127.0.0.1", "VQ000001"), failed("127.0.0.2", Outcome::NoReply, "Error!"),
        failed("127.0.0.3", Outcome::Error, "Disconnect.",
               {"Windows socket error: Broken pipe (32), on API 'send'"})};
    const QByteArray xml =
        FormatJunit(results, CliCommand::Scan, 1234, QDateTime(QDate(2024, 8, 17), QTime(9, 30)));

    QXmlStreamReader reader(xml);
    QStringList cases;
    QStringList verdicts;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        if (reader.name() == u"testsuite") {
            QCOMPARE(a.value("tests").toString(), "3");
            QCOMPARE(a.value("failures").toString(), "1");
            QCOMPARE(a.value("errors").toString(), "1");
            QCOMPARE(a.value("time").toString(), "1.234");
            QCOMPARE(a.value("timestamp").toString(), "2024-08-17T09:30:00");
            QCOMPARE(a.value("name").toString(), "velqa-cli scan");
        } else if (reader.name() == u"testcase") {
            cases << a.value("name").toString();
            QCOMPARE(a.value("classname").toString(), "velqa.scan");
        } else if (reader.name() == u"failure" || reader.name() == u"error") {
            verdicts << reader.name().toString() + " " + a.value("type").toString() + " " +
                            a.value("message").toString();
        }
    }
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    QCOMPARE(cases, QStringList({"127.0.0.1", "127.0.0.2", "127.0.0.3"}));
    QCOMPARE(verdicts, QStringList({"failure no-reply Error!",
                                    "error error Windows socket error: Broken pipe (32), on API "
                                    "'send'"}));
    QVERIFY(xml.contains("serial: VQ000001"));
}

void TestCliOutput::tableShowsRowsErrorsAndSummary()
{
    const QList<ModuleResult> results{
        goodScan("127.0.0.1", "VQ000001"),
        failed("127.0.0.12", Outcome::NotConnected, "Error!", {"Asynchronous socket error 111"})};
    const QString table = FormatTable(results, CliCommand::Scan, true, 2500);
    const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines[0].startsWith("ADDRESS"));
    // Columns line up: every row's outcome starts where the header's does.
    const qsizetype column = lines[0].indexOf("OUTCOME");
    QCOMPARE(lines[1].indexOf("success"), column);
    QCOMPARE(lines[1].mid(0, 9), "127.0.0.1");
    QCOMPARE(lines[2], "    (01) " + QStringLiteral("Slot one").leftJustified(32));
    QCOMPARE(lines[3], "    (03) " + QStringLiteral("Slot three").leftJustified(32));
    QCOMPARE(lines[4].indexOf("not-connected"), column);
    QVERIFY(lines[4].contains(" -  "));
    QCOMPARE(lines[5], "127.0.0.12: Asynchronous socket error 111");
    QCOMPARE(lines[6], "2 modules: 1 succeeded, 1 failed in 2.50 s");
}

void TestCliOutput::traceLines_data()
{
    QTest::addColumn<ModuleLink::WireDirection>("direction");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    const QString lead = QStringLiteral("     512 ms  127.0.0.3        ");
    const QString blank(lead.size() + 3, QLatin1Char(' '));
    QTest::newRow("S01 frame sent")
        << ModuleLink::WireDirection::Sent << QByteArray("QMK\x0FS015D\r")
        << QStringList{lead + ">  " +
                       QStringLiteral("51 4D 4B 0F 53 30 31 35 44 0D").leftJustified(48) +
                       " QMK.S015D."};
    QTest::newRow("loop message with its zero byte")
        << ModuleLink::WireDirection::Received << QByteArray("Loop Test Ok.\0\r", 15)
        << QStringList{
               lead + "<  " +
               QStringLiteral("4C 6F 6F 70 20 54 65 73 74 20 4F 6B 2E 00 0D").leftJustified(48) +
               " Loop Test Ok..."};
    QTest::newRow("seventeen bytes take two lines")
        << ModuleLink::WireDirection::Received << QByteArray("0123456789ABCDEF\xFF")
        << QStringList{lead + "<  " + "30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 " +
                           " 0123456789ABCDEF",
                       blank + QStringLiteral("FF").leftJustified(48) + " ."};
    QTest::newRow("an empty read still shows")
        << ModuleLink::WireDirection::Received << QByteArray()
        << QStringList{lead + "<  " + QString(48, ' ') + " "};
}

void TestCliOutput::traceLines()
{
    QFETCH(ModuleLink::WireDirection, direction);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(FormatTrace(512, "127.0.0.3", direction, bytes), lines);
}

void TestCliOutput::progressBarOnlyOnATerminal()
{
    for (const bool terminal : {false, true}) {
        QBuffer out;
        QBuffer err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        Console console(&out, &err, terminal);
        console.setColumns([] { return 40; });
        console.showProgress(3, 10, 700);
        console.writeErr("a trace line\n");
        console.endProgress();
        console.writeOut("table\n");
        QCOMPARE(out.data(), QByteArray("table\n"));
        if (!terminal) {
            QCOMPARE(err.data(), QByteArray("a trace line\n"));
        } else {
            // The bar is cleared for the line and drawn again below it, then cleared at the end.
            const QByteArray bar = ProgressLine(3, 10, 700, 40).toUtf8();
            QCOMPARE(err.data(), "\r\x1b[K" + bar + "\r\x1b[Ka trace line\n" + bar + "\r\x1b[K");
        }
    }
}

void TestCliOutput::progressLine_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("columns"); // 0: unknown
    QTest::addColumn<QString>("line");
    QTest::newRow("start") << 0 << 80 << "[" + QString(30, '.') + "]   0/250  1.2 s";
    QTest::newRow("end") << 250 << 80 << "[" + QString(30, '#') + "] 250/250  1.2 s";
    // Never as wide as the terminal: a line that fills it may wrap.
    QTest::newRow("40 columns") << 125 << 40 << "[###########...........] 125/250  1.2 s";
    QTest::newRow("20 columns: no bar") << 125 << 20 << "125/250  1.2 s";
    QTest::newRow("8 columns: the count") << 125 << 8 << "125/250";
    QTest::newRow("width unknown") << 125 << 0 << "125/250  1.2 s";
}

void TestCliOutput::progressLine()
{
    QFETCH(int, done);
    QFETCH(int, columns);
    QFETCH(QString, line);
    QCOMPARE(ProgressLine(done, 250, 1249, columns), line);
}

void TestCliOutput::moduleBytesReachNoTerminal_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("bytes");
    // How the table shows them.
    QTest::addColumn<QString>("shown");

    QTest::newRow("clear screen in the serial") << "serial" << QByteArray("\x1b[2J") << "\\x1b[2J";
    QTest::newRow("terminal title and DEL in the status")
        << "status" << QByteArray("\x1b]0;owned\x07\x7f") << "\\x1b]0;owned\\x07\\x7f";
    QTest::newRow("C1 control in the loop") << "loop" << QByteArray("\x9b[31m") << "\\x9b[31m";
    QTest::newRow("10 MB loop echo")
        << "loop" << QByteArray(10 * 1024 * 1024, 'L') << QString(63, 'L') + QChar(0x2026);
}

void TestCliOutput::moduleBytesReachNoTerminal()
{
    QFETCH(QString, field);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    // The module's bytes as the operations keep them: one character for each.
    const QString text = QString::fromLatin1(bytes);
    ModuleResult r = goodScan("127.0.0.1", "VQ000001");
    if (field == "loop")
        r.command = CliCommand::LoopTest;
    (field == "serial" ? r.serial : field == "status" ? r.status : r.loopText) = text;

    const QString table = FormatTable({r}, r.command, true, 700);
    QVERIFY2(table.contains(shown), qPrintable(table.left(2000)));
    QVERIFY(table.size() < 4096);
    QVERIFY(
        !table.contains(QRegularExpression(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f]"))));

    // JSON keeps the characters, up to its bound, with no byte a terminal would obey.
    const QByteArray json = FormatJson({r}, r.command);
    for (const char *raw : {"\x1b", "\x07", "\x7f", "\xc2\x9b"})
        QVERIFY2(!json.contains(raw), raw);
    const QJsonObject object = QJsonDocument::fromJson(json).array().first().toObject();
    QCOMPARE(object[field].toString(), text.left(4096));
    QCOMPARE(object["truncated"][field].toInt(-1), text.size() > 4096 ? text.size() : -1);
}

void TestCliOutput::runsAtTheEdges_data()
{
    QTest::addColumn<QStringList>("arguments");
    // More than zero: velqa-cli runs as a program with this limit on open files.
    QTest::addColumn<int>("openFiles");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outPart");
    QTest::addColumn<QString>("errPart");

    QTest::newRow("JUnit to a full disk")
        << QStringList{"scan", "127.0.15.1", "--junit", "/dev/full"} << 0 << 2
        << "1 module: 1 succeeded"
        << "cannot write \"/dev/full\"";
    // A number the window takes for no address is an unknown host of its own.
    QTest::newRow("one module under three names")
        << QStringList{"scan", "127.0.15.3", "station-15", "::ffff:127.0.15.3", "127.000.015.003"}
        << 0 << 1 << "2 modules: 1 succeeded, 1 failed"
        << "\"127.0.15.3\", \"station-15\", \"::ffff:127.0.15.3\" reach one module (127.0.15.3)";
    QTest::newRow("more jobs than the most")
        << QStringList{"scan", "127.0.15.1", "--jobs", "5000"} << 0 << 0 << "1 module: 1 succeeded"
        << "--jobs 5000 is more than the most, 1024";
    QTest::newRow("more jobs than the open files allow")
        << QStringList{"scan", "127.0.15.1-40", "--jobs", "40"} << 64 << 0
        << "40 modules: 40 succeeded, 0 failed"
        << "the limit on open files allows no more";
}

void TestCliOutput::runsAtTheEdges()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, openFiles);
    QFETCH(int, exitCode);
    QFETCH(QString, outPart);
    QFETCH(QString, errPart);

    SimFleet fleet;
    QVERIFY2(fleet.listen(QHostAddress(QStringLiteral("127.0.15.1")), 40),
             qPrintable(fleet.errorString()));
    arguments << "--port" << QString::number(fleet.port());
    CliRun run;
    if (openFiles > 0) {
        QProcess process;
        process.setChildProcessModifier([openFiles] {
            const rlimit limit{rlim_t(openFiles), rlim_t(openFiles)};
            setrlimit(RLIMIT_NOFILE, &limit);
        });
        QSignalSpy finished(&process, &QProcess::finished);
        // The fleet answers from this thread's event loop while the spy waits.
        process.start(QStringLiteral(VELQA_CLI), arguments);
        QVERIFY2(finished.wait(120000), qPrintable(process.errorString()));
        run.exitCode = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
    } else {
        FakeResolver resolver;
        resolver.names.insert("station-15", {QHostAddress(QStringLiteral("127.0.15.3"))});
        run = runCli(arguments, false, &resolver);
    }
    QVERIFY2(run.out.contains(outPart), qPrintable(run.out));
    QVERIFY2(run.err.contains(errPart), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);
}

QTEST_GUILESS_MAIN(TestCliOutput)
#include "tst_cli_output.moc"
