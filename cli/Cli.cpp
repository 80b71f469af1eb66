#include "Cli.h"

#include "Console.h"
#include "Escape.h"
#include "FleetCommands.h"
#include "HostResolver.h"
#include "Journal.h"
#include "JournalCommands.h"
#include "ModuleJob.h"
#include "ModuleRunner.h"
#include "OperationRecord.h"
#include "Report.h"
#include "ReportCommand.h"
#include "Targets.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <csignal>
#include <memory>
#include <optional>
#include <vector>

static const char kDescription[] =
    "Runs the module operations of the VELQA Module Config tool without its window, on one or\n"
    "many modules at once, each module with its own link, and reads the journal of\n"
    "operations.\n"
    "\n"
    "Commands:\n"
    "%1"
    "\n"
    "'velqa-cli COMMAND --help' shows a command's options and arguments.\n"
    "\n"
    "Journal: every scan and operation is recorded, as the window records its own (velqa-cli\n"
    "history shows them): in --journal URL, else VELQA_JOURNAL, else the station's JournalUrl\n"
    "setting, else the SQLite file in the user's data folder. --no-journal or\n"
    "VELQA_JOURNAL=off records nothing. A journal that cannot be used is named in one line on\n"
    "standard error and changes no exit code. Discover records nothing.\n"
    "\n"
    "Exit codes (export, plan, apply, history, sync, journal and report: see their own\n"
    "--help; plan ends with 3 when changes are pending):\n"
    "  0  every module succeeded (discover: at least one module found)\n"
    "  1  some module failed (discover: none found)\n"
    "  2  usage error: unknown command or option, bad target or range, bad number,\n"
    "     too many targets; or a report that could not be written (standard output,\n"
    "     --junit file, --trace)\n"
    "  130, 143  interrupted by SIGINT or SIGTERM";

// What the module commands share, below each one's first line in its --help.
static const char kModuleDescription[] =
    "Every command but scan and discover scans first, as a technician does in the window, and\n"
    "reports the outcome of its own operation; the slots shown are those the scan read.\n"
    "\n"
    "Targets: addresses or host names, IPv4 ranges such as 127.0.0.1-127.0.0.40 or\n"
    "127.0.0.1-40, and --file FILE with targets separated by spaces, commas or lines\n"
    "(\"#\" starts a comment). At most 65536 targets in all, each address of a range\n"
    "counted; a host name has at most 255 octets; a target file at most 16 MiB.\n"
    "Each module is run once, in the order given: targets that reach the same address\n"
    "(127.0.0.1 and a name for it) are one module, reported under the first of them, and\n"
    "the merged targets are named on standard error.\n"
    "\n"
    "Output: a table on standard output, or --json (an array with one object per module:\n"
    "address, command, serial, version, slots, outcome, status, errors, duration_ms; plus\n"
    "scan_status, card or loop for the commands that have them). Outcomes: success, no-reply,\n"
    "not-connected, error (the link failed; the message is in errors). --trace prints every\n"
    "send (>) and read (<) on standard error. A progress bar is drawn on standard error when\n"
    "it is a terminal. The table and the trace show control characters as escapes (\\x1b)\n"
    "and cut long fields with \"\u2026\"; JSON keeps every character, a field cut at 4096\n"
    "characters with its full length under \"truncated\".\n"
    "\n"
    "Time: each module gets the window's budgets, measured by the command line's own rules.\n"
    "The wait for the connection ends as soon as it is made or refused (at most 500 ms); a\n"
    "reply wait ends as soon as the reply is there (a command: at most 100 x 10 ms; a raw\n"
    "message is watched 100 x 3 ms in full). Before any wait ends unanswered, what has\n"
    "arrived is read and counted, and the tool's own stalls (a busy processor, many modules\n"
    "at once) move the budgets on: a module is never failed for the tool's lateness, and\n"
    "one that does not answer fails within its budget plus that delay. The pauses between\n"
    "commands (10 ms between slots, 50 ms after the test pattern) are kept, on the clock.\n"
    "\n"
    "Journal: the command's scan and operation are recorded in --journal URL, else\n"
    "VELQA_JOURNAL, else the station's JournalUrl setting, else the SQLite file in the user's\n"
    "data folder; --no-journal records nothing. Discover records nothing. Records a\n"
    "PostgreSQL journal does not take in time wait in its outbox (one line at the end says\n"
    "how many and where) for the next run or velqa-cli sync.\n"
    "\n"
    "Exit codes:\n"
    "  0  every module succeeded (discover: at least one module found)\n"
    "  1  some module failed (discover: none found)\n"
    "  2  usage error: bad option, target, range or number, too many targets; or a report\n"
    "     that could not be written (standard output, --junit file, --trace)\n"
    "  130, 143  interrupted by SIGINT or SIGTERM: no module was started after it; those\n"
    "     already running were finished, recorded and reported (a second signal ends the\n"
    "     program at once)";

