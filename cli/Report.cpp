#include "Report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

#include <algorithm>

static constexpr int kTraceRow = 16;

QList<ModuleResult> ReportedResults(const QList<ModuleResult> &results, CliCommand command)
{
    if (command != CliCommand::Discover)
        return results;
    QList<ModuleResult> found;
    std::copy_if(results.begin(), results.end(), std::back_inserter(found),
                 [](const ModuleResult &r) { return r.found; });
    return found;
}

// The result field of the tests, shown in their own column.
static QString resultField(const ModuleResult &result)
{
    if (result.command == CliCommand::ReaderTest)
        return result.cardId;
    if (result.command == CliCommand::LoopTest)
        return result.loopText;
    return QString();
}

static QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 2) + QStringLiteral(" s");
}

QString FormatTable(const QList<ModuleResult> &all, CliCommand command, bool withSlots,
                    qint64 wallMs)
{
    const QList<ModuleResult> results = ReportedResults(all, command);
    const bool discover = command == CliCommand::Discover;
    const bool test = command == CliCommand::ReaderTest || command == CliCommand::LoopTest;

    QStringList header{QStringLiteral("ADDRESS"), QStringLiteral("SERIAL"),
                       QStringLiteral("VERSION")};
    if (!discover) {
        header << QStringLiteral("SLOTS") << QStringLiteral("TIME") << QStringLiteral("OUTCOME");
        if (test)
            header << (command == CliCommand::ReaderTest ? QStringLiteral("CARD")
                                                         : QStringLiteral("LOOP"));
        header << QStringLiteral("STATUS");
    }
    QList<QStringList> rows;
    for (const ModuleResult &r : results) {
        QStringList row{r.address, r.serial.isNull() ? QStringLiteral("-") : r.serial,
                        r.version.isNull() ? QStringLiteral("-") : r.version};
        if (!discover) {
            row << QString::number(r.slotLines.size()) << seconds(r.durationMs)
                << OutcomeName(r.outcome);
            if (test)
                row << resultField(r);
            row << r.status;
        }
        rows << row;
    }
    QList<int> widths;
    for (const QString &h : header)
        widths << int(h.size());
    for (const QStringList &row : std::as_const(rows))
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], int(row[i].size()));
    const auto line = [&widths](const QStringList &cells) {
        QString text;
        for (int i = 0; i < cells.size(); ++i)
            text += i + 1 < cells.size() ? cells[i].leftJustified(widths[i] + 2) : cells[i];
        return text + QLatin1Char('\n');
    };

    QString text;
    if (!results.isEmpty())
        text += line(header);
    for (int i = 0; i < rows.size(); ++i) {
        text += line(rows[i]);
        if (withSlots) {
            for (const SlotLine &slot : results[i].slotLines)
                text += QStringLiteral("    (%1) %2\n")
                            .arg(slot.slot, 2, 10, QLatin1Char('0'))
                            .arg(slot.data);
        }
    }
    // Addresses without a module are no news to discover.
    for (const ModuleResult &r : discover ? results : all) {
        for (const QString &error : r.errors)
            text += QStringLiteral("%1: %2\n").arg(r.address, error);
    }
    const int succeeded = int(
        std::count_if(all.begin(), all.end(), [](const ModuleResult &r) { return r.succeeded(); }));
    if (discover) {
        text += QStringLiteral("%1 of %2 addresses answered as modules in %3\n")
                    .arg(succeeded)
                    .arg(all.size())
                    .arg(seconds(wallMs));
    } else {
        text += QStringLiteral("%1 modules: %2 succeeded, %3 failed in %4\n")
                    .arg(all.size())
                    .arg(succeeded)
                    .arg(all.size() - succeeded)
                    .arg(seconds(wallMs));
    }
    return text;
}

