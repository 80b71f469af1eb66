#pragma once

#include "Journal.h"

#include <QObject>
#include <QPointer>

class QWidget;
struct OperationResult;

// The window's journal: opened as the window is made (the store itself is opened on the
// journal's own thread, so the window does not wait for it), every operation's result recorded
// with source "window", closed within a bounded wait when the window goes (after the record of
// an operation that was still running when the window was closed): what a server does not take
// by then waits in the outbox. Trouble with the journal is told once each time, never in
// a box: on standard error, and as the tool tip and accessible description of `notice` (the
// status panel), which screen readers are told of.
class WindowJournal : public QObject
{
    Q_OBJECT
public:
    // How long the window's close waits for records still being written or parked.
    static constexpr int CloseWaitMs = 3000;

    explicit WindowJournal(QWidget *notice, QObject *parent = nullptr);
    // Closes.
    ~WindowJournal() override;

    // Makes the record and hands it to the journal's thread; reads none of the journal's state.
    void record(const OperationResult &result);
    // Writes what is queued, or parks it, within CloseWaitMs, and says on standard error how
    // many of the window's records were parked and where; the journal takes no more records.
    void close();

private:
    void showProblem(const QString &message);

    QPointer<QWidget> m_notice;
    Journal m_journal;
    bool m_on = false;
};
