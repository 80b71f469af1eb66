#include "WindowJournal.h"

#include "BevelPanel.h"
#include "Escape.h"
#include "MainWindow.h"
#include "OperationRecord.h"

#include <QTextDocument>
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
    options.closeWaitMs = CloseWaitMs;
    m_journal.open(options);
    m_on = true;
}

WindowJournal::~WindowJournal()
{
    close();
}

void WindowJournal::record(const OperationResult &result)
{
    if (m_on)
        m_journal.record(RecordFromResult(result, QString::fromLatin1(JournalWords::SourceWindow)));
}

void WindowJournal::close()
{
    if (!m_on)
        return;
    m_on = false;
    m_journal.close();
    const QString parked = m_journal.closingNote();
    if (!parked.isEmpty())
        qWarning("velqa-config: %s", qUtf8Printable(TerminalText(parked, 1000)));
}

void WindowJournal::showProblem(const QString &message)
{
    qWarning("velqa-config: %s", qUtf8Printable(TerminalText(message, 1000)));
    if (!m_notice)
        return;
    // Shown as written: a path or a server's words are never taken for formatting.
    m_notice->setToolTip(Qt::convertFromPlainText(message, Qt::WhiteSpaceNormal));
    // Sends the description-changed event that screen readers hear.
    m_notice->setAccessibleDescription(message);
}

void TfrmMain::openJournal()
{
    m_journal = std::make_unique<WindowJournal>(pnMsg);
    connect(this, &TfrmMain::operationFinished, m_journal.get(), &WindowJournal::record);
}
