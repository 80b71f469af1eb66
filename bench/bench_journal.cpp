// How fast the journal takes records: records per second into SQLite and PostgreSQL (a server
// this program starts on loopback), the time an operation's own thread spends handing a record
// over, and what a window operation costs its thread: the record made from the operation's
// result and handed over, as the window does when an operation ends; and opening the journal,
// as the window does when it is made. Then three runs of 250 records with the server hung
// (every process of it stopped) mid-run, as a frozen host would: records made, written, parked
// and lost, how long closing took, and, once the server runs again and sync has sent what
// waited, the records in the server and whether each is there once. Usage: bench_journal
// [records]
#include "Journal.h"
#include "JournalStore.h"
#include "OperationRecord.h"
#include "Outbox.h"
#include "PostgresTestSupport.h"

#include <QSet>
#include <QThread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

static JournalRecord operationRecord(int n)
{
    JournalRecord r = NewJournalRecord(QString::fromLatin1(JournalWords::SourceCli));
    r.address = QStringLiteral("127.0.0.%1").arg(1 + n % 250);
    r.operation = OperationName(Operation::Scan);
    r.outcome = OutcomeName(Outcome::Success);
    r.status = QStringLiteral("Ok.");
    r.serial = QByteArray("SN") + QByteArray::number(100000 + n);
    r.version = QByteArray("V3.21");
    for (int slot = 1; slot <= 8; ++slot)
        r.slotsRead << JournalSlot{slot, QByteArray(32, '*')};
    r.durationMs = 120;
    return r;
}

static double percentile(QList<qint64> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values[qMin(values.size() - 1, qsizetype(p * double(values.size())))]);
}

// A window's scan as the operation hands it on: serial, version and eight slots.
static OperationResult scanResult(int n)
{
    OperationResult result;
    result.operation = Operation::Scan;
    result.address = QStringLiteral("127.0.0.1");
    result.outcome = Outcome::Success;
    result.status = QStringLiteral("Ok.");
    result.serial = QByteArray("VQ") + QByteArray::number(240000 + n);
    result.version = QByteArray("03.21-01");
    for (int slot = 1; slot <= 8; ++slot)
        result.slotsRead.append({slot, QByteArray(32, char('0' + slot))});
    result.started = QDateTime::currentDateTimeUtc();
    result.durationMs = 2700;
    return result;
}

// The window's thread per operation: RecordFromResult and record(), one operation at a time
// (the writer idle when the next one ends, as with a technician's button presses); and the
// journal's open() when the window is made.
static void measureWindow(const char *name, const QString &url, const QString &outbox)
{
    QList<qint64> openNs;
    for (int n = 0; n < 20; ++n) {
        Journal journal;
        QElapsedTimer call;
        call.start();
        journal.open({url, outbox});
        openNs << call.nsecsElapsed();
        journal.waitForIdle(60000);
    }
    Journal journal;
    journal.open({url, outbox});
    journal.waitForIdle(60000);
    const int operations = 1000;
    QList<qint64> threadNs;
    for (int n = 0; n < operations; ++n) {
        const OperationResult result = scanResult(n);
        QElapsedTimer call;
        call.start();
        journal.record(RecordFromResult(result, QString::fromLatin1(JournalWords::SourceWindow)));
        threadNs << call.nsecsElapsed();
        journal.waitForIdle(60000);
    }
    std::printf("%-10s window   %d scans recorded: the operation's thread spends median %.1f us, "
                "p99 %.1f us, max %.1f us (goal: under 1 ms)\n",
                name, operations, percentile(threadNs, 0.5) / 1e3, percentile(threadNs, 0.99) / 1e3,
                percentile(threadNs, 1.0) / 1e3);
    std::printf("           opening the journal as the window is made: median %.1f us, max %.1f "
                "us\n",
                percentile(openNs, 0.5) / 1e3, percentile(openNs, 1.0) / 1e3);
    if (journal.counts().written != operations)
        std::printf("           written %lld of %d: %s\n", journal.counts().written, operations,
                    qPrintable(journal.lastError()));
}

static void measure(const char *name, const QString &url, const QString &outbox, int records)
{
    // A burst, as a 250-module run ends: the writer takes what has queued up in batches.
    {
        Journal journal;
        journal.open({url, outbox});
        journal.waitForIdle(60000);
        QList<qint64> makeNs;
        QList<qint64> handNs;
        makeNs.reserve(records);
        handNs.reserve(records);
        QElapsedTimer wall;
        wall.start();
        for (int n = 0; n < records; ++n) {
            QElapsedTimer call;
            call.start();
            const JournalRecord record = operationRecord(n);
            makeNs << call.nsecsElapsed();
            call.start();
            journal.record(record);
            handNs << call.nsecsElapsed();
        }
        const bool done = journal.waitForIdle(600000);
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        std::printf("%-10s burst    %6d records in %7.3f s: %8.0f records/s%s\n", name, records,
                    seconds, records / seconds, done ? "" : " (NOT DONE)");
        std::printf("           caller's thread: make a record median %.1f us, p99 %.1f us, max "
                    "%.1f us; record() median %.1f us, p99 %.1f us, max %.1f us\n",
                    percentile(makeNs, 0.5) / 1e3, percentile(makeNs, 0.99) / 1e3,
                    percentile(makeNs, 1.0) / 1e3, percentile(handNs, 0.5) / 1e3,
                    percentile(handNs, 0.99) / 1e3, percentile(handNs, 1.0) / 1e3);
        if (journal.counts().written != records)
            std::printf("           written %lld of %d: %s\n", journal.counts().written, records,
                        qPrintable(journal.lastError()));
    }
    // One at a time, as a technician works: every record is its own transaction.
    {
        const int single = qMin(records, 500);
        Journal journal;
        journal.open({url, outbox});
        journal.waitForIdle(60000);
        QElapsedTimer wall;
        wall.start();
        for (int n = 0; n < single; ++n) {
            journal.record(operationRecord(n));
            journal.waitForIdle(60000);
        }
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        std::printf("%-10s single   %6d records in %7.3f s: %8.0f records/s (%.2f ms each)\n", name,
                    single, seconds, single / seconds, seconds * 1e3 / single);
    }
}

