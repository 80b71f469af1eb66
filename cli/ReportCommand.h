#pragma once

#include "Cli.h"

#include <optional>

struct ReportQuery;

// Fills `query`'s period from --since/--until texts as typed (empty: the default period ending
// now); an error message when a text is not a time or the period ends before it begins.
[[nodiscard]] std::optional<QString> ReportPeriod(const QString &since, const QString &until,
                                                  ReportQuery &query);

// The "report" row of the command line's table: reads the journal and writes the page to
// --html FILE and/or the figures to standard output as JSON. Exit codes: 0 done; 1 the journal
// cannot be read; 2 a usage error or a page that cannot be written.
[[nodiscard]] CliCommandRow ReportCommand();
