#include "HistoryOutput.h"

#include "Escape.h"
#include "JournalTime.h"
#include "Report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

static constexpr int kCsvSlots = 8;

// "1 3" for the slots written, "-" for none.
static QString writtenText(const QList<int> &slotNumbers)
{
    QStringList numbers;
    for (const int slot : slotNumbers)
        numbers << QString::number(slot);
    return numbers.isEmpty() ? QStringLiteral("-") : numbers.join(QLatin1Char(' '));
}

// The data of `slot` among `slotList`; a null array when it is not there.
static QByteArray slotData(const QList<JournalSlot> &slotList, int slot)
{
    const auto found = std::find_if(slotList.begin(), slotList.end(),
                                    [slot](const JournalSlot &s) { return s.slot == slot; });
    return found == slotList.end() ? QByteArray() : found->data;
}

static QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QString FormatHistoryTable(const QList<JournalRecord> &records)
{
    if (records.isEmpty())
        return QStringLiteral("No records.\n");
    const QStringList header{
        QStringLiteral("TIME"),    QStringLiteral("SOURCE"),  QStringLiteral("STATION"),
        QStringLiteral("USER"),    QStringLiteral("ADDRESS"), QStringLiteral("OPERATION"),
        QStringLiteral("OUTCOME"), QStringLiteral("SERIAL"),  QStringLiteral("VERSION"),
        QStringLiteral("SLOTS"),   QStringLiteral("RESULT"),  QStringLiteral("MS"),
        QStringLiteral("STATUS")};
    QList<QStringList> rows{header};
    const auto bytes = [](const QByteArray &value, int width) {
        return value.isNull() ? QStringLiteral("-") : TerminalBytes(value, width);
    };
    for (const JournalRecord &r : records) {
        const QByteArray result =
            r.operation == OperationName(Operation::LoopTest) ? r.loop : r.card;
        // Plan and apply: the slots written.
        const QString resultText = r.slotsWritten
                                       ? QStringLiteral("written: ") + writtenText(*r.slotsWritten)
                                       : TerminalBytes(result, 20);
        rows << QStringList{
            LocalTimeText(r.time), TerminalText(r.source, 8), TerminalText(r.station, 20),
            TerminalText(r.user, 12), TerminalText(r.address, 24), TerminalText(r.operation, 14),
            TerminalText(r.outcome, 14),
            // Eight bytes, each at most four characters escaped.
            bytes(r.serial, 32), bytes(r.version, 32), QString::number(r.slotsRead.size()),
            resultText, QString::number(r.durationMs), TerminalText(r.status, 40)};
    }
    QList<int> widths(header.size(), 0);
    for (const QStringList &row : std::as_const(rows))
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], int(row[i].size()));
    QString text;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        text += line + QLatin1Char('\n');
    }
    return text + Counted(records.size(), QStringLiteral("record"), QStringLiteral("records")) +
           QLatin1Char('\n');
}

QByteArray FormatHistoryCsv(const QList<JournalRecord> &records)
{
    QStringList header{"id",      "time",      "source",  "station", "user",   "tool_version",
                       "address", "operation", "outcome", "status",  "serial", "version"};
    for (int slot = 1; slot <= kCsvSlots; ++slot)
        header << QStringLiteral("slot_%1").arg(slot);
    header << QStringLiteral("card") << QStringLiteral("loop") << QStringLiteral("errors")
           << QStringLiteral("duration_ms");
    // Plan and apply records: the slots after, and those written ("1 3"; empty otherwise).
    for (int slot = 1; slot <= kCsvSlots; ++slot)
        header << QStringLiteral("slot_after_%1").arg(slot);
    header << QStringLiteral("slots_written");
    CsvWriter csv(header);
    for (const JournalRecord &r : records) {
        for (const QString &text :
             {r.id.toString(QUuid::WithoutBraces), timeText(r.time), r.source, r.station, r.user,
              r.toolVersion, r.address, r.operation, r.outcome, r.status})
            csv.addText(text);
        csv.addBytes(r.serial);
        csv.addBytes(r.version);
        for (int slot = 1; slot <= kCsvSlots; ++slot)
            csv.addBytes(slotData(r.slotsRead, slot));
        csv.addBytes(r.card);
        csv.addBytes(r.loop);
        csv.addText(r.errors.join(QStringLiteral("; ")));
        csv.addText(QString::number(r.durationMs));
        for (int slot = 1; slot <= kCsvSlots; ++slot)
            csv.addBytes(slotData(r.slotsAfter, slot));
        csv.addText(r.slotsWritten && !r.slotsWritten->isEmpty() ? writtenText(*r.slotsWritten)
                                                                 : QString());
        csv.endRow();
    }
    return csv.data();
}

static QJsonValue bytesOrNull(const QByteArray &bytes)
{
    return bytes.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromLatin1(bytes));
}

static QJsonArray slotArray(const QList<JournalSlot> &slotList)
{
    QJsonArray array;
    for (const JournalSlot &slot : slotList)
        array.append(QJsonObject{{QStringLiteral("slot"), slot.slot},
                                 {QStringLiteral("data"), QString::fromLatin1(slot.data)}});
    return array;
}

QByteArray FormatHistoryJson(const QList<JournalRecord> &records)
{
    QJsonArray array;
    for (const JournalRecord &r : records) {
        QJsonObject object{{QStringLiteral("id"), r.id.toString(QUuid::WithoutBraces)},
                           {QStringLiteral("time"), timeText(r.time)},
                           {QStringLiteral("source"), r.source},
                           {QStringLiteral("station"), r.station},
                           {QStringLiteral("user"), r.user},
                           {QStringLiteral("tool_version"), r.toolVersion},
                           {QStringLiteral("address"), r.address},
                           {QStringLiteral("operation"), r.operation},
                           {QStringLiteral("outcome"), r.outcome},
                           {QStringLiteral("status"), r.status},
                           {QStringLiteral("serial"), bytesOrNull(r.serial)},
                           {QStringLiteral("version"), bytesOrNull(r.version)},
                           {QStringLiteral("slots"), slotArray(r.slotsRead)},
                           {QStringLiteral("card"), bytesOrNull(r.card)},
                           {QStringLiteral("loop"), bytesOrNull(r.loop)},
                           {QStringLiteral("errors"), QJsonArray::fromStringList(r.errors)},
                           {QStringLiteral("duration_ms"), r.durationMs}};
        if (r.slotsWritten) {
            QJsonArray written;
            for (const int slot : *r.slotsWritten)
                written.append(slot);
            object.insert(QStringLiteral("slots_after"), slotArray(r.slotsAfter));
            object.insert(QStringLiteral("slots_written"), written);
        }
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}
