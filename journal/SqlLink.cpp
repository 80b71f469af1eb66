#include "SqlLink.h"

#include "JournalStore.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUuid>
#include <QtEndian>

#include <libpq-fe.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QMutex>

#include <cerrno>
#include <future>
#include <map>
#include <poll.h>
#include <thread>

// --- SQLite, through Qt's driver

namespace {

class SqliteLink : public SqlLink
{
public:
    explicit SqliteLink(const QString &connection) : m_connection(connection) {}
    ~SqliteLink() override
    {
        m_queries.clear();
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }

    bool exec(const QString &sql, const QVariantList &params = {},
              QList<SqlRow> *rows = nullptr) override
    {
        clearError();
        m_affected = 0;
        // The same statements come again and again (a batch of records): each is prepared once.
        std::unique_ptr<QSqlQuery> &query = m_queries[sql];
        if (!query) {
            query = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connection, false));
            query->setForwardOnly(true);
            if (!query->prepare(sql)) {
                const QSqlError error = query->lastError();
                m_queries.erase(sql);
                return failWith(error);
            }
        }
        for (int i = 0; i < params.size(); ++i)
            query->bindValue(i, params[i]);
        const auto done = [&query](bool ok) {
            query->finish();
            return ok;
        };
        if (!query->exec())
            return done(failWith(query->lastError()));
        m_affected = query->numRowsAffected();
        while (rows && query->next()) {
            SqlRow row;
            const int columns = query->record().count();
            row.reserve(columns);
            for (int i = 0; i < columns; ++i) {
                if (query->isNull(i)) {
                    row << QVariant();
                    continue;
                }
                const QVariant value = query->value(i);
                // An empty value is not a missing one.
                if (value.typeId() == QMetaType::QByteArray && value.toByteArray().isNull())
                    row << QVariant(QByteArray("", 0));
                else
                    row << value;
            }
            rows->append(row);
        }
        // A damaged page ends the loop like the last row does; only the error tells them apart.
        if (rows && query->lastError().isValid())
            return done(failWith(query->lastError()));
        return done(true);
    }

    [[nodiscard]] qint64 rowsAffected() const override { return m_affected; }
    [[nodiscard]] bool isPostgres() const override { return false; }

private:
    bool failWith(const QSqlError &error)
    {
        // SQLITE_READONLY (8) and SQLITE_CANTOPEN (14), with their extended codes: a file or
        // folder the user cannot write, or the shared-memory file beside it cannot be made.
        const int code = error.nativeErrorCode().toInt() & 0xff;
        return fail(code == 8 || code == 14 ? SqlTrouble::ReadOnly : SqlTrouble::Other,
                    error.text());
    }

    QString m_connection;
    std::map<QString, std::unique_ptr<QSqlQuery>> m_queries;
    qint64 m_affected = 0;
};

} // namespace

std::unique_ptr<SqlLink> OpenSqlite(const QString &path, SqliteMode mode, SqlOpenError *error,
                                    int busyMs)
{
    const auto refuse = [error](SqlTrouble trouble, const QString &text) {
        *error = {text, trouble};
        return nullptr;
    };
    const QFileInfo file(path);
    if (file.exists() && !file.isFile())
        return refuse(SqlTrouble::Other, QStringLiteral("%1 is not a file").arg(path));
    if (!file.exists()) {
        if (mode != SqliteMode::Write)
            return refuse(SqlTrouble::Missing, QStringLiteral("there is no file %1").arg(path));
        if (!QDir().mkpath(file.absolutePath()))
            return refuse(SqlTrouble::Other,
                          QStringLiteral("cannot create the folder %1").arg(file.absolutePath()));
    }
    const QString driver = QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return refuse(SqlTrouble::Other,
                      QStringLiteral("the Qt driver %1 is not installed").arg(driver));
    const QString connection =
        QStringLiteral("velqa-journal-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection);
        switch (mode) {
        case SqliteMode::Write:
            db.setDatabaseName(path);
            // The window and the command line may write the same file at once.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs));
            break;
        case SqliteMode::Read:
            db.setDatabaseName(path);
            db.setConnectOptions(
                QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs));
            break;
        case SqliteMode::ReadFixed:
            db.setDatabaseName(
                QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                QStringLiteral("?immutable=1"));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
            break;
        }
        if (!db.open()) {
            *error = {db.lastError().text(), SqlTrouble::Other};
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(connection);
            return nullptr;
        }
    }
    auto link = std::make_unique<SqliteLink>(connection);
    if (mode == SqliteMode::Write) {
        for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
            if (!link->exec(QString::fromLatin1(pragma)))
                return refuse(link->trouble(), link->error());
        }
    }
    return link;
}

