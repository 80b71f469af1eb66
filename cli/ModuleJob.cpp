#include "ModuleJob.h"

#include "Clock.h"
#include "HostResolver.h"
#include "LinkErrors.h"
#include "MessageCatalogue.h"
#include "Operations.h"

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

// The link's events outside the operations (discover, and errors that come after the last one).
class JobLinkEvents : public LinkOwner
{
public:
    QString status = CatalogueText(Msg::StartScanModule);
    QStringList errors;

    void LinkConnected() override { status = CatalogueText(Msg::ConnectOk); }
    void LinkDisconnected() override { status = CatalogueText(Msg::Disconnect); }
    void LinkErrorReported(const QString &message) override { errors.append(message); }
};

// Up to 500 ms, as the scan's wait after opening, but over as soon as the attempt is decided.
static void waitForConnection(ModuleLink &link, const JobLinkEvents &events)
{
    for (int i = 0; i < 50 && !link.ConnectedFlag() && events.errors.isEmpty(); ++i)
        link.WaitPumping(10);
}

static void discover(ModuleLink &link, JobLinkEvents &events, ModuleResult &result)
{
    try {
        link.OpenLink(result.address);
        waitForConnection(link, events);
        if (!link.ConnectedFlag()) {
            result.outcome = Outcome::NotConnected;
            return;
        }
        result.outcome = Outcome::NoReply;
        if (!link.SendCommand(ModuleMessages::SerialCommand))
            return;
        result.serial = ModuleText(ReplyField(link.ReplyBuffer(), 5, 8));
        if (!link.SendCommand(ModuleMessages::VersionCommand))
            return;
        result.version = ModuleText(ReplyField(link.ReplyBuffer(), 5, 8));
        result.found = true;
        result.outcome = Outcome::Success;
        events.status = FixedTexts::ScanOk;
    } catch (const LinkError &error) {
        events.errors.append(error.message());
        result.outcome = Outcome::Error;
    }
}

static QString textOrNull(const QByteArray &bytes)
{
    return bytes.isNull() ? QString() : ModuleText(bytes);
}

// The scan's findings, and the operation's after it, as the window shows them.
static void takeResults(const OperationResult &scan, const OperationResult &last,
                        ModuleResult &result)
{
    result.serial = textOrNull(scan.serial);
    result.version = textOrNull(scan.version);
    for (const SlotRead &slot : scan.slotsRead)
        result.slotLines.append({slot.slot, ModuleText(slot.data)});
    result.outcome = last.outcome;
    result.status = last.status;
    if (last.operation == Operation::ReaderTest && last.outcome == Outcome::Success)
        result.cardId = last.card.isEmpty() ? FixedTexts::NoCard : ModuleText(last.card);
    if (last.operation == Operation::LoopTest)
        result.loopText = textOrNull(last.loop);
    result.errors = scan.errors;
    if (&last != &scan)
        result.errors += last.errors;
}

ModuleResult RunModuleJob(const QString &address, const JobOptions &options)
{
    ModuleResult result;
    result.address = address;
    result.command = options.command;

    JobLinkEvents events;
    ModuleLink link(&events);
    const quint32 start = link.clock().Milliseconds();
    link.setPort(options.port);
    link.setResolver(options.resolver ? options.resolver : &systemResolver());
    if (options.wire) {
        link.setWireObserver(
            [&options, address](ModuleLink::WireDirection direction, const QByteArray &bytes) {
                options.wire(address, direction, bytes);
            });
    }

    const CommandEntry &entry = CommandFor(options.command);
    if (!entry.operation) {
        discover(link, events, result);
        result.status = events.status;
    } else {
        ModuleOperations operations(link);
        operations.setWebPageStep(false);
        if (options.finished)
            operations.setFinished(options.finished);
        const OperationResult scan =
            operations.Run(entry.scanFirst ? Operation::Scan : *entry.operation, address);
        OperationResult last = scan;
        if (entry.scanFirst) {
            result.scanStatus = scan.status;
            // An error of the link's own calls ends the run as it ends the window's operation.
            if (scan.outcome != Outcome::Error)
                last = operations.Run(*entry.operation, address);
        }
        events.errors.clear();
        takeResults(scan, last, result);
    }
    // Errors the socket reports later still reach the window before it closes the link.
    link.WaitPumping(0);
    result.errors += events.errors;
    link.CloseLink();
    result.durationMs = link.clock().Milliseconds() - start;
    return result;
}
