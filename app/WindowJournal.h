#pragma once

#include "Journal.h"

#include <QObject>
#include <QPointer>

class QWidget;
struct OperationResult;

// The window's journal: opened as the window is made (the store itself is opened on the
// journal's own thread, so the window does not wait for it), every operation's result recorded
// with source "window", flushed within a bounded wait when the window closes. Trouble with the
// journal is told once each time, never in a box: on standard error, and as the tool tip and
// accessible description of `notice` (the status panel), which screen readers are told of.
class WindowJournal : public QObject
{
    Q_OBJECT
public:
    // How long the window's close waits for records still being written.
    static constexpr int FlushWaitMs = 3000;

    explicit WindowJournal(QWidget *notice, QObject *parent = nullptr);
    ~WindowJournal() override;

    // Makes the record and hands it to the journal's thread; reads none of the journal's state.
    void record(const OperationResult &result);
    // Waits at most FlushWaitMs for what is queued to be written; later records still go in.
    void flush();

private:
    void showProblem(const QString &message);

    QPointer<QWidget> m_notice;
    Journal m_journal;
    bool m_on = false;
};
