// The report's figures, aggregated by the database: each query groups or ranks the records of
// the period and returns a handful of rows, never the records themselves.
#include "ReportReader.h"

#include "JournalStore.h"
#include "SqlLink.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <functional>

static const char kTimeFormat[] = "yyyy-MM-ddTHH:mm:ss.zzzZ";
// The success words as SQL; constants, never a caller's text.
static const char kSuccessWords[] = "('success', 'changed', 'unchanged')";
// A serial the module sent: records without one (NULL or empty) are the unknown module.
static const char kHasSerial[] = "length(serial) > 0";
static const char kSerialKey[] = "CASE WHEN length(serial) > 0 THEN serial END";

bool IsSuccessOutcome(const QString &outcome)
{
    return outcome == QLatin1String("success") || outcome == QLatin1String("changed") ||
           outcome == QLatin1String("unchanged");
}

void SetDefaultPeriod(ReportQuery &query, const QDateTime &until)
{
    query.until = until;
    query.since = until.addMSecs(-1)
                      .toTimeZone(query.zone)
                      .date()
                      .addDays(1 - DefaultReportDays)
                      .startOfDay(query.zone)
                      .toUTC();
}

qint64 ReportDay::records() const
{
    qint64 sum = 0;
    for (const qint64 n : outcomes)
        sum += n;
    return sum;
}

QDateTime ReportData::staleBefore() const
{
    return query.until.addDays(-qMax(0, query.staleDays));
}

static QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(QLatin1String(kTimeFormat));
}

static QDateTime storedTime(const QVariant &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
}

// A row of a result, a value per column; NULL as a null value.
using Row = SqlRow;

static QByteArray bytesAt(const Row &row, int column)
{
    return row.value(column).isNull() ? QByteArray() : row.value(column).toByteArray();
}

namespace {

// The journal opened for reading the way every reader of it opens it (JournalAccess::Read:
// nothing made, migrated or changed; a read-only archive read as it is), on the calling thread,
// with one read transaction around the report's queries.
class ReportConnection
{
public:
    // A report's query over a million records takes seconds; a server that says nothing for a
    // minute has stopped.
    static constexpr int CallMs = 60000;

    explicit ReportConnection(const JournalLocation &location)
        : m_sqlite(location.kind == JournalLocation::Kind::Sqlite), m_deadline(CallMs),
          m_store(location, &m_deadline)
    {
    }
    ~ReportConnection()
    {
        if (m_inTransaction)
            m_store.query(QStringLiteral("ROLLBACK"));
    }
    ReportConnection(const ReportConnection &) = delete;
    ReportConnection &operator=(const ReportConnection &) = delete;

    [[nodiscard]] bool sqlite() const { return m_sqlite; }
    // The journal has the report's index on the modules (a later schema version).
    [[nodiscard]] bool moduleIndex() const { return m_moduleIndex; }
    [[nodiscard]] QString error() const { return m_error; }

    bool open()
    {
        if (!m_store.open(JournalAccess::Read))
            return fail(m_store.error());
        // PostgreSQL: sorts stay in memory, and a query that runs away ends. Compiling the
        // report's large queries costs seconds; a server too old to compile has no such setting.
        if (!sqlite())
            m_store.query(QStringLiteral("SET jit = off"));
        const QStringList setup =
            sqlite() ? QStringList{QStringLiteral("BEGIN")}
                     : QStringList{QStringLiteral("SET client_min_messages TO WARNING"),
                                   QStringLiteral("SET work_mem = '64MB'"),
                                   QStringLiteral("SET statement_timeout = '120s'"),
                                   QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ "
                                                  "ONLY")};
        for (const QString &sql : setup) {
            if (!run(sql, {}, nullptr))
                return false;
        }
        m_inTransaction = true;
        return !sqlite() ||
               run(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND "
                                  "name = 'journal_record_report_module'"),
                   {}, [this](const Row &q) { m_moduleIndex = q.value(0).toInt() > 0; });
    }

    // Runs `sql` with `values` in place of its "?" marks and hands each row to `row`; false on
    // any error, also one that ends the rows early.
    bool run(const QString &sql, const QVariantList &values,
             const std::function<void(const Row &)> &row)
    {
        QList<SqlRow> rows;
        if (!m_store.query(sql, values, &rows))
            return fail(m_store.error());
        if (row) {
            for (const SqlRow &r : std::as_const(rows))
                row(r);
        }
        return true;
    }

