#include "PlanFile.h"

#include "Escape.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The file's table before its cells are understood: CSV cells still escaped for a spreadsheet,
// JSON strings as they are; no value for an empty CSV cell, a missing key or a null.
struct RawTable
{
    QStringList header;
    // The line on which each column is first named.
    QList<int> headerLines;
    QList<QList<std::optional<QString>>> rows;
    QList<int> lines;
    bool csv = true;
};

struct Refusal
{
    PlanError error;
};

const QString kSerial = QStringLiteral("serial");
const QString kAddress = QStringLiteral("address");
const QString kVersion = QStringLiteral("version");

QString slotColumn(int slot)
{
    return QStringLiteral("slot%1").arg(slot);
}

QString heldColumn(int slot)
{
    return QStringLiteral("held_slot%1").arg(slot);
}

QString unknownColumn()
{
    return QStringLiteral("an unknown column; a plan has address, serial, version, slot1..slot8 "
                          "(and held_slot1..held_slot8 when saved)");
}

PlanReading refused(int line, const QString &column, const QString &message)
{
    PlanReading reading;
    reading.error = PlanError{line, column, message};
    return reading;
}

// The line of the character at `offset`.
int lineAt(const QByteArray &data, qsizetype offset)
{
    return int(data.left(offset).count('\n')) + 1;
}

// The line of each object's opening brace directly inside the top-level array.
QList<int> objectLines(const QByteArray &data)
{
    QList<int> lines;
    int line = 1;
    int depth = 0;
    bool inString = false;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c == '\n')
            ++line;
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (c == '{' && depth == 1)
                lines << line;
            ++depth;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return lines;
}

std::optional<Refusal> readCsv(const QByteArray &data, RawTable *table)
{
    // A wider header names a column twice or one no plan has; rows past the limit are refused
    // by the plan, so they are not read.
    const CsvTable csv = ReadCsv(data, int(PlanColumns().size()), MaxPlanRows + 1);
    if (!csv.ok())
        return Refusal{{csv.errorLine, QString(),
                        QStringLiteral("%1 (cell %2)").arg(csv.error).arg(csv.errorColumn)}};
    for (const QString &cell : csv.header) {
        table->header << CsvTextValue(cell).value_or(cell);
        table->headerLines << 1;
    }
    for (qsizetype r = 0; r < csv.rows.size(); ++r) {
        QList<std::optional<QString>> row;
        for (const QString &cell : csv.rows[r])
            row << (cell.isEmpty() ? std::nullopt : std::optional<QString>(cell));
        table->rows << row;
        table->lines << csv.rowLines[r];
    }
    return std::nullopt;
}

std::optional<Refusal> readJson(const QByteArray &data, RawTable *table)
{
    table->csv = false;
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Refusal{
            {lineAt(data, parseError.offset), QString(), parseError.errorString() + " in JSON"}};
    if (!document.isArray())
        return Refusal{{1, QString(), QStringLiteral("JSON that is no array of objects")}};
    const QJsonArray array = document.array();
    const QList<int> lines = objectLines(data);
    const QStringList known = PlanColumns();
    // Elements past the limit are refused by the plan: they are not looked at.
    for (qsizetype i = 0; i < std::min<qsizetype>(array.size(), MaxPlanRows + 1); ++i) {
        const int line = i < lines.size() ? lines[i] : 1;
        if (!array[i].isObject())
            return Refusal{{line, QString(), QStringLiteral("an array element that is no object")}};
        const QJsonObject object = array[i].toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!table->header.contains(it.key())) {
                // Refused at once: the header never grows past a plan's own columns, however
                // many names the file holds.
                if (!known.contains(it.key()))
                    return Refusal{{line, it.key(), unknownColumn()}};
                table->header << it.key();
                table->headerLines << line;
            }
            if (!it.value().isString() && !it.value().isNull())
                return Refusal{{line, it.key(), QStringLiteral("a value that is no string")}};
        }
        table->lines << line;
    }
    for (qsizetype i = 0; i < table->lines.size(); ++i) {
        const QJsonObject object = array[i].toObject();
        QList<std::optional<QString>> row;
        for (const QString &name : std::as_const(table->header)) {
            const QJsonValue value = object.value(name);
            row << (value.isString() && !value.toString().isEmpty()
                        ? std::optional<QString>(value.toString())
                        : std::nullopt);
        }
        table->rows << row;
    }
    return std::nullopt;
}

// Module bytes from a cell: the byte rule undone (CSV), or one byte per character (JSON).
std::optional<QByteArray> cellBytes(const QString &cell, bool csv)
{
    if (csv)
        return CsvBytesValue(cell);
    for (const QChar c : cell) {
        if (c.unicode() > 0xFF)
            return std::nullopt;
    }
    return cell.toLatin1();
}

QString shown(const QByteArray &bytes)
{
    return QLatin1Char('"') + TerminalBytes(bytes, 40) + QLatin1Char('"');
}

QString badCell(bool csv)
{
    return csv ? QStringLiteral("a cell the byte rule does not write (a backslash is written "
                                "\\\\, another byte \\xhh)")
               : QStringLiteral("a character above U+00FF, which no module byte is");
}

} // namespace

QStringList PlanColumns()
{
    QStringList columns{kAddress, kSerial, kVersion};
    for (int slot = 1; slot <= PlanSlots::Count; ++slot)
        columns << slotColumn(slot);
    for (int slot = 1; slot <= PlanSlots::Count; ++slot)
        columns << heldColumn(slot);
    return columns;
}

