#include "Journal.h"

#include "JournalStore.h"
#include "Language.h"
#include "Outbox.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QWaitCondition>

JournalChoice ChooseJournal(const QString &explicitUrl)
{
    if (!explicitUrl.isEmpty())
        return {explicitUrl, QStringLiteral("--journal")};
    const QString environment = qEnvironmentVariable(JournalEnvironment);
    if (!environment.isEmpty())
        return {environment, QString::fromLatin1(JournalEnvironment)};
    const QSettings store(QSettings::NativeFormat, QSettings::SystemScope,
                          QString::fromLatin1(LanguageOrganization),
                          QString::fromLatin1(LanguageApplication));
    const QVariant setting = store.value(QString::fromLatin1(JournalSettingKey));
    if (store.status() == QSettings::NoError && setting.typeId() == QMetaType::QString &&
        !setting.toString().isEmpty())
        return {setting.toString(), QStringLiteral("setting")};
    return {DefaultJournalUrl(), QStringLiteral("default")};
}

bool IsJournalOff(const QString &url)
{
    return url.trimmed().compare(QLatin1String(JournalOff), Qt::CaseInsensitive) == 0;
}

QString JournalDataFolder()
{
    // Not the application's own folder: the window and velqa-cli keep one journal together.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/velqa");
}

QString DefaultJournalUrl()
{
    return QStringLiteral("sqlite:") + JournalDataFolder() + QStringLiteral("/journal.sqlite");
}

class JournalWriter
{
public:
    JournalWriter(Journal *journal, const JournalOptions &options)
        : m_journal(journal), m_options(options), m_location(ParseJournalUrl(options.url)),
          m_deadline(options.serverWaitMs),
          m_outbox(OutboxPath(options.outboxFolder.isEmpty() ? JournalDataFolder()
                                                             : options.outboxFolder,
                              m_location),
                   m_location)
    {
        m_thread.reset(QThread::create([this]() { run(); }));
        m_thread->setObjectName(QStringLiteral("journal writer"));
    }

    void start() { m_thread->start(); }

    [[nodiscard]] bool postgres() const
    {
        return m_location.kind == JournalLocation::Kind::Postgres;
    }
    // Whether records the journal cannot take now may wait for it in its outbox: not for an
    // address that is no journal's, nor for a device or folder given as a SQLite file, which
    // will never be one (sqlite:/dev/null is how some say "no journal").
    [[nodiscard]] bool parks() const
    {
        if (m_location.kind == JournalLocation::Kind::Invalid)
            return false;
        if (postgres())
            return true;
        const QFileInfo file(m_location.path);
        return !file.exists() || file.isFile();
    }
    [[nodiscard]] QString outboxPath() const { return m_outbox.path(); }

    void record(const JournalRecord &record)
    {
        const QMutexLocker lock(&m_mutex);
        if (m_stop || m_state == JournalState::Unusable) {
            ++m_counts.dropped;
            return;
        }
        if (m_queue.size() >= m_options.maxQueued) {
            ++m_counts.dropped;
            if (!m_queueFullReported) {
                m_queueFullReported = true;
                m_pendingProblem = QStringLiteral("The journal cannot keep up: records beyond "
                                                  "%1 waiting are dropped.")
                                       .arg(m_options.maxQueued);
            }
            return;
        }
        m_queue.append(record);
        m_wake.wakeOne();
    }

    void requestSync()
    {
        const QMutexLocker lock(&m_mutex);
        m_syncRequested = true;
        m_wake.wakeOne();
    }

    bool waitForIdle(int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        QMutexLocker lock(&m_mutex);
        while (m_busy || m_syncRequested || !m_queue.isEmpty()) {
            if (!m_idle.wait(&m_mutex, deadline))
                return false;
        }
        return true;
    }

    // Writes what is queued, parking what the server does not take before the wait is over.
    // True when the writer ended; otherwise (its outbox itself is stuck) it is left behind, and
    // what it still held is counted as lost.
    bool stop(int waitMs)
    {
        const QDeadlineTimer end(waitMs);
        {
            const QMutexLocker lock(&m_mutex);
            m_stop = true;
            m_wake.wakeOne();
        }
        // The server's last calls end a little before the wait does, leaving time to park.
        m_deadline.endBy(QDeadlineTimer(waitMs - std::min(500, waitMs / 4)));
        if (m_thread->wait(end))
            return true;
        const QMutexLocker emitLock(&m_emitMutex);
        m_journal = nullptr;
        const QMutexLocker lock(&m_mutex);
        m_counts.dropped += m_queue.size() + m_inFlight;
        m_queue.clear();
        return false;
    }