private:
    bool fail(const QString &error)
    {
        if (m_error.isEmpty())
            m_error = error;
        return false;
    }

    bool m_sqlite = false;
    SqlDeadline m_deadline;
    JournalStore m_store;
    QString m_error;
    bool m_inTransaction = false;
    bool m_moduleIndex = false;
};

// Records of the station and module asked for, from `since` (unless null) to `until`, as an SQL
// condition and its values.
struct Where
{
    QString sql;
    QVariantList values;
};

// How the condition compares times. A day's few records are found through the index on the
// time; for a whole period SQLite is told not to ("+time_utc"), so that it reads a covering
// index in the order of the grouping instead, or the table straight through, and does not look
// every record up by its time.
enum class TimeIndex { Use, Avoid };

Where recordsWhere(const ReportQuery &query, const QDateTime &since, const QDateTime &until,
                   bool sqlite, TimeIndex index)
{
    const QString time = sqlite && index == TimeIndex::Avoid ? QStringLiteral("+time_utc")
                                                             : QStringLiteral("time_utc");
    Where where;
    QStringList clauses;
    if (since.isValid()) {
        clauses << time + QStringLiteral(" >= ?");
        where.values << timeText(since);
    }
    clauses << time + QStringLiteral(" < ?");
    where.values << timeText(until);
    if (!query.station.isEmpty()) {
        clauses << QStringLiteral("station = ?");
        where.values << query.station;
    }
    if (!query.serial.isNull()) {
        clauses << QStringLiteral("serial = ?");
        where.values << query.serial;
    }
    where.sql = clauses.join(QStringLiteral(" AND "));
    return where;
}

// Successes first, then the failures the tool knows, then other words by name.
void sortOutcomes(QStringList &outcomes)
{
    static const QStringList first{QStringLiteral("success"),       QStringLiteral("changed"),
                                   QStringLiteral("unchanged"),     QStringLiteral("no-reply"),
                                   QStringLiteral("not-connected"), QStringLiteral("error")};
    const auto rank = [](const QString &word) {
        const qsizetype i = first.indexOf(word);
        return i < 0 ? first.size() : i;
    };
    std::sort(outcomes.begin(), outcomes.end(), [&rank](const QString &a, const QString &b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
    });
}

// Most records first; ties by name.
QList<ReportTally> sortedTallies(const QMap<QString, ReportTally> &tallies)
{
    QList<ReportTally> list = tallies.values();
    std::stable_sort(list.begin(), list.end(), [](const ReportTally &a, const ReportTally &b) {
        return a.records > b.records;
    });
    return list;
}

// Records by source, station, operation and outcome: the summary and the failure shares.
bool readTallies(ReportConnection &db, const Where &where, ReportData &report)
{
    QMap<QString, ReportTally> sources;
    QMap<QString, ReportTally> stations;
    QMap<QString, ReportTally> operations;
    const bool ok = db.run(
        QStringLiteral("SELECT station, source, operation, outcome, COUNT(*), SUM(CASE WHEN %1 "
                       "THEN 0 ELSE 1 END) FROM journal_record WHERE %2 GROUP BY station, "
                       "source, operation, outcome")
            .arg(QLatin1String(kHasSerial), where.sql),
        where.values, [&](const Row &q) {
            const QString outcome = q.value(3).toString();
            const qint64 count = q.value(4).toLongLong();
            const qint64 successes = IsSuccessOutcome(outcome) ? count : 0;
            if (!report.outcomes.contains(outcome))
                report.outcomes << outcome;
            report.records += count;
            report.successes += successes;
            report.recordsWithoutSerial += q.value(5).toLongLong();
            for (auto [tallies, column] :
                 {std::pair{&stations, 0}, std::pair{&sources, 1}, std::pair{&operations, 2}}) {
                const QString key = q.value(column).toString();
                ReportTally &tally = (*tallies)[key];
                tally.key = key;
                tally.records += count;
                tally.successes += successes;
            }
        });
    report.bySource = sortedTallies(sources);
    report.byStation = sortedTallies(stations);
    report.byOperation = sortedTallies(operations);
    sortOutcomes(report.outcomes);
    return ok;
}

