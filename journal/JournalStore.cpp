#include "JournalStore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>

#include <map>
#include <memory>

static constexpr int kBatch = 500;
static const char kTimeFormat[] = "yyyy-MM-ddTHH:mm:ss.zzzZ";

JournalStore::JournalStore(const JournalLocation &location)
    : m_location(location), m_connection(QStringLiteral("velqa-journal-") +
                                         QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

JournalStore::~JournalStore()
{
    close();
}

void JournalStore::close()
{
    m_open = false;
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool JournalStore::fail(const QString &what, const QString &detail)
{
    const QString where = m_location.display();
    m_error = where.isEmpty() ? QStringLiteral("%1: %2").arg(what, detail.trimmed())
                              : QStringLiteral("%1 %2: %3").arg(what, where, detail.trimmed());
    return false;
}

bool JournalStore::exec(const QString &sql, const QString &what)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql))
        return true;
    return fail(what, query.lastError().text());
}

bool JournalStore::open(int schemaVersion)
{
    close();
    m_error.clear();
    if (connect(schemaVersion)) {
        m_open = true;
        return true;
    }
    close();
    return false;
}

bool JournalStore::connect(int schemaVersion)
{
    const QString cannot = QStringLiteral("cannot open the journal");
    const bool sqlite = m_location.kind == JournalLocation::Kind::Sqlite;
    if (m_location.kind == JournalLocation::Kind::Invalid)
        return fail(cannot, m_location.error);
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return fail(cannot, QStringLiteral("the Qt driver %1 is not installed").arg(driver));
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, m_connection);
    if (sqlite) {
        const QFileInfo file(m_location.path);
        if (!QDir().mkpath(file.absolutePath()))
            return fail(cannot,
                        QStringLiteral("cannot create the folder %1").arg(file.absolutePath()));
        db.setDatabaseName(m_location.path);
        // The window and the command line may write the same file at once.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        db.setHostName(m_location.host);
        db.setPort(m_location.port);
        db.setUserName(m_location.user);
        db.setPassword(m_location.password);
        db.setDatabaseName(m_location.database);
        // A server that does not answer costs a few seconds of the writer's thread, not minutes.
        db.setConnectOptions(QStringLiteral("connect_timeout=3;keepalives_idle=10;"
                                            "keepalives_interval=3;keepalives_count=3"));
    }
    if (!db.open())
        return fail(cannot, db.lastError().text());
    const QStringList setup =
        sqlite ? QStringList{QStringLiteral("PRAGMA journal_mode=WAL"),
                             QStringLiteral("PRAGMA synchronous=NORMAL")}
               : QStringList{QStringLiteral("SET client_min_messages TO WARNING")};
    for (const QString &sql : setup) {
        if (!exec(sql, cannot))
            return false;
    }
    return migrate(schemaVersion);
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

bool JournalStore::write(const QList<JournalRecord> &records)
{
    m_error.clear();
    if (!m_open)
        return fail(QStringLiteral("cannot write to the journal"), QStringLiteral("not open"));
    if (records.isEmpty())
        return true;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return fail(QStringLiteral("cannot write to the journal"), db.lastError().text());
    QSqlQuery insert(db);
    bool ok = insert.prepare(QStringLiteral(
        "INSERT INTO journal_record (id, time_utc, source, station, user_name, "
        "tool_version, address, operation, outcome, status, serial, version, card, "
        "loop_reply, errors, duration_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?, ?) ON CONFLICT (id) DO NOTHING"));
    QString detail = ok ? QString() : insert.lastError().text();
    // A record's slots go in one statement (one round trip to a server, not eight), prepared
    // once per number of slots.
    std::map<qsizetype, std::unique_ptr<QSqlQuery>> slotInserts;
    for (const JournalRecord &r : records) {
        if (!ok)
            break;
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
        for (int i = 0; i < values.size(); ++i)
            insert.bindValue(i, values[i]);
        if (!insert.exec()) {
            ok = false;
            detail = insert.lastError().text();
            break;
        }
        // Already stored: its slots are too.
        if (insert.numRowsAffected() == 0 || r.slotsRead.isEmpty())
            continue;
        std::unique_ptr<QSqlQuery> &slotInsert = slotInserts[r.slotsRead.size()];
        if (!slotInsert) {
            QStringList rows;
            for (qsizetype i = 0; i < r.slotsRead.size(); ++i)
                rows << QStringLiteral("(?, ?, ?)");
            slotInsert = std::make_unique<QSqlQuery>(db);
            if (!slotInsert->prepare(
                    QStringLiteral("INSERT INTO journal_slot (record_id, slot, data) VALUES ") +
                    rows.join(QStringLiteral(", ")))) {
                ok = false;
                detail = slotInsert->lastError().text();
                break;
            }
        }
        int column = 0;
        for (const JournalSlot &slot : r.slotsRead) {
            slotInsert->bindValue(column++, id);
            slotInsert->bindValue(column++, slot.slot);
            slotInsert->bindValue(column++, slot.data.isNull() ? QByteArray("", 0) : slot.data);
        }
        if (!slotInsert->exec()) {
            ok = false;
            detail = slotInsert->lastError().text();
        }
    }
    insert.finish();
    slotInserts.clear();
    if (ok && db.commit())
        return true;
    if (ok)
        detail = db.lastError().text();
    db.rollback();
    return fail(QStringLiteral("cannot write to the journal"), detail);
}