    JournalState state()
    {
        const QMutexLocker lock(&m_mutex);
        return m_state;
    }
    QString lastError()
    {
        const QMutexLocker lock(&m_mutex);
        return m_lastError;
    }
    JournalCounts counts()
    {
        const QMutexLocker lock(&m_mutex);
        return m_counts;
    }

private:
    void run();
    void process(const QList<JournalRecord> &batch, bool sync, bool stopping);
    void park(const QList<JournalRecord> &batch);
    bool forward();
    void goOffline();
    void setState(JournalState state);
    void report(const QString &message);
    void count(qint64 JournalCounts::*field, qint64 n)
    {
        const QMutexLocker lock(&m_mutex);
        m_counts.*field += n;
    }
    void noteWaiting()
    {
        const std::optional<qint64> waiting = m_outbox.waiting();
        const QMutexLocker lock(&m_mutex);
        m_counts.waiting = waiting.value_or(m_counts.waiting);
    }

    QMutex m_emitMutex;
    Journal *m_journal;
    JournalOptions m_options;
    const JournalLocation m_location;
    SqlDeadline m_deadline;
    std::unique_ptr<QThread> m_thread;

    QMutex m_mutex;
    QWaitCondition m_wake;
    QWaitCondition m_idle;
    QList<JournalRecord> m_queue;
    qsizetype m_inFlight = 0;
    bool m_stop = false;
    bool m_syncRequested = false;
    // True from the start until the store is opened, and while a batch is written.
    bool m_busy = true;
    JournalState m_state = JournalState::Opening;
    QString m_lastError;
    QString m_pendingProblem;
    bool m_queueFullReported = false;
    JournalCounts m_counts;

    // The writer thread's own.
    std::unique_ptr<JournalStore> m_store;
    Outbox m_outbox;
};

void JournalWriter::setState(JournalState state)
{
    const QMutexLocker lock(&m_mutex);
    m_state = state;
    if (state == JournalState::Ready)
        m_lastError.clear();
}

void JournalWriter::report(const QString &message)
{
    {
        const QMutexLocker lock(&m_mutex);
        m_lastError = message;
    }
    const QMutexLocker lock(&m_emitMutex);
    if (m_journal)
        emit m_journal->problem(message);
}

// Told once each time the journal stops taking records, in words that fit why.
void JournalWriter::goOffline()
{
    const QString detail = m_store->detail();
    const SqlTrouble trouble = m_store->trouble();
    m_store->close();
    if (state() == JournalState::Offline)
        return;
    setState(JournalState::Offline);
    const QString where = m_location.display();
    const QString outbox = m_outbox.path();
    switch (trouble) {
    case SqlTrouble::NoAnswer:
        report(QStringLiteral("The journal at %1 does not answer (%2); records wait in %3 and are "
                              "sent when it answers again.")
                   .arg(where, detail, outbox));
        break;
    case SqlTrouble::Login:
        report(QStringLiteral("The journal at %1 refused the log-in (%2); records wait in %3 "
                              "until the user or password (~/.pgpass) is put right, then "
                              "velqa-cli sync sends them.")
                   .arg(where, detail, outbox));
        break;
    default:
        report(QStringLiteral("The journal at %1 cannot be written (%2); records wait in %3.")
                   .arg(where, detail, outbox));
        break;
    }
}

void JournalWriter::run()
{
    // The station's and user's names are looked up once, at the first record (reading the
    // password file and loading name services can take milliseconds): here, on this thread,
    // rather than in the window's start-up or an operation.
    (void)NewJournalRecord(QString());
    m_store = std::make_unique<JournalStore>(m_location, &m_deadline);
    if (m_store->open()) {
        if (forward())
            setState(JournalState::Ready);
        else
            goOffline();
    } else if (parks()) {
        goOffline();
    } else {
        setState(JournalState::Unusable);
        report(QStringLiteral("The journal cannot be opened (%1); operations go on without it.")
                   .arg(m_store->error()));
    }

    for (;;) {
        QList<JournalRecord> batch;
        bool sync = false;
        bool stopping = false;
        QString problem;
        {
            QMutexLocker lock(&m_mutex);
            m_busy = false;
            m_inFlight = 0;
            while (m_queue.isEmpty() && !m_syncRequested && !m_stop) {
                m_idle.wakeAll();
                m_wake.wait(&m_mutex);
            }
            if (m_queue.isEmpty() && !m_syncRequested && m_stop)
                break;
            batch.swap(m_queue);
            m_inFlight = batch.size();
            sync = m_syncRequested;
            m_syncRequested = false;
            stopping = m_stop;
            m_busy = true;
            problem.swap(m_pendingProblem);
        }
        if (!problem.isEmpty())
            report(problem);
        process(batch, sync, stopping);
    }
    m_store.reset();
    m_outbox.close();
    const QMutexLocker lock(&m_mutex);
    m_state = JournalState::Closed;
    m_busy = false;
    m_idle.wakeAll();
}

