#pragma once

// What a plan means for each module, as values: which slots differ, what writing them did, and
// the outcome; and the tables a fleet is exported to and a reviewed plan is saved in. No
// printing and no I/O: the command line runs the modules and shows these.

#include "JournalRecord.h"
#include "OperationResult.h"
#include "OperationSteps.h"
#include "PlanFile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// How one planned module ended.
enum class FleetOutcome {
    // Nothing to write: every planned slot already holds its value.
    Unchanged,
    // Plan only: slots would be written.
    Pending,
    // Every slot written read back equal.
    Changed,
    // A slot written read back otherwise, or not at all.
    VerifyFailed,
    // The scan before: the module did not answer, there was no link, or the link failed.
    NoReply,
    NotConnected,
    Error,
    // No module answered with the row's serial number (at its address, or among the targets).
    NotFound,
    // Two or more modules answered with the row's serial number: none is written.
    Ambiguous,
    // The module no longer holds what the reviewed plan saw, or holds other bytes than a value
    // that cannot be written: nothing written.
    Drifted,
    // The run was interrupted before the module's turn.
    NotStarted,
    // The run was interrupted between the module's slot writes: those sent are reported.
    Interrupted,
};

// The journal's words for a plan's and an apply's records.
[[nodiscard]] QString FleetOperationName(bool applied);
[[nodiscard]] QStringList FleetOperationNames();

// "unchanged", "pending", "changed", "verify-failed", "no-reply", "not-connected", "error",
// "not-found", "ambiguous", "drifted", "not-started", "interrupted".
[[nodiscard]] QString FleetOutcomeName(FleetOutcome outcome);
[[nodiscard]] QStringList FleetOutcomeNames();
// Changed and unchanged: the module holds what the plan asks.
[[nodiscard]] bool IsFleetSuccess(FleetOutcome outcome);

// A slot whose planned value it does not hold.
struct SlotChange
{
    int slot = 0;
    // What the scan read; no value when the slot did not answer.
    std::optional<QByteArray> current;
    // The 32 characters to write.
    QByteArray desired;
};

// What a module needs, decided from its plan row and its scan, before anything is written.
struct ModuleDecision
{
    // Pending when there are changes; otherwise why nothing is written.
    FleetOutcome outcome = FleetOutcome::NotStarted;
    QList<SlotChange> changes;
    // Why a module is not found or drifted, for the report.
    QString note;
};

// The slots as a scan read them.
[[nodiscard]] SlotValues SlotsOf(const OperationResult &scan);

// A module that did not answer its scan is not compared; with the serial number as the key, a
// module that answers another one is not the row's; each planned slot that does not already hold
// its value is a change; and a module with changes is written by a saved plan only while every
// slot holds what the review saw (one that already holds the plan is unchanged).
[[nodiscard]] ModuleDecision DecideModule(const Plan &plan, const PlanRow &row,
                                          const OperationResult &scan);

// One planned module as a plan or apply run left it.
struct FleetModule
{
    // The plan row's index; the module's address as given (a target's text, or the row's
    // address), empty when no module was found for the row.
    int row = -1;
    QString address;
    // The scan that read the module; none when it was not scanned.
    std::optional<OperationResult> scan;
    ModuleDecision decision;
    // Apply: the slots written and read back, in order, and how many the interruption left out.
    QList<SlotWrite> writes;
    int writesLeft = 0;
    FleetOutcome outcome = FleetOutcome::NotStarted;
    // Errors of the link outside the scan.
    QStringList errors;
    qint64 durationMs = 0;
};

// The writes a decision asks for, in slot order.
[[nodiscard]] QList<SlotWrite> WritesFor(const ModuleDecision &decision);
// How an apply ended: as decided when there was nothing to write; interrupted when writes were
// left out; changed when every slot written read back equal; otherwise verify-failed.
[[nodiscard]] FleetOutcome AppliedOutcome(const ModuleDecision &decision,
                                          const QList<SlotWrite> &writes, int writesLeft);
// Apply: the slots whose write was sent.
[[nodiscard]] QList<int> WrittenSlots(const FleetModule &module);
// Apply: the slots written as read back (none where the read was not answered), the others as
// the scan read them.
[[nodiscard]] SlotValues SlotsAfterApply(const FleetModule &module);

// The journal's record of a planned module: operation "plan" or "apply", its outcome, what its
// scan read (time, serial number, version, the slots before, status and errors) and, made
// from the module's run, the slots after (planned, or read back) and the slots written. A row
// whose module was not found or not started is recorded too, with its address when the row
// gives one and the reason as the status.
[[nodiscard]] JournalRecord FleetRecord(const FleetModule &module, const Plan &plan, bool applied,
                                        const QString &source);

// What the scan read; none for a module not scanned.
[[nodiscard]] SlotValues SlotsBefore(const FleetModule &module);
// Plan: the slots as the plan would leave them.
[[nodiscard]] SlotValues SlotsPlanned(const FleetModule &module);

// What `velqa-cli export` writes: CSV (address, serial, version, slot1..slot8) or JSON (an array
// of objects with the same keys; null where the module sent nothing), one row per scan.
struct ExportedModule
{
    QString address;
    OperationResult scan;
};
[[nodiscard]] QByteArray ExportCsv(const QList<ExportedModule> &modules);
[[nodiscard]] QByteArray ExportJson(const QList<ExportedModule> &modules);

// A reviewed plan as `velqa-cli plan --out` saves it: each module found and read, by its serial
// number and the address it was found at, its planned slots and, under held_slot1..held_slot8,
// the slots it held.
struct ReviewedModule
{
    QString address;
    PlanRow row;
    OperationResult scan;
};
[[nodiscard]] QByteArray SavedPlanCsv(const QList<ReviewedModule> &modules);
