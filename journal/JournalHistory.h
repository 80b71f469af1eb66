#pragma once

#include "JournalRecord.h"
#include "JournalStore.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

enum class HistoryFormat { Table, Csv, Json };

struct HistoryOptions
{
    JournalFilter filter;
    HistoryFormat format = HistoryFormat::Table;
    // The output is a terminal: control characters in CSV are escaped as in the table.
    bool terminal = false;
};

// Exit codes of the history and sync commands; usage errors are the command line's own (2).
inline constexpr int HistoryOk = 0;
inline constexpr int HistoryFailed = 1;
// No journal at the path given: nothing was made there.
inline constexpr int HistoryNoJournal = 2;

// "2024-05-01", "2024-05-01T08:30", "2024-05-01 08:30:15", with "Z" or "+02:00" for a zone;
// without one, the station's local time.
[[nodiscard]] std::optional<QDateTime> ParseSince(const QString &text);

// Control characters (C0, DEL, C1) as \xNN, so module bytes cannot drive the terminal.
[[nodiscard]] QString EscapeControls(const QString &text);

// Module bytes as text, one character per byte.
[[nodiscard]] inline QString BytesText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

// A readable table, newest first as given, long fields cut; "No records." when empty.
[[nodiscard]] QString FormatHistoryTable(const QList<JournalRecord> &records);
// RFC 4180: a header line, CRLF line ends, fields quoted where they need it; slots 1..8 in
// columns of their own.
[[nodiscard]] QString FormatHistoryCsv(const QList<JournalRecord> &records,
                                       bool escapeControls = false);
// An array of objects with the fields id, time, source, station, user, tool_version, address,
// operation, outcome, status, serial, version, slots, card, loop, errors, duration_ms.
[[nodiscard]] QByteArray FormatHistoryJson(const QList<JournalRecord> &records);

// Reads the journal at `url` and formats it into `out`; messages go to `err`.
[[nodiscard]] int RunHistoryCommand(const QString &url, const HistoryOptions &options, QString &out,
                                    QString &err);
// Sends what waits in the outboxes of `outboxFolder` (empty: the user's data folder): to the
// PostgreSQL journal at `url`, or to every journal records wait for when `url` is local; with
// `outboxFile`, that file's records to `url`. Fails when records are still waiting for a journal
// it sent to.
[[nodiscard]] int RunSyncCommand(const QString &url, const QString &outboxFolder,
                                 const QString &outboxFile, QString &out, QString &err,
                                 const SqlDeadline *deadline = nullptr);
