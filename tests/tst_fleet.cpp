#include "CliTestSupport.h"
#include "Escape.h"
#include "FleetCommands.h"
#include "FleetPlan.h"
#include "ModuleRunner.h"
#include "PlanFile.h"
#include "TestClock.h"
#include "simfleet.h"
#include "simmodule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// A scan that read `serial` and the slots given (slot n at index n - 1; a null array: not read).
static OperationResult scanOf(const QByteArray &serial, const QList<QByteArray> &slotData,
                              Outcome outcome = Outcome::Success)
{
    OperationResult scan;
    scan.outcome = outcome;
    scan.serial = serial;
    scan.version = "03.21-01";
    for (int slot = 1; slot <= slotData.size(); ++slot) {
        if (!slotData[slot - 1].isNull())
            scan.slotsRead << SlotRead{slot, slotData[slot - 1]};
    }
    return scan;
}

static QList<QByteArray> factorySlots()
{
    QList<QByteArray> slotData;
    for (int slot = 1; slot <= 8; ++slot)
        slotData << QByteArray("Slot %1 of VQ000001")
                        .replace("%1", QByteArray::number(slot))
                        .leftJustified(32);
    return slotData;
}

// Plan files, the module's side of a plan, and what export writes, as values.
class TestFleet : public QObject
{
    Q_OBJECT

private slots:
    void readsPlans_data();
    void readsPlans();
    void refusesFilesUnread();
    void decides_data();
    void decides();
    void exportRoundTrips_data();
    void exportRoundTrips();
    void runsOnAFleet_data();
    void runsOnAFleet();
};

