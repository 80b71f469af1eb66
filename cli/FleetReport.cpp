#include "FleetReport.h"

#include "Escape.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>

// A table cell and a line under the table, as the other commands cut them.
static constexpr int kCellChars = 64;
static constexpr int kLineChars = 256;

QString FleetCommandName(FleetCommand command)
{
    return command == FleetCommand::Plan ? QStringLiteral("plan") : QStringLiteral("apply");
}

static bool isGood(FleetOutcome outcome, FleetCommand command)
{
    return IsFleetSuccess(outcome) ||
           (command == FleetCommand::Plan && outcome == FleetOutcome::Pending);
}

// The slots a module's row names: those to write (plan) or written (apply).
static QList<int> changedSlots(const FleetModule &module, FleetCommand command)
{
    if (command == FleetCommand::Apply)
        return WrittenSlots(module);
    QList<int> numbers;
    for (const SlotChange &change : module.decision.changes)
        numbers << change.slot;
    return numbers;
}

static QString slotList(const QList<int> &slotNumbers)
{
    QStringList numbers;
    for (const int slot : slotNumbers)
        numbers << QString::number(slot);
    return numbers.isEmpty() ? QStringLiteral("-") : numbers.join(QLatin1Char(' '));
}

static QString shownSlot(const std::optional<QByteArray> &bytes)
{
    if (!bytes)
        return QStringLiteral("(not read)");
    return QLatin1Char('"') + TerminalBytes(*bytes, kCellChars) + QLatin1Char('"');
}

// "slot 3: "current" -> "desired"" for each slot to write (plan), "slot 3: "before" -> "read
// back"" for each slot written (apply), with what went wrong with it.
static QStringList changeLines(const FleetModule &module, FleetCommand command)
{
    QStringList lines;
    if (command == FleetCommand::Plan) {
        for (const SlotChange &change : module.decision.changes)
            lines << QStringLiteral("slot %1: %2 -> %3")
                         .arg(change.slot)
                         .arg(shownSlot(change.current), shownSlot(change.desired));
        return lines;
    }
    const SlotValues before = SlotsBefore(module);
    for (const SlotWrite &write : module.writes) {
        if (!write.sent)
            continue;
        QString line = QStringLiteral("slot %1: %2 -> %3")
                           .arg(write.slot)
                           .arg(shownSlot(before[write.slot - 1]),
                                write.readBack.isNull() ? QStringLiteral("(not read back)")
                                                        : shownSlot(write.readBack));
        if (!write.readBack.isNull() && !write.verified())
            line += QStringLiteral(", not the %1 written").arg(shownSlot(write.data));
        lines << line;
    }
    return lines;
}

// The module's serial number as it answered, else the one its plan row names.
static QByteArray serialOf(const FleetModule &module, const Plan &plan)
{
    if (module.scan && !module.scan->serial.isNull())
        return module.scan->serial;
    return plan.rows.value(module.row).serial;
}

QString FormatFleetTable(const Plan &plan, const QList<FleetModule> &modules, FleetCommand command,
                         int unplanned, qint64 wallMs)
{
    QList<QStringList> rows{{QStringLiteral("ADDRESS"), QStringLiteral("SERIAL"),
                             QStringLiteral("OUTCOME"), QStringLiteral("SLOTS"),
                             QStringLiteral("TIME")}};
    for (const FleetModule &module : modules) {
        const QByteArray serial = serialOf(module, plan);
        rows << QStringList{
            module.address.isEmpty() ? QStringLiteral("-")
                                     : TerminalText(module.address, kCellChars),
            serial.isNull() ? QStringLiteral("-") : TerminalBytes(serial, kCellChars),
            FleetOutcomeName(module.outcome), slotList(changedSlots(module, command)),
            QString::number(double(module.durationMs) / 1000.0, 'f', 2) + QStringLiteral(" s")};
    }
    QList<int> widths(rows.first().size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], int(row[i].size()));
    }
    const auto line = [&widths](const QStringList &row) {
        QString text;
        for (qsizetype i = 0; i < row.size(); ++i)
            text += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        return text + QLatin1Char('\n');
    };

    QString text = line(rows.first());
    std::map<FleetOutcome, int> counts;
    std::map<FleetOutcome, int> slotCounts;
    for (qsizetype m = 0; m < modules.size(); ++m) {
        const FleetModule &module = modules[m];
        text += line(rows[m + 1]);
        ++counts[module.outcome];
        for (const QString &change : changeLines(module, command)) {
            text += QStringLiteral("    %1\n").arg(change);
            ++slotCounts[module.outcome];
        }
        if (!module.decision.note.isEmpty())
            text += QStringLiteral("    %1\n").arg(TerminalText(module.decision.note, kLineChars));
        QStringList errors = module.scan ? module.scan->errors : QStringList();
        errors += module.errors;
        for (const QString &error : std::as_const(errors))
            text += QStringLiteral("    %1\n").arg(TerminalText(error, kLineChars));
    }

    QStringList parts;
    for (const auto &[outcome, count] : counts) {
        QString part = QStringLiteral("%1 %2").arg(count).arg(FleetOutcomeName(outcome));
        if (outcome == FleetOutcome::Pending)
            part = QStringLiteral("%1 to change (%2)")
                       .arg(count)
                       .arg(Counted(slotCounts[outcome], QStringLiteral("slot"),
                                    QStringLiteral("slots")));
        if (outcome == FleetOutcome::Changed)
            part += QStringLiteral(" (%1 written)")
                        .arg(Counted(slotCounts[outcome], QStringLiteral("slot"),
                                     QStringLiteral("slots")));
        parts << part;
    }
    QString summary =
        QStringLiteral("%1: %2 %3")
            .arg(command == FleetCommand::Plan ? QStringLiteral("Plan") : QStringLiteral("Apply"))
            .arg(modules.size())
            .arg(modules.size() == 1 ? QStringLiteral("module") : QStringLiteral("modules"));
    if (!parts.isEmpty())
        summary += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    if (unplanned > 0)
        summary += QStringLiteral("; %1 other %2 answered")
                       .arg(unplanned)
                       .arg(unplanned == 1 ? QStringLiteral("module") : QStringLiteral("modules"));
    text += summary + QStringLiteral(". %1 s\n").arg(double(wallMs) / 1000.0, 0, 'f', 2);
    return text;
}

