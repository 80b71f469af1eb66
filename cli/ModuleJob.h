#pragma once

#include "ModuleLink.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

enum class CliCommand { Scan, SetTestData, Clear, ReaderTest, LoopTest, Discover };

// How one module's run ended: the window's three outcomes, plus an error of the link's own
// calls (which the window shows in its error box).
enum class ModuleOutcome { Success, NoReply, NotConnected, Error };

[[nodiscard]] QString CommandName(CliCommand command);
[[nodiscard]] QString OutcomeName(ModuleOutcome outcome);

struct SlotLine
{
    int slot = 0;
    QString data;
};

// What one module showed, as the window would have shown it.
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
    ModuleOutcome outcome = ModuleOutcome::NotConnected;
    // The status line's last text before the link was closed.
    QString status;
    // For every command but the scan: how the scan before it ended.
    QString scanStatus;
    // Errors that the window would have shown in its error box.
    QStringList errors;
    qint64 durationMs = 0;
    // Discover: the address answered "S01" and "V01".
    bool found = false;

    [[nodiscard]] bool succeeded() const
    {
        return command == CliCommand::Discover ? found : outcome == ModuleOutcome::Success;
    }
};

struct JobOptions
{
    CliCommand command = CliCommand::Scan;
    quint16 port = ModuleLink::ModulePort;
    // Called from the job's thread for every send and read on its link, when set.
    std::function<void(const QString &address, ModuleLink::WireDirection, const QByteArray &)> wire;
};

// Runs one module's command on the calling thread, which must have an event dispatcher (the main
// thread or a QThread): its own link, the window's operation unchanged, the link closed at the
// end. Every command but the scan and discover first scans, as a technician does before
// pressing the operation's button; the scan leaves out the web page step.
[[nodiscard]] ModuleResult RunModuleJob(const QString &address, const JobOptions &options);
