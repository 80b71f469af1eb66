#include "Cli.h"

#include "Console.h"
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

#include <memory>
#include <optional>

static const char kDescription[] =
    "Runs the module operations of the VELQA Module Config tool without its window, on one or\n"
    "many modules at once, each module in its own thread with its own link.\n"
    "\n"
    "Commands:\n"
    "  scan           connect, read serial number (S01), version (V01) and slots G01..G08;\n"
    "                 status \"Ok.\" or \"Error!\" (the window's scan without the web page)\n"
    "  set-test-data  scan, then write the test pattern into slot 1 (\"Set Data Ok\")\n"
    "  clear          scan, then fill slots 1..8 with asterisks (\"Set Data Ok\")\n"
    "  reader-test    scan, then ask the card reader for the card number (\"Reader Card Ok\")\n"
    "  loop-test      scan, then send the loop message (\"Loop Test Ok\")\n"
    "  discover       list the addresses that answer \"S01\" and \"V01\", with serial numbers\n"
    "                 and versions\n"
    "  history        the journal's records, newest first (velqa-cli history --help)\n"
    "  sync           send the records that wait for an absent PostgreSQL journal\n"
    "velqa-cli --version prints the program's version.\n"
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
    "Journal: every scan and operation is recorded, as the window records its own (velqa-cli\n"
    "history shows them): in --journal URL, else VELQA_JOURNAL, else the station's JournalUrl\n"
    "setting, else the SQLite file in the user's data folder. --no-journal or\n"
    "VELQA_JOURNAL=off records nothing. A journal that cannot be used is named in one line on\n"
    "standard error and changes no exit code. Discover records nothing.\n"
    "\n"
    "Exit codes:\n"
    "  0  every module succeeded (discover: at least one module found)\n"
    "  1  some module failed (discover: none found)\n"
    "  2  usage error: unknown command or option, bad target or range, bad number,\n"
    "     too many targets; or a report that could not be written (standard output,\n"
    "     --junit file, --trace)";

static QString quoted(const QString &text)
{
    return QLatin1Char('"') + EscapedText(text, 64) + QLatin1Char('"');
}

static int usageError(Console &console, const QString &message)
{
    console.writeErr(QStringLiteral("velqa-cli: %1\nTry 'velqa-cli --help'.\n").arg(message));
    return int(CliExit::UsageError);
}

// Targets that reach one module are run once; whoever gave them learns which were merged.
static void noteMergedTargets(Console &console, const QList<TargetModule> &modules)
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
            console.writeErr(QStringLiteral("velqa-cli: %1 given %2 times, run once\n")
                                 .arg(quoted(module.texts.first()), QString::number(module.given)));
            continue;
        }
        QStringList texts;
        for (const QString &text : module.texts.mid(0, 4))
            texts << quoted(text);
        if (module.texts.size() > 4)
            texts << QStringLiteral("%1 more").arg(module.texts.size() - 4);
        console.writeErr(QStringLiteral("velqa-cli: %1 reach one module (%2), run once as %3\n")
                             .arg(texts.join(QStringLiteral(", ")), EscapedText(module.host, 64),
                                  quoted(module.texts.first())));
    }
    if (more > 0)
        console.writeErr(
            QStringLiteral("velqa-cli: %1 more modules named more than once, each run once\n")
                .arg(more));
}

// The threads that `wanted` modules at once would take, as far as the open files allow; a
// thread more would end the program when its event dispatcher finds no descriptor.
static int jobsAllowed(Console &console, int wanted)
{
    const int allowed = std::min(MaxJobs, JobsWithinDescriptorLimit());
    if (wanted <= allowed)
        return wanted;
    if (allowed == 0) {
        console.writeErr(QStringLiteral("velqa-cli: the limit on open files leaves room for no "
                                        "module thread: running one module at a time\n"));
    } else {
        console.writeErr(QStringLiteral("velqa-cli: running %1 modules at once, not %2: %3\n")
                             .arg(QString::number(allowed), QString::number(wanted),
                                  allowed == MaxJobs
                                      ? QStringLiteral("the most --jobs allows")
                                      : QStringLiteral("the limit on open files allows no more")));
    }
    return allowed;
}