// Three runs as a 250-module command-line run makes them, one every 4 ms; the server stops
// answering after the 100th record of each run, and the run ends while it hangs. The journal's
// own deadlines, as shipped: 2 s for a call to the server, 3 s to close.
static void measureHungServer(PostgresTestServer &server, const QString &folder)
{
    const QString url = server.createDatabase(QStringLiteral("hung"));
    const JournalLocation location = ParseJournalUrl(url);
    qint64 made = 0;
    for (int run = 1; run <= 3; ++run) {
        Journal journal;
        journal.open({url, folder});
        journal.waitForIdle(60000);
        for (int n = 0; n < 250; ++n) {
            if (n == 100)
                server.pause();
            journal.record(operationRecord(run * 1000 + n));
            ++made;
            QThread::msleep(4);
        }
        QElapsedTimer closing;
        closing.start();
        journal.close();
        const JournalCounts c = journal.counts();
        std::printf("hung server run %d: 250 records made: %lld written, %lld parked, %lld lost "
                    "(%lld waiting from earlier runs forwarded at open); closing took %.2f s\n",
                    run, c.written, c.parked, c.dropped, c.forwarded,
                    double(closing.nsecsElapsed()) / 1e9);
        server.resume();
    }
    const SyncResult sync = SyncOutboxes(folder, location);
    JournalStore store(location);
    const bool counted = store.open(JournalAccess::Read) && store.count().has_value();
    const qint64 total = counted ? *store.count() : -1;
    JournalFilter all;
    all.limit = 0;
    const std::optional<QList<JournalRecord>> records = store.read(all);
    QSet<QUuid> ids;
    for (const JournalRecord &r : records.value_or(QList<JournalRecord>()))
        ids.insert(r.id);
    std::printf("hung server, after it runs again: sync sent %lld; %lld records made, %lld in the "
                "server, %lld distinct (%s)\n",
                sync.synced.isEmpty() ? 0 : sync.synced.first().sent, made, total,
                qint64(ids.size()),
                total == made && qint64(ids.size()) == made ? "every record exactly once"
                                                            : "NOT exactly once");
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int records = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 5000;
    QTemporaryDir dir;
    const QString outbox = dir.filePath(QStringLiteral("outbox"));

    measure("sqlite", QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("j.sqlite")), outbox,
            records);
    measureWindow("sqlite", QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("w.sqlite")),
                  outbox);

    if (!PostgresTestServer::available()) {
        std::printf("postgresql: skipped, no server programs in %s\n",
                    qPrintable(PostgresTestServer::binDir()));
        return 0;
    }
    PostgresTestServer server;
    QString error;
    if (!server.create(&error)) {
        std::printf("postgresql: server did not start: %s\n", qPrintable(error));
        return 1;
    }
    measure("postgresql", server.createDatabase(QStringLiteral("bench")), outbox, records);
    measureWindow("postgresql", server.createDatabase(QStringLiteral("window")), outbox);

    // The server away: records go to the outbox, and the caller's thread still only hands over.
    server.stop();
    {
        Journal journal;
        journal.open({server.url(QStringLiteral("bench")), outbox});
        QList<qint64> callerNs;
        for (int n = 0; n < 200; ++n) {
            QElapsedTimer call;
            call.start();
            journal.record(operationRecord(n));
            callerNs << call.nsecsElapsed();
        }
        journal.waitForIdle(60000);
        std::printf("postgresql away: 200 records parked %lld; caller's thread median %.1f us, "
                    "max %.1f us\n",
                    journal.counts().parked, percentile(callerNs, 0.5) / 1e3,
                    percentile(callerNs, 1.0) / 1e3);
    }
    server.start();
    {
        Journal journal;
        QElapsedTimer wall;
        wall.start();
        journal.open({server.url(QStringLiteral("bench")), outbox});
        journal.waitForIdle(60000);
        std::printf("postgresql back: %lld records forwarded from the outbox at open in %.3f s\n",
                    journal.counts().forwarded, double(wall.nsecsElapsed()) / 1e9);
    }
    measureHungServer(server, dir.filePath(QStringLiteral("hung")));
    return 0;
}
