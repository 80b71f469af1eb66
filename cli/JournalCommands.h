#pragma once

#include "Cli.h"

// The journal's commands, as rows of the command line's table: "history" prints the journal's
// records, "sync" sends the records that wait for a journal that could not take them, "journal
// migrate" makes or updates the journal's tables.
[[nodiscard]] CliCommandRow HistoryCommand();
[[nodiscard]] CliCommandRow SyncCommand();
[[nodiscard]] CliCommandRow JournalCommand();