// The local days of the period, without records yet.
void addDays(ReportData &report)
{
    const ReportQuery &query = report.query;
    const QDate last = query.until.addMSecs(-1).toTimeZone(query.zone).date();
    for (QDate day = query.since.toTimeZone(query.zone).date(); day.isValid() && day <= last;
         day = day.addDays(1))
        report.days << ReportDay{day, {}};
}

// Days in one statement: a month's days at a time keeps the statement small.
constexpr int kDaysPerStatement = 31;

// SQLite: each local day is a part of the statement of its own, bounded by its local midnights,
// so that the database finds a day's records through its index on the time and sorts only them.
bool readDaysOneByOne(ReportConnection &db, ReportData &report)
{
    const ReportQuery &query = report.query;
    for (qsizetype batch = 0; batch < report.days.size(); batch += kDaysPerStatement) {
        QStringList parts;
        QVariantList values;
        const qsizetype end = std::min(report.days.size(), batch + kDaysPerStatement);
        for (qsizetype i = batch; i < end; ++i) {
            const QDate day = report.days[i].day;
            const Where where =
                recordsWhere(query, std::max(query.since, day.startOfDay(query.zone).toUTC()),
                             std::min(query.until, day.addDays(1).startOfDay(query.zone).toUTC()),
                             true, TimeIndex::Use);
            parts << QStringLiteral("SELECT %1, outcome, COUNT(*) FROM journal_record WHERE %2 "
                                    "GROUP BY outcome")
                         .arg(i)
                         .arg(where.sql);
            values << where.values;
        }
        if (!db.run(parts.join(QStringLiteral(" UNION ALL ")), values, [&](const Row &q) {
                report.days[q.value(0).toInt()].outcomes[q.value(1).toString()] +=
                    q.value(2).toLongLong();
            }))
            return false;
    }
    return true;
}

// PostgreSQL: the records counted per UTC hour in one pass (it groups by hashing), an hour
// split where a local midnight falls inside it (zones 30 or 45 minutes off UTC), and the parts
// put into their local days here.
bool readDaysByHour(ReportConnection &db, const Where &where, ReportData &report)
{
    const ReportQuery &query = report.query;
    QList<int> minutes;
    for (const ReportDay &day : std::as_const(report.days)) {
        const int minute = day.day.startOfDay(query.zone).toUTC().time().minute();
        if (minute != 0 && !minutes.contains(minute))
            minutes << minute;
    }
    std::sort(minutes.begin(), minutes.end(), std::greater<int>());
    QString part = QStringLiteral("0");
    if (!minutes.isEmpty()) {
        part = QStringLiteral("CASE");
        for (const int minute : std::as_const(minutes))
            part += QStringLiteral(" WHEN substr(time_utc, 15, 2) >= '%1' THEN %2")
                        .arg(minute, 2, 10, QLatin1Char('0'))
                        .arg(minute);
        part += QStringLiteral(" ELSE 0 END");
    }
    const QDate first = report.days.isEmpty() ? QDate() : report.days.first().day;
    // A constant among the keys still costs its hashing.
    return db.run(
        QStringLiteral("SELECT substr(time_utc, 1, 13), %1, outcome, COUNT(*) FROM "
                       "journal_record WHERE %2 GROUP BY 1, %3")
            .arg(part, where.sql, minutes.isEmpty() ? QStringLiteral("3") : QStringLiteral("2, 3")),
        where.values, [&](const Row &q) {
            const QDateTime start =
                QDateTime::fromString(q.value(0).toString() + QStringLiteral(":00:00Z"),
                                      Qt::ISODate)
                    .addSecs(60 * q.value(1).toLongLong());
            const qint64 index = first.daysTo(start.toTimeZone(query.zone).date());
            if (index >= 0 && index < report.days.size())
                report.days[index].outcomes[q.value(2).toString()] += q.value(3).toLongLong();
        });
}

// Records per local day and outcome, the days following the zone's own rules (summer time,
// half-hour offsets) without converting any record's time in the database.
bool readDays(ReportConnection &db, const Where &where, ReportData &report)
{
    addDays(report);
    return db.sqlite() ? readDaysOneByOne(db, report) : readDaysByHour(db, where, report);
}

