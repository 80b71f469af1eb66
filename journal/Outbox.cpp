#include "Outbox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

static const char kOutboxPrefix[] = "journal-outbox";

static JournalLocation sqliteAt(const QString &path)
{
    JournalLocation location;
    location.kind = JournalLocation::Kind::Sqlite;
    location.path = path;
    return location;
}

QString OutboxPath(const QString &folder, const JournalLocation &journal)
{
    // Readable enough to be told apart in a listing; the hash keeps two journals whose names
    // differ only in the characters left out apart.
    const QString identity = journal.display();
    const QString name = journal.kind == JournalLocation::Kind::Sqlite
                             ? QStringLiteral("sqlite-") + QFileInfo(journal.path).fileName()
                             : journal.user + QLatin1Char('@') + journal.host + QLatin1Char('-') +
                                   QString::number(journal.port) + QLatin1Char('-') +
                                   journal.database;
    QString readable;
    for (const QChar c : name.left(80)) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           QStringLiteral(".-_@").contains(c);
        readable += plain ? c : QLatin1Char('_');
    }
    const QByteArray hash =
        QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(8);
    return QDir(folder).filePath(
        QStringLiteral("%1-%2-%3.sqlite")
            .arg(QLatin1String(kOutboxPrefix), readable, QString::fromLatin1(hash)));
}

QString OlderOutboxPath(const QString &folder)
{
    return QDir(folder).filePath(QLatin1String(kOutboxPrefix) + QStringLiteral(".sqlite"));
}

std::optional<QList<WaitingOutbox>> WaitingOutboxes(const QString &folder, QString *error)
{
    QList<WaitingOutbox> waiting;
    const QStringList files = QDir(folder).entryList(
        {QLatin1String(kOutboxPrefix) + QStringLiteral("*.sqlite")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        WaitingOutbox outbox;
        outbox.path = QDir(folder).filePath(name);
        JournalStore store(sqliteAt(outbox.path));
        if (!store.open(JournalAccess::Read)) {
            *error = store.error();
            return std::nullopt;
        }
        const std::optional<QString> journal = store.outboxFor();
        const std::optional<qint64> records = store.count();
        if (!journal || !records) {
            *error = store.error();
            return std::nullopt;
        }
        outbox.journal = *journal;
        outbox.records = *records;
        if (outbox.records > 0)
            waiting << outbox;
    }
    return waiting;
}

std::optional<qint64> WaitingFor(const QString &folder, const JournalLocation &journal,
                                 QString *error)
{
    const QString path = OutboxPath(folder, journal);
    if (!QFileInfo::exists(path))
        return 0;
    JournalStore store(sqliteAt(path));
    const std::optional<qint64> records =
        store.open(JournalAccess::Read) ? store.count() : std::nullopt;
    if (!records)
        *error = store.error();
    return records;
}

Outbox::Outbox(const QString &path, const JournalLocation &journal)
    : m_path(path), m_journal(journal), m_store(sqliteAt(path))
{
}

bool Outbox::open(bool create)
{
    if (m_store.isOpen())
        return true;
    if (!create && !QFileInfo::exists(m_path))
        return false;
    if (!m_store.open(JournalAccess::Write)) {
        m_error = m_store.error();
        return false;
    }
    const std::optional<QString> journal = m_store.outboxFor();
    if (!journal) {
        m_error = m_store.error();
        m_store.close();
        return false;
    }
    if (journal->isEmpty()) {
        if (m_store.setOutboxFor(m_journal.urlWithoutPassword()))
            return true;
        m_error = m_store.error();
        m_store.close();
        return false;
    }
    // Two journals never share a file; this guards against a file put in place by hand.
    if (ParseJournalUrl(*journal).display() != m_journal.display()) {
        m_error = QStringLiteral("the outbox %1 holds records for %2, not for %3")
                      .arg(m_path, *journal, m_journal.display());
        m_store.close();
        return false;
    }
    return true;
}

bool Outbox::park(const QList<JournalRecord> &records)
{
    if (records.isEmpty())
        return true;
    if (!open(true))
        return false;
    if (m_store.write(records))
        return true;
    m_error = m_store.error();
    return false;
}

bool Outbox::forward(JournalStore &store, qint64 *added)
{
    m_error.clear();
    if (!open(false))
        return m_error.isEmpty();
    if (ForwardOutbox(m_store, store, added))
        return true;
    m_error = store.error().isEmpty() ? m_store.error() : store.error();
    return false;
}

std::optional<qint64> Outbox::waiting()
{
    if (!open(false))
        return m_error.isEmpty() ? std::optional<qint64>(0) : std::nullopt;
    return m_store.count();
}

// Sends what waits in the outbox at `path` to `journal`.
static SyncedJournal syncOne(const QString &path, const JournalLocation &journal,
                             const SqlDeadline *deadline)
{
    SyncedJournal result;
    result.journal = journal.urlWithoutPassword();
    result.outbox = path;
    Outbox outbox(path, journal);
    // Nothing waits: no call to a server that may not answer.
    if (outbox.waiting().value_or(-1) == 0)
        return result;
    JournalStore store(journal, deadline);
    const bool done = store.open() && outbox.forward(store, &result.sent);
    if (!done)
        result.error = store.error().isEmpty() ? outbox.error() : store.error();
    result.left = outbox.waiting().value_or(-1);
    if (result.left < 0 && result.error.isEmpty())
        result.error = outbox.error();
    return result;
}

SyncResult SyncOutboxes(const QString &folder, const JournalLocation &chosen,
                        const QString &outboxFile, const SqlDeadline *deadline)
{
    SyncResult result;
    const bool toChosen = chosen.kind == JournalLocation::Kind::Postgres;
    if (!outboxFile.isEmpty()) {
        if (!toChosen)
            result.error = QStringLiteral("records from an outbox go to a PostgreSQL journal; "
                                          "name it with --journal");
        else if (!QFileInfo(outboxFile).isFile())
            result.error = QStringLiteral("there is no outbox %1").arg(outboxFile);
        else
            result.synced << syncOne(outboxFile, chosen, deadline);
        return result;
    }
    const QString own = toChosen ? OutboxPath(folder, chosen) : QString();
    if (toChosen)
        result.synced << syncOne(own, chosen, deadline);
    const std::optional<QList<WaitingOutbox>> waiting = WaitingOutboxes(folder, &result.error);
    for (const WaitingOutbox &outbox : waiting.value_or(QList<WaitingOutbox>())) {
        if (outbox.path == own)
            continue;
        const JournalLocation journal = ParseJournalUrl(outbox.journal);
        // An outbox of the older kind, or one whose journal this station cannot name.
        if (toChosen || journal.kind == JournalLocation::Kind::Invalid ||
            OutboxPath(folder, journal) != outbox.path) {
            result.others << outbox;
            continue;
        }
        result.synced << syncOne(outbox.path, journal, deadline);
    }
    return result;
}
