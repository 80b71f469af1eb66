#include "FleetCommands.h"

#include "Console.h"
#include "Escape.h"
#include "FleetPlan.h"
#include "FleetReport.h"
#include "HostResolver.h"
#include "Journal.h"
#include "ModuleEngine.h"
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

#include <algorithm>
#include <csignal>
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
    "bad value, a bad CSV quote, an empty file, one over 16 MiB or 65536 rows, or two rows\n"
    "that reach one module is a usage error that names the line and column, and nothing is\n"
    "sent to any module.\n";

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
    "Journal: each planned module's plan is one record (operation plan) with the slots\n"
    "before and as the plan would leave them; --no-journal records nothing.\n"
    "\n"
    "Exit codes, the first that applies of: 2 usage error or a bad plan; 1 a planned module\n"
    "could not be read or was not found; 3 changes pending; 0 nothing to change. 130 or 143:\n"
    "interrupted by SIGINT or SIGTERM.";

static const char kApplyDescription[] =
    "velqa-cli apply: as plan, then writes only the slots that differ (F0n and the 32\n"
    "characters), reads each written slot back (G0n) and compares; the modules are written in\n"
    "parallel, as scans run. Applying the same plan again sends no F0n frame. A plan saved by\n"
    "plan --out writes a module only while it still holds what the plan saw.\n"
    "\n"
    "%1\n"
    "Outcomes: changed (written and read back equal), unchanged (nothing to write),\n"
    "verify-failed (a slot read back otherwise, or not at all), no-reply, not-connected,\n"
    "error (the link failed), not-found, ambiguous (two modules answered with the row's serial\n"
    "number: neither is written), drifted, not-started and interrupted.\n"
    "\n"
    "SIGINT or SIGTERM: no new module and no new slot write starts; a write already sent is\n"
    "read back and reported. Modules not started end not-started, a module stopped between\n"
    "its writes interrupted; written (--json) names the slots whose write was sent.\n"
    "\n"
    "Journal: each planned module's apply is one record (operation apply) with the slots\n"
    "before and after and the slots written; --no-journal records nothing.\n"
    "\n"
    "Exit codes: 0 every planned module ended changed or unchanged; 1 otherwise; 2 usage\n"
    "error or a bad plan (nothing was sent); 130 or 143 interrupted by SIGINT or SIGTERM.";

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

// How a run finds and names its modules: hosts to run, each named as given, and for a plan
// whose rows give the addresses, the row each host is (-1 for a target).
struct Located
{
    QStringList hosts;
    QStringList shown;
    QList<int> rows;
};

// What the three commands share: the limits, the journal, the trace and the progress bar, and
// the engine that runs the modules.
class FleetRun
{
public:
    FleetRun(const CliCall &call, const QString &command) : m_call(call), m_command(command)
    {
        m_clock.start();
    }

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
    [[nodiscard]] HostResolver &resolver() const
    {
        return m_call.resolver ? *m_call.resolver : systemResolver();
    }
    [[nodiscard]] bool isSet(const char *option) const
    {
        return m_call.parser.isSet(QLatin1String(option));
    }
    [[nodiscard]] QString value(const char *option) const
    {
        return m_call.parser.value(QLatin1String(option));
    }
    [[nodiscard]] qint64 elapsed() const { return m_clock.elapsed(); }

    std::optional<QList<TargetModule>> targets(const QStringList &texts)
    {
        const TargetList list = ParseTargets(texts, m_call.parser.values(QStringLiteral("file")));
        if (!list.ok()) {
            CliUsageError(console(), list.error, m_command);
            return std::nullopt;
        }
        QList<TargetModule> modules = GroupByModule(list.hosts, resolver());
        CliNoteMergedTargets(console(), modules);
        return modules;
    }

    void openJournal()
    {
        if (!isSet("no-journal"))
            m_journal = CliOpenJournal(console(), value("journal"));
    }
    [[nodiscard]] Journal *journal() const { return m_journal.get(); }