void TestFleet::readsPlans_data()
{
    QTest::addColumn<QByteArray>("file");
    // "LINE COLUMN: words of the message" for a refused file, else "rows N, key K[, saved]".
    QTest::addColumn<QString>("read");

    const QByteArray header = "serial,address,slot1,slot2\r\n";
    QTest::newRow("serial key, address, partial row") << header + "VQ1,127.0.0.1,A,\r\nVQ2,,,B\r\n"
                                                      << "rows 2, key serial";
    QTest::newRow("address key, byte-order mark, LF") << QByteArray("\xEF\xBB\xBF"
                                                                    "address,slot8\nhost-a,x\n")
                                                      << "rows 1, key address";
    QTest::newRow("saved plan") << QByteArray("serial,slot1,held_slot1\r\nVQ1,A,B\r\n")
                                << "rows 1, key serial, saved";
    QTest::newRow("JSON, null and missing cells")
        << QByteArray("[{\"serial\": \"VQ1\", \"slot1\": null},\n {\"serial\": \"VQ2\"}]")
        << "rows 2, key serial";
    QTest::newRow("empty file") << QByteArray("\xEF\xBB\xBF \r\n") << "0 : an empty file";
    QTest::newRow("header only") << QByteArray("serial,slot1\r\n") << "0 : no module rows";
    QTest::newRow("unknown column")
        << QByteArray("serial,slot9\r\nVQ1,\r\n") << "1 slot9: an unknown column";
    QByteArray many = "serial\n";
    for (int row = 0; row <= MaxPlanRows; ++row)
        many += QByteArray::number(row) + '\n';
    // Rows past the limit are never read: their stray quote goes unnoticed.
    QTest::newRow("too many rows") << many + "x\"y\n"
                                   << "65538 : more than 65536 module rows";
    QByteArray manyObjects = "[";
    for (int row = 0; row <= MaxPlanRows; ++row)
        manyObjects += "{\"serial\": \"" + QByteArray::number(row) + "\"},\n";
    QTest::newRow("too many JSON objects") << manyObjects + "7]"
                                           << "65537 : more than 65536 module rows";
    QByteArray wide = "serial";
    for (int column = 0; column < PlanColumns().size(); ++column)
        wide += ",x";
    QTest::newRow("header wider than a plan's") << wide + "\r\n"
                                                << "1 : a header of more than 19 cells (cell 20)";
    QTest::newRow("row wider than the header") << header + "VQ1,,A,,\r\n"
                                               << "2 : more cells than the header's 4 (cell 5)";
    QTest::newRow("column named twice")
        << QByteArray("serial,slot1,slot1\r\nVQ1,,\r\n") << "1 slot1: a column named twice";
    QTest::newRow("no key") << QByteArray("slot1,version\r\nA,B\r\n") << "1 : no key column";
    QTest::newRow("duplicate serial") << header + "VQ1,,A,\r\nVQ2,,,\r\n'VQ1,,,B\r\n"
                                      << "4 serial: is also on line 2";
    QTest::newRow("duplicate serial that reads like a placeholder")
        << header + "%2,,A,\r\n%2,,,\r\n"
        << "3 serial: serial number \"%2\" is also on line 2";
    QTest::newRow("duplicate address, other case")
        << QByteArray("address,slot1\r\nHost-A,x\r\nhost-a,y\r\n")
        << "3 address: is also on line 2";
    QTest::newRow("no serial in a serial row") << header + "VQ1,,A,\r\n,h,B,\r\n"
                                               << "3 serial: no serial number";
    QTest::newRow("value over 32 characters") << header + "VQ1,," + QByteArray(33, 'x') + ",\r\n"
                                              << "2 slot1: 33 characters";
    QTest::newRow("control byte in a short value") << header + "VQ1,,,A\\x07\r\n"
                                                   << "2 slot2: outside printable ASCII";
    QTest::newRow("raw control character") << header + "VQ1,,,\"A\tB\"\r\n"
                                           << "2 slot2: the byte rule does not write";
    QTest::newRow("lone backslash") << header + "VQ1,,C:\\dir,\r\n"
                                    << "2 slot1: the byte rule does not write";
    QTest::newRow("bad quote") << header + "VQ1,,A,\"B\r\n"
                               << "2 : a quote that is never closed";
    QTest::newRow("a row spanning lines, on its first")
        << header + "VQ1,\"a\r\nb\",,\r\n"
        << "2 address: the text rule does not write";
    QTest::newRow("row of another width") << header + "VQ1,,A\r\n"
                                          << "2 : 3 cells";
    QTest::newRow("not UTF-8") << header + "VQ1,,\xe9,\r\n"
                               << "2 : not UTF-8";
    QTest::newRow("JSON syntax") << QByteArray("[{\"serial\": \"VQ1\"},\n {\"serial\" \"VQ2\"}]")
                                 << "2 : in JSON";
    QTest::newRow("JSON number") << QByteArray("[{\"serial\": \"VQ1\"},\n {\"slot1\": 7}]")
                                 << "2 slot1: no string";
    // Refused where it is first named, before any later object is looked at.
    QTest::newRow("JSON unknown key")
        << QByteArray("[{\"serial\": \"VQ1\", \"slot9\": \"x\"},\n {\"slot1\": 7}]")
        << "1 slot9: an unknown column";
    QTest::newRow("JSON character above one byte")
        << QByteArray("[\n{\"serial\": \"VQ\\u20ac\"}]") << "2 serial: above U+00FF";
}

void TestFleet::readsPlans()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, read);
    const PlanReading reading = ReadPlan(file);
    if (reading.error) {
        const QString got = QStringLiteral("%1 %2: %3")
                                .arg(reading.error->line)
                                .arg(reading.error->column, reading.error->message);
        QVERIFY2(got.startsWith(read.section(':', 0, 0) + ':') &&
                     got.contains(read.section(": ", 1)),
                 qPrintable(got));
        return;
    }
    QString got = QStringLiteral("rows %1, key %2")
                      .arg(reading.plan.rows.size())
                      .arg(reading.plan.key == PlanKey::Serial ? "serial" : "address");
    if (reading.plan.saved)
        got += QStringLiteral(", saved");
    QCOMPARE(got, read);
}

