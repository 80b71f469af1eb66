#include "JournalStore.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <map>

static constexpr int kBatch = 500;
static const char kTimeFormat[] = "yyyy-MM-ddTHH:mm:ss.zzzZ";

JournalStore::JournalStore(const JournalLocation &location, const SqlDeadline *deadline)
    : m_location(location), m_deadline(deadline ? deadline : &m_ownDeadline)
{
}

JournalStore::~JournalStore()
{
    close();
}

void JournalStore::close()
{
    m_link.reset();
}

bool JournalStore::fail(const QString &what, const QString &detail, SqlTrouble trouble)
{
    const QString where = m_location.display();
    m_trouble = trouble;
    m_detail = detail.trimmed();
    m_error = where.isEmpty() ? QStringLiteral("%1: %2").arg(what, detail.trimmed())
                              : QStringLiteral("%1 %2: %3").arg(what, where, detail.trimmed());
    // A server that stopped answering is given up; the next open connects anew.
    if (trouble == SqlTrouble::NoAnswer)
        close();
    return false;
}

bool JournalStore::exec(const QString &sql, const QString &what, const QVariantList &params,
                        QList<SqlRow> *rows)
{
    if (!m_link)
        return fail(what, QStringLiteral("not open"), SqlTrouble::Other);
    if (m_link->exec(sql, params, rows))
        return true;
    return fail(what, m_link->error(), m_link->trouble());
}

bool JournalStore::query(const QString &sql, const QVariantList &params, QList<SqlRow> *rows)
{
    m_error.clear();
    return exec(sql, QStringLiteral("cannot read the journal"), params, rows);
}

bool JournalStore::open(JournalAccess access, int schemaVersion)
{
    close();
    m_error.clear();
    m_trouble = SqlTrouble::None;
    m_migrated = false;
    if (!connect(access))
        return false;
    const std::optional<int> version = versionOnDisk();
    if (!version) {
        close();
        return false;
    }
    m_versionFound = *version;
    if (access == JournalAccess::Read) {
        if (*version == 0) {
            fail(QStringLiteral("cannot read the journal"),
                 QStringLiteral("it holds no journal tables"), SqlTrouble::Missing);
            close();
            return false;
        }
        return true;
    }
    // A newer tool may have migrated the journal further; its additions do not stop this one.
    if (*version >= schemaVersion)
        return true;
    if (!migrate(*version, schemaVersion)) {
        close();
        return false;
    }
    return true;
}

bool JournalStore::connect(JournalAccess access)
{
    const QString cannot = QStringLiteral("cannot open the journal");
    SqlOpenError error;
    switch (m_location.kind) {
    case JournalLocation::Kind::Invalid:
        return fail(cannot, m_location.error, SqlTrouble::Other);
    case JournalLocation::Kind::Postgres:
        m_link = OpenPostgres(m_location, *m_deadline, &error);
        break;
    case JournalLocation::Kind::Sqlite:
        if (access == JournalAccess::Write) {
            m_link = OpenSqlite(m_location.path, SqliteMode::Write, &error);
            break;
        }
        m_link = OpenSqlite(m_location.path, SqliteMode::Read, &error);
        // A journal in WAL mode cannot be read in a folder the user may not write: its readers
        // need a shared-memory file beside it. Without a -wal file no one is writing it, and it
        // is read as a fixed file; with one, it is still being written and cannot be read here.
        if (m_link && !m_link->exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")) &&
            m_link->trouble() == SqlTrouble::ReadOnly) {
            m_link.reset();
            if (QFileInfo::exists(m_location.path + QStringLiteral("-wal")))
                return fail(cannot,
                            QStringLiteral("it is being written (its -wal file is there) in a "
                                           "folder this user cannot write; copy the file and its "
                                           "-wal file to a folder of your own to read it"),
                            SqlTrouble::ReadOnly);
            m_link = OpenSqlite(m_location.path, SqliteMode::ReadFixed, &error);
        }
        break;
    }
    if (!m_link)
        return fail(cannot, error.text, error.trouble);
    return true;
}

bool JournalStore::begin(const QString &what)
{
    // IMMEDIATE takes SQLite's write lock at once, so a busy file is waited for rather than
    // failing half-way.
    return exec(m_link && !m_link->isPostgres() ? QStringLiteral("BEGIN IMMEDIATE")
                                                : QStringLiteral("BEGIN"),
                what);
}

// PostgreSQL's text holds no NUL character; the module's own bytes are kept in byte columns.
static QString storableText(QString text)
{
    return text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
}

static QString idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces);
}

