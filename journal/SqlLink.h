#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

struct JournalLocation;

// What went wrong with a call to a database, as far as the journal decides on it.
enum class SqlTrouble {
    None,
    // The server cannot be reached, stopped answering within the deadline, or dropped the link.
    NoAnswer,
    // The server refused the log-in (a wrong or missing password, an unknown role).
    Login,
    // The role may not do this (a station role asked to make tables, a reader asked to write).
    NotAllowed,
    // There is no journal there: no such file, or a file without the journal's tables.
    Missing,
    // The file or its folder cannot be written (a read-only archive).
    ReadOnly,
    Other
};

// How long a call to a server may take: each call at most `callMs`, and none past the end that
// another thread may set while a call waits (a journal that closes).
class SqlDeadline
{
public:
    explicit SqlDeadline(int callMs = 2000) : m_callMs(callMs) {}
    void setCallMs(int ms) { m_callMs = ms; }
    [[nodiscard]] int callMs() const { return m_callMs; }
    // Thread-safe.
    void endBy(QDeadlineTimer end) { m_endBy = end.isForever() ? kForever : end.deadline(); }
    // The earlier of `call` and the end set by endBy().
    [[nodiscard]] QDeadlineTimer limit(QDeadlineTimer call) const
    {
        const qint64 end = m_endBy;
        if (end >= call.deadline())
            return call;
        QDeadlineTimer earlier;
        earlier.setDeadline(end);
        return earlier;
    }

private:
    static constexpr qint64 kForever = std::numeric_limits<qint64>::max();
    int m_callMs;
    std::atomic<qint64> m_endBy{kForever};
};

// A row of a result: NULL as a null QVariant, byte columns as QByteArray, text as QString,
// integers as qint64.
using SqlRow = QVariantList;

// One connection to one database, used only on the thread that made it: SQLite through Qt's
// driver, PostgreSQL through libpq with every call bounded by its deadline. A call's parameters
// take the place of its "?" marks: QByteArray as bytes, QString as text, integers as numbers.
class SqlLink
{
public:
    virtual ~SqlLink() = default;
    // Runs one statement; the rows it returns go to `rows` when given. A result that ends in an
    // error fails the whole call: a caller never takes a part for the whole.
    virtual bool exec(const QString &sql, const QVariantList &params = {},
                      QList<SqlRow> *rows = nullptr) = 0;
    // Rows the last INSERT or DELETE changed.
    [[nodiscard]] virtual qint64 rowsAffected() const = 0;
    [[nodiscard]] virtual bool isPostgres() const = 0;

    [[nodiscard]] QString error() const { return m_error; }
    [[nodiscard]] SqlTrouble trouble() const { return m_trouble; }

protected:
    bool fail(SqlTrouble trouble, const QString &error)
    {
        m_trouble = trouble;
        m_error = error.simplified();
        return false;
    }
    void clearError()
    {
        m_trouble = SqlTrouble::None;
        m_error.clear();
    }

private:
    QString m_error;
    SqlTrouble m_trouble = SqlTrouble::None;
};

enum class SqliteMode {
    // Created, with its folder, when missing.
    Write,
    // Never created or changed; a missing file is an error.
    Read,
    // Read as a fixed file, without the locks and the shared-memory file readers use: for an
    // archive in a folder the user cannot write, when no -wal file shows a writer at work.
    ReadFixed
};

struct SqlOpenError
{
    QString text;
    SqlTrouble trouble = SqlTrouble::Other;
};

// Opens the SQLite file at `path`; null with `error` set when it cannot be had. Only a regular
// file (or, for writing, a path where none is yet) is a journal: a device such as /dev/null is
// refused before SQLite makes files beside it. A file another connection holds locked is waited
// for up to `busyMs` in each call.
[[nodiscard]] std::unique_ptr<SqlLink> OpenSqlite(const QString &path, SqliteMode mode,
                                                  SqlOpenError *error, int busyMs = 5000);
// Looks up a journal server's host name: its addresses as text, or nullopt with `error`. It may
// block (a name server that does not answer); the caller waits for it only until its deadline.
using JournalHostLookup =
    std::function<std::optional<QStringList>(const QString &host, QString *error)>;
// Puts in the lookup OpenPostgres uses (tests: one that sends no query); empty: the system's.
void SetJournalHostLookup(JournalHostLookup lookup);

// Connects to the PostgreSQL journal at `location` within the deadline (its connect_timeout
// when the URL gives one). A host name is looked up within the same deadline, and libpq is
// given its addresses, since libpq's own lookup waits as long as the name servers do.
[[nodiscard]] std::unique_ptr<SqlLink>
OpenPostgres(const JournalLocation &location, const SqlDeadline &deadline, SqlOpenError *error);
