#pragma once

#include <QStringList>

#include <optional>

class Console;
struct ReportQuery;

// What "velqa-cli report" was given, as typed; RunReport reads and checks it.
struct ReportCommandOptions
{
    QString journalUrl;
    QString since;
    QString until;
    QString station;
    QString serial;
    QString stale;
    QString language;
    QString htmlPath;
    bool json = false;
};

// Fills `query`'s period from --since/--until texts (empty: the default period ending now; a
// date alone as --until takes that whole day); an error message when a text is not a time.
[[nodiscard]] std::optional<QString> ReportPeriod(const QString &since, const QString &until,
                                                  ReportQuery &query);

// Runs the report: reads the journal, writes the page to --html and/or the figures to standard
// output as JSON. 0 done; 1 the journal cannot be read; 2 a usage error or a page that cannot be
// written.
[[nodiscard]] int RunReport(const ReportCommandOptions &options, Console &console);

// "velqa-cli report ..." when `arguments` (the program name first) name that command.
[[nodiscard]] std::optional<int> RunReportCommand(const QStringList &arguments, Console &console);