// The run's journal, opened before the modules are run; none when it is turned off or the
// command runs no operation. Its troubles go to the error stream as they happen, one line each,
// from the writer's thread (the console takes lines from any thread).
static std::unique_ptr<Journal> openJournal(Console &console, const QString &givenUrl)
{
    const JournalChoice choice = ChooseJournal(givenUrl);
    if (IsJournalOff(choice.url))
        return nullptr;
    auto journal = std::make_unique<Journal>();
    QObject::connect(
        journal.get(), &Journal::problem, journal.get(),
        [&console](const QString &message) {
            console.writeErr(QStringLiteral("velqa-cli: %1\n")
                                 .arg(EscapedText(message.simplified(), MaxJournalNote)));
        },
        Qt::DirectConnection);
    JournalOptions options;
    options.url = choice.url;
    journal->open(options);
    return journal;
}

int RunCli(const QStringList &arguments, Console &console, HostResolver *resolver)
{
    if (const std::optional<int> code = RunJournalCommand(arguments, console))
        return *code;
    if (const std::optional<int> code = RunReportCommand(arguments, console))
        return *code;

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    const QCommandLineOption fileOption(QStringLiteral("file"),
                                        QStringLiteral("Read targets from FILE; may be repeated."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption jobsOption(
        QStringLiteral("jobs"),
        QStringLiteral("Run at most N modules at once (default %1; at most %2, and fewer when "
                       "the limit on open files allows fewer).")
            .arg(DefaultJobs)
            .arg(MaxJobs),
        QStringLiteral("N"), QString::number(DefaultJobs));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print JSON instead of the table."));
    const QCommandLineOption junitOption(QStringLiteral("junit"),
                                         QStringLiteral("Also write a JUnit XML report to FILE."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption traceOption(
        QStringLiteral("trace"),
        QStringLiteral("Print every exchange on standard error: milliseconds since start, "
                       "address, direction, hex and text."));
    const QCommandLineOption slotsOption(QStringLiteral("slots"),
                                         QStringLiteral("Show the slot lines under each row."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Module port (default 5003, the module's own; other ports are for "
                       "simulated modules)."),
        QStringLiteral("PORT"), QString::number(ModuleLink::ModulePort));
    const QCommandLineOption noProgressOption(QStringLiteral("no-progress"),
                                              QStringLiteral("Draw no progress bar."));
    const QCommandLineOption journalOption(
        QStringLiteral("journal"),
        QStringLiteral("Keep the journal in URL: sqlite:PATH or postgresql://user@host:port/db "
                       "(off: none)."),
        QStringLiteral("URL"));
    const QCommandLineOption noJournalOption(QStringLiteral("no-journal"),
                                             QStringLiteral("Record nothing in the journal."));
    parser.addOptions({helpOption, fileOption, jobsOption, jsonOption, junitOption, traceOption,
                       slotsOption, portOption, noProgressOption, journalOption, noJournalOption});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("scan, set-test-data, clear, reader-test, "
                                                "loop-test or discover."));
    parser.addPositionalArgument(QStringLiteral("targets"),
                                 QStringLiteral("Addresses, host names or ranges."),
                                 QStringLiteral("[targets...]"));

    if (!parser.parse(arguments))
        return usageError(console, EscapedText(parser.errorText(), 256));
    if (parser.isSet(helpOption)) {
        console.writeOut(parser.helpText());
        return int(CliExit::AllSucceeded);
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(console, QStringLiteral("no command given"));
    const std::optional<CliCommand> command = CommandNamed(positional.takeFirst());
    if (!command)
        return usageError(
            console,
            QStringLiteral("unknown command %1").arg(quoted(parser.positionalArguments().first())));

    bool ok = false;
    const int jobs = parser.value(jobsOption).toInt(&ok);
    if (!ok || jobs < 1)
        return usageError(console, QStringLiteral("--jobs wants a number of at least 1, not %1")
                                       .arg(quoted(parser.value(jobsOption))));
    const int port = parser.value(portOption).toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return usageError(console, QStringLiteral("--port wants a number from 1 to 65535, not %1")
                                       .arg(quoted(parser.value(portOption))));

    const TargetList targets = ParseTargets(positional, parser.values(fileOption));
    if (!targets.ok())
        return usageError(console, targets.error);

    // Opened before the run, so an unwritable report does not cost a whole run.
    std::optional<QFile> junit;
    if (parser.isSet(junitOption)) {
        junit.emplace(parser.value(junitOption));
        if (!junit->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return usageError(console, QStringLiteral("cannot write %1: %2")
                                           .arg(quoted(junit->fileName()), junit->errorString()));
    }

    const QList<TargetModule> modules =
        GroupByModule(targets.hosts, resolver ? *resolver : systemResolver());
    noteMergedTargets(console, modules);
    QStringList hosts;
    // The trace names each module as the report does.
    QHash<QString, QString> shownAs;
    for (const TargetModule &module : modules) {
        hosts << module.host;
        shownAs.insert(module.host, module.texts.first());
    }
    const int moduleJobs = jobsAllowed(console, std::min(jobs, int(modules.size())));

    const QDateTime started = QDateTime::currentDateTime();
    QElapsedTimer clock;
    clock.start();
    JobOptions options;
    options.command = *command;
    options.port = quint16(port);
    options.resolver = resolver;
    if (parser.isSet(traceOption)) {
        options.wire = [&console, &clock, &shownAs](const QString &address,
                                                    ModuleLink::WireDirection direction,
                                                    const QByteArray &bytes) {
            const QStringList lines =
                FormatTrace(clock.elapsed(), shownAs.value(address, address), direction, bytes);
            console.writeErr(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        };
    }
    std::unique_ptr<Journal> journal;
    if (!parser.isSet(noJournalOption) && CommandFor(*command).operation)
        journal = openJournal(console, parser.value(journalOption));
    if (journal) {
        // From the module threads: a record is made and handed to the journal's own thread.
        options.finished = [&store = *journal, &shownAs](const OperationResult &result) {
            JournalRecord record =
                RecordFromResult(result, QString::fromLatin1(JournalWords::SourceCli));
            record.address = shownAs.value(result.address, result.address);
            store.record(record);
        };
    }
    std::function<void(int)> progress;
    if (!parser.isSet(noProgressOption) && console.errIsTerminal()) {
        const int total = int(hosts.size());
        progress = [&console, &clock, total](int done) {
            console.showProgress(done, total, clock.elapsed());
        };
    }

    QList<ModuleResult> results = RunModules(hosts, options, moduleJobs, progress);
    const qint64 wallMs = clock.elapsed();
    console.endProgress();
    for (qsizetype i = 0; i < results.size(); ++i)
        results[i].address = modules[i].texts.first();

    if (parser.isSet(jsonOption))
        console.writeOut(QString::fromUtf8(FormatJson(results, *command)));
    else
        console.writeOut(FormatTable(results, *command, parser.isSet(slotsOption), wallMs));
    console.flush();
    QString junitFailure;
    if (junit) {
        const QByteArray xml = FormatJunit(results, *command, wallMs, started);
        if (junit->write(xml) != xml.size() || !junit->flush())
            junitFailure = junit->errorString();
        junit->close();
    }
    // What is still queued is written now, within the journal's bounded wait.
    if (journal)
        journal->close();
    // Whoever reads the report must not take a part of it, or none, for the whole.
    bool written = true;
    const auto unwritten = [&console, &written](const QString &what, const QString &why) {
        console.writeErr(QStringLiteral("velqa-cli: cannot write %1: %2\n").arg(what, why));
        written = false;
    };
    if (!console.outFailure().isEmpty())
        unwritten(QStringLiteral("the report to standard output"), console.outFailure());
    if (!junitFailure.isEmpty())
        unwritten(quoted(junit->fileName()), junitFailure);
    if (parser.isSet(traceOption) && !console.errFailure().isEmpty())
        unwritten(QStringLiteral("the trace to standard error"), console.errFailure());
    if (!written)
        return int(CliExit::UsageError);

    const bool allSucceeded = std::all_of(results.begin(), results.end(),
                                          [](const ModuleResult &r) { return r.succeeded(); });
    const bool anyFound =
        std::any_of(results.begin(), results.end(), [](const ModuleResult &r) { return r.found; });
    const bool good = *command == CliCommand::Discover ? anyFound : allSucceeded;
    return int(good ? CliExit::AllSucceeded : CliExit::SomeFailed);
}