    // Runs `procedure` on the located hosts; with `recordScans`, each scan goes to the journal
    // as the scan command's. One run per module started, in the order of the hosts.
    QList<ModuleRun> run(const Located &located, const ModuleProcedure &procedure, bool recordScans,
                         const std::function<void(const ModuleRun &)> &moduleDone = {})
    {
        QHash<QString, QString> shownAs;
        for (qsizetype i = 0; i < located.hosts.size(); ++i)
            shownAs.insert(located.hosts[i], located.shown[i]);
        EngineOptions engine;
        engine.port = m_limits.port;
        engine.jobs = CliJobsAllowed(console(), m_limits.jobs, int(located.hosts.size()));
        engine.clock = m_call.clock;
        engine.cancel = &Interruption().requested;
        engine.moduleDone = moduleDone;
        if (isSet("trace")) {
            engine.wire = [this, shownAs](const QString &address,
                                          ModuleLink::WireDirection direction,
                                          const QByteArray &bytes) {
                const QStringList lines =
                    FormatTrace(elapsed(), shownAs.value(address, address), direction, bytes);
                console().writeErr(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
            };
        }
        if (recordScans && m_journal) {
            engine.finished = [&store = *m_journal, shownAs](const OperationResult &result) {
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
        QList<ModuleRun> runs = RunFleet(located.hosts, procedure, engine, progress);
        console().endProgress();
        return runs;
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

    // The signal that interrupted the run, 0 when none; an interrupted run says what it left.
    int interrupted(int started, int total)
    {
        const int signal = Interruption().signal.load();
        if (signal != 0)
            console().writeErr(
                QStringLiteral("velqa-cli: interrupted by %1: %2 started and reported, "
                               "%3 not started\n")
                    .arg(signal == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"))
                    .arg(started)
                    .arg(total - started));
        return signal;
    }

private:
    const CliCall &m_call;
    QString m_command;
    CliRunLimits m_limits;
    QElapsedTimer m_clock;
    std::unique_ptr<Journal> m_journal;
};

// The scan of each located host, by its place; none for a module not started.
QList<std::optional<OperationResult>> firstResults(const QList<ModuleRun> &runs, qsizetype hosts)
{
    QList<std::optional<OperationResult>> results(hosts);
    for (const ModuleRun &run : runs) {
        if (!run.results.isEmpty())
            results[run.index] = run.results.first();
    }
    return results;
}

} // namespace

static ModuleProcedure scanProcedure()
{
    ModuleProcedure procedure;
    procedure.operations = {Operation::Scan};
    return procedure;
}

static int runExport(const CliCall &call)
{
    FleetRun run(call, QStringLiteral("export"));
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
    const QList<ModuleRun> runs = run.run(located, scanProcedure(), true);

    QList<ExportedModule> rows;
    for (const ModuleRun &each : runs) {
        const OperationResult scan = each.results.value(0);
        if (scan.outcome == Outcome::Success) {
            rows << ExportedModule{located.shown[each.index], scan};
            continue;
        }
        QStringList errors = scan.errors + each.laterErrors;
        run.console().writeErr(
            QStringLiteral("velqa-cli: %1: %2, not exported%3\n")
                .arg(CliQuoted(located.shown[each.index]), OutcomeName(scan.outcome),
                     errors.isEmpty() ? QString()
                                      : QStringLiteral(": ") + TerminalText(errors.last(), 256)));
    }
    const QByteArray document = run.isSet("json") ? ExportJson(rows) : ExportCsv(rows);
    run.console().writeOutBytes(document);
    run.console().flush();
    if (!run.finish())
        return int(CliExit::UsageError);
    if (const int signal = run.interrupted(int(runs.size()), int(located.hosts.size())))
        return 128 + signal;
    return int(rows.size() == located.hosts.size() ? CliExit::AllSucceeded : CliExit::SomeFailed);
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

// The hosts found for the plan's rows among the targets, by the serial numbers they answered
// with (`found`, by place; none for a module not started). Rows that no module or several
// answered for end not found or ambiguous in `modules`; the others are located, one host each.
static Located matchSerials(const Plan &plan, const Located &targets,
                            const QList<std::optional<OperationResult>> &found,
                            QList<FleetModule> &modules, int *unplanned)
{
    QHash<QByteArray, QList<qsizetype>> bySerial;
    int unanswered = 0;
    int unstarted = 0;
    for (qsizetype h = 0; h < found.size(); ++h) {
        if (!found[h])
            ++unstarted;
        else if (found[h]->outcome == Outcome::Success)
            bySerial[found[h]->serial] << h;
        else
            ++unanswered;
    }
    Located located;
    QSet<QByteArray> planned;
    for (qsizetype r = 0; r < plan.rows.size(); ++r) {
        const QList<qsizetype> hits = bySerial.value(plan.rows[r].serial);
        planned.insert(plan.rows[r].serial);
        FleetModule &module = modules[r];
        if (hits.size() == 1) {
            located.hosts << targets.hosts[hits.first()];
            located.shown << targets.shown[hits.first()];
            located.rows << int(r);
            continue;
        }
        if (hits.isEmpty()) {
            // Among modules not asked, the row's may still be.
            module.outcome = unstarted > 0 ? FleetOutcome::NotStarted : FleetOutcome::NotFound;
            module.decision.note = QStringLiteral("no module among the targets answered with "
                                                  "serial number \"%1\"")
                                       .arg(TerminalBytes(plan.rows[r].serial, 64));
            if (unanswered > 0)
                module.decision.note +=
                    QStringLiteral(" (%1 of them did not answer)").arg(unanswered);
            continue;
        }
        QStringList where;
        for (const qsizetype h : hits)
            where << targets.shown[h];
        module.outcome = FleetOutcome::Ambiguous;
        module.decision.note =
            QStringLiteral("%1 modules answered with this serial number: %2; none is written")
                .arg(hits.size())
                .arg(where.join(QStringLiteral(", ")));
    }
    *unplanned = 0;
    for (auto it = bySerial.cbegin(); it != bySerial.cend(); ++it) {
        if (!planned.contains(it.key()))
            *unplanned += int(it.value().size());
    }
    return located;
}

// Each located row's module after its run: its scan, what it needed and, for apply, what was
// written and read back.
// A located row's module after its run: its scan, what it needed and, for apply, what was
// written and read back.
static FleetModule moduleFromRun(const Plan &plan, const Located &located, const ModuleRun &run,
                                 bool applied)
{
    FleetModule module;
    module.row = located.rows[run.index];
    module.address = located.shown[run.index];
    module.scan = run.results.value(0);
    module.decision = DecideModule(plan, plan.rows[module.row], *module.scan);
    module.writes = run.writes;
    module.writesLeft = run.writesLeft;
    module.errors = run.laterErrors;
    module.durationMs = run.durationMs;
    module.outcome = applied ? AppliedOutcome(module.decision, run.writes, run.writesLeft)
                             : module.decision.outcome;
    return module;
}

static void takeRuns(const Plan &plan, const Located &located, const QList<ModuleRun> &runs,
                     bool applied, QList<FleetModule> &modules)
{
    for (const ModuleRun &run : runs)
        modules[located.rows[run.index]] = moduleFromRun(plan, located, run, applied);
    for (qsizetype h = 0; h < located.hosts.size(); ++h) {
        // Modules the interruption left out keep their address.
        FleetModule &module = modules[located.rows[h]];
        if (module.address.isEmpty())
            module.address = located.shown[h];
    }
}

static int runPlanOrApply(const CliCall &call, FleetCommand command)
{
    const QString name = FleetCommandName(command);
    FleetRun run(call, name);
    if (!run.prepare())
        return int(CliExit::UsageError);
    if (call.arguments.isEmpty())
        return CliUsageError(call.console, QStringLiteral("no plan file given"), name);
    const QString path = call.arguments.first();
    const PlanReading reading = ReadPlanFile(path);
    if (reading.error)
        return planRefused(call.console, path, *reading.error, name);
    const Plan &plan = reading.plan;
    const std::optional<Located> given = locate(run, plan, path, call.arguments.mid(1), name);
    if (!given)
        return int(CliExit::UsageError);

    // Opened before the run, so an unwritable report does not cost a whole run.
    std::optional<QFile> junit;
    if (run.isSet("junit")) {
        junit.emplace(run.value("junit"));
        if (!junit->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return CliUsageError(call.console,
                                 QStringLiteral("cannot write %1: %2")
                                     .arg(CliQuoted(junit->fileName()), junit->errorString()),
                                 name);
    }
    std::optional<QSaveFile> saved;
    if (command == FleetCommand::Plan && run.isSet("out")) {
        saved.emplace(run.value("out"));
        if (!saved->open(QIODevice::WriteOnly))
            return CliUsageError(call.console,
                                 QStringLiteral("cannot write %1: %2")
                                     .arg(CliQuoted(saved->fileName()), saved->errorString()),
                                 name);
    }

    const QDateTime started = QDateTime::currentDateTime();
    run.openJournal();
    QList<FleetModule> modules(plan.rows.size());
    for (qsizetype r = 0; r < plan.rows.size(); ++r)
        modules[r].row = int(r);
    int unplanned = 0;
    // The rows recorded while the modules ran.
    QList<bool> recorded(plan.rows.size(), false);
    Located located = *given;
    const bool byTargets = !located.rows.isEmpty() && located.rows.first() < 0;
    const bool apply = command == FleetCommand::Apply;
    if (byTargets) {
        // Apply first only asks each target who it is; plan reads them all at once.
        ModuleProcedure identify;
        identify.identify = true;
        const QList<ModuleRun> found = run.run(located, apply ? identify : scanProcedure(), false);
        located = matchSerials(plan, *given, firstResults(found, given->hosts.size()), modules,
                               &unplanned);
        if (!apply) {
            QList<ModuleRun> scans;
            for (const ModuleRun &each : found) {
                const qsizetype at = located.hosts.indexOf(given->hosts[each.index]);
                if (at >= 0) {
                    scans << each;
                    scans.last().index = int(at);
                }
            }
            takeRuns(plan, located, scans, false, modules);
            located.hosts.clear();
        }
    }
    if (!located.hosts.isEmpty() && !Interruption().requested.load()) {
        ModuleProcedure procedure = scanProcedure();
        if (apply) {
            // On the engine's thread, for each module as its scan ends.
            QHash<QString, int> rowOf;
            for (qsizetype h = 0; h < located.hosts.size(); ++h)
                rowOf.insert(located.hosts[h], located.rows[h]);
            procedure.decide = [&plan, rowOf](const OperationResult &scan) {
                const int row = rowOf.value(scan.address, -1);
                return row < 0 ? QList<SlotWrite>()
                               : WritesFor(DecideModule(plan, plan.rows[row], scan));
            };
        }
        // Each module is recorded as it is done, while the others still run.
        std::function<void(const ModuleRun &)> record;
        if (Journal *journal = run.journal()) {
            record = [&plan, &located, apply, journal](const ModuleRun &done) {
                journal->record(FleetRecord(moduleFromRun(plan, located, done, apply), plan, apply,
                                            QString::fromLatin1(JournalWords::SourceCli)));
            };
        }
        const QList<ModuleRun> runs = run.run(located, procedure, false, record);
        takeRuns(plan, located, runs, apply, modules);
        for (const ModuleRun &done : runs)
            recorded[located.rows[done.index]] = bool(record);
    } else {
        takeRuns(plan, located, {}, apply, modules);
    }
    const qint64 wallMs = run.elapsed();
    // Each planned module's plan or apply is one record, also when it was not found or started.
    if (Journal *journal = run.journal()) {
        for (const FleetModule &module : modules) {
            if (!recorded[module.row])
                journal->record(
                    FleetRecord(module, plan, apply, QString::fromLatin1(JournalWords::SourceCli)));
        }
    }

    if (run.isSet("json"))
        call.console.writeOut(QString::fromUtf8(FormatFleetJson(modules, plan, command)));
    else
        call.console.writeOut(FormatFleetTable(plan, modules, command, unplanned, wallMs));
    call.console.flush();
    QString junitFailure;
    if (junit) {
        const QByteArray xml =
            FormatJunitCases(name, FleetJunitCases(modules, plan, command), wallMs, started);
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
    const int notStarted = int(std::count_if(modules.begin(), modules.end(), [](const auto &m) {
        return m.outcome == FleetOutcome::NotStarted;
    }));
    if (const int signal = run.interrupted(int(modules.size()) - notStarted, int(modules.size())))
        return 128 + signal;

    bool failed = false;
    bool pending = false;
    for (const FleetModule &module : modules) {
        pending = pending || module.outcome == FleetOutcome::Pending;
        failed = failed || !(IsFleetSuccess(module.outcome) ||
                             (!apply && module.outcome == FleetOutcome::Pending));
    }
    if (failed)
        return int(CliExit::SomeFailed);
    return pending ? PlanChangesPending : int(CliExit::AllSucceeded);
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
                    [](const CliCall &call) { return runPlanOrApply(call, FleetCommand::Plan); });
}

CliCommandRow ApplyCommand()
{
    return fleetRow(QStringLiteral("apply"),
                    QStringLiteral("as plan, then write the slots that differ and read each one "
                                   "back"),
                    QString::fromUtf8(kApplyDescription).arg(QString::fromUtf8(kPlanFileHelp)),
                    fleetOptions({QStringLiteral("slots")}), QStringLiteral("PLAN [targets...]"),
                    QStringLiteral("The plan file, then addresses, host names or ranges to find "
                                   "its modules among."),
                    [](const CliCall &call) { return runPlanOrApply(call, FleetCommand::Apply); });
}
