#pragma once

#include "ModuleLink.h"
#include "OperationResult.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

enum class CliCommand { Scan, SetTestData, Clear, ReaderTest, LoopTest, Discover };

// What a command runs: the window's operation (none for discover), and whether a scan comes
// first, as a technician scans before pressing the operation's button.
struct CommandEntry
{
    CliCommand command;
    std::optional<Operation> operation;
    bool scanFirst;
};

// Every command, in the order the help lists them.
[[nodiscard]] const QList<CommandEntry> &CommandTable();
[[nodiscard]] const CommandEntry &CommandFor(CliCommand command);
[[nodiscard]] std::optional<CliCommand> CommandNamed(const QString &name);
[[nodiscard]] QString CommandName(CliCommand command);

struct SlotLine
{
    int slot = 0;
    QString data;
};

// What one module's run found, from the results of its operations.
struct ModuleResult
{
    QString address;
    CliCommand command = CliCommand::Scan;
    // The characters of the serial number and version, without the window's "S/N : " and
    // "VER : "; null when the module did not answer.
    QString serial;
    QString version;
    QList<SlotLine> slotLines;
    // The reader test's card field and the loop test's field; null when the test did not fill it.
    QString cardId;
    QString loopText;
    Outcome outcome = Outcome::NotConnected;
    // The status line's last text before the link was closed.
    QString status;
    // For every command but the scan: how the scan before it ended.
    QString scanStatus;
    // Errors that the window would have shown in its error box, of the scan and the operation.
    QStringList errors;
    qint64 durationMs = 0;
    // Discover: the address answered "S01" and "V01".
    bool found = false;

    [[nodiscard]] bool succeeded() const
    {
        return command == CliCommand::Discover ? found : outcome == Outcome::Success;
    }
};

struct ModuleProcedure;
struct ModuleRun;
class Clock;

struct JobOptions
{
    CliCommand command = CliCommand::Scan;
    quint16 port = ModuleLink::ModulePort;
    // Called from an engine thread for every send and read, when set.
    std::function<void(const QString &address, ModuleLink::WireDirection, const QByteArray &)> wire;
    // Called from an engine thread with the result of each operation as it ends: the scan and
    // the operation after it. Discover runs no operation and calls it never.
    std::function<void(const OperationResult &)> finished;
    // The engine's clock; the system's when null.
    const Clock *clock = nullptr;
    // When set, no new module starts; those in flight finish and are reported.
    const std::atomic<bool> *cancel = nullptr;
};

// What the engine runs on each module for a command: every command but the scan and discover
// first scans, as a technician does before pressing the operation's button; the scan leaves out
// the web page step. Discover connects and asks "S01" and "V01" only.
[[nodiscard]] ModuleProcedure ProcedureFor(CliCommand command);

// A module's report from what the engine did on it.
[[nodiscard]] ModuleResult ResultFromRun(const ModuleRun &run, CliCommand command);