void JournalWriter::process(const QList<JournalRecord> &batch, bool sync, bool stopping)
{
    const qint64 n = batch.size();
    if (state() == JournalState::Unusable) {
        count(&JournalCounts::dropped, n);
        return;
    }
    // Every record or sync while the journal is away (a server that does not answer, a SQLite
    // file that is locked, damaged or on a full disk) is a chance to find it again, except at
    // close, which has no time to wait for it.
    if (!m_store->isOpen()) {
        if (stopping || !m_store->open()) {
            if (!stopping)
                goOffline();
            park(batch);
            return;
        }
        // Back only once what waits has gone in: a journal that takes nothing yet (still a
        // full disk) is not told of twice.
        if (!forward()) {
            goOffline();
            park(batch);
            return;
        }
        setState(JournalState::Ready);
    }
    if (!batch.isEmpty()) {
        if (!m_store->write(batch)) {
            goOffline();
            park(batch);
            return;
        }
        count(&JournalCounts::written, n);
    }
    if (sync && !forward())
        goOffline();
}

void JournalWriter::park(const QList<JournalRecord> &batch)
{
    if (batch.isEmpty())
        return;
    if (m_outbox.park(batch)) {
        count(&JournalCounts::parked, batch.size());
        noteWaiting();
        return;
    }
    count(&JournalCounts::dropped, batch.size());
    report(QStringLiteral("The journal at %1 cannot be written and its outbox cannot be either "
                          "(%2); records are lost.")
               .arg(m_location.display(), m_outbox.error()));
}

// False when the journal failed on the way; what is left is sent at the next chance.
bool JournalWriter::forward()
{
    qint64 added = 0;
    const bool done = m_outbox.forward(*m_store, &added);
    {
        const QMutexLocker lock(&m_mutex);
        m_counts.forwarded += added;
    }
    noteWaiting();
    if (done || !m_store->isOpen() || m_store->trouble() != SqlTrouble::None)
        return done;
    // The outbox itself cannot be read: the journal is fine, the records stay where they are.
    report(QStringLiteral("The journal's outbox cannot be read (%1).").arg(m_outbox.error()));
    return true;
}

Journal::Journal(QObject *parent) : QObject(parent) {}

Journal::~Journal()
{
    close();
}

void Journal::open(const JournalOptions &options)
{
    close();
    m_options = options;
    m_closedCounts = {};
    m_writer = std::make_unique<JournalWriter>(this, m_options);
    m_outboxPath = m_writer->parks() ? m_writer->outboxPath() : QString();
    m_writer->start();
}

void Journal::record(const JournalRecord &record)
{
    if (m_writer)
        m_writer->record(record);
}

void Journal::sync()
{
    if (m_writer)
        m_writer->requestSync();
}

bool Journal::waitForIdle(int timeoutMs)
{
    return !m_writer || m_writer->waitForIdle(timeoutMs);
}

void Journal::close()
{
    if (!m_writer)
        return;
    // Known before the writer ends, which leaves every journal closed.
    m_closedUnusable = m_writer->state() == JournalState::Unusable;
    const bool ended = m_writer->stop(m_options.closeWaitMs);
    m_closedCounts = m_writer->counts();
    if (!ended) {
        // Stuck in its outbox: left to end with the process rather than block.
        (void)m_writer.release();
    }
    m_writer.reset();
}

JournalState Journal::state() const
{
    return m_writer ? m_writer->state() : JournalState::Closed;
}

QString Journal::lastError() const
{
    return m_writer ? m_writer->lastError() : QString();
}

JournalCounts Journal::counts() const
{
    return m_writer ? m_writer->counts() : m_closedCounts;
}

QString Journal::outboxPath() const
{
    return m_outboxPath;
}

QString Journal::closingNote() const
{
    const JournalCounts c = counts();
    QString note;
    if (c.parked > 0 && c.waiting > 0)
        note =
            QStringLiteral("%1 of this run's records %2 parked for %3; %4 %5 in %6 and %7 "
                           "sent by this user's next run or by velqa-cli sync.")
                // One pass, so that a "%1" in the journal's address or the outbox's path
                // stays as it is.
                .arg(QString::number(c.parked),
                     c.parked == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                     ParseJournalUrl(m_options.url).display(), QString::number(c.waiting),
                     c.waiting == 1 ? QStringLiteral("waits") : QStringLiteral("wait"),
                     m_outboxPath, c.waiting == 1 ? QStringLiteral("is") : QStringLiteral("are"));
    // A journal that could never be one was said at the start to go unused; any other loss is
    // told at the end too, since a message on the way may not have been shown.
    const bool unusable = m_writer ? m_writer->state() == JournalState::Unusable : m_closedUnusable;
    if (c.dropped > 0 && !unusable)
        note +=
            QStringLiteral("%1%2 of this run's records %3 lost: neither the journal nor its "
                           "outbox took %4 in time.")
                .arg(note.isEmpty() ? QString() : QStringLiteral(" "), QString::number(c.dropped),
                     c.dropped == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                     c.dropped == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    return note;
}
