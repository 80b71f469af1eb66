#include "JournalCommands.h"

#include "Cli.h"
#include "Console.h"
#include "Escape.h"
#include "Journal.h"
#include "JournalHistory.h"

#include <QCommandLineParser>

#include <unistd.h>

static const char kJournalDescription[] =
    "The journal is the first of: --journal URL, the VELQA_JOURNAL variable, the station's\n"
    "JournalUrl setting, the SQLite file in the user's data folder. URL: sqlite:PATH or\n"
    "postgresql://user@host:port/database.\n"
    "\n"
    "Exit codes: 0 done; 1 the journal cannot be read (sync: records still wait); 2 usage\n"
    "error.";

static QCommandLineOption journalOption()
{
    return {QStringLiteral("journal"), QStringLiteral("The journal to use."),
            QStringLiteral("URL")};
}

// The messages quote what was typed, escaped here.
static int usageError(Console &console, const QString &message)
{
    return CliUsageError(console, TerminalText(message, 1024), QStringLiteral("history"));
}

static int runSync(const CliCall &call)
{
    const JournalChoice journal = ChooseJournal(call.parser.value(QStringLiteral("journal")));
    QString out;
    QString err;
    const int code = RunSyncCommand(journal.url, QString(), out, err);
    call.console.writeOut(out);
    if (!err.isEmpty())
        call.console.writeErr(err);
    return code;
}

static int runHistory(const CliCall &call)
{
    const QCommandLineParser &parser = call.parser;
    Console &console = call.console;
    const JournalChoice journal = ChooseJournal(parser.value(QStringLiteral("journal")));
    const QString serialOption = QStringLiteral("serial");
    const QString addressOption = QStringLiteral("address");
    const QString operationOption = QStringLiteral("operation");
    const QString outcomeOption = QStringLiteral("outcome");
    const QString sinceOption = QStringLiteral("since");
    const QString limitOption = QStringLiteral("limit");
    const QString csvOption = QStringLiteral("csv");
    const QString jsonOption = QStringLiteral("json");

    QString out;
    QString err;
    int code = 0;
    {
        HistoryOptions options;
        const QString serial = parser.value(serialOption);
        if (parser.isSet(serialOption)) {
            for (const QChar c : serial) {
                if (c.unicode() > 0xff)
                    return usageError(console,
                                      QStringLiteral("--serial: a module sends no \"%1\"").arg(c));
            }
            options.filter.serial = serial.toLatin1();
        }
        options.filter.address = parser.value(addressOption);
        options.filter.operation = parser.value(operationOption);
        options.filter.outcome = parser.value(outcomeOption);
        if (parser.isSet(operationOption) &&
            !JournalWords::Operations().contains(options.filter.operation))
            return usageError(
                console,
                QStringLiteral("unknown operation \"%1\"").arg(options.filter.operation.left(40)));
        if (parser.isSet(outcomeOption) &&
            !JournalWords::Outcomes().contains(options.filter.outcome))
            return usageError(
                console,
                QStringLiteral("unknown outcome \"%1\"").arg(options.filter.outcome.left(40)));
        if (parser.isSet(sinceOption)) {
            const std::optional<QDateTime> since = ParseSince(parser.value(sinceOption));
            if (!since)
                return usageError(console, QStringLiteral("--since wants a date or date and time "
                                                          "such as 2024-05-01T08:30, not \"%1\"")
                                               .arg(parser.value(sinceOption).left(40)));
            options.filter.since = *since;
        }
        bool ok = false;
        options.filter.limit = parser.value(limitOption).toInt(&ok);
        if (!ok || options.filter.limit < 0)
            return usageError(console, QStringLiteral("--limit wants a number from 0 up, not "
                                                      "\"%1\"")
                                           .arg(parser.value(limitOption).left(40)));
        if (parser.isSet(csvOption) && parser.isSet(jsonOption))
            return usageError(console, QStringLiteral("--csv and --json do not go together"));
        options.format = parser.isSet(csvOption)    ? HistoryFormat::Csv
                         : parser.isSet(jsonOption) ? HistoryFormat::Json
                                                    : HistoryFormat::Table;
        options.terminal = isatty(STDOUT_FILENO) == 1;
        code = RunHistoryCommand(journal.url, options, out, err);
    }
    console.writeOut(out);
    if (!err.isEmpty())
        console.writeErr(err);
    return code;
}

CliCommandRow HistoryCommand()
{
    CliCommandRow row;
    row.name = QStringLiteral("history");
    row.summary = QStringLiteral("the journal's records, newest first");
    row.description =
        QStringLiteral("velqa-cli history: the journal's records, newest first.\n\n") +
        QString::fromLatin1(kJournalDescription);
    row.options = {
        journalOption(),
        {QStringLiteral("serial"), QStringLiteral("Only this serial number."),
         QStringLiteral("SERIAL")},
        {QStringLiteral("address"), QStringLiteral("Only this address, as typed."),
         QStringLiteral("ADDRESS")},
        {QStringLiteral("operation"),
         QStringLiteral("Only this operation: %1.").arg(JournalWords::Operations().join(", ")),
         QStringLiteral("OPERATION")},
        {QStringLiteral("outcome"),
         QStringLiteral("Only this outcome: %1.").arg(JournalWords::Outcomes().join(", ")),
         QStringLiteral("OUTCOME")},
        {QStringLiteral("since"),
         QStringLiteral("Only records from this time on: 2024-05-01, 2024-05-01T08:30, with Z or "
                        "+02:00 for a zone (otherwise local time)."),
         QStringLiteral("TIME")},
        {QStringLiteral("limit"), QStringLiteral("At most N records (default 100; 0: all)."),
         QStringLiteral("N"), QStringLiteral("100")},
        {QStringLiteral("csv"), QStringLiteral("Print CSV for a spreadsheet.")},
        {QStringLiteral("json"), QStringLiteral("Print JSON.")},
    };
    row.run = runHistory;
    return row;
}

CliCommandRow SyncCommand()
{
    CliCommandRow row;
    row.name = QStringLiteral("sync");
    row.summary = QStringLiteral("send the records that wait for an absent PostgreSQL journal");
    row.description = QStringLiteral("velqa-cli sync: sends the records that wait for an absent "
                                     "PostgreSQL journal.\n\n") +
                      QString::fromLatin1(kJournalDescription);
    row.options = {journalOption()};
    row.run = runSync;
    return row;
}
