// The journal's tables, created and migrated by the tool itself, one version at a time.
#include "JournalStore.h"

#include <algorithm>

// Any number: it only has to be the same for every station that migrates the shared journal.
static constexpr qint64 kMigrationLock = 5003'2024;

// The steps that bring a journal from the version before to `version`; %1 is the type of the
// columns that hold the module's bytes.
struct MigrationStep
{
    int version;
    QStringList statements;
    // Only SQLite needs it; a PostgreSQL journal stays at the version before, so that a step
    // with nothing to do there never asks its owner to migrate.
    bool sqliteOnly = false;
};

static const QList<MigrationStep> &migrationSteps()
{
    static const QList<MigrationStep> steps{
        {1,
         {QStringLiteral("CREATE TABLE journal_record ("
                         "id VARCHAR(36) PRIMARY KEY, time_utc VARCHAR(24) NOT NULL, "
                         "source TEXT NOT NULL, station TEXT NOT NULL, "
                         "user_name TEXT NOT NULL, tool_version TEXT NOT NULL, "
                         "address TEXT NOT NULL, operation TEXT NOT NULL, "
                         "outcome TEXT NOT NULL, status TEXT NOT NULL, serial %1, "
                         "version %1, card %1, loop_reply %1, errors TEXT NOT NULL, "
                         "duration_ms BIGINT NOT NULL)"),
          QStringLiteral("CREATE TABLE journal_slot ("
                         "record_id VARCHAR(36) NOT NULL REFERENCES journal_record (id), "
                         "slot INTEGER NOT NULL, data %1 NOT NULL, "
                         "PRIMARY KEY (record_id, slot))")}},
        {2,
         {QStringLiteral("CREATE INDEX journal_record_time ON journal_record (time_utc)"),
          QStringLiteral("CREATE INDEX journal_record_serial ON journal_record (serial)"),
          QStringLiteral("CREATE INDEX journal_record_address ON journal_record (address)")}},
        // Plan and apply records: the slot numbers written ("1,3"; empty for none; NULL for the
        // other operations) and the slots after.
        {3,
         {QStringLiteral("ALTER TABLE journal_record ADD COLUMN slots_written TEXT"),
          QStringLiteral("CREATE TABLE journal_slot_after ("
                         "record_id VARCHAR(36) NOT NULL REFERENCES journal_record (id), "
                         "slot INTEGER NOT NULL, data %1 NOT NULL, "
                         "PRIMARY KEY (record_id, slot))")}},
        // Covering indexes for the report (velqa-cli report, the History window), SQLite only:
        // each of its aggregates reads one of them in the order of its grouping instead of
        // sorting the period's records (PostgreSQL groups by hashing and needs none). The first
        // also serves every query the index on the time alone serves.
        {4,
         {QStringLiteral("CREATE INDEX journal_record_report_day ON journal_record "
                         "(time_utc, outcome)"),
          QStringLiteral("CREATE INDEX journal_record_report_station ON journal_record "
                         "(station, source, operation, outcome, time_utc, serial)"),
          QStringLiteral("CREATE INDEX journal_record_report_duration ON journal_record "
                         "(operation, duration_ms, time_utc, station, serial)"),
          QStringLiteral("CREATE INDEX journal_record_report_module ON journal_record "
                         "(serial, time_utc, version, address, station)")},
         true},
    };
    return steps;
}

int JournalStore::versionNeeded(int target) const
{
    const bool sqlite = !m_link->isPostgres();
    int needed = 0;
    for (const MigrationStep &step : migrationSteps()) {
        if (step.version <= target && (sqlite || !step.sqliteOnly))
            needed = std::max(needed, step.version);
    }
    return needed;
}

// Read with queries alone, so that a role that may only read or insert can open the journal.
std::optional<int> JournalStore::versionOnDisk()
{
    const QString cannot = QStringLiteral("cannot open the journal");
    QList<SqlRow> rows;
    const bool postgres = m_link->isPostgres();
    if (!exec(postgres ? QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")
                       : QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' "
                                        "AND name = 'schema_version'"),
              cannot, {}, &rows) ||
        rows.isEmpty())
        return std::nullopt;
    if (!rows.first().value(0).toBool())
        return 0;
    rows.clear();
    if (!exec(QStringLiteral("SELECT MAX(version) FROM schema_version"), cannot, {}, &rows) ||
        rows.isEmpty())
        return std::nullopt;
    return rows.first().value(0).toInt();
}

bool JournalStore::migrate(int from, int target)
{
    const bool sqlite = !m_link->isPostgres();
    const QString cannot = QStringLiteral("cannot migrate the journal");
    // On PostgreSQL an advisory lock keeps two stations from migrating the shared journal at the
    // same time; the version is read again under it.
    if (!begin(cannot))
        return false;
    if (!sqlite &&
        !exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock), cannot))
        return rollBack();
    const std::optional<int> current = versionOnDisk();
    if (!current)
        return rollBack();
    if (*current >= target)
        return exec(QStringLiteral("COMMIT"), cannot) || rollBack();
    bool ok = exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT "
                                  "NULL)"),
                   cannot);
    const QString bytes = sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA");
    for (const MigrationStep &step : migrationSteps()) {
        if (step.version <= *current || step.version > target || (step.sqliteOnly && !sqlite))
            continue;
        for (const QString &sql : step.statements)
            ok = ok && exec(QString(sql).replace(QLatin1String("%1"), bytes), cannot);
    }
    ok = ok && exec(QStringLiteral("DELETE FROM schema_version"), cannot) &&
         exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"), cannot,
              {qint64(target)}) &&
         exec(QStringLiteral("COMMIT"), cannot);
    if (!ok) {
        rollBack();
        if (m_trouble == SqlTrouble::NotAllowed) {
            const QString url = m_location.display();
            m_detail =
                QStringLiteral("it %1, and this role may not change its tables; the journal's "
                               "owner runs: velqa-cli journal migrate --journal %2")
                    .arg(from == 0 ? QStringLiteral("has no tables yet")
                                   : QStringLiteral("needs version %1 of its tables "
                                                    "(it has %2)")
                                         .arg(target)
                                         .arg(from),
                         url);
            m_error = QStringLiteral("cannot migrate the journal %1: %2").arg(url, m_detail);
        }
        return false;
    }
    m_migrated = true;
    return true;
}

std::optional<int> JournalStore::schemaVersion()
{
    if (!m_link)
        return std::nullopt;
    return versionOnDisk();
}
