#pragma once

#include "JournalRecord.h"
#include "OperationResult.h"

// The journal's record of an operation's result: the time is when the operation started (UTC,
// to the millisecond), the module's bytes are taken as they came, and the id, station, user and
// tool version are this run's. Cheap enough for the operation's own thread.
[[nodiscard]] JournalRecord RecordFromResult(const OperationResult &result, const QString &source);