// The latest record of each module among `where`'s, with `columns` of it; ties at the same
// millisecond go to the larger id in PostgreSQL and to either in SQLite. SQLite groups in the
// order of the report's index on the modules where the journal has it; otherwise it must not
// use the index on the serial alone, which would look up every record one by one.
QString latestPerModule(const ReportConnection &db, const QString &columns, const Where &where)
{
    if (!db.sqlite())
        return QStringLiteral("SELECT DISTINCT ON (serial) serial, time_utc, %1 FROM "
                              "journal_record WHERE %2 AND %3 ORDER BY serial, time_utc DESC, id "
                              "DESC")
            .arg(columns, where.sql, QLatin1String(kHasSerial));
    return QStringLiteral("SELECT serial, MAX(time_utc) AS time_utc, %1 FROM journal_record WHERE "
                          "%2 AND %3 GROUP BY %4")
        .arg(columns, where.sql, QLatin1String(kHasSerial),
             db.moduleIndex() ? QStringLiteral("serial") : QStringLiteral("+serial"));
}

// A number of modules running `version` (null: their latest record had none).
void addVersion(ReportData &report, const QByteArray &version, qint64 modules)
{
    report.modulesSeen += modules;
    for (ReportVersion &v : report.versions) {
        if (v.version.isNull() == version.isNull() && v.version == version) {
            v.modules += modules;
            return;
        }
    }
    report.versions << ReportVersion{version, modules};
}

// Most modules first; then by version, the modules without one last.
void sortVersions(ReportData &report)
{
    std::sort(report.versions.begin(), report.versions.end(),
              [](const ReportVersion &a, const ReportVersion &b) {
                  if (a.modules != b.modules)
                      return a.modules > b.modules;
                  if (a.version.isNull() != b.version.isNull())
                      return b.version.isNull();
                  return a.version < b.version;
              });
}

const QString kFailed = QStringLiteral("outcome NOT IN ") + QLatin1String(kSuccessWords);

// SQLite: the firmware of each module, the version of its latest record in the period.
bool readVersions(ReportConnection &db, const Where &where, ReportData &report)
{
    return db.run(QStringLiteral("SELECT version, COUNT(*) FROM (%1) latest GROUP BY version")
                      .arg(latestPerModule(db, QStringLiteral("version"), where)),
                  where.values, [&](const Row &q) {
                      addVersion(report, bytesAt(q, 0), q.value(1).toLongLong());
                  });
}

// SQLite: the modules with the most failures, the records without a serial as one.
bool readFailureCounts(ReportConnection &db, const Where &where, ReportData &report)
{
    QVariantList values = where.values;
    values << report.query.listLimit;
    return db.run(QStringLiteral("SELECT %1 AS module, COUNT(*) AS failures, MAX(time_utc) AS "
                                 "last FROM journal_record WHERE %2 AND %3 GROUP BY %1 ORDER BY "
                                 "failures DESC, last DESC, CASE WHEN %1 IS NULL THEN 0 ELSE 1 "
                                 "END, module LIMIT ?")
                      .arg(QLatin1String(kSerialKey), where.sql, kFailed),
                  values, [&](const Row &q) {
                      report.mostFailures
                          << ReportFailingModule{bytesAt(q, 0), QString(), q.value(1).toLongLong(),
                                                 QString(), storedTime(q.value(2))};
                  });
}

// SQLite: modules whose latest record before the end of the period is older than the stale
// limit, longest unseen first, and how many there are.
bool readStale(ReportConnection &db, ReportData &report)
{
    const ReportQuery &query = report.query;
    const Where where = recordsWhere(query, QDateTime(), query.until, true, TimeIndex::Avoid);
    QVariantList values = where.values;
    values << timeText(report.staleBefore()) << query.staleLimit;
    return db.run(QStringLiteral("SELECT serial, time_utc, address, version, COUNT(*) OVER () "
                                 "FROM (%1) latest WHERE time_utc < ? ORDER BY time_utc, serial "
                                 "LIMIT ?")
                      .arg(latestPerModule(db, QStringLiteral("address, version"), where)),
                  values, [&](const Row &q) {
                      report.stale << ReportStaleModule{bytesAt(q, 0), storedTime(q.value(1)),
                                                        q.value(2).toString(), bytesAt(q, 3)};
                      report.staleModules = q.value(4).toLongLong();
                  });
}

