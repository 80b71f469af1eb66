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
static QList<int> changedSlots(const FleetModule &module)
{
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
            FleetOutcomeName(module.outcome), slotList(changedSlots(module)),
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
    int slotCount = 0;
    for (qsizetype m = 0; m < modules.size(); ++m) {
        const FleetModule &module = modules[m];
        text += line(rows[m + 1]);
        ++counts[module.outcome];
        for (const SlotChange &change : module.decision.changes) {
            text += QStringLiteral("    slot %1: %2 -> %3\n")
                        .arg(change.slot)
                        .arg(shownSlot(change.current), shownSlot(change.desired));
            ++slotCount;
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
        if (outcome == FleetOutcome::Pending && command == FleetCommand::Plan)
            part = QStringLiteral("%1 to change (%2 %3)")
                       .arg(count)
                       .arg(slotCount)
                       .arg(slotCount == 1 ? QStringLiteral("slot") : QStringLiteral("slots"));
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
        for (const int slot : changedSlots(module))
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
            {QStringLiteral("slots_after"), slotArray(SlotsPlanned(module))},
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
        for (const SlotChange &change : module.decision.changes)
            c.output << QStringLiteral("(%1) %2 -> %3")
                            .arg(change.slot, 2, 10, QLatin1Char('0'))
                            .arg(shownSlot(change.current), shownSlot(change.desired));
        cases << c;
    }
    return cases;
}