static QJsonValue bytesOrNull(const QByteArray &bytes)
{
    return bytes.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromLatin1(bytes));
}

static QJsonArray slotArray(const SlotValues &slotValues)
{
    QJsonArray array;
    for (int slot = 1; slot <= PlanSlots::Count; ++slot) {
        if (slotValues[slot - 1])
            array.append(
                QJsonObject{{QStringLiteral("slot"), slot},
                            {QStringLiteral("data"), QString::fromLatin1(*slotValues[slot - 1])}});
    }
    return array;
}

QByteArray FormatFleetJson(const QList<FleetModule> &modules, const Plan &plan,
                           FleetCommand command)
{
    QJsonArray array;
    for (const FleetModule &module : modules) {
        const OperationResult scan = module.scan.value_or(OperationResult());
        QStringList errors = scan.errors;
        errors += module.errors;
        QJsonArray slotNumbers;
        for (const int slot : changedSlots(module, command))
            slotNumbers.append(slot);
        QJsonObject object{
            {QStringLiteral("address"),
             module.address.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(module.address)},
            {QStringLiteral("command"), FleetCommandName(command)},
            {QStringLiteral("line"), plan.rows.value(module.row).line},
            {QStringLiteral("serial"), bytesOrNull(scan.serial)},
            {QStringLiteral("version"), bytesOrNull(scan.version)},
            {QStringLiteral("slots"), slotArray(SlotsBefore(module))},
            {QStringLiteral("outcome"), FleetOutcomeName(module.outcome)},
            {QStringLiteral("status"), scan.status},
            {QStringLiteral("errors"), QJsonArray::fromStringList(errors)},
            {QStringLiteral("duration_ms"), module.durationMs},
            {QStringLiteral("slots_before"), slotArray(SlotsBefore(module))},
            {QStringLiteral("slots_after"),
             slotArray(command == FleetCommand::Plan ? SlotsPlanned(module)
                                                     : SlotsAfterApply(module))},
            {command == FleetCommand::Plan ? QStringLiteral("to_write") : QStringLiteral("written"),
             slotNumbers},
        };
        if (!module.decision.note.isEmpty())
            object.insert(QStringLiteral("note"), module.decision.note);
        array.append(object);
    }
    return JsonText(QJsonDocument(array));
}

QList<JunitCase> FleetJunitCases(const QList<FleetModule> &modules, const Plan &plan,
                                 FleetCommand command)
{
    QList<JunitCase> cases;
    for (const FleetModule &module : modules) {
        JunitCase c;
        const QByteArray serial = serialOf(module, plan);
        c.name = module.address.isEmpty() ? QString::fromLatin1(serial) : module.address;
        c.durationMs = module.durationMs;
        if (!isGood(module.outcome, command)) {
            c.failure = FleetOutcomeName(module.outcome);
            c.error = module.outcome == FleetOutcome::Error;
        }
        c.errors = module.scan ? module.scan->errors : QStringList();
        c.errors += module.errors;
        c.message = TerminalText(!module.decision.note.isEmpty() ? module.decision.note
                                 : c.errors.isEmpty()            ? FleetOutcomeName(module.outcome)
                                                                 : c.errors.first(),
                                 4096);
        c.output << QStringLiteral("serial: ") + TerminalBytes(serial, 4096)
                 << QStringLiteral("line: %1").arg(plan.rows.value(module.row).line);
        c.output += changeLines(module, command);
        cases << c;
    }
    return cases;
}
