#include "Journal.h"

#include "JournalStore.h"
#include "Language.h"

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

QString DefaultOutboxPath()
{
    return JournalDataFolder() + QStringLiteral("/journal-outbox.sqlite");
}

class JournalWriter
{
public:
    JournalWriter(Journal *journal, const JournalOptions &options)
        : m_journal(journal), m_options(options), m_location(ParseJournalUrl(options.url))
    {
        if (m_options.outboxPath.isEmpty())
            m_options.outboxPath = DefaultOutboxPath();
        m_thread.reset(QThread::create([this]() { run(); }));
        m_thread->setObjectName(QStringLiteral("journal writer"));
    }

    void start() { m_thread->start(); }

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

    // True when the writer ended within the wait; otherwise it is left to finish on its own.
    bool stop(int waitMs)
    {
        {
            const QMutexLocker lock(&m_mutex);
            m_stop = true;
            m_wake.wakeOne();
        }
        if (m_thread->wait(QDeadlineTimer(waitMs)))
            return true;
        const QMutexLocker lock(&m_emitMutex);
        m_journal = nullptr;
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
    void process(const QList<JournalRecord> &batch, bool sync);
    void park(const QList<JournalRecord> &batch);
    void forward();
    void goOffline(const QString &detail);
    void setState(JournalState state);
    void report(const QString &message);
    void count(qint64 JournalCounts::*field, qint64 n)
    {
        const QMutexLocker lock(&m_mutex);
        m_counts.*field += n;
    }

    QMutex m_emitMutex;
    Journal *m_journal;
    JournalOptions m_options;
    const JournalLocation m_location;
    std::unique_ptr<QThread> m_thread;

    QMutex m_mutex;
    QWaitCondition m_wake;
    QWaitCondition m_idle;
    QList<JournalRecord> m_queue;
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
    std::unique_ptr<JournalStore> m_outbox;
    bool m_writeFailing = false;
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

void JournalWriter::goOffline(const QString &detail)
{
    if (m_store)
        m_store->close();
    if (state() == JournalState::Offline)
        return;
    setState(JournalState::Offline);
    report(QStringLiteral("The journal at %1 does not answer (%2); records wait in %3 and are "
                          "sent when it answers again.")
               .arg(m_location.display(), detail, m_options.outboxPath));
}

void JournalWriter::run()
{
    // The station's and user's names are looked up once, at the first record (reading the
    // password file and loading name services can take milliseconds): here, on this thread,
    // rather than in the window's start-up or an operation.
    (void)NewJournalRecord(QString());
    m_store = std::make_unique<JournalStore>(m_location);
    if (m_store->open()) {
        setState(JournalState::Ready);
        if (m_location.kind == JournalLocation::Kind::Postgres)
            forward();
    } else if (m_location.kind == JournalLocation::Kind::Postgres) {
        goOffline(m_store->error());
    } else {
        setState(JournalState::Unusable);
        report(QStringLiteral("The journal cannot be opened (%1); operations go on without it.")
                   .arg(m_store->error()));
    }

    for (;;) {
        QList<JournalRecord> batch;
        bool sync = false;
        QString problem;
        {
            QMutexLocker lock(&m_mutex);
            m_busy = false;
            while (m_queue.isEmpty() && !m_syncRequested && !m_stop) {
                m_idle.wakeAll();
                m_wake.wait(&m_mutex);
            }
            if (m_queue.isEmpty() && !m_syncRequested && m_stop)
                break;
            batch.swap(m_queue);
            sync = m_syncRequested;
            m_syncRequested = false;
            m_busy = true;
            problem.swap(m_pendingProblem);
        }
        if (!problem.isEmpty())
            report(problem);
        process(batch, sync);
    }
    m_outbox.reset();
    m_store.reset();
    const QMutexLocker lock(&m_mutex);
    m_state = JournalState::Closed;
    m_busy = false;
    m_idle.wakeAll();
}

void JournalWriter::process(const QList<JournalRecord> &batch, bool sync)
{
    const qint64 n = batch.size();
    if (state() == JournalState::Unusable) {
        count(&JournalCounts::dropped, n);
        return;
    }
    if (m_location.kind == JournalLocation::Kind::Sqlite) {
        if (m_store->write(batch)) {
            count(&JournalCounts::written, n);
            m_writeFailing = false;
        } else {
            count(&JournalCounts::dropped, n);
            if (!m_writeFailing)
                report(QStringLiteral("The journal cannot be written (%1).").arg(m_store->error()));
            m_writeFailing = true;
        }
        return;
    }
    // PostgreSQL: every record or sync while the server is away is a chance to find it again.
    if (!m_store->isOpen()) {
        if (!m_store->open()) {
            goOffline(m_store->error());
            park(batch);
            return;
        }
        setState(JournalState::Ready);
        forward();
    }
    if (m_store->isOpen() && !batch.isEmpty()) {
        if (m_store->write(batch)) {
            count(&JournalCounts::written, n);
        } else {
            goOffline(m_store->error());
            park(batch);
            return;
        }
    }
    if (sync && m_store->isOpen())
        forward();
}

void JournalWriter::park(const QList<JournalRecord> &batch)
{
    if (batch.isEmpty())
        return;
    if (!m_outbox) {
        JournalLocation outbox;
        outbox.kind = JournalLocation::Kind::Sqlite;
        outbox.path = m_options.outboxPath;
        m_outbox = std::make_unique<JournalStore>(outbox);
    }
    if ((m_outbox->isOpen() || m_outbox->open()) && m_outbox->write(batch)) {
        count(&JournalCounts::parked, batch.size());
        const std::optional<qint64> waiting = m_outbox->count();
        const QMutexLocker lock(&m_mutex);
        m_counts.waiting = waiting.value_or(m_counts.waiting);
        return;
    }
    count(&JournalCounts::dropped, batch.size());
    report(QStringLiteral("The journal at %1 does not answer and its outbox cannot be written "
                          "(%2); records are lost.")
               .arg(m_location.display(), m_outbox->error()));
}

void JournalWriter::forward()
{
    if (!m_outbox) {
        // Nothing ever waited here: no file to make.
        if (!QFileInfo::exists(m_options.outboxPath))
            return;
        JournalLocation outbox;
        outbox.kind = JournalLocation::Kind::Sqlite;
        outbox.path = m_options.outboxPath;
        m_outbox = std::make_unique<JournalStore>(outbox);
    }
    if (!m_outbox->isOpen() && !m_outbox->open()) {
        report(QStringLiteral("The journal's outbox cannot be read (%1).").arg(m_outbox->error()));
        return;
    }
    qint64 forwarded = 0;
    const bool done = ForwardOutbox(*m_outbox, *m_store, &forwarded);
    const std::optional<qint64> waiting = m_outbox->count();
    {
        const QMutexLocker lock(&m_mutex);
        m_counts.forwarded += forwarded;
        m_counts.waiting = waiting.value_or(m_counts.waiting);
    }
    // The journal failed mid-way: what is left is sent at the next chance.
    if (!done && !m_store->error().isEmpty())
        goOffline(m_store->error());
    else if (!done)
        report(QStringLiteral("The journal's outbox cannot be read (%1).").arg(m_outbox->error()));
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
    m_writer = std::make_unique<JournalWriter>(this, m_options);
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
    if (!m_writer->stop(m_options.closeWaitMs)) {
        // Stuck in a call to the server: leave it to end with the process rather than block.
        qWarning("journal: records still being written at close are left behind");
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
    return m_writer ? m_writer->counts() : JournalCounts();
}
