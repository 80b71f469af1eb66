// How long a report takes on a large journal: a made-up plant's journal (PlantJournal.h, one
// year, 1,000,000 records by default) in SQLite as the tool makes it today, the same file with
// the report's indexes (schema step 4), and PostgreSQL (a server this program starts on
// loopback). For each: the report of the whole year (every record: the worst case), of the last
// 30 days (the default period) and the History window's (one station, one module), as the
// median and the slowest of a few runs, the database reading and the page's making apart.
// Usage: bench_report [--records N] [--runs R] [--keep DIR] [--no-postgresql]
//   --keep DIR keeps the SQLite journals in DIR and uses them again on the next run.
#include "PlantJournal.h"
#include "PostgresTestSupport.h"
#include "ReportReader.h"
#include "ReportRender.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

static QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2)
                                          : QStringLiteral("?");
}

static double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

static bool makeJournal(const QString &url, const PlantJournalOptions &options)
{
    QElapsedTimer clock;
    clock.start();
    QString error;
    const bool ok = WritePlantJournal(
        url, options,
        [](qint64 done, qint64 total) {
            if (done % 100000 < 5000 || done == total)
                std::fprintf(stderr, "\r  %lld of %lld records", done, total);
        },
        &error);
    std::fprintf(stderr, "\n");
    std::printf("  made %s: %lld records in %.1f s%s%s\n", qPrintable(url), options.records,
                double(clock.elapsed()) / 1000.0, ok ? "" : ": ", qPrintable(error));
    return ok;
}

// The report for `query` `runs` times: reading (the database's work) and making the page.
static void measure(const char *store, const char *what, const QString &url,
                    const ReportQuery &query, int runs)
{
    QList<double> readMs;
    QList<double> pageMs;
    double cpu = 0;
    qint64 records = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = cpuSeconds();
        QString error;
        const std::optional<ReportData> report = ReadReport(url, query, &error);
        readMs << double(clock.nsecsElapsed()) / 1e6;
        if (!report) {
            std::printf("%-22s %-26s cannot read: %s\n", store, what, qPrintable(error));
            return;
        }
        clock.restart();
        const QByteArray html = RenderReportHtml(*report, 0);
        const QByteArray json = RenderReportJson(*report);
        pageMs << double(clock.nsecsElapsed()) / 1e6;
        cpu += cpuSeconds() - cpuBefore;
        records = report->records;
        if (html.isEmpty() || json.isEmpty())
            std::printf("%-22s %-26s no page\n", store, what);
    }
    std::sort(readMs.begin(), readMs.end());
    std::sort(pageMs.begin(), pageMs.end());
    std::printf("%-22s %-26s %8lld records: read median %7.0f ms, slowest %7.0f ms; page %4.0f "
                "ms; this process's CPU %6.0f ms a run\n",
                store, what, records, readMs[readMs.size() / 2], readMs.last(),
                pageMs[pageMs.size() / 2], cpu * 1000.0 / runs);
    std::fflush(stdout);
}

static void measureAll(const char *store, const QString &url, const PlantJournalOptions &plant,
                       int runs)
{
    ReportQuery year;
    year.since = plant.end.addDays(-plant.days - 1);
    year.until = plant.end.addSecs(1);
    year.staleDays = 30;
    measure(store, "whole year, --stale 30", url, year, runs);
    ReportQuery month;
    SetDefaultPeriod(month, plant.end.addSecs(1));
    measure(store, "last 30 days", url, month, runs);
    ReportQuery window = month;
    window.station = QStringLiteral("line-03");
    window.serial = QByteArray("VQ2400042");
    measure(store, "30 days, station+module", url, window, runs);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    PlantJournalOptions plant;
    int runs = 5;
    QString keep;
    bool postgresql = true;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--records") && i + 1 < args.size())
            plant.records = args[++i].toLongLong();
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--keep") && i + 1 < args.size())
            keep = args[++i];
        else if (args[i] == QLatin1String("--no-postgresql"))
            postgresql = false;
    }
    // Whole days, so that a kept journal is the same journal on the next run of the same day.
    plant.end = QDateTime(QDate::currentDate(), QTime(0, 0), Qt::UTC);
    QTemporaryDir scratch;
    const QString folder = keep.isEmpty() ? scratch.path() : keep;
    std::printf("bench_report: %lld records over %d days; load average %s (2 cores shared: "
                "figures are noisy while others build)\n",
                plant.records, plant.days, qPrintable(loadAverage()));

    // SQLite as the tool makes it today, and the same file with the report's indexes.
    const QString plain = folder + QStringLiteral("/plant-%1.sqlite").arg(plant.records);
    const QString indexed = folder + QStringLiteral("/plant-%1-indexed.sqlite").arg(plant.records);
    if (!QFile::exists(plain) && !makeJournal(QStringLiteral("sqlite:") + plain, plant))
        return 1;
    if (!QFile::exists(indexed)) {
        QElapsedTimer clock;
        clock.start();
        QFile::copy(plain, indexed);
        JournalStore store(ParseJournalUrl(QStringLiteral("sqlite:") + indexed));
        if (!store.open(JournalAccess::Write, 4)) {
            std::printf("cannot add the report's indexes: %s\n", qPrintable(store.error()));
            return 1;
        }
        std::printf("  the report's indexes added to a copy in %.1f s\n",
                    double(clock.elapsed()) / 1000.0);
    }
    measureAll("sqlite, report indexes", QStringLiteral("sqlite:") + indexed, plant, runs);
    measureAll("sqlite, schema 2", QStringLiteral("sqlite:") + plain, plant, runs);

    if (postgresql) {
        if (!PostgresTestServer::available()) {
            std::printf("postgresql: skipped, no server programs in %s\n",
                        qPrintable(PostgresTestServer::binDir()));
        } else {
            PostgresTestServer server;
            QString error;
            if (!server.create(&error)) {
                std::printf("postgresql: server did not start: %s\n", qPrintable(error));
                return 1;
            }
            const QString url = server.createDatabase(QStringLiteral("plant"));
            if (!makeJournal(url, plant))
                return 1;
            measureAll("postgresql", url, plant, runs);
        }
    }
    std::printf("load average at the end %s\n", qPrintable(loadAverage()));
    return 0;
}
