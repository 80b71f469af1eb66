#include "FleetCommands.h"

#include "Console.h"
#include "Escape.h"
#include "FleetPlan.h"
#include "FleetReport.h"
#include "HostResolver.h"
#include "Journal.h"
#include "ModuleRunner.h"
#include "OperationRecord.h"
#include "PlanFile.h"
#include "Targets.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QSet>

#include <memory>
#include <optional>

static const char kExportDescription[] =
    "velqa-cli export: scans the modules and prints their state as a plan file.\n"
    "\n"
    "CSV (UTF-8 with a byte-order mark) with the header\n"
    "address,serial,version,slot1,slot2,slot3,slot4,slot5,slot6,slot7,slot8 and one row per\n"
    "module that answered; a slot cell holds the 32 characters read. Module bytes are written\n"
    "by the byte rule (a backslash as \\\\, a byte outside printable ASCII as \\xhh) and a cell\n"
    "that starts with =, +, -, @ or ' gets one ' in front, so a spreadsheet runs no formula;\n"
    "plan and apply undo both, so export, then apply of that same file, changes nothing.\n"
    "--json prints an array of objects with the same keys instead (every byte as it is, null\n"
    "where the module sent nothing). Modules that did not answer are named on standard error.\n"
    "The scans are recorded in the journal as the scan command's are.\n"
    "\n"
    "Exit codes: 0 every module answered; 1 some did not; 2 usage error or a report that\n"
    "could not be written; 130 or 143 interrupted by SIGINT or SIGTERM.";

static const char kPlanFileHelp[] =
    "A plan is CSV with a header line, or JSON, as export writes them: a key column, serial\n"
    "(preferred: the module's identity) or address, and any of slot1..slot8; version is\n"
    "informational. With serial as the key, an address column says where to look for each\n"
    "module when no targets are given (the module there must answer with that serial number);\n"
    "with targets, the modules are found by scanning them and matching their serial numbers.\n"
    "An empty or missing cell leaves the slot as it is. Cells are read by the rules export\n"
    "writes with (one leading ' dropped, \\\\ and \\xhh undone). A value to be written is 1 to\n"
    "32 printable ASCII characters (0x20..0x7E), a shorter one padded to 32 with spaces; a\n"
    "slot that already holds it (the same bytes, or the value padded) is never written. A cell\n"
    "with another byte is only accepted as export writes it (32 bytes): it is never written,\n"
    "and a module whose slot holds something else ends drifted.\n"
    "\n"
    "The whole file is checked before anything is sent: an unknown column, a duplicate key, a\n"
    "bad value, a bad CSV quote, an empty file or one over 16 MiB is a usage error that names\n"
    "the line and column, and nothing is sent to any module.\n";

static const char kPlanDescription[] =
    "velqa-cli plan: finds the plan's modules, reads their slots and shows what apply would\n"
    "change, slot by slot (current -> desired), and a summary. It writes nothing to any module.\n"
    "--out FILE saves the reviewed plan with what each module held (held_slot1..held_slot8);\n"
    "apply of that file writes a module only while it still holds what the plan saw, else the\n"
    "module ends drifted and nothing is written to it.\n"
    "\n"
    "%1\n"
    "Outcomes: pending (slots to write), unchanged, not-found (no module answered with the\n"
    "row's serial number), ambiguous (more than one did), drifted, no-reply, not-connected,\n"
    "error (the link failed), not-started (interrupted).\n"
    "\n"
    "Exit codes, the first that applies of: 2 usage error or a bad plan; 1 a planned module\n"
    "could not be read or was not found; 3 changes pending; 0 nothing to change. 130 or 143:\n"
    "interrupted by SIGINT or SIGTERM.";

// The options of the module commands that these commands take.
static QList<QCommandLineOption> fleetOptions(const QStringList &leftOut)
{
    QList<QCommandLineOption> options;
    for (const QCommandLineOption &option : CliModuleOptions()) {
        if (!leftOut.contains(option.names().first()))
            options << option;
    }
    return options;
}

namespace {

// How a run finds and names its modules: hosts to scan, each named as given, and for a plan
// whose rows give the addresses, the row each host is.
struct Located
{
    QStringList hosts;
    QStringList shown;
    QList<int> rows;
};

// What the three commands share: the limits, the journal, the trace and the progress bar.
class FleetRun
{
public:
    explicit FleetRun(const CliCall &call) : m_call(call) { m_clock.start(); }

