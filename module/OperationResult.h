#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The tool's operations on a module, as the window's buttons start them.
enum class Operation { Scan, SetTestData, ClearAllData, ReaderTest, LoopTest, WebPage };

// How an operation ended: the module answered, it did not, there was no link to ask it on, or
// one of the link's own calls failed (the window shows that in its error box).
enum class Outcome { Success, NoReply, NotConnected, Error };

// "scan", "set-test-data", "clear", "reader-test", "loop-test", "web-page".
[[nodiscard]] QString OperationName(Operation operation);
// "success", "no-reply", "not-connected", "error".
[[nodiscard]] QString OutcomeName(Outcome outcome);

struct SlotRead
{
    int slot = 0;
    QByteArray data;

    friend bool operator==(const SlotRead &a, const SlotRead &b)
    {
        return a.slot == b.slot && a.data == b.data;
    }
};

// What one operation did, in the module's own bytes; the window formats them for its fields.
struct OperationResult
{
    Operation operation = Operation::Scan;
    // The IP field's text as typed when the operation started.
    QString address;
    Outcome outcome = Outcome::NotConnected;
    // The status line's text when the operation ended, as the window shows it.
    QString status;
    // The serial number and version fields of the replies; null when not read. An operation
    // after the scan carries those its connection's scan read.
    QByteArray serial;
    QByteArray version;
    // The slots that answered, in the order read (scan) or written (set test data, clear), with
    // their data; a silent slot leaves a gap.
    QList<SlotRead> slotsRead;
    // The reader's card number; empty after a reply of ten characters or fewer (no card).
    QByteArray card;
    // The loop reply up to its first zero byte.
    QByteArray loop;
    // Every link error reported while the operation ran, the one that ended it last.
    QStringList errors;
    QDateTime started;
    qint64 durationMs = 0;
};
