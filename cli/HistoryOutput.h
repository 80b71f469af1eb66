#pragma once

#include "JournalRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// How velqa-cli history shows the journal's records.

// "2024-05-01", "2024-05-01T08:30", "2024-05-01 08:30:15", with "Z" or "+02:00" for a zone;
// without one, the station's local time.
[[nodiscard]] std::optional<QDateTime> ParseSince(const QString &text);

// A table for the terminal, newest first as given: module bytes and texts escaped, long fields
// cut; "No records." when empty.
[[nodiscard]] QString FormatHistoryTable(const QList<JournalRecord> &records);
// CSV for a spreadsheet (text/Escape.h): a header line, module bytes by the byte rule and texts
// by the text rule, each cell made inert by the formula rule; slots 1..8 in columns of their
// own.
[[nodiscard]] QByteArray FormatHistoryCsv(const QList<JournalRecord> &records);
// An array of objects with the fields id, time, source, station, user, tool_version, address,
// operation, outcome, status, serial, version, slots, card, loop, errors, duration_ms; every
// byte kept (null for a field the module did not send).
[[nodiscard]] QByteArray FormatHistoryJson(const QList<JournalRecord> &records);
