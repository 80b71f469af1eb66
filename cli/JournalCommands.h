#pragma once

#include <QStringList>

#include <optional>

class Console;

// Runs "history" or "sync" when one of them is the command in `arguments` (the program name
// first); nothing, when the command is another.
[[nodiscard]] std::optional<int> RunJournalCommand(const QStringList &arguments, Console &console);
