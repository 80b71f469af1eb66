#pragma once

// The command line's engine: the operations' rules (OperationSteps) driven on many modules at
// once, on non-blocking sockets and epoll, with heaps of deadlines, on a thread or two of its
// own and with no Qt object per module.
//
// Its time rules, which the window's fixed waits do not follow:
// - the wait for the connection ends as soon as the connection is made, refused or its host
//   found unknown; at most 500 ms, as the window's wait;
// - a reply wait ends as soon as the reply is there (more than five characters), at most the
//   window's budget (100 x 10 ms for a command; a raw message is watched 100 x 3 ms in full);
// - before any wait ends unanswered, what has arrived on the socket is read and counted;
// - the budgets do not count the engine's own stalls: a loop iteration that came late (the
//   processor was busy elsewhere) or took long (many modules at once) moves every running
//   budget on by that much, so a module is never blamed for the tool's lateness. A module
//   that does not answer still fails within its budget plus the engine's own delay;
// - the fixed pauses between commands (10 ms between slots, 50 ms after writing the test
//   pattern) are kept, on the clock: they are the module's time, not a wait for an event, and a
//   stall of the engine does not lengthen them;
// - once the link is down no reply can come: a wait for one ends at once, unanswered.
//
// Hosts are addresses: host names are looked up before (the command line's targets are), and a
// text that is no address ends as the window's unknown host, with no lookup.

#include "Clock.h"
#include "ModuleLink.h"
#include "OperationResult.h"
#include "OperationSteps.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// What the engine runs on one module.
struct ModuleProcedure
{
    // The window's operations, in order, on one link (a scan leaves out its web page step). Each
    // runs only when the one before did not end in an error of the link's own calls.
    QList<Operation> operations;
    // Instead of operations: connect, then "S01" and "V01" only (discover).
    bool identify = false;
    // For provisioning: called on the engine's thread with the first operation's result (the
    // scan) once the operations are done; returns the slots to write, in order. Each is written
    // ("F0n" and its 32 characters) and read back ("G0n") on the same link, with 10 ms between
    // commands. Before each write the engine checks the cancellation flag: once it is set no new
    // write is sent, while a write already sent is still read back.
    std::function<QList<SlotWrite>(const OperationResult &scan)> decide;
};

// What the engine did on one module.
struct ModuleRun
{
    // The host as given, and its place in the list given.
    QString host;
    int index = -1;
    // Each operation's result in the order run; for identify, its one result.
    QList<OperationResult> results;
    // The slots written and read back, in order; `writesLeft` were not written because the run
    // was cancelled.
    QList<SlotWrite> writes;
    int writesLeft = 0;
    // Errors of the link reported outside any operation (between them, or after the last).
    QStringList laterErrors;
    // The status line's text when the module was done, before its link was closed.
    QString status;
    qint64 durationMs = 0;
};

struct EngineOptions
{
    quint16 port = ModuleLink::ModulePort;
    // Modules in flight at most.
    int jobs = 256;
    // Engine threads, each with its own share of the modules in flight; at least 1, at most one
    // per processor.
    int threads = 1;
    // The clock of every wait and deadline; the system's when null. With another clock (a
    // test's), the engine runs on the calling thread and idles in that clock's pumped wait.
    const Clock *clock = nullptr;
    // When set, no new module starts (and no new slot is written); modules in flight finish.
    const std::atomic<bool> *cancel = nullptr;
    // Every send and read, from an engine thread: the host, the direction and the bytes.
    std::function<void(const QString &host, ModuleLink::WireDirection, const QByteArray &)> wire;
    // Each operation's result as it ends, from an engine thread (the journal records them).
    std::function<void(const OperationResult &)> finished;
    // Each module's run as the module is done, from an engine thread (provisioning records a
    // module's slot writes while the others still run).
    std::function<void(const ModuleRun &)> moduleDone;
};

// Runs `procedure` on every host and returns one ModuleRun per module started, in the order of
// `hosts` (modules not started because of cancellation are left out). The calling thread keeps
// delivering its own events meanwhile (a simulated fleet in the same process keeps serving) and
// calls `progress` with the number of modules done, at most ten times a second and once at the end.
[[nodiscard]] QList<ModuleRun> RunFleet(const QStringList &hosts, const ModuleProcedure &procedure,
                                        const EngineOptions &options,
                                        const std::function<void(int done)> &progress = {});

// The descriptors one module in flight holds: its socket.
inline constexpr int DescriptorsPerModule = 1;