void TestFleet::refusesFilesUnread()
{
    QTemporaryDir dir;
    QFile large(dir.filePath("large.csv"));
    QVERIFY(large.open(QIODevice::WriteOnly));
    QVERIFY(large.write("serial,slot1\r\nVQ1,A\r\n") > 0);
    QVERIFY(large.resize(MaxPlanFileBytes + 1));
    large.close();
    const PlanReading reading = ReadPlanFile(large.fileName());
    QVERIFY(reading.error);
    QCOMPARE(reading.error->message, QStringLiteral("larger than 16 MiB"));
    QVERIFY(ReadPlanFile(dir.filePath("missing.csv")).error);
}

void TestFleet::decides_data()
{
    QTest::addColumn<QByteArray>("planFile");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QList<QByteArray>>("slotData");
    QTest::addColumn<Outcome>("scanOutcome");
    // The outcome's name, then each change as " n=desired".
    QTest::addColumn<QString>("decision");

    const QList<QByteArray> slotData = factorySlots();
    const QByteArray serial = "VQ000001";
    QList<QByteArray> oddSlot = slotData;
    oddSlot[2] = QByteArray("\x01\xff odd").leftJustified(32);
    QList<QByteArray> unread = slotData;
    unread[1] = QByteArray();

    QTest::newRow("partial row, short value padded")
        << QByteArray("serial,slot1,slot4\r\nVQ000001,SITE-A,\r\n") << serial << slotData
        << Outcome::Success << "pending 1=SITE-A";
    QTest::newRow("held values, with and without their padding")
        << QByteArray("serial,slot1,slot2\r\nVQ000001,Slot 1 of VQ000001,\"" + slotData[1] +
                      "\"\r\n")
        << serial << slotData << Outcome::Success << "unchanged";
    QTest::newRow("a trailing space is no padding")
        << QByteArray("serial,slot1\r\nVQ000001,\"Slot 1 of VQ000001 \"\r\n") << serial
        << QList<QByteArray>{QByteArray("Slot 1 of VQ000001")} << Outcome::Success
        << "pending 1=Slot 1 of VQ000001";
    QTest::newRow("32 spaces are a value") << QByteArray("address,slot8\r\nh,\" \"\r\n") << serial
                                           << slotData << Outcome::Success << "pending 8=";
    QTest::newRow("a slot not read is written")
        << QByteArray("serial,slot2\r\nVQ000001,B\r\n") << serial << unread << Outcome::Success
        << "pending 2=B";
    QTest::newRow("bytes outside printable ASCII, held")
        << QByteArray("serial,slot3,slot5\r\nVQ000001,\\x01\\xff odd" + QByteArray(26, ' ') +
                      ",E\r\n")
        << serial << oddSlot << Outcome::Success << "pending 5=E";
    QTest::newRow("bytes outside printable ASCII, not held")
        << QByteArray("serial,slot1,slot3\r\nVQ000001,A,\\x01\\xff odd" + QByteArray(26, ' ') +
                      "\r\n")
        << serial << slotData << Outcome::Success << "drifted";
    QTest::newRow("serial from another module")
        << QByteArray("serial,address,slot1\r\nVQ000002,h,A\r\n") << serial << slotData
        << Outcome::Success << "not-found";
    QTest::newRow("address key: any serial") << QByteArray("address,slot1\r\nh,A\r\n") << serial
                                             << slotData << Outcome::Success << "pending 1=A";
    QTest::newRow("saved plan, as reviewed")
        << QByteArray("serial,slot1,held_slot1,held_slot2\r\nVQ000001,A,\"" + slotData[0] +
                      "\",\"" + slotData[1] + "\"\r\n")
        << serial << slotData.mid(0, 2) << Outcome::Success << "pending 1=A";
    QTest::newRow("saved plan, slot changed since")
        << QByteArray("serial,slot1,held_slot1,held_slot2\r\nVQ000001,A,\"" + slotData[0] +
                      "\",other\r\n")
        << serial << slotData.mid(0, 2) << Outcome::Success << "drifted";
    QTest::newRow("saved plan, applied since")
        << QByteArray("serial,slot1,held_slot1\r\nVQ000001,A,\"" + slotData[0] + "\"\r\n") << serial
        << QList<QByteArray>{"A"} << Outcome::Success << "unchanged";
    QTest::newRow("saved plan, a slot answers that did not")
        << QByteArray("serial,slot1,held_slot1\r\nVQ000001,A,\"" + slotData[0] + "\"\r\n") << serial
        << slotData.mid(0, 2) << Outcome::Success << "drifted";
    QTest::newRow("scan unanswered") << QByteArray("serial,slot1\r\nVQ000001,A\r\n") << serial
                                     << slotData << Outcome::NoReply << "no-reply";
    QTest::newRow("no link") << QByteArray("serial,slot1\r\nVQ000001,A\r\n") << QByteArray()
                             << QList<QByteArray>() << Outcome::NotConnected << "not-connected";
}

