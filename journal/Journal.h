#pragma once

#include "JournalRecord.h"

#include <QObject>
#include <QString>

#include <memory>

// Where the journal is, and where it came from: "--journal", "VELQA_JOURNAL", "setting" (the
// per-machine JournalUrl beside the language) or "default".
struct JournalChoice
{
    QString url;
    QString origin;
};

inline constexpr char JournalEnvironment[] = "VELQA_JOURNAL";
inline constexpr char JournalSettingKey[] = "JournalUrl";
// The journal URL that keeps no journal at all ("VELQA_JOURNAL=off").
inline constexpr char JournalOff[] = "off";

[[nodiscard]] bool IsJournalOff(const QString &url);

// The first of: the URL given on the command line, VELQA_JOURNAL, the per-machine setting, the
// SQLite file in the user's data folder.
[[nodiscard]] JournalChoice ChooseJournal(const QString &explicitUrl = QString());
// The user's data folder for the journal, shared by the window and the command line.
[[nodiscard]] QString JournalDataFolder();
[[nodiscard]] QString DefaultJournalUrl();

struct JournalOptions
{
    QString url;
    // Where records wait that the journal could not take (Outbox.h); empty: JournalDataFolder().
    QString outboxFolder;
    // The longest any one call to a PostgreSQL server may take, and a write waits for a SQLite
    // file that another program holds locked; a record not written in time waits in the outbox.
    int serverWaitMs = 2000;
    // close() writes or parks what is queued within this time, however the server behaves.
    int closeWaitMs = 3000;
    // Records waiting to be written beyond this many are dropped (and counted), so a store that
    // stalls cannot take all memory.
    int maxQueued = 100000;
};

enum class JournalState {
    Closed,
    Opening,
    Ready,
    // The server does not answer or does not let this station write, or the SQLite file cannot
    // be opened or written (locked, damaged, a full disk): records wait in the outbox.
    Offline,
    // No journal can ever be there (not a journal address, a device): records are dropped.
    Unusable
};

struct JournalCounts
{
    qint64 written = 0;   // into the journal itself
    qint64 parked = 0;    // into the outbox
    qint64 forwarded = 0; // from the outbox into the journal
    qint64 dropped = 0;   // lost: the journal and the outbox both failed, or the queue was full
    qint64 waiting = 0;   // in the outbox, as last seen
};

class JournalWriter;

// The journal of operations. record() hands a record to a writer thread with its own database
// connection and returns at once; nothing it does can block or throw into the caller. Every call
// to a PostgreSQL server has a deadline of the tool's own: when the server does not answer in
// time, refuses the log-in or may not be written by this role, or when a SQLite file cannot be
// opened or written, records wait in the journal's own outbox and are forwarded once it takes
// them again: at the next record, at open and on sync().
// record(), sync() and the getters may be called from any thread; open() and close() only by the
// owner, while no record() runs.
class Journal : public QObject
{
    Q_OBJECT
public:
    explicit Journal(QObject *parent = nullptr);
    // Closes: writes or parks what is queued within closeWaitMs.
    ~Journal() override;

    // Starts the writer, which opens the store on its own thread; returns at once.
    void open(const JournalOptions &options);
    void record(const JournalRecord &record);
    // Asks the writer to forward the outbox now.
    void sync();
    // Waits until every record handed in so far is stored (or dropped) and a requested sync is
    // done; false when `timeoutMs` passed first.
    bool waitForIdle(int timeoutMs);
    // Writes what is queued; what the server does not take within closeWaitMs is parked.
    void close();

    [[nodiscard]] JournalState state() const;
    // The last problem, for a caller that shows it once; empty while all is well.
    [[nodiscard]] QString lastError() const;
    // Still there after close().
    [[nodiscard]] JournalCounts counts() const;
    [[nodiscard]] QString url() const { return m_options.url; }
    // The outbox of this journal; empty for one that cannot have any.
    [[nodiscard]] QString outboxPath() const;
    // After close(): how many of this run's records were parked and where they wait, and how
    // many were lost, in a sentence each; empty when none were.
    [[nodiscard]] QString closingNote() const;

signals:
    // Once each time the journal gets into trouble: it cannot be opened, it cannot be written,
    // or the server stopped answering and records go to the outbox. Emitted from the writer's
    // thread; receivers in other threads get it queued.
    void problem(const QString &message);

private:
    friend class JournalWriter;
    JournalOptions m_options;
    std::unique_ptr<JournalWriter> m_writer;
    JournalCounts m_closedCounts;
    bool m_closedUnusable = false;
    QString m_outboxPath;
};
