#include "Escape.h"

#include <QStringDecoder>

// A spreadsheet runs a cell that starts with one of these as a formula.
static QString formulaSafe(QString cell)
{
    static const QString starts = QStringLiteral("=+-@'");
    if (!cell.isEmpty() && starts.contains(cell.front()))
        cell.prepend(QLatin1Char('\''));
    return cell;
}

static QStringView withoutGuard(QStringView cell)
{
    return cell.startsWith(u'\'') ? cell.mid(1) : cell;
}

QString CsvTextCell(QStringView text)
{
    return formulaSafe(EscapeText(text));
}

QString CsvBytesCell(QByteArrayView bytes)
{
    return formulaSafe(EscapeBytes(bytes));
}

std::optional<QString> CsvTextValue(QStringView cell)
{
    return UnescapeText(withoutGuard(cell));
}

std::optional<QByteArray> CsvBytesValue(QStringView cell)
{
    return UnescapeBytes(withoutGuard(cell));
}

static QString quotedIfNeeded(const QString &cell)
{
    const bool needed = cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"')) ||
                        cell.contains(QLatin1Char('\r')) || cell.contains(QLatin1Char('\n')) ||
                        cell.startsWith(QLatin1Char(' ')) || cell.endsWith(QLatin1Char(' '));
    if (!needed)
        return cell;
    QString quoted = cell;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

CsvWriter::CsvWriter(const QStringList &header) : m_data("\xEF\xBB\xBF"), m_width(header.size())
{
    for (const QString &name : header)
        addText(name);
    endRow();
}

void CsvWriter::addCell(const QString &cell)
{
    if (m_cells++ > 0)
        m_data += ',';
    m_data += quotedIfNeeded(cell).toUtf8();
}

void CsvWriter::addText(QStringView text)
{
    addCell(CsvTextCell(text));
}

void CsvWriter::addBytes(QByteArrayView bytes)
{
    addCell(CsvBytesCell(bytes));
}

void CsvWriter::endRow()
{
    Q_ASSERT(m_cells == m_width);
    m_data += "\r\n";
    m_cells = 0;
}

namespace {

// Reads the cells of a decoded document one row at a time, counting lines.
class CsvParser
{
public:
    explicit CsvParser(QStringView text) : m_text(text) {}

    [[nodiscard]] bool atEnd() const { return m_at >= m_text.size(); }
    [[nodiscard]] int line() const { return m_line; }

    // One row of at most `maxCells` cells; false with `error` set when it is malformed, or
    // `tooWide` at the first cell past the last allowed.
    bool row(QStringList *cells, qsizetype maxCells, const QString &tooWide, QString *error,
             int *errorColumn)
    {
        for (;;) {
            QString cell;
            const bool ok =
                m_text.mid(m_at).startsWith(u'"') ? quoted(&cell, error) : plain(&cell, error);
            if (!ok || cells->size() == maxCells) {
                if (ok)
                    *error = tooWide;
                *errorColumn = int(cells->size()) + 1;
                return false;
            }
            cells->append(cell);
            if (atEnd())
                return true;
            const QChar next = m_text[m_at];
            if (next == u',') {
                ++m_at;
                continue;
            }
            // plain() and quoted() stop only at a comma, a line end or the end.
            if (next == u'\r')
                ++m_at;
            ++m_at;
            ++m_line;
            return true;
        }
    }

private:
    bool plain(QString *cell, QString *error)
    {
        const qsizetype start = m_at;
        for (; m_at < m_text.size(); ++m_at) {
            const QChar c = m_text[m_at];
            if (c == u',' || c == u'\n')
                break;
            if (c == u'\r') {
                if (m_at + 1 < m_text.size() && m_text[m_at + 1] == u'\n')
                    break;
                *error = QStringLiteral("a CR that ends no line");
                return false;
            }
            if (c == u'"') {
                *error = QStringLiteral("a quote inside a cell that is not quoted");
                return false;
            }
        }
        *cell = m_text.mid(start, m_at - start).toString();
        return true;
    }

    bool quoted(QString *cell, QString *error)
    {
        const int startLine = m_line;
        for (++m_at; m_at < m_text.size(); ++m_at) {
            const QChar c = m_text[m_at];
            if (c == u'\n')
                ++m_line;
            if (c != u'"') {
                *cell += c;
                continue;
            }
            if (m_at + 1 < m_text.size() && m_text[m_at + 1] == u'"') {
                *cell += c;
                ++m_at;
                continue;
            }
            ++m_at;
            if (atEnd() || m_text[m_at] == u',' || m_text[m_at] == u'\n' ||
                m_text.mid(m_at).startsWith(u"\r\n"))
                return true;
            *error = QStringLiteral("text after the closing quote");
            return false;
        }
        m_line = startLine;
        *error = QStringLiteral("a quote that is never closed");
        return false;
    }

    QStringView m_text;
    qsizetype m_at = 0;
    int m_line = 1;
};

} // namespace

// The first line whose bytes are no UTF-8; a line end never falls inside a UTF-8 sequence.
static int firstBadLine(const QByteArray &data)
{
    int line = 1;
    for (qsizetype at = 0; at <= data.size(); ++line) {
        qsizetype end = data.indexOf('\n', at);
        if (end < 0)
            end = data.size();
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        (void)QString(decoder.decode(QByteArrayView(data).sliced(at, end - at)));
        if (decoder.hasError())
            return line;
        at = end + 1;
    }
    return line;
}

CsvTable ReadCsv(const QByteArray &data, int maxColumns, int maxRows)
{
    CsvTable table;
    const auto fail = [&table](const QString &why, int line, int column) {
        table.error = why;
        table.errorLine = line;
        table.errorColumn = column;
        table.header.clear();
        table.rows.clear();
        table.rowLines.clear();
        return table;
    };
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(data);
    if (decoder.hasError())
        return fail(QStringLiteral("not UTF-8"), firstBadLine(data), 1);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    CsvParser parser(text);
    if (parser.atEnd())
        return fail(QStringLiteral("no header"), 1, 1);
    QString error;
    int column = 0;
    maxColumns = std::max(1, maxColumns);
    if (!parser.row(&table.header, maxColumns,
                    QStringLiteral("a header of more than %1 cells").arg(maxColumns), &error,
                    &column))
        return fail(error, parser.line(), column);
    const QString tooWide =
        QStringLiteral("more cells than the header's %1").arg(table.header.size());
    while (!parser.atEnd()) {
        if (table.rows.size() >= maxRows) {
            table.more = true;
            break;
        }
        const int line = parser.line();
        QStringList cells;
        // A row wider than the header is refused at its first cell too many.
        if (!parser.row(&cells, table.header.size(), tooWide, &error, &column))
            return fail(error, parser.line(), column);
        if (cells.size() != table.header.size())
            return fail(QStringLiteral("%1 cells where the header has %2")
                            .arg(cells.size())
                            .arg(table.header.size()),
                        line, int(std::min(cells.size(), table.header.size())) + 1);
        table.rows.append(cells);
        table.rowLines.append(line);
    }
    return table;
}
