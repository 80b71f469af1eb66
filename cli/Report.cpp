#include "Report.h"

#include "Escape.h"
#include "Operations.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

#include <algorithm>

static constexpr int kTraceRow = 16;
// A table cell, an address in the trace: wide enough for every field a module's frame holds.
static constexpr int kCellChars = 64;
// A line under the table: an address and a message of the link.
static constexpr int kLineChars = 256;
// A text field of the JSON and JUnit reports: far more than a module's frame holds, far less
// than a module that echoes without end could send.
static constexpr int kReportFieldChars = 4096;

QList<ModuleResult> ReportedResults(const QList<ModuleResult> &results, CliCommand command)
{
    if (command != CliCommand::Discover)
        return results;
    QList<ModuleResult> found;
    std::copy_if(results.begin(), results.end(), std::back_inserter(found),
                 [](const ModuleResult &r) { return r.found; });
    return found;
}

// A reader test that found no card: the window shows its caption where the card number goes;
// a module's card number is never that long.
static bool noCard(const ModuleResult &result)
{
    return result.command == CliCommand::ReaderTest && result.outcome == Outcome::Success &&
           (result.cardId.isEmpty() || result.cardId == FixedTexts::NoCard);
}

// Module bytes as a result keeps them, one character for each byte, shown by the byte rule.
static QString shownBytes(const QString &field, int maxChars)
{
    return TerminalBytes(field.toLatin1(), maxChars);
}

// The result field of the tests as their own column shows it.
static QString shownResult(const ModuleResult &result, int maxChars)
{
    if (noCard(result))
        return QStringLiteral("no card");
    if (result.command == CliCommand::ReaderTest)
        return shownBytes(result.cardId, maxChars);
    if (result.command == CliCommand::LoopTest)
        return shownBytes(result.loopText, maxChars);
    return QString();
}

// The status in the command line's own words where the window's would need the window: an
// operation that found no link answers "Start Scan Module!" there.
static QString shownStatus(const ModuleResult &result, int maxChars)
{
    if (result.outcome == Outcome::NotConnected && CommandFor(result.command).scanFirst)
        return result.serial.isNull() ? QStringLiteral("not run: the scan failed")
                                      : QStringLiteral("not run: the link was lost");
    return TerminalText(result.status, maxChars);
}

QString Counted(qsizetype count, const QString &one, const QString &many)
{
    return QString::number(count) + QLatin1Char(' ') + (count == 1 ? one : many);
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
    // Module bytes, host texts and messages reach the terminal only escaped and cut.
    const auto cell = [](const QString &text) { return TerminalText(text, kCellChars); };
    const auto bytesCell = [](const QString &bytes) {
        return bytes.isNull() ? QStringLiteral("-") : shownBytes(bytes, kCellChars);
    };
    QList<QStringList> rows;
    for (const ModuleResult &r : results) {
        QStringList row{cell(r.address), bytesCell(r.serial), bytesCell(r.version)};
        if (!discover) {
            row << QString::number(r.slotLines.size()) << seconds(r.durationMs)
                << OutcomeName(r.outcome);
            if (test)
                row << shownResult(r, kCellChars);
            row << shownStatus(r, kCellChars);
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
                            .arg(shownBytes(slot.data, kCellChars));
        }
    }
    // Addresses without a module are no news to discover.
    for (const ModuleResult &r : discover ? results : all) {
        for (const QString &error : r.errors)
            text += TerminalText(QStringLiteral("%1: %2").arg(r.address, error), kLineChars) +
                    QLatin1Char('\n');
    }
    const int succeeded = int(
        std::count_if(all.begin(), all.end(), [](const ModuleResult &r) { return r.succeeded(); }));
    if (discover) {
        text += QStringLiteral("%1 of %2 in %3\n")
                    .arg(QString::number(succeeded),
                         Counted(all.size(), QStringLiteral("address answered as a module"),
                                 QStringLiteral("addresses answered as modules")),
                         seconds(wallMs));
    } else {
        text += QStringLiteral("%1: %2 succeeded, %3 failed in %4\n")
                    .arg(Counted(all.size(), QStringLiteral("module"), QStringLiteral("modules")))
                    .arg(succeeded)
                    .arg(all.size() - succeeded)
                    .arg(seconds(wallMs));
    }
    return text;
}