// --- PostgreSQL, through libpq: every wait for the server is the tool's own poll with a
// deadline, because nothing in libpq ends a statement on a server that has stopped answering.

namespace {

constexpr int kPollSliceMs = 50;

// The type numbers of PostgreSQL's built-in types that the journal reads.
enum PgType : Oid {
    PgBool = 16,
    PgBytea = 17,
    PgInt8 = 20,
    PgInt2 = 21,
    PgInt4 = 23,
};

void ignoreNotice(void *, const char *) {}

// libpq's message: its first line says what happened; the rest is advice for psql's users.
QString firstLine(const char *message)
{
    const QString text = QString::fromUtf8(message).trimmed();
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

class PostgresLink : public SqlLink
{
public:
    PostgresLink(PGconn *connection, const SqlDeadline &deadline)
        : m_conn(connection), m_deadline(deadline)
    {
    }
    ~PostgresLink() override { drop(); }

    // Waits for the connection to be made; false with the reason when it is not.
    bool connect(int connectMs)
    {
        const QDeadlineTimer connectDeadline(connectMs);
        PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
        if (PQstatus(m_conn) == CONNECTION_BAD)
            return connectFailed();
        PostgresPollingStatusType status = PGRES_POLLING_WRITING;
        for (;;) {
            if (status == PGRES_POLLING_OK)
                break;
            if (status == PGRES_POLLING_FAILED)
                return connectFailed();
            if (!waitFor(status == PGRES_POLLING_READING ? POLLIN : POLLOUT, connectDeadline))
                return timedOut(connectMs);
            status = PQconnectPoll(m_conn);
        }
        if (PQsetnonblocking(m_conn, 1) != 0)
            return fail(SqlTrouble::Other, firstLine(PQerrorMessage(m_conn)));
        return exec(QStringLiteral("SET client_min_messages TO WARNING"));
    }

    bool exec(const QString &sql, const QVariantList &params = {},
              QList<SqlRow> *rows = nullptr) override
    {
        clearError();
        m_affected = 0;
        if (!m_conn)
            return fail(SqlTrouble::NoAnswer, QStringLiteral("the connection was closed"));
        const QDeadlineTimer call(m_deadline.callMs());
        QByteArray name = m_prepared.value(sql);
        if (name.isEmpty()) {
            name = "velqa_" + QByteArray::number(++m_statements);
            m_prepared.insert(sql, name);
            const QByteArray text = numberedMarks(sql).toUtf8();
            // The server infers each parameter's type from the statement.
            if (!PQsendPrepare(m_conn, name.constData(), text.constData(), 0, nullptr)) {
                m_prepared.remove(sql);
                return lost();
            }
            if (!finish(call, nullptr)) {
                m_prepared.remove(sql);
                return false;
            }
        }
        QList<QByteArray> values;
        std::vector<const char *> pointers;
        std::vector<int> lengths;
        std::vector<int> formats;
        for (const QVariant &param : params) {
            // Bytes travel as they are (binary), everything else as its text.
            const bool bytes = param.typeId() == QMetaType::QByteArray;
            const bool null = !param.isValid() || param.isNull() ||
                              (bytes && param.toByteArray().isNull()) ||
                              (param.typeId() == QMetaType::QString && param.toString().isNull());
            values << (null    ? QByteArray()
                       : bytes ? param.toByteArray()
                               : param.toString().toUtf8());
            formats.push_back(bytes ? 1 : 0);
            lengths.push_back(int(values.last().size()));
            pointers.push_back(null ? nullptr : values.last().constData());
        }
        if (!PQsendQueryPrepared(m_conn, name.constData(), int(params.size()), pointers.data(),
                                 lengths.data(), formats.data(), 1))
            return lost();
        return finish(call, rows);
    }

    [[nodiscard]] qint64 rowsAffected() const override { return m_affected; }
    [[nodiscard]] bool isPostgres() const override { return true; }

private:
    // The statements are written with "?" marks; PostgreSQL numbers them.
    static QString numberedMarks(const QString &sql)
    {
        QString out;
        int n = 0;
        for (const QChar c : sql)
            out += c == QLatin1Char('?') ? QStringLiteral("$%1").arg(++n) : QString(c);
        return out;
    }

    // Sends what is buffered and takes every result of the statement sent.
    bool finish(QDeadlineTimer call, QList<SqlRow> *rows)
    {
        for (;;) {
            const int flushed = PQflush(m_conn);
            if (flushed == 0)
                break;
            if (flushed < 0)
                return lost();
            if (!waitFor(POLLIN | POLLOUT, call))
                return timedOut(m_deadline.callMs());
            if (!PQconsumeInput(m_conn))
                return lost();
        }
        bool ok = true;
        for (;;) {
            while (PQisBusy(m_conn)) {
                if (!waitFor(POLLIN, call))
                    return timedOut(m_deadline.callMs());
                if (!PQconsumeInput(m_conn))
                    return lost();
            }
            PGresult *result = PQgetResult(m_conn);
            if (!result)
                break;
            switch (PQresultStatus(result)) {
            case PGRES_TUPLES_OK:
                if (rows)
                    takeRows(result, rows);
                break;
            case PGRES_COMMAND_OK:
                m_affected = QByteArray(PQcmdTuples(result)).toLongLong();
                break;
            default:
                if (ok)
                    ok = failed(result);
                break;
            }
            PQclear(result);
        }
        if (PQstatus(m_conn) == CONNECTION_BAD)
            return lost();
        return ok;
    }

    static void takeRows(const PGresult *result, QList<SqlRow> *rows)
    {
        const int columns = PQnfields(result);
        for (int r = 0; r < PQntuples(result); ++r) {
            SqlRow row;
            row.reserve(columns);
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(result, r, c)) {
                    row << QVariant();
                    continue;
                }
                const char *value = PQgetvalue(result, r, c);
                const int length = PQgetlength(result, r, c);
                switch (PQftype(result, c)) {
                case PgBytea:
                    row << QVariant(length == 0 ? QByteArray("", 0) : QByteArray(value, length));
                    break;
                case PgInt8:
                    row << QVariant(qint64(qFromBigEndian<qint64>(value)));
                    break;
                case PgInt4:
                    row << QVariant(qint64(qFromBigEndian<qint32>(value)));
                    break;
                case PgInt2:
                    row << QVariant(qint64(qFromBigEndian<qint16>(value)));
                    break;
                case PgBool:
                    row << QVariant(value[0] != 0);
                    break;
                default:
                    // Text in binary form is its UTF-8 bytes.
                    row << QVariant(QString::fromUtf8(value, length));
                    break;
                }
            }
            rows->append(row);
        }
    }

