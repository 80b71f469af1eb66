#include "JournalCommands.h"

#include "Cli.h"
#include "Console.h"
#include "Journal.h"
#include "JournalHistory.h"

#include <QCommandLineParser>

#include <unistd.h>

static const char kHistoryDescription[] =
    "velqa-cli history: the journal's records, newest first.\n"
    "velqa-cli sync: sends the records that wait for an absent PostgreSQL journal.\n"
    "\n"
    "The journal is the first of: --journal URL, the VELQA_JOURNAL variable, the station's\n"
    "JournalUrl setting, the SQLite file in the user's data folder. URL: sqlite:PATH or\n"
    "postgresql://user@host:port/database.\n"
    "\n"
    "Exit codes: 0 done; 1 the journal cannot be read (sync: records still wait); 2 usage\n"
    "error.";

// The first argument that is neither an option nor an option's value.
static QString commandName(const QStringList &arguments)
{
    static const QStringList withValue{
        QStringLiteral("--journal"),   QStringLiteral("--serial"),  QStringLiteral("--address"),
        QStringLiteral("--operation"), QStringLiteral("--outcome"), QStringLiteral("--since"),
        QStringLiteral("--limit"),     QStringLiteral("--file"),    QStringLiteral("--jobs"),
        QStringLiteral("--junit"),     QStringLiteral("--port")};
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (withValue.contains(argument)) {
            ++i;
            continue;
        }
        if (!argument.startsWith(QLatin1Char('-')))
            return argument;
    }
    return QString();
}

static int usageError(Console &console, const QString &message)
{
    console.writeErr(QStringLiteral("velqa-cli: %1\nTry 'velqa-cli history --help'.\n")
                         .arg(EscapeControls(message)));
    return int(CliExit::UsageError);
}

std::optional<int> RunJournalCommand(const QStringList &arguments, Console &console)
{
    const QString command = commandName(arguments);
    const bool history = command == QLatin1String("history");
    if (!history && command != QLatin1String("sync"))
        return std::nullopt;

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kHistoryDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    const QCommandLineOption journalOption(
        QStringLiteral("journal"), QStringLiteral("The journal to use."), QStringLiteral("URL"));
    const QCommandLineOption serialOption(QStringLiteral("serial"),
                                          QStringLiteral("Only this serial number."),
                                          QStringLiteral("SERIAL"));
    const QCommandLineOption addressOption(QStringLiteral("address"),
                                           QStringLiteral("Only this address, as typed."),
                                           QStringLiteral("ADDRESS"));
    const QCommandLineOption operationOption(
        QStringLiteral("operation"),
        QStringLiteral("Only this operation: %1.").arg(JournalWords::Operations().join(", ")),
        QStringLiteral("OPERATION"));
    const QCommandLineOption outcomeOption(
        QStringLiteral("outcome"),
        QStringLiteral("Only this outcome: %1.").arg(JournalWords::Outcomes().join(", ")),
        QStringLiteral("OUTCOME"));
    const QCommandLineOption sinceOption(
        QStringLiteral("since"),
        QStringLiteral("Only records from this time on: 2024-05-01, 2024-05-01T08:30, with Z or "
                       "+02:00 for a zone (otherwise local time)."),
        QStringLiteral("TIME"));
    const QCommandLineOption limitOption(QStringLiteral("limit"),
                                         QStringLiteral("At most N records (default 100; 0: all)."),
                                         QStringLiteral("N"), QStringLiteral("100"));
    const QCommandLineOption csvOption(QStringLiteral("csv"),
                                       QStringLiteral("Print CSV for a spreadsheet."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Print JSON."));
    parser.addOptions({helpOption, journalOption});
    if (history)
        parser.addOptions({serialOption, addressOption, operationOption, outcomeOption, sinceOption,
                           limitOption, csvOption, jsonOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("history or sync."));

    if (!parser.parse(arguments))
        return usageError(console, parser.errorText());
    if (parser.isSet(helpOption)) {
        console.writeOut(parser.helpText());
        return int(CliExit::AllSucceeded);
    }
    if (parser.positionalArguments().size() > 1)
        return usageError(console, QStringLiteral("%1 takes no targets").arg(command));
    const JournalChoice journal = ChooseJournal(parser.value(journalOption));

    QString out;
    QString err;
    int code = 0;
    if (!history) {
        code = RunSyncCommand(journal.url, QString(), QString(), out, err);
    } else {
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