void TestFleet::decides()
{
    QFETCH(QByteArray, planFile);
    QFETCH(QByteArray, serial);
    QFETCH(QList<QByteArray>, slotData);
    QFETCH(Outcome, scanOutcome);
    QFETCH(QString, decision);
    const PlanReading reading = ReadPlan(planFile);
    QVERIFY2(!reading.error, reading.error ? qPrintable(reading.error->message) : "");
    const ModuleDecision made = DecideModule(reading.plan, reading.plan.rows.first(),
                                             scanOf(serial, slotData, scanOutcome));
    QString got = FleetOutcomeName(made.outcome);
    for (const SlotChange &change : made.changes)
        got += QStringLiteral(" %1=%2")
                   .arg(change.slot)
                   .arg(QString::fromLatin1(change.desired.trimmed()));
    for (const SlotChange &change : made.changes)
        QCOMPARE(change.desired.size(), 32);
    QCOMPARE(got, decision);
    QCOMPARE(made.note.isEmpty(),
             made.outcome != FleetOutcome::Drifted && made.outcome != FleetOutcome::NotFound);
}

void TestFleet::exportRoundTrips_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QByteArray>("slot");

    QTest::newRow("plain, padded") << QByteArray("VQ000001") << factorySlots().first();
    QTest::newRow("formula") << QByteArray("=1+2")
                             << QByteArray("=HYPERLINK(\"http://x\",\"y\")").leftJustified(32);
    QTest::newRow("the formula rule's own mark")
        << QByteArray("'VQ1") << QByteArray("'quoted").leftJustified(32);
    QTest::newRow("plus, minus, at") << QByteArray("-VQ") << QByteArray("+@-").leftJustified(32);
    QTest::newRow("tab and CR first")
        << QByteArray("\tVQ") << QByteArray("\r=cmd|' /C calc'!A0").leftJustified(32);
    QTest::newRow("backslash and every kind of byte")
        << QByteArray("\\x41\x00\xff", 7)
        << QByteArray("\\\x1b[2J\x7f\x80\xe9,\"").leftJustified(32);
}

// Export, then a plan of that file, changes nothing, and a spreadsheet finds no formula in it.
void TestFleet::exportRoundTrips()
{
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, slot);
    QList<QByteArray> slotData = factorySlots();
    slotData[4] = slot;
    const QList<ExportedModule> modules{{QStringLiteral("=127.0.0.1"), scanOf(serial, slotData)}};

    const QByteArray csv = ExportCsv(modules);
    const CsvTable table = ReadCsv(csv);
    QVERIFY(table.ok());
    for (const QString &cell : table.rows.first())
        QVERIFY2(cell.isEmpty() || !QStringLiteral("=+-@\t\r").contains(cell.front()),
                 qPrintable(cell));
    for (const QByteArray &file : {csv, ExportJson(modules)}) {
        const PlanReading reading = ReadPlan(file);
        QVERIFY2(!reading.error, reading.error ? qPrintable(reading.error->message) : "");
        const PlanRow &row = reading.plan.rows.first();
        QCOMPARE(row.serial, serial);
        QCOMPARE(row.address, QStringLiteral("=127.0.0.1"));
        QCOMPARE(row.desired[4], std::optional<QByteArray>(slot));
        const ModuleDecision decision = DecideModule(reading.plan, row, scanOf(serial, slotData));
        QCOMPARE(FleetOutcomeName(decision.outcome), QStringLiteral("unchanged"));
    }
}