static QJsonValue textOrNull(const QString &text)
{
    return text.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QByteArray FormatJson(const QList<ModuleResult> &all, CliCommand command)
{
    QJsonArray array;
    for (const ModuleResult &r : ReportedResults(all, command)) {
        QJsonObject object;
        object[QStringLiteral("address")] = r.address;
        object[QStringLiteral("command")] = CommandName(r.command);
        object[QStringLiteral("serial")] = textOrNull(r.serial);
        object[QStringLiteral("version")] = textOrNull(r.version);
        QJsonArray slotLines;
        for (const SlotLine &slot : r.slotLines)
            slotLines.append(QJsonObject{{QStringLiteral("slot"), slot.slot},
                                         {QStringLiteral("data"), slot.data}});
        object[QStringLiteral("slots")] = slotLines;
        object[QStringLiteral("outcome")] = OutcomeName(r.outcome);
        object[QStringLiteral("status")] = r.status;
        if (r.command != CliCommand::Scan && r.command != CliCommand::Discover)
            object[QStringLiteral("scan_status")] = r.scanStatus;
        if (r.command == CliCommand::ReaderTest)
            object[QStringLiteral("card")] = r.cardId;
        if (r.command == CliCommand::LoopTest)
            object[QStringLiteral("loop")] = r.loopText;
        object[QStringLiteral("errors")] = QJsonArray::fromStringList(r.errors);
        object[QStringLiteral("duration_ms")] = r.durationMs;
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray FormatJunit(const QList<ModuleResult> &all, CliCommand command, qint64 wallMs,
                       const QDateTime &started)
{
    const QList<ModuleResult> results = ReportedResults(all, command);
    const auto failed = [](const ModuleResult &r) {
        return !r.succeeded() && r.outcome != Outcome::Error;
    };
    const auto errored = [](const ModuleResult &r) {
        return !r.succeeded() && r.outcome == Outcome::Error;
    };
    const QString name = QStringLiteral("velqa-cli ") + CommandName(command);
    const auto time = [](qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 3); };

    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("testsuites"));
    writer.writeAttribute(QStringLiteral("name"), name);
    writer.writeStartElement(QStringLiteral("testsuite"));
    writer.writeAttribute(QStringLiteral("name"), name);
    writer.writeAttribute(QStringLiteral("tests"), QString::number(results.size()));
    writer.writeAttribute(QStringLiteral("failures"),
                          QString::number(std::count_if(results.begin(), results.end(), failed)));
    writer.writeAttribute(QStringLiteral("errors"),
                          QString::number(std::count_if(results.begin(), results.end(), errored)));
    writer.writeAttribute(QStringLiteral("time"), time(wallMs));
    writer.writeAttribute(QStringLiteral("timestamp"), started.toString(Qt::ISODate));
    for (const ModuleResult &r : results) {
        writer.writeStartElement(QStringLiteral("testcase"));
        writer.writeAttribute(QStringLiteral("classname"),
                              QStringLiteral("velqa.") + CommandName(command));
        writer.writeAttribute(QStringLiteral("name"), r.address);
        writer.writeAttribute(QStringLiteral("time"), time(r.durationMs));
        if (failed(r) || errored(r)) {
            writer.writeStartElement(errored(r) ? QStringLiteral("error")
                                                : QStringLiteral("failure"));
            writer.writeAttribute(QStringLiteral("type"), OutcomeName(r.outcome));
            writer.writeAttribute(QStringLiteral("message"),
                                  r.errors.isEmpty() ? r.status : r.errors.first());
            writer.writeCharacters(r.errors.join(QLatin1Char('\n')));
            writer.writeEndElement();
        }
        QStringList out{QStringLiteral("serial: ") + r.serial,
                        QStringLiteral("version: ") + r.version,
                        QStringLiteral("status: ") + r.status};
        for (const SlotLine &slot : r.slotLines)
            out << QStringLiteral("(%1) %2").arg(slot.slot, 2, 10, QLatin1Char('0')).arg(slot.data);
        if (!resultField(r).isEmpty())
            out << QStringLiteral("result: ") + resultField(r);
        writer.writeTextElement(QStringLiteral("system-out"), out.join(QLatin1Char('\n')));
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

QStringList FormatTrace(qint64 ms, const QString &address, ModuleLink::WireDirection direction,
                        const QByteArray &bytes, int maxBytes)
{
    const QString arrow =
        direction == ModuleLink::WireDirection::Sent ? QStringLiteral(">") : QStringLiteral("<");
    const QString lead =
        QStringLiteral("%1 ms  %2  %3  ").arg(ms, 8).arg(address.leftJustified(15)).arg(arrow);
    const QString blank(lead.size(), QLatin1Char(' '));
    QStringList lines;
    const qsizetype shown = std::min<qsizetype>(bytes.size(), maxBytes);
    for (qsizetype at = 0; at < shown || (at == 0 && shown == 0); at += kTraceRow) {
        const QByteArray row = bytes.mid(at, std::min<qsizetype>(kTraceRow, shown - at));
        QString hex;
        QString printable;
        for (const char c : row) {
            hex += QStringLiteral("%1 ").arg(quint8(c), 2, 16, QLatin1Char('0')).toUpper();
            printable += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('.');
        }
        lines << (at == 0 ? lead : blank) + hex.leftJustified(kTraceRow * 3) + QLatin1Char(' ') +
                     printable;
        if (shown == 0)
            break;
    }
    if (bytes.size() > shown)
        lines << blank + QStringLiteral("... %1 more bytes").arg(bytes.size() - shown);
    return lines;
}