    bool failed(const PGresult *result)
    {
        const QByteArray state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        const QString message = firstLine(PQresultErrorMessage(result));
        if (state == "42501")
            return fail(SqlTrouble::NotAllowed, message);
        if (state.startsWith("28"))
            return fail(SqlTrouble::Login, message);
        // Connection exceptions, and a server shutting down.
        if (state.startsWith("08") || state.startsWith("57P"))
            return fail(SqlTrouble::NoAnswer, message);
        return fail(SqlTrouble::Other, message);
    }

    bool connectFailed()
    {
        const QString message = firstLine(PQerrorMessage(m_conn));
        const bool login = PQconnectionNeedsPassword(m_conn) ||
                           message.contains(QLatin1String("authentication failed")) ||
                           message.contains(QLatin1String("no password supplied")) ||
                           (message.contains(QLatin1String("role \"")) &&
                            message.contains(QLatin1String("does not exist")));
        const bool away = message.contains(QLatin1String("Connection refused")) ||
                          message.contains(QLatin1String("could not connect")) ||
                          message.contains(QLatin1String("timeout expired")) ||
                          message.contains(QLatin1String("could not translate host name")) ||
                          message.contains(QLatin1String("server closed the connection"));
        drop();
        return fail(login  ? SqlTrouble::Login
                    : away ? SqlTrouble::NoAnswer
                           : SqlTrouble::Other,
                    message);
    }

