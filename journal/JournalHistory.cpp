#include "JournalHistory.h"

#include "Journal.h"
#include "Outbox.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

static constexpr int kCsvSlots = 8;

std::optional<QDateTime> ParseSince(const QString &text)
{
    QString iso = text.trimmed();
    if (iso.size() > 10 && iso.at(10) == QLatin1Char(' '))
        iso[10] = QLatin1Char('T');
    QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QDate date = QDate::fromString(iso, Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        time = date.startOfDay();
    }
    return time.toUTC();
}

QString EscapeControls(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            escaped += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

static QString cell(const QString &text, int width)
{
    const QString escaped = EscapeControls(text);
    return escaped.size() <= width ? escaped : escaped.left(width - 3) + QStringLiteral("...");
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
        QStringLiteral("TIME (UTC)"), QStringLiteral("SOURCE"),  QStringLiteral("STATION"),
        QStringLiteral("USER"),       QStringLiteral("ADDRESS"), QStringLiteral("OPERATION"),
        QStringLiteral("OUTCOME"),    QStringLiteral("SERIAL"),  QStringLiteral("VERSION"),
        QStringLiteral("SLOTS"),      QStringLiteral("RESULT"),  QStringLiteral("MS"),
        QStringLiteral("STATUS")};
    QList<QStringList> rows{header};
    for (const JournalRecord &r : records) {
        const QByteArray result =
            r.operation == OperationName(Operation::LoopTest) ? r.loop : r.card;
        rows << QStringList{r.time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                            cell(r.source, 8),
                            cell(r.station, 20),
                            cell(r.user, 12),
                            cell(r.address, 24),
                            cell(r.operation, 14),
                            cell(r.outcome, 14),
                            r.serial.isNull() ? QStringLiteral("-") : cell(BytesText(r.serial), 20),
                            r.version.isNull() ? QStringLiteral("-")
                                               : cell(BytesText(r.version), 20),
                            QString::number(r.slotsRead.size()),
                            cell(BytesText(result), 20),
                            QString::number(r.durationMs),
                            cell(r.status, 40)};
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
    text += records.size() == 1 ? QStringLiteral("1 record\n")
                                : QStringLiteral("%1 records\n").arg(records.size());
    return text;
}

static QString csvField(const QString &text, bool escapeControls)
{
    const QString value = escapeControls ? EscapeControls(text) : text;
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) &&
        !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString FormatHistoryCsv(const QList<JournalRecord> &records, bool escapeControls)
{
    QStringList header{
        QStringLiteral("id"),      QStringLiteral("time"),      QStringLiteral("source"),
        QStringLiteral("station"), QStringLiteral("user"),      QStringLiteral("tool_version"),
        QStringLiteral("address"), QStringLiteral("operation"), QStringLiteral("outcome"),
        QStringLiteral("status"),  QStringLiteral("serial"),    QStringLiteral("version")};
    for (int slot = 1; slot <= kCsvSlots; ++slot)
        header << QStringLiteral("slot_%1").arg(slot);
    header << QStringLiteral("card") << QStringLiteral("loop") << QStringLiteral("errors")
           << QStringLiteral("duration_ms");
    QString text = header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const JournalRecord &r : records) {
        QStringList fields{r.id.toString(QUuid::WithoutBraces),
                           timeText(r.time),
                           r.source,
                           r.station,
                           r.user,
                           r.toolVersion,
                           r.address,
                           r.operation,
                           r.outcome,
                           r.status,
                           BytesText(r.serial),
                           BytesText(r.version)};
        for (int slot = 1; slot <= kCsvSlots; ++slot) {
            const auto found =
                std::find_if(r.slotsRead.begin(), r.slotsRead.end(),
                             [slot](const JournalSlot &s) { return s.slot == slot; });
            fields << (found == r.slotsRead.end() ? QString() : BytesText(found->data));
        }
        fields << BytesText(r.card) << BytesText(r.loop) << r.errors.join(QStringLiteral("; "))
               << QString::number(r.durationMs);
        QStringList quoted;
        for (const QString &field : std::as_const(fields))
            quoted << csvField(field, escapeControls);
        text += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text;
}

static QJsonValue bytesOrNull(const QByteArray &bytes)
{
    return bytes.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(BytesText(bytes));
}

QByteArray FormatHistoryJson(const QList<JournalRecord> &records)
{
    QJsonArray array;
    for (const JournalRecord &r : records) {
        QJsonArray slotArray;
        for (const JournalSlot &slot : r.slotsRead)
            slotArray.append(QJsonObject{{QStringLiteral("slot"), slot.slot},
                                         {QStringLiteral("data"), BytesText(slot.data)}});
        array.append(QJsonObject{{QStringLiteral("id"), r.id.toString(QUuid::WithoutBraces)},
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
                                 {QStringLiteral("slots"), slotArray},
                                 {QStringLiteral("card"), bytesOrNull(r.card)},
                                 {QStringLiteral("loop"), bytesOrNull(r.loop)},
                                 {QStringLiteral("errors"), QJsonArray::fromStringList(r.errors)},
                                 {QStringLiteral("duration_ms"), r.durationMs}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

int RunHistoryCommand(const QString &url, const HistoryOptions &options, QString &out, QString &err)
{
    JournalStore store(ParseJournalUrl(url));
    std::optional<QList<JournalRecord>> records;
    if (store.open(JournalAccess::Read))
        records = store.read(options.filter);
    if (!records) {
        err += QStringLiteral("velqa-cli: %1\n").arg(EscapeControls(store.error()));
        return store.trouble() == SqlTrouble::Missing ? HistoryNoJournal : HistoryFailed;
    }
    switch (options.format) {
    case HistoryFormat::Table:
        out += FormatHistoryTable(*records);
        break;
    case HistoryFormat::Csv:
        out += FormatHistoryCsv(*records, options.terminal);
        break;
    case HistoryFormat::Json:
        out += QString::fromUtf8(FormatHistoryJson(*records));
        break;
    }
    return HistoryOk;
}

int RunSyncCommand(const QString &url, const QString &outboxFolder, const QString &outboxFile,
                   QString &out, QString &err, const SqlDeadline *deadline)
{
    const JournalLocation location = ParseJournalUrl(url);
    if (location.kind == JournalLocation::Kind::Invalid) {
        err += QStringLiteral("velqa-cli: %1\n").arg(EscapeControls(location.error));
        return HistoryFailed;
    }
    const QString folder = outboxFolder.isEmpty() ? JournalDataFolder() : outboxFolder;
    const SyncResult result = SyncOutboxes(folder, location, outboxFile, deadline);
    if (!result.error.isEmpty())
        err += QStringLiteral("velqa-cli: %1\n").arg(EscapeControls(result.error));
    for (const SyncedJournal &synced : result.synced) {
        out += QStringLiteral("%1 sent to %2; %3 waiting in %4.\n")
                   .arg(synced.sent == 1 ? QStringLiteral("1 record")
                                         : QStringLiteral("%1 records").arg(synced.sent),
                        synced.journal)
                   .arg(synced.left)
                   .arg(synced.outbox);
        if (!synced.error.isEmpty())
            err += QStringLiteral("velqa-cli: %1\n").arg(EscapeControls(synced.error));
    }
    for (const WaitingOutbox &other : result.others) {
        if (other.journal.isEmpty())
            out += QStringLiteral("%1 parked by an earlier version wait in %2 without the name of "
                                  "their journal: velqa-cli sync --journal URL --outbox %2 sends "
                                  "them to URL.\n")
                       .arg(other.records == 1 ? QStringLiteral("1 record")
                                               : QStringLiteral("%1 records").arg(other.records),
                            other.path);
        else
            out += QStringLiteral("%1 wait for another journal, %2, in %3: velqa-cli sync "
                                  "--journal %2 sends them.\n")
                       .arg(other.records == 1 ? QStringLiteral("1 record")
                                               : QStringLiteral("%1 records").arg(other.records),
                            other.journal, other.path);
    }
    if (result.synced.isEmpty() && result.others.isEmpty() && result.error.isEmpty())
        out += QStringLiteral("Nothing to send: no records wait in %1.\n").arg(folder);
    return result.ok() ? HistoryOk : HistoryFailed;
}
