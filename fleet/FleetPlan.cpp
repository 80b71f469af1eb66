#include "FleetPlan.h"

#include "Escape.h"
#include "OperationRecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

static const QList<std::pair<FleetOutcome, const char *>> &outcomeNames()
{
    static const QList<std::pair<FleetOutcome, const char *>> names{
        {FleetOutcome::Unchanged, "unchanged"},
        {FleetOutcome::Pending, "pending"},
        {FleetOutcome::Changed, "changed"},
        {FleetOutcome::VerifyFailed, "verify-failed"},
        {FleetOutcome::NoReply, "no-reply"},
        {FleetOutcome::NotConnected, "not-connected"},
        {FleetOutcome::Error, "error"},
        {FleetOutcome::NotFound, "not-found"},
        {FleetOutcome::Ambiguous, "ambiguous"},
        {FleetOutcome::Drifted, "drifted"},
        {FleetOutcome::NotStarted, "not-started"},
        {FleetOutcome::Interrupted, "interrupted"},
    };
    return names;
}

QString FleetOutcomeName(FleetOutcome outcome)
{
    for (const auto &[value, name] : outcomeNames()) {
        if (value == outcome)
            return QString::fromLatin1(name);
    }
    return QString();
}

QStringList FleetOutcomeNames()
{
    QStringList names;
    for (const auto &entry : outcomeNames())
        names << QString::fromLatin1(entry.second);
    return names;
}

QString FleetOperationName(bool applied)
{
    return applied ? QStringLiteral("apply") : QStringLiteral("plan");
}

QStringList FleetOperationNames()
{
    return {FleetOperationName(false), FleetOperationName(true)};
}

bool IsFleetSuccess(FleetOutcome outcome)
{
    return outcome == FleetOutcome::Changed || outcome == FleetOutcome::Unchanged;
}

SlotValues SlotsOf(const OperationResult &scan)
{
    SlotValues values;
    for (const SlotRead &slot : scan.slotsRead) {
        if (slot.slot >= 1 && slot.slot <= PlanSlots::Count)
            values[slot.slot - 1] = slot.data;
    }
    return values;
}

SlotValues SlotsBefore(const FleetModule &module)
{
    return module.scan ? SlotsOf(*module.scan) : SlotValues();
}

SlotValues SlotsPlanned(const FleetModule &module)
{
    SlotValues slotValues = SlotsBefore(module);
    for (const SlotChange &change : module.decision.changes)
        slotValues[change.slot - 1] = change.desired;
    return slotValues;
}

QList<SlotWrite> WritesFor(const ModuleDecision &decision)
{
    QList<SlotWrite> writes;
    if (decision.outcome != FleetOutcome::Pending)
        return writes;
    for (const SlotChange &change : decision.changes)
        writes << SlotWrite{change.slot, change.desired, false, false, QByteArray()};
    return writes;
}

FleetOutcome AppliedOutcome(const ModuleDecision &decision, const QList<SlotWrite> &writes,
                            int writesLeft)
{
    if (decision.outcome != FleetOutcome::Pending)
        return decision.outcome;
    if (writesLeft > 0)
        return FleetOutcome::Interrupted;
    const bool verified = std::all_of(writes.begin(), writes.end(),
                                      [](const SlotWrite &write) { return write.verified(); });
    return verified && writes.size() == decision.changes.size() ? FleetOutcome::Changed
                                                                : FleetOutcome::VerifyFailed;
}

QList<int> WrittenSlots(const FleetModule &module)
{
    QList<int> written;
    for (const SlotWrite &write : module.writes) {
        if (write.sent)
            written << write.slot;
    }
    return written;
}

SlotValues SlotsAfterApply(const FleetModule &module)
{
    SlotValues slotValues = SlotsBefore(module);
    for (const SlotWrite &write : module.writes) {
        slotValues[write.slot - 1] =
            write.readBack.isNull() ? std::nullopt : std::optional<QByteArray>(write.readBack);
    }
    return slotValues;
}

static QString quoted(const std::optional<QByteArray> &bytes)
{
    if (!bytes)
        return QStringLiteral("nothing");
    return QLatin1Char('"') + TerminalBytes(*bytes, 40) + QLatin1Char('"');
}

