#pragma once

#include "JournalStore.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <optional>

// Records that a journal could not take (a server away; a SQLite file locked, damaged or on a
// full disk) wait in an outbox of their own journal: a SQLite file per journal in the user's data
// folder, which names that journal (its URL without the password) and is forwarded only there.

// The outbox of the journal at `journal` in `folder`.
[[nodiscard]] QString OutboxPath(const QString &folder, const JournalLocation &journal);
// The one outbox that earlier versions of the tool kept for every journal; its records name no
// journal and are sent only where the user says (velqa-cli sync --journal URL --outbox PATH).
[[nodiscard]] QString OlderOutboxPath(const QString &folder);

struct WaitingOutbox
{
    QString path;
    // The journal its records wait for (its URL without the password); empty for the older
    // outbox.
    QString journal;
    qint64 records = 0;
};

// Every outbox in `folder` that holds records; nullopt with `error` when one cannot be read.
[[nodiscard]] std::optional<QList<WaitingOutbox>> WaitingOutboxes(const QString &folder,
                                                                  QString *error);

// How many records wait in `folder` for the journal at `journal`; read only, nothing is made.
// nullopt with `error` when its outbox cannot be read.
[[nodiscard]] std::optional<qint64> WaitingFor(const QString &folder,
                                               const JournalLocation &journal, QString *error);

// One outbox, opened on the calling thread when first used.
class Outbox
{
public:
    Outbox(const QString &path, const JournalLocation &journal);

    [[nodiscard]] QString path() const { return m_path; }
    // Writes the records; the file is made, naming its journal, the first time.
    bool park(const QList<JournalRecord> &records);
    // Sends what waits to `store` (open on the same journal); `added` counts the records this
    // call added there. True when nothing is left; an outbox that does not exist holds nothing.
    bool forward(JournalStore &store, qint64 *added);
    [[nodiscard]] std::optional<qint64> waiting();
    [[nodiscard]] QString error() const { return m_error; }
    // Closed on the thread that used it.
    void close() { m_store.close(); }

private:
    bool open(bool create);

    QString m_path;
    JournalLocation m_journal;
    JournalStore m_store;
    QString m_error;
};

// What a sync did for one journal.
struct SyncedJournal
{
    QString journal; // its URL without the password
    QString outbox;
    qint64 sent = 0; // records this sync added to the journal
    qint64 left = 0; // still waiting in the outbox afterwards
    QString error;
};

struct SyncResult
{
    QList<SyncedJournal> synced;
    // Records that wait for journals this sync was not asked to send to.
    QList<WaitingOutbox> others;
    // A problem before any journal was tried (an outbox that cannot be read).
    QString error;

    [[nodiscard]] bool ok() const
    {
        return error.isEmpty() &&
               std::all_of(synced.begin(), synced.end(),
                           [](const SyncedJournal &s) { return s.error.isEmpty() && s.left == 0; });
    }
};

// Sends what waits in the outboxes of `folder`: to `chosen` alone when it is a PostgreSQL
// journal, otherwise to every journal that records wait for. With `outboxFile`, the records of
// that file go to `chosen` (an older outbox names no journal, so only the user can say where its
// records belong); a file that names another journal is refused.
[[nodiscard]] SyncResult SyncOutboxes(const QString &folder, const JournalLocation &chosen,
                                      const QString &outboxFile = QString(),
                                      const SqlDeadline *deadline = nullptr);
