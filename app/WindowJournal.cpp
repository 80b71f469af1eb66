#include "WindowJournal.h"

#include "BevelPanel.h"
#include "MainWindow.h"
#include "OperationRecord.h"

#include <QWidget>

WindowJournal::WindowJournal(QWidget *notice, QObject *parent) : QObject(parent), m_notice(notice)
{
    const JournalChoice choice = ChooseJournal();
    if (IsJournalOff(choice.url))
        return;
    // Emitted from the journal's thread: shown from the window's event loop.
    connect(&m_journal, &Journal::problem, this, &WindowJournal::showProblem);
    JournalOptions options;
    options.url = choice.url;
    options.closeWaitMs = FlushWaitMs;
    m_journal.open(options);
    m_on = true;
}

WindowJournal::~WindowJournal() = default;

void WindowJournal::record(const OperationResult &result)
{
    if (m_on)
        m_journal.record(RecordFromResult(result, QString::fromLatin1(JournalWords::SourceWindow)));
}

void WindowJournal::flush()
{
    if (m_on && !m_journal.waitForIdle(FlushWaitMs))
        qWarning("velqa-config: records still being written to the journal at close are left "
                 "behind");
}

void WindowJournal::showProblem(const QString &message)
{
    qWarning("velqa-config: %s", qUtf8Printable(message));
    if (!m_notice)
        return;
    m_notice->setToolTip(message);
    // Sends the description-changed event that screen readers hear.
    m_notice->setAccessibleDescription(message);
}

void TfrmMain::openJournal()
{
    m_journal = std::make_unique<WindowJournal>(pnMsg);
    connect(this, &TfrmMain::operationFinished, m_journal.get(), &WindowJournal::record);
}

void TfrmMain::flushJournal()
{
    if (m_journal)
        m_journal->flush();
}
