#pragma once

#include "OperationResult.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// The words a record uses for where it came from, what ran and how it ended. They are stored and
// printed as they are, so other stations and spreadsheets can rely on them.
namespace JournalWords {
inline constexpr char SourceWindow[] = "window";
inline constexpr char SourceCli[] = "cli";

// The operations' and outcomes' own names (OperationName, OutcomeName).
[[nodiscard]] QStringList Operations();
[[nodiscard]] QStringList Outcomes();
} // namespace JournalWords

// A slot as the module sent it: the journal keeps what the operation read.
using JournalSlot = SlotRead;

// One operation as it ended. The module's bytes are kept exactly as they came (a null array when
// the module did not send the field); the status is the text the technician saw.
struct JournalRecord
{
    QUuid id;
    QDateTime time; // UTC, to the millisecond
    QString source;
    QString station;
    QString user;
    QString toolVersion;
    QString address;
    QString operation;
    QString outcome;
    QString status;
    QByteArray serial;
    QByteArray version;
    QList<JournalSlot> slotsRead;
    QByteArray card;
    QByteArray loop;
    QStringList errors;
    qint64 durationMs = 0;
    // Plan and apply: the slots after, in slot order (as the plan would leave them, or as read
    // back after the writes: a slot written that did not read back is left out) and the numbers
    // of the slots written (none for a plan); no value for the other operations.
    QList<JournalSlot> slotsAfter;
    std::optional<QList<int>> slotsWritten;

    friend bool operator==(const JournalRecord &a, const JournalRecord &b);
};

// A record with a new id, the current time, this station's host name, the user and the tool's
// version filled in.
[[nodiscard]] JournalRecord NewJournalRecord(const QString &source);

// The user running the tool: $USER, else $LOGNAME, else the name of the process's uid.
[[nodiscard]] QString CurrentUserName();
