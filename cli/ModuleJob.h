#pragma once

#include "ModuleLink.h"
#include "OperationResult.h"

#include <QList>
#include <QString>
#include <QStringList>

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

class HostResolver;

struct JobOptions
{
    CliCommand command = CliCommand::Scan;
    quint16 port = ModuleLink::ModulePort;
    // Called from the job's thread for every send and read on its link, when set.
    std::function<void(const QString &address, ModuleLink::WireDirection, const QByteArray &)> wire;
    // Called from the job's thread with the result of each operation as it ends: the scan and
    // the operation after it. Discover runs no operation and calls it never.
    std::function<void(const OperationResult &)> finished;
    // Looks up a host name that is not an address; the system's when null. It is called from the
    // job's thread, so it must be safe to share between threads.
    HostResolver *resolver = nullptr;
};

// Runs one module's command on the calling thread, which must have an event dispatcher (the main
// thread or a QThread): its own link, the window's operation unchanged, the link closed at the
// end. Every command but the scan and discover first scans, as a technician does before
// pressing the operation's button; the scan leaves out the web page step.
[[nodiscard]] ModuleResult RunModuleJob(const QString &address, const JobOptions &options);
