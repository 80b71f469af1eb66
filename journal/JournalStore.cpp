#include "JournalStore.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>

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
    m_version = *version;
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
    const int needed = versionNeeded(schemaVersion);
    if (*version >= needed)
        return true;
    if (!migrate(*version, needed)) {
        close();
        return false;
    }
    m_version = needed;
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
            // A file locked longer than a call may take: the writer parks its records instead.
            m_link = OpenSqlite(m_location.path, SqliteMode::Write, &error, m_deadline->callMs());
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

bool JournalStore::rollBack()
{
    const QString error = m_error;
    const SqlTrouble trouble = m_trouble;
    if (m_link)
        m_link->exec(QStringLiteral("ROLLBACK"));
    m_error = error;
    m_trouble = trouble;
    return false;
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
    // Every text column is NOT NULL: a text never set is stored empty, not as NULL, which would
    // refuse the whole batch.
    if (text.isNull())
        return QStringLiteral("");
    return text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
}

// "1,3" for the slots written; empty, not NULL, for none.
static QString writtenText(const QList<int> &slotNumbers)
{
    QString text = QStringLiteral("");
    for (const int slot : slotNumbers)
        text += (text.isEmpty() ? QString() : QStringLiteral(",")) + QString::number(slot);
    return text;
}

// A plan's or apply's slots after as kept: those that differ from the slots before, and every
// slot written (its read back; none when it did not read back). Most applies change nothing,
// and their records then cost no more than a scan's.
static QList<JournalSlot> changedSlots(const JournalRecord &r)
{
    QList<JournalSlot> changed;
    if (!r.slotsWritten)
        return changed;
    for (const JournalSlot &after : r.slotsAfter) {
        if (r.slotsWritten->contains(after.slot) || !r.slotsRead.contains(after))
            changed << after;
    }
    return changed;
}

