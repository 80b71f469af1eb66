#include "ModuleJob.h"

#include "ModuleEngine.h"

#include <algorithm>

const QList<CommandEntry> &CommandTable()
{
    static const QList<CommandEntry> table{
        {CliCommand::Scan, Operation::Scan, false},
        {CliCommand::SetTestData, Operation::SetTestData, true},
        {CliCommand::Clear, Operation::ClearAllData, true},
        {CliCommand::ReaderTest, Operation::ReaderTest, true},
        {CliCommand::LoopTest, Operation::LoopTest, true},
        {CliCommand::Discover, std::nullopt, false},
    };
    return table;
}

const CommandEntry &CommandFor(CliCommand command)
{
    const QList<CommandEntry> &table = CommandTable();
    return *std::find_if(table.begin(), table.end(),
                         [command](const CommandEntry &e) { return e.command == command; });
}

QString CommandName(CliCommand command)
{
    const CommandEntry &entry = CommandFor(command);
    return entry.operation ? OperationName(*entry.operation) : QStringLiteral("discover");
}

std::optional<CliCommand> CommandNamed(const QString &name)
{
    for (const CommandEntry &entry : CommandTable()) {
        if (CommandName(entry.command) == name)
            return entry.command;
    }
    return std::nullopt;
}

ModuleProcedure ProcedureFor(CliCommand command)
{
    const CommandEntry &entry = CommandFor(command);
    ModuleProcedure procedure;
    if (!entry.operation) {
        procedure.identify = true;
        return procedure;
    }
    if (entry.scanFirst)
        procedure.operations << Operation::Scan;
    procedure.operations << *entry.operation;
    return procedure;
}

static QString textOrNull(const QByteArray &bytes)
{
    return bytes.isNull() ? QString() : ModuleText(bytes);
}

ModuleResult ResultFromRun(const ModuleRun &run, CliCommand command)
{
    ModuleResult result;
    result.address = run.host;
    result.command = command;
    result.durationMs = run.durationMs;
    if (run.results.isEmpty())
        return result;
    // The scan's findings, and the operation's after it, as the window shows them.
    const OperationResult &scan = run.results.first();
    const OperationResult &last = run.results.last();
    result.serial = textOrNull(scan.serial);
    result.version = textOrNull(scan.version);
    if (command == CliCommand::Discover) {
        result.found = scan.outcome == Outcome::Success;
    } else {
        for (const SlotRead &slot : scan.slotsRead)
            result.slotLines.append({slot.slot, ModuleText(slot.data)});
    }
    result.outcome = last.outcome;
    result.status = last.status;
    if (CommandFor(command).scanFirst)
        result.scanStatus = scan.status;
    if (last.operation == Operation::ReaderTest && last.outcome == Outcome::Success)
        result.cardId = last.card.isEmpty() ? FixedTexts::NoCard : ModuleText(last.card);
    if (last.operation == Operation::LoopTest)
        result.loopText = textOrNull(last.loop);
    // Each operation's errors once, in order, then those the link reported after them.
    for (const OperationResult &each : run.results)
        result.errors += each.errors;
    result.errors += run.laterErrors;
    return result;
}
