#include "JournalCommands.h"

#include "Cli.h"
#include "Console.h"
#include "Escape.h"
#include "FleetPlan.h"
#include "HistoryOutput.h"
#include "Journal.h"
#include "JournalStore.h"
#include "JournalTime.h"
#include "Outbox.h"
#include "Report.h"

#include <QCommandLineParser>

// The operations and outcomes a record may name: the window's and, for plan and apply, the
// fleet's.
static QStringList historyOperations()
{
    return JournalWords::Operations() + FleetOperationNames();
}

static QStringList historyOutcomes()
{
    QStringList outcomes = JournalWords::Outcomes();
    for (const QString &outcome : FleetOutcomeNames()) {
        if (!outcomes.contains(outcome))
            outcomes << outcome;
    }
    return outcomes;
}

static const char kJournalDescription[] =
    "The journal is the first of: --journal URL, the VELQA_JOURNAL variable, the station's\n"
    "JournalUrl setting, the SQLite file in the user's data folder. URL: sqlite:PATH or\n"
    "postgresql://user@host:port/database[?sslmode=...&sslrootcert=...&connect_timeout=...\n"
    "&application_name=...]; the password belongs in ~/.pgpass.\n";

static QCommandLineOption journalOption()
{
    return {QStringLiteral("journal"), QStringLiteral("The journal to use."),
            QStringLiteral("URL")};
}

// The messages quote what was typed, escaped here.
static int usageError(Console &console, const QString &message, const QString &command)
{
    return CliUsageError(console, TerminalText(message, 1024), command);
}

// A journal's own words (file names, server messages) in one line for the error stream.
static void journalError(Console &console, const QString &message)
{
    console.writeErr(
        QStringLiteral("velqa-cli: %1\n").arg(TerminalText(message.simplified(), MaxJournalNote)));
}

static QString records(qint64 n)
{
    return Counted(n, QStringLiteral("record"), QStringLiteral("records"));
}

static int runSync(const CliCall &call)
{
    const JournalLocation location =
        ParseJournalUrl(ChooseJournal(call.parser.value(QStringLiteral("journal"))).url);
    if (location.kind == JournalLocation::Kind::Invalid) {
        journalError(call.console, location.error);
        return int(CliExit::SomeFailed);
    }
    const QString folder = JournalDataFolder();
    const QString file = call.parser.value(QStringLiteral("outbox"));
    const SyncResult result = SyncOutboxes(folder, location, file);
    if (!result.error.isEmpty())
        journalError(call.console, result.error);
    // Journal URLs and file names may hold anything: each is escaped for the terminal.
    const auto shown = [](const QString &text) { return TerminalText(text, MaxJournalNote); };
    QString out;
    for (const SyncedJournal &synced : result.synced) {
        out += QStringLiteral("%1 sent to %2; %3 waiting in %4.\n")
                   .arg(records(synced.sent), shown(synced.journal))
                   .arg(synced.left)
                   .arg(shown(synced.outbox));
        if (!synced.error.isEmpty())
            journalError(call.console, synced.error);
    }
    for (const WaitingOutbox &other : result.others) {
        if (other.journal.isEmpty())
            out += QStringLiteral("%1 parked by an earlier version wait in %2 without the name of "
                                  "their journal: velqa-cli sync --journal URL --outbox %2 sends "
                                  "them to URL.\n")
                       .arg(records(other.records), shown(other.path));
        else
            out += QStringLiteral("%1 wait for another journal, %2, in %3: velqa-cli sync "
                                  "--journal %2 sends them.\n")
                       .arg(records(other.records), shown(other.journal), shown(other.path));
    }
    if (result.synced.isEmpty() && result.others.isEmpty() && result.error.isEmpty())
        out += QStringLiteral("Nothing to send: no records wait in %1.\n").arg(shown(folder));
    call.console.writeOut(out);
    return int(result.ok() ? CliExit::AllSucceeded : CliExit::SomeFailed);
}