// PostgreSQL: everything by module in one pass, hashing each record once into its module's
// group: the latest record (the largest of the texts [time, address, version], in which the
// time comes first and is always as long), the failures in the period and the last one. Then
// from those groups the versions, the modules with the most failures and the stale ones. With
// --stale the pass covers the records before the period too: a module seen in the period has
// its latest record there.
bool readModules(ReportConnection &db, ReportData &report)
{
    const ReportQuery &query = report.query;
    const bool stale = query.staleDays >= 0;
    const Where where = recordsWhere(query, stale ? QDateTime() : query.since, query.until, false,
                                     TimeIndex::Avoid);
    const QString since = timeText(query.since);
    QVariantList values{since, since};
    values << where.values << since << query.listLimit;
    QString sql =
        QStringLiteral(
            "WITH m AS MATERIALIZED (SELECT %1 AS module, MAX(json_build_array(time_utc, "
            "address, encode(version, 'hex'))::text) AS seen, MAX(time_utc) AS last_seen, "
            "SUM(CASE WHEN time_utc >= ? AND %2 THEN 1 ELSE 0 END) AS failures, MAX(CASE WHEN "
            "time_utc >= ? AND %2 THEN time_utc END) AS last_failure FROM journal_record WHERE %3 "
            "GROUP BY 1) "
            "SELECT 'v', NULL::bytea, seen::json->>2, COUNT(*), NULL FROM m WHERE module IS NOT "
            "NULL AND last_seen >= ? GROUP BY 3 "
            "UNION ALL (SELECT 'f', module, NULL, failures, last_failure FROM m WHERE failures > "
            "0 ORDER BY failures DESC, last_failure DESC, module IS NOT NULL, module LIMIT ?)")
            .arg(QLatin1String(kSerialKey), kFailed, where.sql);
    if (stale) {
        sql += QStringLiteral(" UNION ALL (SELECT 's', module, seen, COUNT(*) OVER (), last_seen "
                              "FROM m WHERE module IS NOT NULL AND last_seen < ? ORDER BY "
                              "last_seen, module LIMIT ?)");
        values << timeText(report.staleBefore()) << query.staleLimit;
    }
    const bool ok = db.run(sql, values, [&](const Row &q) {
        const QString kind = q.value(0).toString();
        if (kind == QLatin1String("v")) {
            addVersion(report,
                       q.value(2).isNull() ? QByteArray()
                                           : QByteArray::fromHex(q.value(2).toString().toLatin1()),
                       q.value(3).toLongLong());
        } else if (kind == QLatin1String("f")) {
            report.mostFailures << ReportFailingModule{bytesAt(q, 1), QString(),
                                                       q.value(3).toLongLong(), QString(),
                                                       storedTime(q.value(4))};
        } else {
            const QJsonArray seen = QJsonDocument::fromJson(q.value(2).toString().toUtf8()).array();
            report.stale << ReportStaleModule{
                bytesAt(q, 1), storedTime(seen.at(0).toString()), seen.at(1).toString(),
                seen.at(2).isNull() ? QByteArray()
                                    : QByteArray::fromHex(seen.at(2).toString().toLatin1())};
            report.staleModules = q.value(3).toLongLong();
        }
    });
    // The union's parts come in no set order.
    std::stable_sort(report.mostFailures.begin(), report.mostFailures.end(),
                     [](const ReportFailingModule &a, const ReportFailingModule &b) {
                         if (a.failures != b.failures)
                             return a.failures > b.failures;
                         if (a.lastFailure != b.lastFailure)
                             return a.lastFailure > b.lastFailure;
                         if (a.serial.isNull() != b.serial.isNull())
                             return a.serial.isNull();
                         return a.serial < b.serial;
                     });
    std::stable_sort(report.stale.begin(), report.stale.end(),
                     [](const ReportStaleModule &a, const ReportStaleModule &b) {
                         return a.lastSeen != b.lastSeen ? a.lastSeen < b.lastSeen
                                                         : a.serial < b.serial;
                     });
    return ok;
}