QString CliQuoted(QStringView text)
{
    return QLatin1Char('"') + TerminalText(text, 64) + QLatin1Char('"');
}

int CliUsageError(Console &console, const QString &message, const QString &command)
{
    const QString help =
        command.isEmpty() ? QStringLiteral("velqa-cli --help") : "velqa-cli " + command + " --help";
    console.writeErr(QStringLiteral("velqa-cli: %1\nTry '%2'.\n").arg(message, help));
    return int(CliExit::UsageError);
}

// Targets that reach one module are run once; whoever gave them learns which were merged.
void CliNoteMergedTargets(Console &console, const QList<TargetModule> &modules)
{
    int notes = 0;
    int more = 0;
    for (const TargetModule &module : modules) {
        if (module.given < 2)
            continue;
        if (notes == MaxMergeNotes) {
            ++more;
            continue;
        }
        ++notes;
        if (module.texts.size() == 1) {
            console.writeErr(
                QStringLiteral("velqa-cli: %1 given %2 times, run once\n")
                    .arg(CliQuoted(module.texts.first()), QString::number(module.given)));
            continue;
        }
        QStringList texts;
        for (const QString &text : module.texts.mid(0, 4))
            texts << CliQuoted(text);
        if (module.texts.size() > 4)
            texts << QStringLiteral("%1 more").arg(module.texts.size() - 4);
        console.writeErr(QStringLiteral("velqa-cli: %1 reach one module (%2), run once as %3\n")
                             .arg(texts.join(QStringLiteral(", ")), TerminalText(module.host, 64),
                                  CliQuoted(module.texts.first())));
    }
    if (more > 0)
        console.writeErr(
            QStringLiteral("velqa-cli: %1 named more than once, each run once\n")
                .arg(Counted(more, QStringLiteral("more module"), QStringLiteral("more modules"))));
}

// The modules that may run at once, as far as --jobs, the modules given and the open files
// allow: each holds a socket. Asking for more than the most is said, and lowered.
int CliJobsAllowed(Console &console, int jobs, int modules)
{
    if (jobs > MaxJobs) {
        console.writeErr(QStringLiteral("velqa-cli: --jobs %1 is more than the most, %2: "
                                        "running at most %2 modules at once\n")
                             .arg(jobs)
                             .arg(MaxJobs));
        jobs = MaxJobs;
    }
    const int wanted = std::min(jobs, modules);
    const int allowed = JobsWithinDescriptorLimit();
    if (wanted <= allowed)
        return wanted;
    if (allowed == 0) {
        console.writeErr(QStringLiteral("velqa-cli: the limit on open files leaves room for no "
                                        "module's socket: running one module at a time\n"));
        return 1;
    }
    console.writeErr(QStringLiteral("velqa-cli: running %1 at once, not %2: the limit on open "
                                    "files allows no more\n")
                         .arg(Counted(allowed, QStringLiteral("module"), QStringLiteral("modules")),
                              QString::number(wanted)));
    return allowed;
}

// The run's journal, opened before the modules are run; none when it is turned off or the
// command runs no operation. Its troubles go to the error stream as they happen, one line each,
// from the writer's thread (the console takes lines from any thread).
std::unique_ptr<Journal> CliOpenJournal(Console &console, const QString &givenUrl)
{
    const JournalChoice choice = ChooseJournal(givenUrl);
    if (IsJournalOff(choice.url))
        return nullptr;
    auto journal = std::make_unique<Journal>();
    QObject::connect(
        journal.get(), &Journal::problem, journal.get(),
        [&console](const QString &message) {
            console.writeErr(QStringLiteral("velqa-cli: %1\n")
                                 .arg(TerminalText(message.simplified(), MaxJournalNote)));
        },
        Qt::DirectConnection);
    JournalOptions options;
    options.url = choice.url;
    journal->open(options);
    return journal;
}