    // False after a usage error.
    bool prepare()
    {
        const std::optional<CliRunLimits> limits = CliReadLimits(m_call);
        if (!limits)
            return false;
        m_limits = *limits;
        return true;
    }

    [[nodiscard]] Console &console() const { return m_call.console; }
    [[nodiscard]] const QCommandLineParser &parser() const { return m_call.parser; }
    [[nodiscard]] HostResolver &resolver() const
    {
        return m_call.resolver ? *m_call.resolver : systemResolver();
    }
    [[nodiscard]] bool isSet(const char *option) const
    {
        return m_call.parser.isSet(QLatin1String(option));
    }
    [[nodiscard]] qint64 elapsed() const { return m_clock.elapsed(); }

    std::optional<QList<TargetModule>> targets(const QStringList &texts)
    {
        const TargetList list = ParseTargets(texts, m_call.parser.values(QStringLiteral("file")));
        if (!list.ok()) {
            CliUsageError(console(), list.error);
            return std::nullopt;
        }
        QList<TargetModule> modules = GroupByModule(list.hosts, resolver());
        CliNoteMergedTargets(console(), modules);
        return modules;
    }

    void openJournal()
    {
        if (!isSet("no-journal"))
            m_journal = CliOpenJournal(console(), m_call.parser.value(QStringLiteral("journal")));
    }