    bool lost()
    {
        const QString message = firstLine(PQerrorMessage(m_conn));
        drop();
        return fail(SqlTrouble::NoAnswer,
                    message.isEmpty() ? QStringLiteral("the connection was lost") : message);
    }

    bool timedOut(int ms)
    {
        // The connection is given up: whatever the server does with the statement when it wakes
        // up, a record written again later is kept once.
        drop();
        return fail(SqlTrouble::NoAnswer, QStringLiteral("no answer within %1 ms").arg(ms));
    }

    void drop()
    {
        if (m_conn)
            PQfinish(m_conn);
        m_conn = nullptr;
        m_prepared.clear();
    }

    // Waits until the socket is ready for `events`, in short slices so that an end set by
    // another thread takes effect at once.
    bool waitFor(short events, QDeadlineTimer call)
    {
        for (;;) {
            const QDeadlineTimer deadline = m_deadline.limit(call);
            const qint64 left = deadline.remainingTime();
            if (left == 0)
                return false;
            pollfd fd{PQsocket(m_conn), events, 0};
            if (fd.fd < 0)
                return false;
            const int slice = int(left < 0 ? kPollSliceMs : std::min<qint64>(left, kPollSliceMs));
            const int ready = ::poll(&fd, 1, slice);
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
    }

    PGconn *m_conn;
    const SqlDeadline &m_deadline;
    QHash<QString, QByteArray> m_prepared;
    int m_statements = 0;
    qint64 m_affected = 0;
};

} // namespace

static std::optional<QStringList> systemLookup(const QString &host, QString *error)
{
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.error() != QHostInfo::NoError) {
        *error = info.errorString();
        return std::nullopt;
    }
    QStringList addresses;
    for (const QHostAddress &address : info.addresses())
        addresses << address.toString();
    return addresses;
}

namespace {
struct LookupAnswer
{
    std::optional<QStringList> addresses;
    QString error;
};
} // namespace

static QMutex lookupMutex;
static JournalHostLookup installedLookup;
// A lookup still running for a name: the next connect waits for it rather than starting another,
// so name servers that do not answer hold one thread per name, not one per try.
static QHash<QString, std::shared_future<LookupAnswer>> runningLookups;

void SetJournalHostLookup(JournalHostLookup lookup)
{
    const QMutexLocker lock(&lookupMutex);
    installedLookup = std::move(lookup);
}