// The slots after from those kept: the slots before, each slot kept instead, and a slot written
// that did not read back left out.
static QList<JournalSlot> slotsAfter(const QList<JournalSlot> &before,
                                     const QList<JournalSlot> &changed, const QList<int> &written)
{
    QMap<int, QByteArray> after;
    for (const JournalSlot &slot : before) {
        if (!written.contains(slot.slot))
            after.insert(slot.slot, slot.data);
    }
    for (const JournalSlot &slot : changed)
        after.insert(slot.slot, slot.data);
    QList<JournalSlot> slotList;
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        slotList << JournalSlot{it.key(), it.value()};
    return slotList;
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
    // Tables older than the fleet's slots (a test's old journal) take the records without them.
    const bool fleetSlots = m_version >= JournalFleetSlotsVersion;
    const QString insert =
        QStringLiteral("INSERT INTO journal_record (id, time_utc, source, station, user_name, "
                       "tool_version, address, operation, outcome, status, serial, version, "
                       "card, loop_reply, errors, duration_ms%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
                       "?, ?, ?, ?, ?, ?, ?, ?%2) ON CONFLICT (id) DO NOTHING")
            .arg(fleetSlots ? QStringLiteral(", slots_written") : QString(),
                 fleetSlots ? QStringLiteral(", ?") : QString());
    // A record's slots go in one statement (one round trip to a server, not eight).
    std::map<std::pair<QString, qsizetype>, QString> slotInserts;
    qint64 inserted = 0;
    bool ok = true;
    for (const JournalRecord &r : records) {
        const QString id = idText(r.id);
        QVariantList values{
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
        if (fleetSlots)
            values << (r.slotsWritten ? QVariant(writtenText(*r.slotsWritten))
                                      : QVariant(QMetaType(QMetaType::QString)));
        if (!(ok = exec(insert, cannot, values)))
            break;
        // Already stored: its slots are too.
        if (m_link->rowsAffected() == 0)
            continue;
        ++inserted;
        const QList<JournalSlot> changed = changedSlots(r);
        const std::pair<const char *, const QList<JournalSlot> *> tables[] = {
            {"journal_slot", &r.slotsRead}, {"journal_slot_after", &changed}};
        for (const auto &[table, slotList] : tables) {
            if (slotList->isEmpty() || (!fleetSlots && slotList == &changed))
                continue;
            QString &slotInsert = slotInserts[{QString::fromLatin1(table), slotList->size()}];
            if (slotInsert.isEmpty()) {
                QStringList rows;
                for (qsizetype i = 0; i < slotList->size(); ++i)
                    rows << QStringLiteral("(?, ?, ?)");
                slotInsert = QStringLiteral("INSERT INTO %1 (record_id, slot, data) VALUES ")
                                 .arg(QString::fromLatin1(table)) +
                             rows.join(QStringLiteral(", "));
            }
            QVariantList slotValues;
            for (const JournalSlot &slot : *slotList)
                slotValues << id << qint64(slot.slot)
                           << (slot.data.isNull() ? QByteArray("", 0) : slot.data);
            if (!(ok = exec(slotInsert, cannot, slotValues)))
                break;
        }
        if (!ok)
            break;
    }
    if (ok && exec(QStringLiteral("COMMIT"), cannot)) {
        if (added)
            *added += inserted;
        return true;
    }
    return rollBack();
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
    // An archive older than the fleet's slots is read as it is, without them.
    const bool fleetSlots = m_version >= JournalFleetSlotsVersion;
    QString sql = QStringLiteral("SELECT id, time_utc, source, station, user_name, tool_version, "
                                 "address, operation, outcome, status, serial, version, card, "
                                 "loop_reply, errors, duration_ms%1 FROM journal_record")
                      .arg(fleetSlots ? QStringLiteral(", slots_written") : QString());
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
        if (fleetSlots && !row[16].isNull()) {
            r.slotsWritten.emplace();
            for (const QString &number :
                 row[16].toString().split(QLatin1Char(','), Qt::SkipEmptyParts))
                r.slotsWritten->append(number.toInt());
        }
        index.insert(row[0].toString(), records.size());
        records << r;
    }

    const QStringList ids = index.keys();
    for (qsizetype start = 0; start < ids.size(); start += kBatch) {
        const QStringList chunk = ids.mid(start, kBatch);
        for (const bool after : {false, true}) {
            if (after && !fleetSlots)
                break;
            QList<SqlRow> slotRows;
            if (!exec(QStringLiteral("SELECT record_id, slot, data FROM %1 WHERE "
                                     "record_id IN (%2) ORDER BY record_id, slot")
                          .arg(after ? QStringLiteral("journal_slot_after")
                                     : QStringLiteral("journal_slot"),
                               placeholders(chunk.size())),
                      cannot, QVariantList(chunk.begin(), chunk.end()), &slotRows))
                return std::nullopt;
            for (const SqlRow &row : std::as_const(slotRows)) {
                JournalRecord &r = records[index.value(row[0].toString())];
                (after ? r.slotsAfter : r.slotsRead)
                    << JournalSlot{row[1].toInt(), bytesOf(row[2])};
            }
        }
    }
    for (JournalRecord &r : records) {
        if (r.slotsWritten)
            r.slotsAfter = slotsAfter(r.slotsRead, r.slotsAfter, *r.slotsWritten);
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
        for (const char *table :
             {"journal_slot WHERE record_id", "journal_slot_after WHERE record_id",
              "journal_record WHERE id"}) {
            if (m_version < JournalFleetSlotsVersion &&
                qstrcmp(table, "journal_slot_after WHERE record_id") == 0)
                continue;
            ok = ok && exec(QStringLiteral("DELETE FROM %1 IN (%2)")
                                .arg(QString::fromLatin1(table), placeholders(chunk.size())),
                            cannot, values);
        }
    }
    return (ok && exec(QStringLiteral("COMMIT"), cannot)) || rollBack();
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