static int runHistory(const CliCall &call)
{
    const QCommandLineParser &parser = call.parser;
    Console &console = call.console;
    const QString command = QStringLiteral("history");
    const QString serialOption = QStringLiteral("serial");
    const QString operationOption = QStringLiteral("operation");
    const QString outcomeOption = QStringLiteral("outcome");
    const QString sinceOption = QStringLiteral("since");
    const QString untilOption = QStringLiteral("until");
    const QString limitOption = QStringLiteral("limit");
    const QString csvOption = QStringLiteral("csv");
    const QString jsonOption = QStringLiteral("json");

    JournalFilter filter;
    const QString serial = parser.value(serialOption);
    if (parser.isSet(serialOption)) {
        // Typed as the table and CSV show it: module bytes by the byte rule.
        const std::optional<QByteArray> bytes = UnescapeBytes(serial);
        if (!bytes)
            return usageError(
                console,
                QStringLiteral("--serial: a module sends no \"%1\"; write other bytes as \\xhh")
                    .arg(serial.left(40)),
                command);
        filter.serial = bytes->isNull() ? QByteArray("", 0) : *bytes;
    }
    filter.address = parser.value(QStringLiteral("address"));
    filter.operation = parser.value(operationOption);
    filter.outcome = parser.value(outcomeOption);
    if (parser.isSet(operationOption) && !historyOperations().contains(filter.operation))
        return usageError(console,
                          QStringLiteral("unknown operation \"%1\"").arg(filter.operation.left(40)),
                          command);
    if (parser.isSet(outcomeOption) && !historyOutcomes().contains(filter.outcome))
        return usageError(console,
                          QStringLiteral("unknown outcome \"%1\"").arg(filter.outcome.left(40)),
                          command);
    for (const auto &[option, bound] :
         {std::pair{sinceOption, &filter.since}, std::pair{untilOption, &filter.until}}) {
        if (!parser.isSet(option))
            continue;
        const std::optional<QDateTime> time = ParseTypedTime(parser.value(option));
        if (!time)
            return usageError(console,
                              QStringLiteral("--%1 wants a date or date and time such as "
                                             "2024-05-01T08:30, not \"%2\"")
                                  .arg(option, parser.value(option).left(40)),
                              command);
        *bound = *time;
    }
    bool ok = false;
    filter.limit = parser.value(limitOption).toInt(&ok);
    if (!ok || filter.limit < 0)
        return usageError(console,
                          QStringLiteral("--limit wants a number from 0 up, not \"%1\"")
                              .arg(parser.value(limitOption).left(40)),
                          command);
    if (parser.isSet(csvOption) && parser.isSet(jsonOption))
        return usageError(console, QStringLiteral("--csv and --json do not go together"), command);

    // Opened for reading: nothing is made, migrated or written, and a read that fails anywhere
    // ends the command with its error instead of a part of the list.
    JournalStore store(ParseJournalUrl(ChooseJournal(parser.value(QStringLiteral("journal"))).url));
    std::optional<QList<JournalRecord>> found;
    if (store.open(JournalAccess::Read))
        found = store.read(filter);
    if (!found) {
        journalError(console, store.error());
        return int(store.trouble() == SqlTrouble::Missing ? CliExit::UsageError
                                                          : CliExit::SomeFailed);
    }
    if (parser.isSet(csvOption))
        console.writeOut(QString::fromUtf8(FormatHistoryCsv(*found)));
    else if (parser.isSet(jsonOption))
        console.writeOut(QString::fromUtf8(FormatHistoryJson(*found)));
    else
        console.writeOut(FormatHistoryTable(*found));
    // This user's records that still wait for the journal are not in the list: say so, so
    // that the list is not taken for all there is.
    QString error;
    const std::optional<qint64> waiting = WaitingFor(JournalDataFolder(), store.location(), &error);
    const QString outbox = OutboxPath(JournalDataFolder(), store.location());
    if (!waiting)
        journalError(console, QStringLiteral("cannot read the outbox %1 (%2)").arg(outbox, error));
    else if (*waiting > 0)
        journalError(console, QStringLiteral("not listed: %1 of this user's waiting for this "
                                             "journal in %2; velqa-cli sync sends them.")
                                  .arg(records(*waiting), outbox));
    return int(CliExit::AllSucceeded);
}

static int runJournal(const CliCall &call)
{
    if (call.arguments != QStringList{QStringLiteral("migrate")})
        return usageError(call.console,
                          call.arguments.isEmpty()
                              ? QStringLiteral("journal wants the word migrate")
                              : QStringLiteral("journal wants the word migrate, not \"%1\"")
                                    .arg(call.arguments.join(QLatin1Char(' ')).left(40)),
                          QStringLiteral("journal"));
    JournalStore store(
        ParseJournalUrl(ChooseJournal(call.parser.value(QStringLiteral("journal"))).url));
    if (!store.open(JournalAccess::Write)) {
        journalError(call.console, store.error());
        return int(CliExit::SomeFailed);
    }
    const QString where = TerminalText(store.location().display(), MaxJournalNote);
    QString said;
    if (!store.migrated())
        said = QStringLiteral("The journal %1 is at version %2: nothing to do.\n")
                   .arg(where)
                   .arg(store.versionFound());
    else if (store.versionFound() == 0)
        said = QStringLiteral("The journal %1 was made, at version %2.\n")
                   .arg(where)
                   .arg(JournalSchemaVersion);
    else
        said = QStringLiteral("The journal %1 was brought from version %2 to version %3.\n")
                   .arg(where)
                   .arg(store.versionFound())
                   .arg(JournalSchemaVersion);
    call.console.writeOut(said);
    return int(CliExit::AllSucceeded);
}