// The host's addresses within `deadline`; the lookup itself goes on, on a thread of its own, if
// the name servers take longer.
static std::optional<QStringList> lookUp(const QString &host, QDeadlineTimer deadline,
                                         SqlOpenError *error)
{
    std::shared_future<LookupAnswer> answer;
    {
        const QMutexLocker lock(&lookupMutex);
        answer = runningLookups.value(host);
        if (!answer.valid() ||
            answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            const JournalHostLookup lookup =
                installedLookup ? installedLookup : JournalHostLookup(systemLookup);
            auto promise = std::make_shared<std::promise<LookupAnswer>>();
            answer = promise->get_future().share();
            runningLookups.insert(host, answer);
            std::thread([lookup, host, promise] {
                LookupAnswer a;
                a.addresses = lookup(host, &a.error);
                promise->set_value(std::move(a));
            }).detach();
        }
    }
    const qint64 waitMs = deadline.isForever() ? std::numeric_limits<int>::max()
                                               : std::max<qint64>(0, deadline.remainingTime());
    if (answer.wait_for(std::chrono::milliseconds(waitMs)) != std::future_status::ready) {
        *error = {QStringLiteral("the name %1 was not found within %2 ms")
                      .arg(host, QString::number(waitMs)),
                  SqlTrouble::NoAnswer};
        return std::nullopt;
    }
    const LookupAnswer &a = answer.get();
    if (!a.addresses || a.addresses->isEmpty()) {
        *error = {QStringLiteral("the name %1 cannot be found (%2)")
                      .arg(host, a.error.isEmpty() ? QStringLiteral("no address") : a.error),
                  SqlTrouble::NoAnswer};
        return std::nullopt;
    }
    return a.addresses;
}

std::unique_ptr<SqlLink> OpenPostgres(const JournalLocation &location, const SqlDeadline &deadline,
                                      SqlOpenError *error)
{
    QList<QByteArray> keys{"host", "port", "dbname", "application_name", "client_encoding"};
    QList<QByteArray> values{location.host.toUtf8(), QByteArray::number(location.port),
                             location.database.toUtf8(), "velqa", "UTF8"};
    if (!location.user.isEmpty()) {
        keys << "user";
        values << location.user.toUtf8();
    }
    if (!location.password.isEmpty()) {
        keys << "password";
        values << location.password.toUtf8();
    }
    int connectMs = deadline.callMs();
    for (const auto &[key, value] : location.options) {
        if (key == QLatin1String("connect_timeout")) {
            connectMs = value.toInt() * 1000;
            continue;
        }
        const qsizetype known = keys.indexOf(key.toUtf8());
        if (known >= 0)
            values[known] = value.toUtf8();
        else {
            keys << key.toUtf8();
            values << value.toUtf8();
        }
    }
    // A name is looked up here, within the deadline; libpq connects to its addresses (up to 8,
    // in turn) and keeps the name for TLS and the password file.
    const bool socketFolder = location.host.startsWith(QLatin1Char('/'));
    if (!socketFolder && QHostAddress(location.host).isNull()) {
        const std::optional<QStringList> addresses =
            lookUp(location.host, deadline.limit(QDeadlineTimer(connectMs)), error);
        if (!addresses)
            return nullptr;
        const QStringList used = addresses->mid(0, 8);
        QStringList hosts;
        for (qsizetype i = 0; i < used.size(); ++i)
            hosts << location.host;
        values[0] = hosts.join(QLatin1Char(',')).toUtf8();
        keys << "hostaddr";
        values << used.join(QLatin1Char(',')).toUtf8();
    }
    // Each value is its own string: no value can add a keyword of its own.
    std::vector<const char *> keyPointers;
    std::vector<const char *> valuePointers;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        keyPointers.push_back(keys[i].constData());
        valuePointers.push_back(values[i].constData());
    }
    keyPointers.push_back(nullptr);
    valuePointers.push_back(nullptr);
    PGconn *connection = PQconnectStartParams(keyPointers.data(), valuePointers.data(), 0);
    if (!connection) {
        *error = {QStringLiteral("out of memory"), SqlTrouble::Other};
        return nullptr;
    }
    auto link = std::make_unique<PostgresLink>(connection, deadline);
    if (!link->connect(connectMs)) {
        *error = {link->error(), link->trouble()};
        return nullptr;
    }
    return link;
}