bool JournalStore::write(const QList<JournalRecord> &records, qint64 *added)
{
    const QString cannot = QStringLiteral("cannot write to the journal");
    m_error.clear();
    if (records.isEmpty())
        return true;
    if (!begin(cannot))
        return false;
    const QString insert = QStringLiteral(
        "INSERT INTO journal_record (id, time_utc, source, station, user_name, tool_version, "
        "address, operation, outcome, status, serial, version, card, loop_reply, errors, "
        "duration_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (id) DO NOTHING");
    // A record's slots go in one statement (one round trip to a server, not eight).
    std::map<qsizetype, QString> slotInserts;
    qint64 inserted = 0;
    bool ok = true;
    for (const JournalRecord &r : records) {
        const QString id = idText(r.id);
        const QVariantList values{
            id,
            r.time.toUTC().toString(QLatin1String(kTimeFormat)),
            storableText(r.source),
            storableText(r.station),
            storableText(r.user),
            storableText(r.toolVersion),
            storableText(r.address),
            storableText(r.operation),
            storableText(r.outcome),
            storableText(r.status),
            r.serial,
            r.version,
            r.card,
            r.loop,
            QString::fromUtf8(
                QJsonDocument(QJsonArray::fromStringList(r.errors)).toJson(QJsonDocument::Compact)),
            r.durationMs};
        if (!(ok = exec(insert, cannot, values)))
            break;
        // Already stored: its slots are too.
        if (m_link->rowsAffected() == 0)
            continue;
        ++inserted;
        if (r.slotsRead.isEmpty())
            continue;
        QString &slotInsert = slotInserts[r.slotsRead.size()];
        if (slotInsert.isEmpty()) {
            QStringList rows;
            for (qsizetype i = 0; i < r.slotsRead.size(); ++i)
                rows << QStringLiteral("(?, ?, ?)");
            slotInsert =
                QStringLiteral("INSERT INTO journal_slot (record_id, slot, data) VALUES ") +
                rows.join(QStringLiteral(", "));
        }
        QVariantList slotValues;
        for (const JournalSlot &slot : r.slotsRead)
            slotValues << id << qint64(slot.slot)
                       << (slot.data.isNull() ? QByteArray("", 0) : slot.data);
        if (!(ok = exec(slotInsert, cannot, slotValues)))
            break;
    }
    if (ok && exec(QStringLiteral("COMMIT"), cannot)) {
        if (added)
            *added += inserted;
        return true;
    }
    const QString error = m_error;
    const SqlTrouble trouble = m_trouble;
    if (m_link)
        m_link->exec(QStringLiteral("ROLLBACK"));
    m_error = error;
    m_trouble = trouble;
    return false;
}

// NULL stays a null array; an empty value stays an empty, non-null one.
static QByteArray bytesOf(const QVariant &value)
{
    if (value.isNull())
        return QByteArray();
    const QByteArray bytes = value.toByteArray();
    return bytes.isNull() ? QByteArray("", 0) : bytes;
}

static QString placeholders(qsizetype n)
{
    QStringList marks;
    for (qsizetype i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(QLatin1Char(','));
}

std::optional<QList<JournalRecord>> JournalStore::read(const JournalFilter &filter)
{
    const QString cannot = QStringLiteral("cannot read the journal");
    m_error.clear();
    QStringList where;
    QVariantList values;
    if (!filter.serial.isNull()) {
        where << QStringLiteral("serial = ?");
        values << filter.serial;
    }
    const std::pair<const char *, QString> texts[] = {{"address = ?", filter.address},
                                                      {"operation = ?", filter.operation},
                                                      {"outcome = ?", filter.outcome}};
    for (const auto &[clause, value] : texts) {
        if (!value.isEmpty()) {
            where << QString::fromLatin1(clause);
            values << value;
        }
    }
    if (filter.since.isValid()) {
        where << QStringLiteral("time_utc >= ?");
        values << filter.since.toUTC().toString(QLatin1String(kTimeFormat));
    }
    if (filter.until.isValid()) {
        where << QStringLiteral("time_utc < ?");
        values << filter.until.toUTC().toString(QLatin1String(kTimeFormat));
    }
    QString sql = QStringLiteral("SELECT id, time_utc, source, station, user_name, tool_version, "
                                 "address, operation, outcome, status, serial, version, card, "
                                 "loop_reply, errors, duration_ms FROM journal_record");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += filter.oldestFirst ? QStringLiteral(" ORDER BY time_utc ASC, id ASC")
                              : QStringLiteral(" ORDER BY time_utc DESC, id DESC");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.limit);

    QList<SqlRow> rows;
    if (!exec(sql, cannot, values, &rows))
        return std::nullopt;
    QList<JournalRecord> records;
    records.reserve(rows.size());
    QHash<QString, qsizetype> index;
    for (const SqlRow &row : std::as_const(rows)) {
        JournalRecord r;
        r.id = QUuid::fromString(row[0].toString());
        r.time = QDateTime::fromString(row[1].toString(), Qt::ISODateWithMs).toUTC();
        r.source = row[2].toString();
        r.station = row[3].toString();
        r.user = row[4].toString();
        r.toolVersion = row[5].toString();
        r.address = row[6].toString();
        r.operation = row[7].toString();
        r.outcome = row[8].toString();
        r.status = row[9].toString();
        r.serial = bytesOf(row[10]);
        r.version = bytesOf(row[11]);
        r.card = bytesOf(row[12]);
        r.loop = bytesOf(row[13]);
        for (const QJsonValue &error : QJsonDocument::fromJson(row[14].toString().toUtf8()).array())
            r.errors << error.toString();
        r.durationMs = row[15].toLongLong();
        index.insert(row[0].toString(), records.size());
        records << r;
    }

    const QStringList ids = index.keys();
    for (qsizetype start = 0; start < ids.size(); start += kBatch) {
        const QStringList chunk = ids.mid(start, kBatch);
        QList<SqlRow> slotRows;
        if (!exec(QStringLiteral("SELECT record_id, slot, data FROM journal_slot WHERE "
                                 "record_id IN (%1) ORDER BY record_id, slot")
                      .arg(placeholders(chunk.size())),
                  cannot, QVariantList(chunk.begin(), chunk.end()), &slotRows))
            return std::nullopt;
        for (const SqlRow &row : std::as_const(slotRows))
            records[index.value(row[0].toString())].slotsRead
                << JournalSlot{row[1].toInt(), bytesOf(row[2])};
    }
    return records;
}