// NULL stays a null array; an empty value stays an empty, non-null one.
static QByteArray bytesAt(const QSqlQuery &query, int column)
{
    if (query.isNull(column))
        return QByteArray();
    const QByteArray bytes = query.value(column).toByteArray();
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
    m_error.clear();
    if (!m_open) {
        fail(QStringLiteral("cannot read the journal"), QStringLiteral("not open"));
        return std::nullopt;
    }
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
    QString sql = QStringLiteral("SELECT id, time_utc, source, station, user_name, tool_version, "
                                 "address, operation, outcome, status, serial, version, card, "
                                 "loop_reply, errors, duration_ms FROM journal_record");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += filter.oldestFirst ? QStringLiteral(" ORDER BY time_utc ASC, id ASC")
                              : QStringLiteral(" ORDER BY time_utc DESC, id DESC");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.limit);

    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        fail(QStringLiteral("cannot read the journal"), query.lastError().text());
        return std::nullopt;
    }
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (!query.exec()) {
        fail(QStringLiteral("cannot read the journal"), query.lastError().text());
        return std::nullopt;
    }
    QList<JournalRecord> records;
    QHash<QString, qsizetype> index;
    while (query.next()) {
        JournalRecord r;
        r.id = QUuid::fromString(query.value(0).toString());
        r.time = QDateTime::fromString(query.value(1).toString(), Qt::ISODateWithMs).toUTC();
        r.source = query.value(2).toString();
        r.station = query.value(3).toString();
        r.user = query.value(4).toString();
        r.toolVersion = query.value(5).toString();
        r.address = query.value(6).toString();
        r.operation = query.value(7).toString();
        r.outcome = query.value(8).toString();
        r.status = query.value(9).toString();
        r.serial = bytesAt(query, 10);
        r.version = bytesAt(query, 11);
        r.card = bytesAt(query, 12);
        r.loop = bytesAt(query, 13);
        for (const QJsonValue &error :
             QJsonDocument::fromJson(query.value(14).toString().toUtf8()).array())
            r.errors << error.toString();
        r.durationMs = query.value(15).toLongLong();
        index.insert(query.value(0).toString(), records.size());
        records << r;
    }
    query.finish();

    const QStringList ids = index.keys();
    for (qsizetype start = 0; start < ids.size(); start += kBatch) {
        const QStringList chunk = ids.mid(start, kBatch);
        QSqlQuery slotQuery(db);
        slotQuery.setForwardOnly(true);
        slotQuery.prepare(QStringLiteral("SELECT record_id, slot, data FROM journal_slot WHERE "
                                         "record_id IN (%1) ORDER BY record_id, slot")
                              .arg(placeholders(chunk.size())));
        for (int i = 0; i < chunk.size(); ++i)
            slotQuery.bindValue(i, chunk[i]);
        if (!slotQuery.exec()) {
            fail(QStringLiteral("cannot read the journal"), slotQuery.lastError().text());
            return std::nullopt;
        }
        while (slotQuery.next()) {
            records[index.value(slotQuery.value(0).toString())].slotsRead
                << JournalSlot{slotQuery.value(1).toInt(), bytesAt(slotQuery, 2)};
        }
    }
    return records;
}

bool JournalStore::remove(const QList<QUuid> &ids)
{
    m_error.clear();
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!m_open || !db.transaction())
        return fail(QStringLiteral("cannot remove from the journal"), db.lastError().text());
    for (qsizetype start = 0; start < ids.size(); start += kBatch) {
        const QList<QUuid> chunk = ids.mid(start, kBatch);
        for (const char *table : {"journal_slot WHERE record_id", "journal_record WHERE id"}) {
            QSqlQuery query(db);
            query.prepare(QStringLiteral("DELETE FROM %1 IN (%2)")
                              .arg(QString::fromLatin1(table), placeholders(chunk.size())));
            for (int i = 0; i < chunk.size(); ++i)
                query.bindValue(i, idText(chunk[i]));
            if (!query.exec()) {
                const QString detail = query.lastError().text();
                db.rollback();
                return fail(QStringLiteral("cannot remove from the journal"), detail);
            }
        }
    }
    if (db.commit())
        return true;
    const QString detail = db.lastError().text();
    db.rollback();
    return fail(QStringLiteral("cannot remove from the journal"), detail);
}

std::optional<qint64> JournalStore::count()
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!m_open || !query.exec(QStringLiteral("SELECT COUNT(*) FROM journal_record")) ||
        !query.next()) {
        fail(QStringLiteral("cannot count the journal"), query.lastError().text());
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

bool ForwardOutbox(JournalStore &outbox, JournalStore &journal, qint64 *forwarded)
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
        if (!journal.write(*batch))
            return false;
        QList<QUuid> ids;
        for (const JournalRecord &r : *batch)
            ids << r.id;
        if (!outbox.remove(ids))
            return false;
        if (forwarded)
            *forwarded += batch->size();
    }
}
