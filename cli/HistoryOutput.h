#pragma once

#include "JournalRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

// How velqa-cli history shows the journal's records.

// A table for the terminal, newest first as given: local times with their offset, module bytes
// and texts escaped, long fields cut; "No records." when empty.
[[nodiscard]] QString FormatHistoryTable(const QList<JournalRecord> &records);
// CSV for a spreadsheet (text/Escape.h): a header line, times in ISO 8601 UTC, module bytes by
// the byte rule and texts by the text rule, each cell made inert by the formula rule; slots 1..8
// in columns of their own, and for plan and apply records the slots after (slot_after_1..8) and
// the slots written (slots_written, "1 3").
[[nodiscard]] QByteArray FormatHistoryCsv(const QList<JournalRecord> &records);
// An array of objects with the fields id, time, source, station, user, tool_version, address,
// operation, outcome, status, serial, version, slots, card, loop, errors, duration_ms, and for
// plan and apply records slots_after and slots_written; every byte kept (null for a field the
// module did not send).
[[nodiscard]] QByteArray FormatHistoryJson(const QList<JournalRecord> &records);