// The options every module command takes.
QList<QCommandLineOption> CliModuleOptions()
{
    return {
        {QStringLiteral("file"), QStringLiteral("Read targets from FILE; may be repeated."),
         QStringLiteral("FILE")},
        {QStringLiteral("jobs"),
         QStringLiteral("Run at most N modules at once (default %1; at most %2, and fewer when "
                        "the limit on open files allows fewer).")
             .arg(DefaultJobs)
             .arg(MaxJobs),
         QStringLiteral("N"), QString::number(DefaultJobs)},
        {QStringLiteral("json"), QStringLiteral("Print JSON instead of the table.")},
        {QStringLiteral("junit"), QStringLiteral("Also write a JUnit XML report to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("trace"),
         QStringLiteral("Print every exchange on standard error: milliseconds since start, "
                        "address, direction, hex and text.")},
        {QStringLiteral("slots"), QStringLiteral("Show the slot lines under each row.")},
        {QStringLiteral("port"),
         QStringLiteral("Module port (default 5003, the module's own; other ports are for "
                        "simulated modules)."),
         QStringLiteral("PORT"), QString::number(ModuleLink::ModulePort)},
        {QStringLiteral("no-progress"), QStringLiteral("Draw no progress bar.")},
        {QStringLiteral("journal"),
         QStringLiteral("Keep the journal in URL: sqlite:PATH or postgresql://user@host:port/db "
                        "(off: none)."),
         QStringLiteral("URL")},
        {QStringLiteral("no-journal"), QStringLiteral("Record nothing in the journal.")},
    };
}

std::optional<CliRunLimits> CliReadLimits(const CliCall &call)
{
    bool ok = false;
    const QString jobsText = call.parser.value(QStringLiteral("jobs"));
    const int jobs = jobsText.toInt(&ok);
    if (!ok || jobs < 1) {
        CliUsageError(
            call.console,
            QStringLiteral("--jobs wants a number of at least 1, not %1").arg(CliQuoted(jobsText)));
        return std::nullopt;
    }
    const QString portText = call.parser.value(QStringLiteral("port"));
    const int port = portText.toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        CliUsageError(call.console, QStringLiteral("--port wants a number from 1 to 65535, not %1")
                                        .arg(CliQuoted(portText)));
        return std::nullopt;
    }
    return CliRunLimits{jobs, quint16(port)};
}

