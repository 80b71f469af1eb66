// The journal's tables, created and migrated by the tool itself, one version at a time.
#include "JournalStore.h"

#include <QSqlError>
#include <QSqlQuery>

// Any number: it only has to be the same for every station that migrates the shared journal.
static constexpr qint64 kMigrationLock = 5003'2024;

// Covering indexes for the report (velqa-cli report, the History window), SQLite only: each
// of its aggregates reads one of them in the order of its grouping instead of sorting the
// period's records (PostgreSQL groups by hashing and needs none). The first also serves every
// query the index on the time alone serves.
static QStringList ReportIndexes()
{
    return {QStringLiteral("CREATE INDEX journal_record_report_day ON journal_record "
                           "(time_utc, outcome)"),
            QStringLiteral("CREATE INDEX journal_record_report_station ON journal_record "
                           "(station, source, operation, outcome, time_utc, serial)"),
            QStringLiteral("CREATE INDEX journal_record_report_duration ON journal_record "
                           "(operation, duration_ms, time_utc, station, serial)"),
            QStringLiteral("CREATE INDEX journal_record_report_module ON journal_record "
                           "(serial, time_utc, version, address, station)")};
}

static QStringList migration(int version, bool sqlite)
{
    const QString bytes = sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA");
    switch (version) {
    case 1:
        return {QStringLiteral("CREATE TABLE journal_record ("
                               "id VARCHAR(36) PRIMARY KEY, time_utc VARCHAR(24) NOT NULL, "
                               "source TEXT NOT NULL, station TEXT NOT NULL, "
                               "user_name TEXT NOT NULL, tool_version TEXT NOT NULL, "
                               "address TEXT NOT NULL, operation TEXT NOT NULL, "
                               "outcome TEXT NOT NULL, status TEXT NOT NULL, serial %1, "
                               "version %1, card %1, loop_reply %1, errors TEXT NOT NULL, "
                               "duration_ms BIGINT NOT NULL)")
                    .arg(bytes),
                QStringLiteral("CREATE TABLE journal_slot ("
                               "record_id VARCHAR(36) NOT NULL REFERENCES journal_record (id), "
                               "slot INTEGER NOT NULL, data %1 NOT NULL, "
                               "PRIMARY KEY (record_id, slot))")
                    .arg(bytes)};
    case 2:
        return {QStringLiteral("CREATE INDEX journal_record_time ON journal_record (time_utc)"),
                QStringLiteral("CREATE INDEX journal_record_serial ON journal_record (serial)"),
                QStringLiteral("CREATE INDEX journal_record_address ON journal_record (address)")};
    case 5:
        return sqlite ? ReportIndexes() : QStringList();
    default:
        return {};
    }
}

bool JournalStore::migrate(int target)
{
    const bool sqlite = m_location.kind == JournalLocation::Kind::Sqlite;
    const QString cannot = QStringLiteral("cannot migrate the journal");
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // IMMEDIATE takes SQLite's write lock at once; on PostgreSQL an advisory lock keeps two
    // stations from migrating the shared journal at the same time.
    if (!exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), cannot))
        return false;
    const auto rollback = [this, &cannot]() {
        const QString error = m_error;
        exec(QStringLiteral("ROLLBACK"), cannot);
        m_error = error;
        return false;
    };
    if (!sqlite &&
        !exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock), cannot))
        return rollback();
    if (!exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT "
                             "NULL)"),
              cannot))
        return rollback();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        fail(cannot, query.lastError().text());
        return rollback();
    }
    const int current = query.value(0).toInt();
    query.finish();
    // A newer tool may have migrated the journal further; its additions do not stop this one.
    if (current >= target)
        return exec(QStringLiteral("COMMIT"), cannot);
    for (int version = current + 1; version <= target; ++version) {
        for (const QString &sql : migration(version, sqlite)) {
            if (!exec(sql, cannot))
                return rollback();
        }
    }
    if (!exec(QStringLiteral("DELETE FROM schema_version"), cannot) ||
        !exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(target),
              cannot))
        return rollback();
    return exec(QStringLiteral("COMMIT"), cannot) || rollback();
}

std::optional<int> JournalStore::schemaVersion()
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!m_open || !query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) ||
        !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}