bool IsWritableValue(const QByteArray &value)
{
    if (value.isEmpty() || value.size() > PlanSlots::Width)
        return false;
    return std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

QByteArray PaddedValue(const QByteArray &value)
{
    return value.leftJustified(PlanSlots::Width, ' ', true);
}

bool SlotHolds(const std::optional<QByteArray> &current, const QByteArray &value)
{
    if (!current)
        return false;
    return *current == value || (IsWritableValue(value) && *current == PaddedValue(value));
}

PlanReading ReadPlan(const QByteArray &data)
{
    const QByteArray content = data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
    if (content.trimmed().isEmpty())
        return refused(0, QString(), QStringLiteral("an empty file"));
    RawTable table;
    const std::optional<Refusal> unread =
        content.trimmed().startsWith('[') ? readJson(content, &table) : readCsv(data, &table);
    if (unread)
        return refused(unread->error.line, unread->error.column, unread->error.message);

    const QStringList known = PlanColumns();
    QHash<QString, int> column;
    for (qsizetype c = 0; c < table.header.size(); ++c) {
        const QString &name = table.header[c];
        if (!known.contains(name))
            return refused(table.headerLines[c], name, unknownColumn());
        if (column.contains(name))
            return refused(table.headerLines[c], name, QStringLiteral("a column named twice"));
        column.insert(name, int(c));
    }
    PlanReading reading;
    Plan &plan = reading.plan;
    if (!column.contains(kSerial) && !column.contains(kAddress))
        return refused(1, QString(), QStringLiteral("no key column: serial or address"));
    plan.key = column.contains(kSerial) ? PlanKey::Serial : PlanKey::Address;
    plan.hasAddress = column.contains(kAddress);
    for (int slot = 1; slot <= PlanSlots::Count; ++slot)
        plan.saved = plan.saved || column.contains(heldColumn(slot));
    if (table.rows.isEmpty())
        return refused(0, QString(), QStringLiteral("no module rows below the header"));
    if (table.rows.size() > MaxPlanRows)
        return refused(table.lines[MaxPlanRows], QString(),
                       QStringLiteral("more than %1 module rows").arg(MaxPlanRows));

    QHash<QByteArray, int> serials;
    QHash<QString, int> addresses;
    for (qsizetype r = 0; r < table.rows.size(); ++r) {
        const QList<std::optional<QString>> &cells = table.rows[r];
        PlanRow row;
        row.line = table.lines[r];
        const auto cell = [&](const QString &name) -> std::optional<QString> {
            return column.contains(name) ? cells[column[name]] : std::nullopt;
        };
        // Module bytes of a column; a refusal when the cell is no cell of that kind.
        std::optional<PlanReading> refusal;
        const auto bytes = [&](const QString &name) -> std::optional<QByteArray> {
            const std::optional<QString> text = cell(name);
            if (!text)
                return std::nullopt;
            const std::optional<QByteArray> value = cellBytes(*text, table.csv);
            if (!value)
                refusal = refused(row.line, name, badCell(table.csv));
            return value;
        };

        row.serial = bytes(kSerial).value_or(QByteArray());
        row.version = bytes(kVersion).value_or(QByteArray());
        if (refusal)
            return *refusal;
        if (const std::optional<QString> address = cell(kAddress)) {
            const std::optional<QString> text =
                table.csv ? CsvTextValue(*address) : std::optional<QString>(*address);
            if (!text)
                return refused(row.line, kAddress,
                               QStringLiteral("a cell the text rule does "
                                              "not write"));
            row.address = *text;
        }
        for (int slot = 1; slot <= PlanSlots::Count; ++slot) {
            const QString name = slotColumn(slot);
            row.desired[slot - 1] = bytes(name);
            row.held[slot - 1] = bytes(heldColumn(slot));
            if (refusal)
                break;
            const std::optional<QByteArray> &value = row.desired[slot - 1];
            if (value && value->size() > PlanSlots::Width)
                return refused(
                    row.line, name,
                    QStringLiteral("%1 characters, more than the slot's 32").arg(value->size()));
            if (value && !IsWritableValue(*value) && value->size() != PlanSlots::Width)
                return refused(row.line, name,
                               QStringLiteral("%1 holds a byte outside printable ASCII "
                                              "(0x20..0x7E), which is never written")
                                   .arg(shown(*value)));
        }
        if (refusal)
            return *refusal;

        if (plan.key == PlanKey::Serial) {
            if (row.serial.isNull())
                return refused(row.line, kSerial, QStringLiteral("no serial number"));
            if (const auto other = serials.constFind(row.serial); other != serials.cend())
                return refused(row.line, kSerial,
                               QStringLiteral("serial number %1 is also on line %2")
                                   .arg(shown(row.serial), QString::number(*other)));
            serials.insert(row.serial, row.line);
        }
        if (plan.key == PlanKey::Address) {
            if (row.address.isEmpty())
                return refused(row.line, kAddress, QStringLiteral("no address"));
            const QString key = row.address.toLower();
            if (const auto other = addresses.constFind(key); other != addresses.cend())
                return refused(
                    row.line, kAddress,
                    QStringLiteral("address %1 is also on line %2")
                        .arg(QLatin1Char('"') + TerminalText(row.address, 40) + QLatin1Char('"'),
                             QString::number(*other)));
            addresses.insert(key, row.line);
        }
        plan.rows << row;
    }
    return reading;
}

PlanReading ReadPlanFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(0, QString(), file.errorString());
    if (file.size() > MaxPlanFileBytes)
        return refused(0, QString(), QStringLiteral("larger than 16 MiB"));
    // A pipe has no size: read one byte more than allowed to tell.
    const QByteArray data = file.read(MaxPlanFileBytes + 1);
    if (data.size() > MaxPlanFileBytes)
        return refused(0, QString(), QStringLiteral("larger than 16 MiB"));
    if (file.error() != QFileDevice::NoError)
        return refused(0, QString(), file.errorString());
    return ReadPlan(data);
}