// The status and address of each listed module's last failure, and the address of its latest
// record in the period.
bool readFailureDetails(ReportConnection &db, const Where &where, ReportData &report)
{
    const QString failed = QStringLiteral(" AND ") + kFailed;
    QVariantList serials;
    bool unknownModule = false;
    for (const ReportFailingModule &module : std::as_const(report.mostFailures)) {
        if (module.serial.isNull())
            unknownModule = true;
        else
            serials << module.serial;
    }
    const auto fill = [&report](const QByteArray &serial, const QString &address,
                                const QString *status) {
        for (ReportFailingModule &module : report.mostFailures) {
            if (module.serial.isNull() == serial.isNull() && module.serial == serial) {
                module.lastAddress = address;
                if (status)
                    module.lastFailureStatus = *status;
            }
        }
    };
    // Found by walking the index on the time back from the end of the period.
    const Where recent = recordsWhere(report.query, report.query.since, report.query.until,
                                      db.sqlite(), TimeIndex::Use);
    if (unknownModule &&
        !db.run(QStringLiteral("SELECT status, address FROM journal_record WHERE %1%2 AND NOT "
                               "COALESCE(%3, FALSE) ORDER BY time_utc DESC LIMIT 1")
                    .arg(recent.sql, failed, QLatin1String(kHasSerial)),
                recent.values, [&](const Row &q) {
                    const QString status = q.value(0).toString();
                    fill(QByteArray(), q.value(1).toString(), &status);
                }))
        return false;
    if (serials.isEmpty())
        return true;
    Where listed = where;
    listed.sql += QStringLiteral(" AND serial IN (%1)")
                      .arg(QStringList(serials.size(), QStringLiteral("?")).join(QLatin1Char(',')));
    listed.values << serials;
    Where listedFailed = listed;
    listedFailed.sql += failed;
    return db.run(latestPerModule(db, QStringLiteral("status, address"), listedFailed),
                  listedFailed.values,
                  [&](const Row &q) {
                      const QString status = q.value(2).toString();
                      fill(bytesAt(q, 0), q.value(3).toString(), &status);
                  }) &&
           db.run(latestPerModule(db, QStringLiteral("address"), listed), listed.values,
                  [&](const Row &q) { fill(bytesAt(q, 0), q.value(2).toString(), nullptr); });
}

// Nearest-rank median and 95th percentile per operation, the durations at the ranks
// ceil(n / 2) and ceil(95 n / 100), from the database's count of each duration.
bool readDurations(ReportConnection &db, const Where &where, ReportData &report)
{
    struct Counts
    {
        qint64 total = 0;
        QList<std::pair<qint64, qint64>> durations; // ascending
    };
    QMap<QString, Counts> operations;
    if (!db.run(QStringLiteral("SELECT operation, duration_ms, COUNT(*) FROM journal_record WHERE "
                               "%1 GROUP BY operation, duration_ms ORDER BY operation, "
                               "duration_ms")
                    .arg(where.sql),
                where.values, [&](const Row &q) {
                    Counts &counts = operations[q.value(0).toString()];
                    counts.total += q.value(2).toLongLong();
                    counts.durations.append({q.value(1).toLongLong(), q.value(2).toLongLong()});
                }))
        return false;
    for (auto it = operations.cbegin(); it != operations.cend(); ++it) {
        ReportDuration d{it.key(), it->total, 0, 0};
        const qint64 medianRank = (d.records + 1) / 2;
        const qint64 p95Rank = (95 * d.records + 99) / 100;
        qint64 seen = 0;
        for (const auto &[ms, count] : it->durations) {
            if (seen < medianRank && seen + count >= medianRank)
                d.medianMs = ms;
            if (seen < p95Rank && seen + count >= p95Rank)
                d.p95Ms = ms;
            seen += count;
        }
        report.durations << d;
    }
    return true;
}

} // namespace

std::optional<ReportData> ReadReport(const QString &url, const ReportQuery &query, QString *error)
{
    ReportData report;
    report.query = query;
    report.made = QDateTime::currentDateTimeUtc();
    ReportConnection db(ParseJournalUrl(url));
    const Where where =
        recordsWhere(query, query.since, query.until, db.sqlite(), TimeIndex::Avoid);
    const bool ok =
        db.open() && readTallies(db, where, report) && readDays(db, where, report) &&
        (db.sqlite() ? readVersions(db, where, report) && readFailureCounts(db, where, report) &&
                           (query.staleDays < 0 || readStale(db, report))
                     : readModules(db, report)) &&
        readFailureDetails(db, where, report) && readDurations(db, where, report);
    sortVersions(report);
    if (!ok) {
        if (error)
            *error = db.error();
        return std::nullopt;
    }
    return report;
}