void TestFleet::runsOnAFleet_data()
{
    // "export" and "apply" run in turn; a plan file's "{a1}".."{a4}" are the fleet's addresses,
    // "{s1}".."{s4}" its serial numbers.
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QByteArray>("planFile");
    QTest::addColumn<bool>("withTargets");
    // Per module: "silent", "forget-writes", "close-after-11", "serial-of-1", "interrupt-on-F"
    // (a SIGINT as the module handles its first slot write).
    QTest::addColumn<QStringList>("faults");
    // The last command's exit code, outcomes in plan order, and the F0n frames it sent.
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcomes");
    QTest::addColumn<int>("slotWrites");

    const QByteArray bySerial = "serial,address,slot1,slot3\r\n"
                                "{s1},{a1},SITE-A,Door 1\r\n"
                                "{s2},{a2},SITE-A,\r\n"
                                "{s3},{a3},,\"Slot 3 of {s3}\"\r\n"
                                "{s4},{a4},SITE-B,Door 4\r\n";
    const QStringList none{"", "", "", ""};
    QTest::newRow("plan: pending and unchanged")
        << QStringList{"plan"} << bySerial << false << none << PlanChangesPending
        << "pending pending unchanged pending" << 0;
    QTest::newRow("plan: nothing to change")
        << QStringList{"plan"} << QByteArray("address,slot2\r\n{a1},Slot 2 of {s1}\r\n") << false
        << none << 0 << "unchanged" << 0;
    QTest::newRow("plan: a module not found wins over pending")
        << QStringList{"plan"} << bySerial + "VQ999999,,x,\r\n"
        << true << none << 1 << "pending pending unchanged pending not-found" << 0;
    QTest::newRow("refused plan: two rows reach one module")
        << QStringList{"plan"} << QByteArray("address,slot1\r\n{a1},x\r\n::ffff:{a1},y\r\n")
        << false << none << 2 << "" << -1;
    QTest::newRow("refused plan: nothing sent")
        << QStringList{"apply"} << bySerial + "{s1},,\"" + QByteArray(33, 'x') + "\",\r\n"
        << false << none << 2 << "" << -1;
    QTest::newRow("apply: changed, unchanged") << QStringList{"apply"} << bySerial << false << none
                                               << 0 << "changed changed unchanged changed" << 5;
    QTest::newRow("apply: verify-failed, no-reply")
        << QStringList{"apply"} << bySerial << false
        << QStringList{"forget-writes", "silent", "", ""} << 1
        << "verify-failed no-reply unchanged changed" << 4;
    QTest::newRow("apply: ambiguous and not found among the targets")
        << QStringList{"apply"} << bySerial << true << QStringList{"", "", "", "serial-of-1"} << 1
        << "ambiguous changed unchanged not-found" << 1;
    QTest::newRow("apply: another module at the row's address")
        << QStringList{"apply"} << bySerial << false << QStringList{"", "", "", "serial-of-1"} << 1
        << "changed changed unchanged not-found" << 3;
    QTest::newRow("apply twice: the second writes nothing")
        << QStringList{"apply", "apply"} << bySerial << false << none << 0
        << "unchanged unchanged unchanged unchanged" << 0;
    QTest::newRow("export, then apply of that file: nothing written")
        << QStringList{"export", "apply"} << QByteArray() << false << none << 0
        << "unchanged unchanged unchanged unchanged" << 0;
    QTest::newRow("apply: the link lost after the first write")
        << QStringList{"apply"} << bySerial << false << QStringList{"close-after-11", "", "", ""}
        << 1 << "verify-failed changed unchanged changed" << 4;
    QTest::newRow("interrupted during the first write")
        << QStringList{"apply"} << bySerial << false << QStringList{"interrupt-on-F", "", "", ""}
        << 130 << "interrupted not-started not-started not-started" << 1;
}