QByteArray FormatJson(const QList<ModuleResult> &all, CliCommand command)
{
    QJsonArray array;
    for (const ModuleResult &r : ReportedResults(all, command)) {
        QJsonObject object;
        // The characters exactly, one for each byte of the module, up to a bound; the full
        // length of every field cut is kept under "truncated".
        QJsonObject truncated;
        const auto text = [&truncated](const QString &name, const QString &value) {
            if (value.size() <= kReportFieldChars)
                return value;
            truncated[name] = value.size();
            return value.left(kReportFieldChars);
        };
        // A module that never answered has no serial number, not an empty one.
        const auto textOrNull = [&text](const QString &name, const QString &value) {
            return value.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(text(name, value));
        };
        object[QStringLiteral("address")] = text(QStringLiteral("address"), r.address);
        object[QStringLiteral("command")] = CommandName(r.command);
        object[QStringLiteral("serial")] = textOrNull(QStringLiteral("serial"), r.serial);
        object[QStringLiteral("version")] = textOrNull(QStringLiteral("version"), r.version);
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
            object[QStringLiteral("card")] =
                noCard(r) ? QString() : text(QStringLiteral("card"), r.cardId);
        if (r.command == CliCommand::LoopTest)
            object[QStringLiteral("loop")] = text(QStringLiteral("loop"), r.loopText);
        object[QStringLiteral("errors")] = QJsonArray::fromStringList(r.errors);
        object[QStringLiteral("duration_ms")] = r.durationMs;
        if (!truncated.isEmpty())
            object[QStringLiteral("truncated")] = truncated;
        array.append(object);
    }
    return JsonText(QJsonDocument(array));
}

QByteArray FormatJunit(const QList<ModuleResult> &all, CliCommand command, qint64 wallMs,
                       const QDateTime &started)
{
    const auto bytes = [](const QString &value) { return shownBytes(value, kReportFieldChars); };
    QList<JunitCase> cases;
    for (const ModuleResult &r : ReportedResults(all, command)) {
        JunitCase c;
        c.name = r.address;
        c.durationMs = r.durationMs;
        if (!r.succeeded()) {
            c.failure = OutcomeName(r.outcome);
            c.error = r.outcome == Outcome::Error;
        }
        c.message = r.errors.isEmpty() ? shownStatus(r, kReportFieldChars)
                                       : TerminalText(r.errors.first(), kReportFieldChars);
        c.errors = r.errors;
        c.output = QStringList{QStringLiteral("serial: ") + bytes(r.serial),
                               QStringLiteral("version: ") + bytes(r.version),
                               QStringLiteral("status: ") + shownStatus(r, kReportFieldChars)};
        for (const SlotLine &slot : r.slotLines)
            c.output << QStringLiteral("(%1) %2")
                            .arg(slot.slot, 2, 10, QLatin1Char('0'))
                            .arg(bytes(slot.data));
        const QString result = shownResult(r, kReportFieldChars);
        if (!result.isEmpty())
            c.output << QStringLiteral("result: ") + result;
        cases << c;
    }
    return FormatJunitCases(CommandName(command), cases, wallMs, started);
}

QByteArray FormatJunitCases(const QString &command, const QList<JunitCase> &cases, qint64 wallMs,
                            const QDateTime &started)
{
    const QString name = QStringLiteral("velqa-cli ") + command;
    const auto time = [](qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 3); };
    // XML has no place for most control characters: they are written as visible escapes.
    const auto text = [](const QString &value) { return TerminalText(value, kReportFieldChars); };
    const auto failed = [](const JunitCase &c) { return !c.failure.isEmpty() && !c.error; };
    const auto errored = [](const JunitCase &c) { return !c.failure.isEmpty() && c.error; };

    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("testsuites"));
    writer.writeAttribute(QStringLiteral("name"), name);
    writer.writeStartElement(QStringLiteral("testsuite"));
    writer.writeAttribute(QStringLiteral("name"), name);
    writer.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
    writer.writeAttribute(QStringLiteral("failures"),
                          QString::number(std::count_if(cases.begin(), cases.end(), failed)));
    writer.writeAttribute(QStringLiteral("errors"),
                          QString::number(std::count_if(cases.begin(), cases.end(), errored)));
    writer.writeAttribute(QStringLiteral("time"), time(wallMs));
    writer.writeAttribute(QStringLiteral("timestamp"), started.toString(Qt::ISODate));
    for (const JunitCase &c : cases) {
        writer.writeStartElement(QStringLiteral("testcase"));
        writer.writeAttribute(QStringLiteral("classname"), QStringLiteral("velqa.") + command);
        writer.writeAttribute(QStringLiteral("name"), text(c.name));
        writer.writeAttribute(QStringLiteral("time"), time(c.durationMs));
        if (!c.failure.isEmpty()) {
            writer.writeStartElement(c.error ? QStringLiteral("error") : QStringLiteral("failure"));
            writer.writeAttribute(QStringLiteral("type"), c.failure);
            writer.writeAttribute(QStringLiteral("message"), c.message);
            QStringList errors;
            for (const QString &error : c.errors)
                errors << text(error);
            writer.writeCharacters(errors.join(QLatin1Char('\n')));
            writer.writeEndElement();
        }
        writer.writeTextElement(QStringLiteral("system-out"), c.output.join(QLatin1Char('\n')));
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
    const QString lead = QStringLiteral("%1 ms  %2  %3  ")
                             .arg(QString::number(ms).rightJustified(8),
                                  TerminalText(address, kCellChars).leftJustified(15), arrow);
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
