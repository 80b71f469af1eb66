#pragma once

// What the tool writes where a person or a program may misread it: a terminal and a spreadsheet.
// One rule for each kind of content, decided here once; every program and library uses these.
//
// Module bytes (serial, version, slots, card, loop: anything a module sent) by the byte rule:
//   bytes 0x20..0x7E stay as they are, except the backslash, written "\\"; every other byte is
//   written "\xhh" with two lowercase hex digits. The result is printable ASCII.
// Text (status texts in any language, addresses and targets as typed, user and station names,
// error messages) by the text rule: printable characters of every script stay; the backslash is
//   written "\\"; C0 controls, DEL and C1 controls "\xhh"; every other character that is not
//   printable, above all those that can reorder or hide what a terminal shows (U+2028/2029, the
//   bidirectional embeddings, overrides, isolates and marks U+202A-202E, U+2066-2069, U+200E,
//   U+200F, U+061C, the byte-order mark U+FEFF), "\uhhhh", or "\Uhhhhhhhh" beyond U+FFFF.
// Both rules have an exact inverse, which also reads upper-case hex digits and refuses a
// malformed escape or a character the rule would have escaped.
//
// Terminal: the same rules, cut to a number of characters with a last "…" when cut.
//
// Spreadsheet (CSV): UTF-8 with a byte-order mark, CRLF line ends, RFC 4180 quoting (a cell
//   holding a comma, a quote or a space at either end is quoted, quotes doubled). Each cell is
//   first written by the byte or text rule, as its column holds, then by the formula rule: a
//   cell whose first character is "=", "+", "-", "@" or "'" gets one "'" in front (tab and CR
//   never start a cell: the rules above escape them). Reading a cell drops one leading "'",
//   then undoes its column's rule.
//
// JSON keeps every byte (escaped only as JSON itself requires); HTML escapes the byte rule's
// output for its own syntax.

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonDocument>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <limits>
#include <optional>

[[nodiscard]] QString EscapeBytes(QByteArrayView bytes);
// Null when the text is no output of EscapeBytes.
[[nodiscard]] std::optional<QByteArray> UnescapeBytes(QStringView text);

[[nodiscard]] QString EscapeText(QStringView text);
// Null when the text is no output of EscapeText.
[[nodiscard]] std::optional<QString> UnescapeText(QStringView text);

// At most `maxChars` characters (at least 1), the last one "…" when the text was cut. Only as
// much of the input is read as is shown.
[[nodiscard]] QString TerminalText(QStringView text, int maxChars);
[[nodiscard]] QString TerminalBytes(QByteArrayView bytes, int maxChars);

// One cell as a spreadsheet gets it (before quoting): the rule of its kind, then the formula
// rule.
[[nodiscard]] QString CsvTextCell(QStringView text);
[[nodiscard]] QString CsvBytesCell(QByteArrayView bytes);
// A cell read back; null when it is no cell of that kind.
[[nodiscard]] std::optional<QString> CsvTextValue(QStringView cell);
[[nodiscard]] std::optional<QByteArray> CsvBytesValue(QStringView cell);

// A JSON document as the programs print it, indented. DEL and the C1 controls, valid raw in
// JSON but commands to a terminal, are written as \u escapes and read back as the same
// characters.
[[nodiscard]] QByteArray JsonText(const QJsonDocument &document);

// Writes a CSV document: the byte-order mark and the header line first, then rows of cells
// added one by one.
class CsvWriter
{
public:
    explicit CsvWriter(const QStringList &header);

    void addText(QStringView text);
    void addBytes(QByteArrayView bytes);
    // Ends the row, which must hold as many cells as the header.
    void endRow();
    // The document so far, in UTF-8.
    [[nodiscard]] const QByteArray &data() const { return m_data; }

private:
    void addCell(const QString &cell);

    QByteArray m_data;
    qsizetype m_width = 0;
    qsizetype m_cells = 0;
};

// A CSV document as read: the header and the rows, each cell as it stands in the file (quotes
// undone; the column's rule not yet).
struct CsvTable
{
    QStringList header;
    QList<QStringList> rows;
    // The line (from 1) on which each row starts; a quoted cell may span lines.
    QList<int> rowLines;
    // Rows follow those read: reading stopped at the limit.
    bool more = false;
    // Empty when the whole document was read; otherwise what is wrong, on which line (from 1)
    // and in which column (from 1).
    QString error;
    int errorLine = 0;
    int errorColumn = 0;
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Strict: a byte-order mark is optional, lines end in CRLF or LF; an unterminated or stray
// quote, a CR that ends no line, text that is not UTF-8, no header, a header of more than
// `maxColumns` cells, or a row of another width than the header is an error. Reading stops
// after `maxRows` rows, so a file of empty cells never costs more than the rows its reader can
// take (`rows` then holds `maxRows` rows and `more` is set).
[[nodiscard]] CsvTable ReadCsv(const QByteArray &data, int maxColumns = 1024,
                               int maxRows = std::numeric_limits<int>::max());