void TestFleet::runsOnAFleet()
{
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, planFile);
    QFETCH(bool, withTargets);
    QFETCH(QStringList, faults);
    QFETCH(int, exitCode);
    QFETCH(QString, outcomes);
    QFETCH(int, slotWrites);

    SimFleet fleet;
    QVERIFY2(fleet.listen(QHostAddress("127.0.50.1"), 4), qPrintable(fleet.errorString()));
    for (int i = 0; i < 4; ++i) {
        SimModule *module = fleet.module(i);
        const QByteArray number = QByteArray::number(i + 1);
        planFile.replace("{a" + number + "}", fleet.address(i).toString().toLatin1());
        planFile.replace("{s" + number + "}", module->serialNumber());
        module->setRecording(true);
        SimFaults fault;
        fault.silent = faults[i] == "silent";
        fault.forgetWrites = faults[i] == "forget-writes";
        // S01, V01, G01..G08, then the first write.
        fault.closeAfter = faults[i] == "close-after-11" ? 11 : 0;
        module->setFaults(fault);
        if (faults[i] == "serial-of-1")
            module->setSerialNumber(fleet.module(0)->serialNumber());
        if (faults[i] == "interrupt-on-F") {
            connect(module, &SimModule::commandHandled, module, [](const QByteArray &name) {
                if (name.startsWith('F')) {
                    Interruption().signal = SIGINT;
                    Interruption().requested = true;
                }
            });
        }
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("plan.csv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(planFile);
    file.close();

    const QString range = QStringLiteral("127.0.50.1-4");
    const QString journal = "sqlite:" + dir.filePath("journal.sqlite");
    const auto frameCount = [&fleet] {
        int frames = 0;
        for (int i = 0; i < 4; ++i) {
            for (const QByteArray &name : fleet.module(i)->handledCommands())
                frames += name.startsWith('F') ? 1 : 0;
        }
        return frames;
    };
    // An interruption ends with the row, whatever its outcome.
    const auto uninterrupted = qScopeGuard([] {
        Interruption().requested = false;
        Interruption().signal = 0;
    });
    CliRun run;
    int journalFrames = 0;
    for (const QString &command : commands) {
        for (int i = 0; i < 4; ++i)
            fleet.module(i)->clearHandledCommands();
        QStringList arguments{command};
        if (command != "export")
            arguments << path;
        if (withTargets || command == "export")
            arguments << range;
        arguments << "--port" << QString::number(fleet.port()) << "--journal" << journal << "--jobs"
                  << "1";
        if (command != "export")
            arguments << "--json";
        TestClock clock;
        run = runCli(arguments, false, nullptr, nullptr, nullptr, &clock);
        if (command == "export") {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(run.out.toUtf8());
            file.close();
        }
        if (command == commands.last())
            journalFrames += frameCount();
    }
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
    QStringList got;
    int written = 0;
    for (const QJsonValue &module : QJsonDocument::fromJson(run.out.toUtf8()).array()) {
        got << module["outcome"].toString();
        written += int(module["written"].toArray().size());
    }
    QCOMPARE(got.join(' '), outcomes);
    int requests = 0;
    for (int i = 0; i < 4; ++i)
        requests += int(fleet.module(i)->handledCommands().size());
    // A refused plan reaches no module.
    QCOMPARE(frameCount(), std::max(slotWrites, 0));
    QCOMPARE(requests == 0, slotWrites < 0);
    // The report names exactly the slots whose write went out, and so does the journal, in one
    // record per planned module.
    QCOMPARE(written, frameCount());
    const CliRun history = runCli({"history", "--operation", commands.last(), "--json", "--limit",
                                   "0", "--journal", journal});
    QCOMPARE(history.exitCode, slotWrites < 0 ? 2 : 0);
    const QJsonArray records = QJsonDocument::fromJson(history.out.toUtf8()).array();
    int recorded = 0;
    for (const QJsonValue &record : records)
        recorded += int(record["slots_written"].toArray().size());
    QCOMPARE(recorded, journalFrames);
    QCOMPARE(records.size(), got.size() * commands.count(commands.last()));
}

QTEST_GUILESS_MAIN(TestFleet)
#include "tst_fleet.moc"