    // Scans every host; with `record`, each scan goes to the journal as the scan command's.
    QList<OperationResult> scan(const Located &located, bool record)
    {
        QHash<QString, QString> shownAs;
        for (qsizetype i = 0; i < located.hosts.size(); ++i)
            shownAs.insert(located.hosts[i], located.shown[i]);
        JobOptions options;
        options.command = CliCommand::Scan;
        options.port = m_limits.port;
        options.clock = m_call.clock;
        if (isSet("trace")) {
            options.wire = [this, shownAs](const QString &address,
                                           ModuleLink::WireDirection direction,
                                           const QByteArray &bytes) {
                const QStringList lines =
                    FormatTrace(elapsed(), shownAs.value(address, address), direction, bytes);
                console().writeErr(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
            };
        }
        if (record && m_journal) {
            options.finished = [&store = *m_journal, shownAs](const OperationResult &result) {
                JournalRecord journalRecord =
                    RecordFromResult(result, QString::fromLatin1(JournalWords::SourceCli));
                journalRecord.address = shownAs.value(result.address, result.address);
                store.record(journalRecord);
            };
        }
        std::function<void(int)> progress;
        if (!isSet("no-progress") && console().errIsTerminal()) {
            const int total = int(located.hosts.size());
            progress = [this, total](int done) { console().showProgress(done, total, elapsed()); };
        }
        const int jobs = CliJobsAllowed(console(), m_limits.jobs, int(located.hosts.size()));
        const QList<ModuleResult> results = RunModules(located.hosts, options, jobs, progress);
        console().endProgress();
        QList<OperationResult> scans;
        for (const ModuleResult &result : results)
            scans << scanOf(result);
        return scans;
    }

    // Ends the run: the journal written, and a report that could not be written reported.
    [[nodiscard]] bool finish(const QString &junitFailure = QString(),
                              const QString &junitName = QString())
    {
        if (m_journal)
            m_journal->close();
        bool written = true;
        const auto unwritten = [this, &written](const QString &what, const QString &why) {
            console().writeErr(QStringLiteral("velqa-cli: cannot write %1: %2\n").arg(what, why));
            written = false;
        };
        if (!console().outFailure().isEmpty())
            unwritten(QStringLiteral("the report to standard output"), console().outFailure());
        if (!junitFailure.isEmpty())
            unwritten(CliQuoted(junitName), junitFailure);
        if (isSet("trace") && !console().errFailure().isEmpty())
            unwritten(QStringLiteral("the trace to standard error"), console().errFailure());
        return written;
    }

private:
    // The scan as the module's run reported it, in the module's bytes again.
    static OperationResult scanOf(const ModuleResult &result)
    {
        const auto bytes = [](const QString &text) {
            return text.isNull() ? QByteArray() : text.toLatin1();
        };
        OperationResult scan;
        scan.operation = Operation::Scan;
        scan.address = result.address;
        scan.outcome = result.outcome;
        scan.status = result.status;
        scan.serial = bytes(result.serial);
        scan.version = bytes(result.version);
        for (const SlotLine &line : result.slotLines)
            scan.slotsRead << SlotRead{line.slot, bytes(line.data)};
        scan.errors = result.errors;
        scan.durationMs = result.durationMs;
        return scan;
    }

    const CliCall &m_call;
    CliRunLimits m_limits;
    QElapsedTimer m_clock;
    std::unique_ptr<Journal> m_journal;
};

} // namespace

static int runExport(const CliCall &call)
{
    FleetRun run(call);
    if (!run.prepare())
        return int(CliExit::UsageError);
    const std::optional<QList<TargetModule>> modules = run.targets(call.arguments);
    if (!modules)
        return int(CliExit::UsageError);
    Located located;
    for (const TargetModule &module : *modules) {
        located.hosts << module.host;
        located.shown << module.texts.first();
    }
    run.openJournal();
    const QList<OperationResult> scans = run.scan(located, true);

    QList<ExportedModule> rows;
    for (qsizetype i = 0; i < scans.size(); ++i) {
        if (scans[i].outcome == Outcome::Success) {
            rows << ExportedModule{located.shown[i], scans[i]};
            continue;
        }
        run.console().writeErr(
            QStringLiteral("velqa-cli: %1: %2, not exported%3\n")
                .arg(CliQuoted(located.shown[i]), OutcomeName(scans[i].outcome),
                     scans[i].errors.isEmpty()
                         ? QString()
                         : QStringLiteral(": ") + TerminalText(scans[i].errors.last(), 256)));
    }
    const QByteArray document = run.isSet("json") ? ExportJson(rows) : ExportCsv(rows);
    run.console().writeOutBytes(document);
    run.console().flush();
    if (!run.finish())
        return int(CliExit::UsageError);
    return int(rows.size() == scans.size() ? CliExit::AllSucceeded : CliExit::SomeFailed);
}

// "plan.csv:7: column "slot3": ..." for a refused plan.
static int planRefused(Console &console, const QString &path, const PlanError &error,
                       const QString &command)
{
    QString where = TerminalText(path, 128);
    if (error.line > 0)
        where += QStringLiteral(":%1").arg(error.line);
    if (!error.column.isEmpty())
        where += QStringLiteral(": column %1").arg(CliQuoted(error.column));
    return CliUsageError(
        console, QStringLiteral("%1: %2; nothing was sent").arg(where, error.message), command);
}

// Where the plan's modules are: at the rows' addresses, or among the targets.
static std::optional<Located> locate(FleetRun &run, const Plan &plan, const QString &path,
                                     const QStringList &targets, const QString &command)
{
    Located located;
    if (!targets.isEmpty() || run.isSet("file")) {
        if (plan.key == PlanKey::Address) {
            CliUsageError(run.console(),
                          QStringLiteral("%1 names its modules by address: give no targets")
                              .arg(CliQuoted(path)),
                          command);
            return std::nullopt;
        }
        const std::optional<QList<TargetModule>> modules = run.targets(targets);
        if (!modules)
            return std::nullopt;
        for (const TargetModule &module : *modules) {
            located.hosts << module.host;
            located.shown << module.texts.first();
            located.rows << -1;
        }
        return located;
    }
    QStringList rowHosts;
    for (const PlanRow &row : plan.rows) {
        const auto refuse = [&](const QString &message) {
            planRefused(run.console(), path,
                        PlanError{row.line, QStringLiteral("address"), message}, command);
            return std::nullopt;
        };
        if (row.address.isEmpty())
            return refuse(QStringLiteral("no address, and no targets given to find the module"));
        const TargetList one = ParseTargets({row.address});
        if (!one.ok())
            return refuse(one.error);
        if (one.hosts.size() != 1)
            return refuse(QStringLiteral("a range, where a row names one module"));
        rowHosts << one.hosts.first();
    }
    for (const TargetModule &module : GroupByModule(rowHosts, run.resolver())) {
        QList<int> rows;
        for (qsizetype r = 0; r < rowHosts.size(); ++r) {
            if (module.texts.contains(rowHosts[r]))
                rows << int(r);
        }
        if (rows.size() > 1) {
            planRefused(run.console(), path,
                        PlanError{plan.rows[rows[1]].line, QStringLiteral("address"),
                                  QStringLiteral("reaches the module of line %1 (%2)")
                                      .arg(plan.rows[rows[0]].line)
                                      .arg(TerminalText(module.host, 64))},
                        command);
            return std::nullopt;
        }
        located.hosts << module.host;
        located.shown << plan.rows[rows.first()].address;
        located.rows << rows.first();
    }
    return located;
}

// Each plan row's module, from the scans of the located hosts: by the row's address, or by the
// serial number among the targets (none or several answering with it: not found, ambiguous).
static QList<FleetModule> matchRows(const Plan &plan, const Located &located,
                                    const QList<OperationResult> &scans, int *unplanned)
{
    QList<FleetModule> modules(plan.rows.size());
    for (qsizetype r = 0; r < plan.rows.size(); ++r)
        modules[r].row = int(r);
    const auto take = [&](int row, qsizetype host) {
        FleetModule &module = modules[row];
        module.address = located.shown[host];
        module.scan = scans[host];
        module.decision = DecideModule(plan, plan.rows[row], scans[host]);
        module.outcome = module.decision.outcome;
        module.durationMs = scans[host].durationMs;
    };
    *unplanned = 0;
    QHash<QByteArray, QList<qsizetype>> bySerial;
    int unanswered = 0;
    for (qsizetype h = 0; h < scans.size(); ++h) {
        if (located.rows[h] >= 0)
            take(located.rows[h], h);
        else if (scans[h].outcome == Outcome::Success)
            bySerial[scans[h].serial] << h;
        else
            ++unanswered;
    }
    if (!located.rows.isEmpty() && located.rows.first() >= 0)
        return modules;
    QSet<QByteArray> planned;
    for (qsizetype r = 0; r < plan.rows.size(); ++r) {
        const QList<qsizetype> hits = bySerial.value(plan.rows[r].serial);
        planned.insert(plan.rows[r].serial);
        if (hits.size() == 1) {
            take(int(r), hits.first());
            continue;
        }
        FleetModule &module = modules[r];
        if (hits.isEmpty()) {
            module.outcome = FleetOutcome::NotFound;
            module.decision.note =
                QStringLiteral("no module among the targets answered with this serial number");
            if (unanswered > 0)
                module.decision.note +=
                    QStringLiteral(" (%1 of them did not answer)").arg(unanswered);
            continue;
        }
        QStringList where;
        for (const qsizetype h : hits)
            where << located.shown[h];
        module.outcome = FleetOutcome::Ambiguous;
        module.decision.note =
            QStringLiteral("%1 modules answered with this serial number: %2; none is written")
                .arg(hits.size())
                .arg(where.join(QStringLiteral(", ")));
    }
    for (auto it = bySerial.cbegin(); it != bySerial.cend(); ++it) {
        if (!planned.contains(it.key()))
            *unplanned += int(it.value().size());
    }
    return modules;
}

static int runPlan(const CliCall &call)
{
    const QString command = QStringLiteral("plan");
    FleetRun run(call);
    if (!run.prepare())
        return int(CliExit::UsageError);
    if (call.arguments.isEmpty())
        return CliUsageError(call.console, QStringLiteral("no plan file given"), command);
    const QString path = call.arguments.first();
    const PlanReading reading = ReadPlanFile(path);
    if (reading.error)
        return planRefused(call.console, path, *reading.error, command);
    const Plan &plan = reading.plan;
    const std::optional<Located> located = locate(run, plan, path, call.arguments.mid(1), command);
    if (!located)
        return int(CliExit::UsageError);

    // Opened before the run, so an unwritable report does not cost a whole run.
    std::optional<QFile> junit;
    if (run.isSet("junit")) {
        junit.emplace(call.parser.value(QStringLiteral("junit")));
        if (!junit->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return CliUsageError(call.console,
                                 QStringLiteral("cannot write %1: %2")
                                     .arg(CliQuoted(junit->fileName()), junit->errorString()),
                                 command);
    }
    std::optional<QSaveFile> saved;
    if (run.isSet("out")) {
        saved.emplace(call.parser.value(QStringLiteral("out")));
        if (!saved->open(QIODevice::WriteOnly))
            return CliUsageError(call.console,
                                 QStringLiteral("cannot write %1: %2")
                                     .arg(CliQuoted(saved->fileName()), saved->errorString()),
                                 command);
    }

    const QDateTime started = QDateTime::currentDateTime();
    run.openJournal();
    const QList<OperationResult> scans = run.scan(*located, false);
    int unplanned = 0;
    const QList<FleetModule> modules = matchRows(plan, *located, scans, &unplanned);
    const qint64 wallMs = run.elapsed();

    if (run.isSet("json"))
        call.console.writeOut(
            QString::fromUtf8(FormatFleetJson(modules, plan, FleetCommand::Plan)));
    else
        call.console.writeOut(
            FormatFleetTable(plan, modules, FleetCommand::Plan, unplanned, wallMs));
    call.console.flush();
    QString junitFailure;
    if (junit) {
        const QByteArray xml = FormatJunitCases(
            command, FleetJunitCases(modules, plan, FleetCommand::Plan), wallMs, started);
        if (junit->write(xml) != xml.size() || !junit->flush())
            junitFailure = junit->errorString();
        junit->close();
    }
    bool savedOk = true;
    if (saved) {
        QList<ReviewedModule> reviewed;
        for (const FleetModule &module : modules) {
            if (module.outcome == FleetOutcome::Pending ||
                module.outcome == FleetOutcome::Unchanged)
                reviewed << ReviewedModule{module.address, plan.rows[module.row], *module.scan};
        }
        const QByteArray csv = SavedPlanCsv(reviewed);
        if (saved->write(csv) != csv.size() || !saved->commit()) {
            call.console.writeErr(QStringLiteral("velqa-cli: cannot write %1: %2\n")
                                      .arg(CliQuoted(saved->fileName()), saved->errorString()));
            savedOk = false;
        }
    }
    if (!run.finish(junitFailure, junit ? junit->fileName() : QString()) || !savedOk)
        return int(CliExit::UsageError);

    bool failed = false;
    bool pending = false;
    for (const FleetModule &module : modules) {
        pending = pending || module.outcome == FleetOutcome::Pending;
        failed = failed || (module.outcome != FleetOutcome::Pending &&
                            module.outcome != FleetOutcome::Unchanged);
    }
    return failed ? int(CliExit::SomeFailed) : pending ? PlanChangesPending : 0;
}

static CliCommandRow fleetRow(const QString &name, const QString &summary,
                              const QString &description, const QList<QCommandLineOption> &options,
                              const QString &syntax, const QString &argumentsHelp,
                              std::function<int(const CliCall &)> run)
{
    CliCommandRow row;
    row.name = name;
    row.summary = summary;
    row.description = description;
    row.options = options;
    row.argumentsSyntax = syntax;
    row.argumentsHelp = argumentsHelp;
    row.run = std::move(run);
    return row;
}

CliCommandRow ExportCommand()
{
    return fleetRow(QStringLiteral("export"),
                    QStringLiteral("scan, then print each module's serial number, version and "
                                   "slots as a plan file (CSV, or --json)"),
                    QString::fromUtf8(kExportDescription),
                    fleetOptions({QStringLiteral("slots"), QStringLiteral("junit")}),
                    QStringLiteral("[targets...]"),
                    QStringLiteral("Addresses, host names or ranges."), runExport);
}

CliCommandRow PlanCommand()
{
    QList<QCommandLineOption> options = fleetOptions({QStringLiteral("slots")});
    options << QCommandLineOption(QStringLiteral("out"),
                                  QStringLiteral("Save the reviewed plan, with what each module "
                                                 "held, to FILE (for apply)."),
                                  QStringLiteral("FILE"));
    return fleetRow(QStringLiteral("plan"),
                    QStringLiteral("read the modules of a plan file and show what apply would "
                                   "change; writes nothing"),
                    QString::fromUtf8(kPlanDescription).arg(QString::fromUtf8(kPlanFileHelp)),
                    options, QStringLiteral("PLAN [targets...]"),
                    QStringLiteral("The plan file, then addresses, host names or ranges to find "
                                   "its modules among."),
                    runPlan);
}