CliCommandRow HistoryCommand()
{
    CliCommandRow row;
    row.name = QStringLiteral("history");
    row.summary = QStringLiteral("the journal's records, newest first");
    row.description =
        QStringLiteral("velqa-cli history: the journal's records, newest first.\n\n") +
        QString::fromLatin1(kJournalDescription) +
        QStringLiteral(
            "History only reads: it makes, migrates and changes nothing, and reads an archive\n"
            "the user may not write. The table shows local times with their offset from UTC;\n"
            "CSV and JSON give times in UTC (ISO 8601, Z). Module bytes appear as in the\n"
            "table: \\xhh for a byte outside printable ASCII, \\\\ for a backslash (--serial\n"
            "takes them so); CSV is UTF-8 with a byte-order mark, each cell that starts with\n"
            "= + - @ or ' led by one '.\n"
            "\n"
            "Exit codes: 0 done; 1 the journal cannot be read; 2 usage error, or no journal\n"
            "at that path.");
    row.options = {
        journalOption(),
        {QStringLiteral("serial"), QStringLiteral("Only this serial number."),
         QStringLiteral("SERIAL")},
        {QStringLiteral("address"), QStringLiteral("Only this address, as typed."),
         QStringLiteral("ADDRESS")},
        {QStringLiteral("operation"),
         QStringLiteral("Only this operation: %1.").arg(historyOperations().join(", ")),
         QStringLiteral("OPERATION")},
        {QStringLiteral("outcome"),
         QStringLiteral("Only this outcome: %1.").arg(historyOutcomes().join(", ")),
         QStringLiteral("OUTCOME")},
        {QStringLiteral("since"),
         QStringLiteral("Only records from this time on: 2024-05-01, 2024-05-01T08:30, with Z or "
                        "+02:00 for a zone (otherwise local time)."),
         QStringLiteral("TIME")},
        {QStringLiteral("until"),
         QStringLiteral("Only records before this time, written as for --since."),
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
    row.summary =
        QStringLiteral("send the records that wait for a journal that could not take them");
    row.description =
        QStringLiteral(
            "velqa-cli sync: sends the records that wait for a journal that could not "
            "take them\n(a PostgreSQL server away, a SQLite file locked or damaged).\n\n") +
        QString::fromLatin1(kJournalDescription) +
        QStringLiteral(
            "Records wait in the user's data folder, in an outbox of their own journal, and go\n"
            "only there. With a PostgreSQL journal, sync sends that journal's records and names\n"
            "the others that wait; with a local one, it sends each journal's records to that\n"
            "journal.\n"
            "--outbox FILE sends the records of that file to the journal given (an outbox of an\n"
            "earlier version names no journal).\n"
            "\n"
            "Exit codes: 0 done; 1 records still wait for a journal it sent to; 2 usage error.");
    row.options = {journalOption(),
                   {QStringLiteral("outbox"),
                    QStringLiteral("Send the records of this outbox file to the journal given."),
                    QStringLiteral("FILE")}};
    row.run = runSync;
    return row;
}

CliCommandRow JournalCommand()
{
    CliCommandRow row;
    row.name = QStringLiteral("journal");
    row.summary = QStringLiteral("journal migrate: make or update the journal's tables (as "
                                 "their owner)");
    row.description =
        QStringLiteral("velqa-cli journal migrate: makes the journal's tables, or brings older "
                       "ones to this\nversion, when needed. On a shared PostgreSQL journal the "
                       "owner runs it once;\nstations that may only add and read records do "
                       "not migrate.\n\n") +
        QString::fromLatin1(kJournalDescription) +
        QStringLiteral("\nExit codes: 0 done; 1 the journal cannot be opened or migrated; 2 usage "
                       "error.");
    row.options = {journalOption()};
    row.argumentsSyntax = QStringLiteral("migrate");
    row.argumentsHelp = QStringLiteral("What to do with the journal.");
    row.run = runJournal;
    return row;
}
