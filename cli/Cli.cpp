#include "Cli.h"

#include "Console.h"
#include "ModuleJob.h"
#include "ModuleRunner.h"
#include "Report.h"
#include "Targets.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>

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
    "Every command but scan and discover scans first, as a technician does in the window, and\n"
    "reports the outcome of its own operation; the slots shown are those the scan read.\n"
    "\n"
    "Targets: addresses or host names, IPv4 ranges such as 127.0.0.1-127.0.0.40 or\n"
    "127.0.0.1-40, and --file FILE with targets separated by spaces, commas or lines\n"
    "(\"#\" starts a comment). Each module is run once, in the order given.\n"
    "\n"
    "Output: a table on standard output, or --json (an array with one object per module:\n"
    "address, command, serial, version, slots, outcome, status, errors, duration_ms; plus\n"
    "scan_status, card or loop for the commands that have them). Outcomes: success, no-reply,\n"
    "not-connected, error (the link failed; the message is in errors). --trace prints every\n"
    "send (>) and read (<) on standard error. A progress bar is drawn on standard error when\n"
    "it is a terminal.\n"
    "\n"
    "Exit codes:\n"
    "  0  every module succeeded (discover: at least one module found)\n"
    "  1  some module failed (discover: none found)\n"
    "  2  usage error: unknown command or option, bad target or range, bad number,\n"
    "     unwritable --junit file";

static int usageError(Console &console, const QString &message)
{
    console.writeErr(QStringLiteral("velqa-cli: %1\nTry 'velqa-cli --help'.\n").arg(message));
    return int(CliExit::UsageError);
}

int RunCli(const QStringList &arguments, Console &console)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    const QCommandLineOption fileOption(QStringLiteral("file"),
                                        QStringLiteral("Read targets from FILE; may be repeated."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption jobsOption(
        QStringLiteral("jobs"),
        QStringLiteral("Run at most N modules at once (1 to %1; default %2).")
            .arg(MaxJobs)
            .arg(DefaultJobs),
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
    parser.addOptions({helpOption, fileOption, jobsOption, jsonOption, junitOption, traceOption,
                       slotsOption, portOption, noProgressOption});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("scan, set-test-data, clear, reader-test, "
                                                "loop-test or discover."));
    parser.addPositionalArgument(QStringLiteral("targets"),
                                 QStringLiteral("Addresses, host names or ranges."),
                                 QStringLiteral("[targets...]"));

    if (!parser.parse(arguments))
        return usageError(console, parser.errorText());
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
            QStringLiteral("unknown command \"%1\"").arg(parser.positionalArguments().first()));

    bool ok = false;
    const int jobs = parser.value(jobsOption).toInt(&ok);
    if (!ok || jobs < 1 || jobs > MaxJobs)
        return usageError(console, QStringLiteral("--jobs wants a number from 1 to %1, not \"%2\"")
                                       .arg(MaxJobs)
                                       .arg(parser.value(jobsOption)));
    const int port = parser.value(portOption).toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return usageError(console, QStringLiteral("--port wants a number from 1 to 65535, not "
                                                  "\"%1\"")
                                       .arg(parser.value(portOption)));

    const TargetList targets = ParseTargets(positional, parser.values(fileOption));
    if (!targets.ok())
        return usageError(console, targets.error);

    // Opened before the run, so an unwritable report does not cost a whole run.
    std::optional<QFile> junit;
    if (parser.isSet(junitOption)) {
        junit.emplace(parser.value(junitOption));
        if (!junit->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return usageError(console, QStringLiteral("cannot write \"%1\": %2")
                                           .arg(junit->fileName(), junit->errorString()));
    }

    const QDateTime started = QDateTime::currentDateTime();
    QElapsedTimer clock;
    clock.start();
    JobOptions options;
    options.command = *command;
    options.port = quint16(port);
    if (parser.isSet(traceOption)) {
        options.wire = [&console, &clock](const QString &address,
                                          ModuleLink::WireDirection direction,
                                          const QByteArray &bytes) {
            const QStringList lines = FormatTrace(clock.elapsed(), address, direction, bytes);
            console.writeErr(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        };
    }
    std::function<void(int)> progress;
    if (!parser.isSet(noProgressOption) && console.errIsTerminal()) {
        const int total = int(targets.hosts.size());
        progress = [&console, &clock, total](int done) {
            console.showProgress(done, total, clock.elapsed());
        };
    }

    const QList<ModuleResult> results = RunModules(targets.hosts, options, jobs, progress);
    const qint64 wallMs = clock.elapsed();
    console.endProgress();

    if (parser.isSet(jsonOption))
        console.writeOut(QString::fromUtf8(FormatJson(results, *command)));
    else
        console.writeOut(FormatTable(results, *command, parser.isSet(slotsOption), wallMs));
    if (junit) {
        junit->write(FormatJunit(results, *command, wallMs, started));
        junit->close();
    }

    const bool allSucceeded = std::all_of(results.begin(), results.end(),
                                          [](const ModuleResult &r) { return r.succeeded(); });
    const bool anyFound =
        std::any_of(results.begin(), results.end(), [](const ModuleResult &r) { return r.found; });
    const bool good = *command == CliCommand::Discover ? anyFound : allSucceeded;
    return int(good ? CliExit::AllSucceeded : CliExit::SomeFailed);
}