ModuleDecision DecideModule(const Plan &plan, const PlanRow &row, const OperationResult &scan)
{
    ModuleDecision decision;
    switch (scan.outcome) {
    case Outcome::Success:
        break;
    case Outcome::NoReply:
        decision.outcome = FleetOutcome::NoReply;
        return decision;
    case Outcome::NotConnected:
        decision.outcome = FleetOutcome::NotConnected;
        return decision;
    case Outcome::Error:
        decision.outcome = FleetOutcome::Error;
        return decision;
    }
    if (plan.key == PlanKey::Serial && scan.serial != row.serial) {
        decision.outcome = FleetOutcome::NotFound;
        decision.note = QStringLiteral("the module at this address answers serial number %1")
                            .arg(quoted(scan.serial));
        return decision;
    }
    const SlotValues current = SlotsOf(scan);
    for (int slot = 1; slot <= PlanSlots::Count; ++slot) {
        const std::optional<QByteArray> &value = row.desired[slot - 1];
        if (!value || SlotHolds(current[slot - 1], *value))
            continue;
        if (!IsWritableValue(*value)) {
            decision.outcome = FleetOutcome::Drifted;
            decision.note =
                QStringLiteral("slot %1 holds %2, not the plan's %3, which is never written")
                    .arg(slot)
                    .arg(quoted(current[slot - 1]), quoted(*value));
            decision.changes.clear();
            return decision;
        }
        decision.changes << SlotChange{slot, current[slot - 1], PaddedValue(*value)};
    }
    if (decision.changes.isEmpty()) {
        decision.outcome = FleetOutcome::Unchanged;
        return decision;
    }
    // A reviewed plan writes only a module that still holds what the review saw.
    for (int slot = 1; plan.saved && slot <= PlanSlots::Count; ++slot) {
        const std::optional<QByteArray> &held = row.held[slot - 1];
        if (held != current[slot - 1]) {
            decision.outcome = FleetOutcome::Drifted;
            decision.note = QStringLiteral("slot %1 holds %2, the reviewed plan saw %3")
                                .arg(slot)
                                .arg(quoted(current[slot - 1]), quoted(held));
            decision.changes.clear();
            return decision;
        }
    }
    decision.outcome = FleetOutcome::Pending;
    return decision;
}

static QStringList exportHeader()
{
    return PlanColumns().mid(0, 3 + PlanSlots::Count);
}

QByteArray ExportCsv(const QList<ExportedModule> &modules)
{
    CsvWriter csv(exportHeader());
    for (const ExportedModule &module : modules) {
        csv.addText(module.address);
        csv.addBytes(module.scan.serial);
        csv.addBytes(module.scan.version);
        const SlotValues slotValues = SlotsOf(module.scan);
        for (const std::optional<QByteArray> &slot : slotValues)
            csv.addBytes(slot.value_or(QByteArray()));
        csv.endRow();
    }
    return csv.data();
}

static QJsonValue bytesOrNull(const std::optional<QByteArray> &bytes)
{
    if (!bytes || bytes->isNull())
        return QJsonValue(QJsonValue::Null);
    return QString::fromLatin1(*bytes);
}

QByteArray ExportJson(const QList<ExportedModule> &modules)
{
    const QStringList header = exportHeader();
    QJsonArray array;
    for (const ExportedModule &module : modules) {
        QJsonObject object{{header[0], module.address},
                           {header[1], bytesOrNull(module.scan.serial)},
                           {header[2], bytesOrNull(module.scan.version)}};
        const SlotValues slotValues = SlotsOf(module.scan);
        for (int slot = 1; slot <= PlanSlots::Count; ++slot)
            object.insert(header[2 + slot], bytesOrNull(slotValues[slot - 1]));
        array.append(object);
    }
    return JsonText(QJsonDocument(array));
}

QByteArray SavedPlanCsv(const QList<ReviewedModule> &modules)
{
    CsvWriter csv(PlanColumns());
    for (const ReviewedModule &module : modules) {
        csv.addText(module.address);
        csv.addBytes(module.scan.serial);
        csv.addBytes(module.scan.version);
        for (const std::optional<QByteArray> &value : module.row.desired)
            csv.addBytes(value.value_or(QByteArray()));
        for (const std::optional<QByteArray> &held : SlotsOf(module.scan))
            csv.addBytes(held.value_or(QByteArray()));
        csv.endRow();
    }
    return csv.data();
}

JournalRecord FleetRecord(const FleetModule &module, const Plan &plan, bool applied,
                          const QString &source)
{
    JournalRecord record =
        module.scan ? RecordFromResult(*module.scan, source) : NewJournalRecord(source);
    record.address =
        module.address.isEmpty() ? plan.rows.value(module.row).address : module.address;
    record.operation = FleetOperationName(applied);
    record.outcome = FleetOutcomeName(module.outcome);
    if (!module.decision.note.isEmpty())
        record.status = module.decision.note;
    record.errors += module.errors;
    record.slotsAfter.clear();
    const SlotValues after = applied ? SlotsAfterApply(module) : SlotsPlanned(module);
    for (int slot = 1; slot <= PlanSlots::Count; ++slot) {
        if (after[slot - 1])
            record.slotsAfter << JournalSlot{slot, *after[slot - 1]};
    }
    record.slotsWritten = applied ? WrittenSlots(module) : QList<int>();
    record.durationMs = module.durationMs;
    return record;
}