bool JournalStore::remove(const QList<QUuid> &ids)
{
    const QString cannot = QStringLiteral("cannot remove from the journal");
    m_error.clear();
    if (!begin(cannot))
        return false;
    bool ok = true;
    for (qsizetype start = 0; ok && start < ids.size(); start += kBatch) {
        const QList<QUuid> chunk = ids.mid(start, kBatch);
        QVariantList values;
        for (const QUuid &id : chunk)
            values << idText(id);
        for (const char *table : {"journal_slot WHERE record_id", "journal_record WHERE id"}) {
            ok = ok && exec(QStringLiteral("DELETE FROM %1 IN (%2)")
                                .arg(QString::fromLatin1(table), placeholders(chunk.size())),
                            cannot, values);
        }
    }
    if (ok && exec(QStringLiteral("COMMIT"), cannot))
        return true;
    const QString error = m_error;
    if (m_link)
        m_link->exec(QStringLiteral("ROLLBACK"));
    m_error = error;
    return false;
}

std::optional<qint64> JournalStore::count()
{
    QList<SqlRow> rows;
    if (!exec(QStringLiteral("SELECT COUNT(*) FROM journal_record"),
              QStringLiteral("cannot count the journal"), {}, &rows) ||
        rows.isEmpty())
        return std::nullopt;
    return rows.first().value(0).toLongLong();
}

std::optional<QString> JournalStore::outboxFor()
{
    QList<SqlRow> rows;
    if (!exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name = "
                             "'outbox_journal'"),
              QStringLiteral("cannot read the outbox"), {}, &rows))
        return std::nullopt;
    if (rows.isEmpty())
        return QString();
    rows.clear();
    if (!exec(QStringLiteral("SELECT url FROM outbox_journal"),
              QStringLiteral("cannot read the outbox"), {}, &rows))
        return std::nullopt;
    return rows.isEmpty() ? QString() : rows.first().value(0).toString();
}

bool JournalStore::setOutboxFor(const QString &journal)
{
    const QString cannot = QStringLiteral("cannot write the outbox");
    return exec(QStringLiteral("CREATE TABLE IF NOT EXISTS outbox_journal (url TEXT NOT NULL)"),
                cannot) &&
           exec(QStringLiteral("DELETE FROM outbox_journal"), cannot) &&
           exec(QStringLiteral("INSERT INTO outbox_journal (url) VALUES (?)"), cannot, {journal});
}

bool ForwardOutbox(JournalStore &outbox, JournalStore &journal, qint64 *added)
{
    JournalFilter oldest;
    oldest.limit = kBatch;
    oldest.oldestFirst = true;
    for (;;) {
        const std::optional<QList<JournalRecord>> batch = outbox.read(oldest);
        if (!batch)
            return false;
        if (batch->isEmpty())
            return true;
        if (!journal.write(*batch, added))
            return false;
        QList<QUuid> ids;
        for (const JournalRecord &r : *batch)
            ids << r.id;
        if (!outbox.remove(ids))
            return false;
    }
}
