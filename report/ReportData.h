#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimeZone>

// What a report covers: records from `since` up to, not including, `until` (instants; the days
// are counted in `zone`), of one station and one module when they are given.
struct ReportQuery
{
    QDateTime since;
    QDateTime until;
    QTimeZone zone = QTimeZone::systemTimeZone();
    // Empty: every station.
    QString station;
    // Null: every module.
    QByteArray serial;
    // Modules whose last record is older than this many days before `until`; none when negative.
    int staleDays = -1;
    // How many rows the module lists show at most.
    int listLimit = 10;
    int staleLimit = 100;
};

// A report's default period: the last DefaultReportDays local days up to `until`, that day
// included.
inline constexpr int DefaultReportDays = 30;
void SetDefaultPeriod(ReportQuery &query, const QDateTime &until);

// The outcome words that count as a success: an operation's own, and a provisioning step that
// changed a module or found it as it should be.
[[nodiscard]] bool IsSuccessOutcome(const QString &outcome);

// Records and successes under one key (a source, station or operation).
struct ReportTally
{
    QString key;
    qint64 records = 0;
    qint64 successes = 0;

    [[nodiscard]] qint64 failures() const { return records - successes; }
};

// Records of one local day, by outcome word.
struct ReportDay
{
    QDate day;
    QMap<QString, qint64> outcomes;

    [[nodiscard]] qint64 records() const;
};

// How many modules run a firmware version: each module counted once, by its latest record in
// the period. A null version: that record carried none.
struct ReportVersion
{
    QByteArray version;
    qint64 modules = 0;
};

// A module by its failures in the period; a null serial stands for the records without one.
struct ReportFailingModule
{
    QByteArray serial;
    QString lastAddress;
    qint64 failures = 0;
    QString lastFailureStatus;
    QDateTime lastFailure;
};

// Nearest-rank percentiles of the durations of one operation.
struct ReportDuration
{
    QString operation;
    qint64 records = 0;
    qint64 medianMs = 0;
    qint64 p95Ms = 0;
};

struct ReportStaleModule
{
    QByteArray serial;
    QDateTime lastSeen;
    QString lastAddress;
    QByteArray version;
};

// Every figure of a report, as the database aggregated them.
struct ReportData
{
    ReportQuery query;
    QDateTime made;
    qint64 records = 0;
    qint64 successes = 0;
    qint64 modulesSeen = 0;
    qint64 recordsWithoutSerial = 0;
    // The outcome words met, successes first, then by name.
    QStringList outcomes;
    QList<ReportTally> bySource;
    QList<ReportTally> byStation;
    QList<ReportTally> byOperation;
    // Every local day of the period, oldest first, with or without records.
    QList<ReportDay> days;
    // Most modules first.
    QList<ReportVersion> versions;
    // Most failures first, at most query.listLimit.
    QList<ReportFailingModule> mostFailures;
    QList<ReportDuration> durations;
    // Longest unseen first, at most query.staleLimit; staleModules counts them all.
    QList<ReportStaleModule> stale;
    qint64 staleModules = 0;

    // The instant before which a module counts as not seen.
    [[nodiscard]] QDateTime staleBefore() const;
};