static int runModuleCommand(CliCommand command, const CliCall &call)
{
    const QCommandLineParser &parser = call.parser;
    Console &console = call.console;
    HostResolver *resolver = call.resolver;
    const auto usageError = [&console](const QString &message) {
        return CliUsageError(console, message);
    };

    const std::optional<CliRunLimits> limits = CliReadLimits(call);
    if (!limits)
        return int(CliExit::UsageError);
    const int jobs = limits->jobs;
    const int port = limits->port;

    const TargetList targets = ParseTargets(call.arguments, parser.values(QStringLiteral("file")));
    if (!targets.ok())
        return usageError(targets.error);

    // Opened before the run, so an unwritable report does not cost a whole run.
    std::optional<QFile> junit;
    if (parser.isSet(QStringLiteral("junit"))) {
        junit.emplace(parser.value(QStringLiteral("junit")));
        if (!junit->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return usageError(QStringLiteral("cannot write %1: %2")
                                  .arg(CliQuoted(junit->fileName()), junit->errorString()));
    }

    const QList<TargetModule> modules =
        GroupByModule(targets.hosts, resolver ? *resolver : systemResolver());
    CliNoteMergedTargets(console, modules);
    QStringList hosts;
    // The trace names each module as the report does.
    QHash<QString, QString> shownAs;
    for (const TargetModule &module : modules) {
        hosts << module.host;
        shownAs.insert(module.host, module.texts.first());
    }
    const int moduleJobs = CliJobsAllowed(console, jobs, int(modules.size()));

    const QDateTime started = QDateTime::currentDateTime();
    QElapsedTimer clock;
    clock.start();
    JobOptions options;
    options.command = command;
    options.port = quint16(port);
    if (parser.isSet(QStringLiteral("trace"))) {
        options.wire = [&console, &clock, &shownAs](const QString &address,
                                                    ModuleLink::WireDirection direction,
                                                    const QByteArray &bytes) {
            const QStringList lines =
                FormatTrace(clock.elapsed(), shownAs.value(address, address), direction, bytes);
            console.writeErr(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        };
    }
    std::unique_ptr<Journal> journal;
    if (!parser.isSet(QStringLiteral("no-journal")) && CommandFor(command).operation)
        journal = CliOpenJournal(console, parser.value(QStringLiteral("journal")));
    if (journal) {
        // From the engine's thread: a record is made and handed to the journal's own thread.
        options.finished = [&store = *journal, &shownAs](const OperationResult &result) {
            JournalRecord record =
                RecordFromResult(result, QString::fromLatin1(JournalWords::SourceCli));
            record.address = shownAs.value(result.address, result.address);
            store.record(record);
        };
    }
    std::function<void(int)> progress;
    if (!parser.isSet(QStringLiteral("no-progress")) && console.errIsTerminal()) {
        const int total = int(hosts.size());
        progress = [&console, &clock, total](int done) {
            console.showProgress(done, total, clock.elapsed());
        };
    }

    options.cancel = &Interruption().requested;
    options.clock = call.clock;
    QList<ModuleResult> results = RunModules(hosts, options, moduleJobs, progress);
    const qint64 wallMs = clock.elapsed();
    console.endProgress();
    for (qsizetype i = 0; i < results.size(); ++i)
        results[i].address = shownAs.value(results[i].address);

    if (parser.isSet(QStringLiteral("json")))
        console.writeOut(QString::fromUtf8(FormatJson(results, command)));
    else
        console.writeOut(
            FormatTable(results, command, parser.isSet(QStringLiteral("slots")), wallMs));
    console.flush();
    QString junitFailure;
    if (junit) {
        const QByteArray xml = FormatJunit(results, command, wallMs, started);
        if (junit->write(xml) != xml.size() || !junit->flush())
            junitFailure = junit->errorString();
        junit->close();
    }
    // What is still queued is written now, or parked within the journal's bounded wait.
    if (journal) {
        journal->close();
        const QString parked = journal->closingNote();
        if (!parked.isEmpty())
            console.writeErr(
                QStringLiteral("velqa-cli: %1\n").arg(TerminalText(parked, MaxJournalNote)));
    }
    // Whoever reads the report must not take a part of it, or none, for the whole.
    bool written = true;
    const auto unwritten = [&console, &written](const QString &what, const QString &why) {
        console.writeErr(QStringLiteral("velqa-cli: cannot write %1: %2\n").arg(what, why));
        written = false;
    };
    if (!console.outFailure().isEmpty())
        unwritten(QStringLiteral("the report to standard output"), console.outFailure());
    if (!junitFailure.isEmpty())
        unwritten(CliQuoted(junit->fileName()), junitFailure);
    if (parser.isSet(QStringLiteral("trace")) && !console.errFailure().isEmpty())
        unwritten(QStringLiteral("the trace to standard error"), console.errFailure());
    if (!written)
        return int(CliExit::UsageError);
    // An interrupted run has reported the modules it started; it says what it left out.
    if (const int signal = Interruption().signal.load()) {
        console.writeErr(
            QStringLiteral("velqa-cli: interrupted by %1: %2 started and reported, "
                           "%3 not started\n")
                .arg(signal == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"))
                .arg(results.size())
                .arg(hosts.size() - results.size()));
        return 128 + signal;
    }

    const bool allSucceeded = std::all_of(results.begin(), results.end(),
                                          [](const ModuleResult &r) { return r.succeeded(); });
    const bool anyFound =
        std::any_of(results.begin(), results.end(), [](const ModuleResult &r) { return r.found; });
    const bool good = command == CliCommand::Discover ? anyFound : allSucceeded;
    return int(good ? CliExit::AllSucceeded : CliExit::SomeFailed);
}

// `line` and then the words, wrapped before column 80 with the lines after the first indented.
static QString wrapped(QString line, const QString &words, int indent)
{
    static constexpr int kWidth = 79;
    QString text;
    bool fresh = true;
    for (const QString &word : words.split(QLatin1Char(' '))) {
        if (!fresh && line.size() + 1 + word.size() > kWidth) {
            text += line + QLatin1Char('\n');
            line = QString(indent, QLatin1Char(' '));
        } else if (!fresh) {
            line += QLatin1Char(' ');
        }
        line += word;
        fresh = false;
    }
    return text + line + QLatin1Char('\n');
}

// Each module command's line in the help.
static QString moduleSummary(CliCommand command)
{
    switch (command) {
    case CliCommand::Scan:
        return QStringLiteral("read serial number (S01), version (V01) and slots G01..G08: "
                              "\"Ok.\" or \"Error!\" (the window's scan without the web page)");
    case CliCommand::SetTestData:
        return QStringLiteral("scan, then write the test pattern into slot 1 (\"Set Data Ok\")");
    case CliCommand::Clear:
        return QStringLiteral("scan, then fill slots 1..8 with asterisks (\"Set Data Ok\")");
    case CliCommand::ReaderTest:
        return QStringLiteral("scan, then ask the card reader for its card (\"Reader Card Ok\")");
    case CliCommand::LoopTest:
        return QStringLiteral("scan, then send the loop message (\"Loop Test Ok\")");
    case CliCommand::Discover:
        return QStringLiteral("list the addresses that answer \"S01\" and \"V01\", with serial "
                              "numbers and versions");
    }
    return QString();
}

const QList<CliCommandRow> &CliCommands()
{
    static const QList<CliCommandRow> rows = [] {
        QList<CliCommandRow> list;
        for (const CommandEntry &entry : CommandTable()) {
            const CliCommand command = entry.command;
            CliCommandRow row;
            row.name = CommandName(command);
            row.summary = moduleSummary(command);
            row.description =
                wrapped(QStringLiteral("velqa-cli %1: ").arg(row.name), row.summary + '.', 0) +
                QLatin1Char('\n') + QString::fromUtf8(kModuleDescription);
            row.options = CliModuleOptions();
            row.argumentsSyntax = QStringLiteral("[targets...]");
            row.argumentsHelp = QStringLiteral("Addresses, host names or ranges.");
            row.run = [command](const CliCall &call) { return runModuleCommand(command, call); };
            list << row;
        }
        list << ExportCommand() << PlanCommand() << ApplyCommand() << HistoryCommand()
             << SyncCommand() << JournalCommand() << ReportCommand();
        return list;
    }();
    return rows;
}

QList<QCommandLineOption> CliGlobalOptions()
{
    return {{{QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Show this help (a command's, after its name) and exit.")},
            {{QStringLiteral("v"), QStringLiteral("version")},
             QStringLiteral("Show the version and exit.")}};
}

// "  scan           read serial number ..." for every command.
static QString commandList()
{
    static constexpr int kIndent = 17;
    QString text;
    for (const CliCommandRow &row : CliCommands())
        text += wrapped(QStringLiteral("  ") + row.name.leftJustified(kIndent - 2), row.summary,
                        kIndent);
    return text;
}

static void prepare(QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QCommandLineOption &option : options)
        parser.addOption(option);
}

static QString optionText(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// Optimal string alignment distance: an insertion, a deletion, a substitution or a swap of two
// neighbours counts one.
static int editDistance(QStringView a, QStringView b)
{
    std::vector<std::vector<int>> d(size_t(a.size()) + 1, std::vector<int>(size_t(b.size()) + 1));
    for (size_t i = 0; i <= size_t(a.size()); ++i)
        d[i][0] = int(i);
    for (size_t j = 0; j <= size_t(b.size()); ++j)
        d[0][j] = int(j);
    for (size_t i = 1; i <= size_t(a.size()); ++i) {
        for (size_t j = 1; j <= size_t(b.size()); ++j) {
            const int cost = a[qsizetype(i) - 1] == b[qsizetype(j) - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[qsizetype(i) - 1] == b[qsizetype(j) - 2] &&
                a[qsizetype(i) - 2] == b[qsizetype(j) - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d.back().back();
}

static QStringView withoutDashes(QStringView word)
{
    while (word.startsWith(u'-'))
        word = word.mid(1);
    return word;
}

// What a mistyped word may have meant, git's way: only close matches, the closest ones (one edit
// off a short word, two off a longer one), else the words it begins. Dashes in front of an
// option's name do not count.
static QString suggestion(const QString &typed, const QStringList &words)
{
    const QString bare = withoutDashes(typed).toString().toLower();
    if (bare.isEmpty() || bare.size() > 64)
        return QString();
    const int limit = bare.size() <= 4 ? 1 : 2;
    QStringList close;
    int best = limit;
    for (const QString &word : words) {
        const int distance = editDistance(bare, withoutDashes(word));
        if (distance > best)
            continue;
        if (distance < best)
            close.clear();
        best = distance;
        close << word;
    }
    if (close.isEmpty() && bare.size() >= 2) {
        for (const QString &word : words) {
            if (withoutDashes(word).startsWith(bare))
                close << word;
        }
    }
    if (close.isEmpty() || close.size() > 3)
        return QString();
    QStringList quotedWords;
    for (const QString &word : close)
        quotedWords << CliQuoted(word);
    return QStringLiteral("; did you mean %1?").arg(quotedWords.join(QStringLiteral(" or ")));
}

// Qt's message for a command line it could not parse, with a suggestion for an unknown option.
static QString parseError(const QCommandLineParser &parser, const QList<QCommandLineOption> &known)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return TerminalText(parser.errorText(), 256);
    QStringList names;
    for (const QCommandLineOption &option : known) {
        for (const QString &name : option.names()) {
            if (name.size() > 1)
                names << optionText(name);
        }
    }
    return QStringLiteral("unknown option %1").arg(CliQuoted(optionText(unknown.first()))) +
           suggestion(optionText(unknown.first()), names);
}

static int printVersion(Console &console)
{
    console.writeOut(QStringLiteral("velqa-cli %1\n").arg(QLatin1String(VELQA_VERSION)));
    return int(CliExit::AllSucceeded);
}

int RunCli(const QStringList &arguments, Console &console, HostResolver *resolver,
           const Clock *clock)
{
    const QList<CliCommandRow> &commands = CliCommands();
    const QList<QCommandLineOption> global = CliGlobalOptions();

    // The first pass only finds the command: with every command's options known, an option's
    // value before the command's name is not taken for it. Errors come from the second pass.
    QCommandLineParser first;
    prepare(first, global);
    QSet<QString> known;
    for (const CliCommandRow &row : commands) {
        for (const QCommandLineOption &option : row.options) {
            if (!known.contains(option.names().first()))
                first.addOption(option);
            known.insert(option.names().first());
        }
    }
    (void)first.parse(arguments);
    if (first.isSet(QStringLiteral("version")))
        return printVersion(console);
    const QStringList firstPositional = first.positionalArguments();

    if (firstPositional.isEmpty()) {
        QCommandLineParser parser;
        prepare(parser, global);
        parser.setApplicationDescription(QString::fromUtf8(kDescription).arg(commandList()));
        parser.addPositionalArgument(QStringLiteral("command"),
                                     QStringLiteral("One of the commands above."));
        parser.addPositionalArgument(QStringLiteral("arguments"),
                                     QStringLiteral("The command's arguments."),
                                     QStringLiteral("[arguments...]"));
        if (!parser.parse(arguments)) {
            QList<QCommandLineOption> every = global;
            for (const CliCommandRow &row : commands)
                every += row.options;
            return CliUsageError(console, parseError(parser, every));
        }
        if (parser.isSet(QStringLiteral("help"))) {
            console.writeOut(parser.helpText());
            return int(CliExit::AllSucceeded);
        }
        return CliUsageError(console, QStringLiteral("no command given"));
    }

    const QString name = firstPositional.first();
    const auto row = std::find_if(commands.begin(), commands.end(),
                                  [&name](const CliCommandRow &r) { return r.name == name; });
    if (row == commands.end()) {
        QStringList names;
        for (const CliCommandRow &r : commands)
            names << r.name;
        return CliUsageError(console, QStringLiteral("unknown command %1").arg(CliQuoted(name)) +
                                          suggestion(name, names));
    }

    QCommandLineParser parser;
    prepare(parser, global + row->options);
    parser.setApplicationDescription(row->description);
    parser.addPositionalArgument(row->name, row->summary, row->name);
    if (!row->argumentsSyntax.isEmpty())
        parser.addPositionalArgument(QStringLiteral("arguments"), row->argumentsHelp,
                                     row->argumentsSyntax);
    if (!parser.parse(arguments))
        return CliUsageError(console, parseError(parser, global + row->options), row->name);
    if (parser.isSet(QStringLiteral("help"))) {
        console.writeOut(parser.helpText());
        return int(CliExit::AllSucceeded);
    }
    QStringList rest = parser.positionalArguments();
    // Both passes agree on the command, as every option's name means the same in all commands.
    if (rest.isEmpty() || rest.takeFirst() != row->name)
        return CliUsageError(console, QStringLiteral("cannot tell the command"), row->name);
    if (row->argumentsSyntax.isEmpty() && !rest.isEmpty())
        return CliUsageError(
            console,
            QStringLiteral("%1 takes no arguments, not %2").arg(row->name, CliQuoted(rest.first())),
            row->name);
    return row->run(CliCall{parser, rest, console, resolver, clock});
}
