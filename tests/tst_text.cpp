#include "Escape.h"

#include <QTest>

// Module bytes and texts through the terminal and spreadsheet rules, and back.
class TestText : public QObject
{
    Q_OBJECT

private slots:
    void roundTrips_data();
    void roundTrips();
    void refusesWhatNoRuleWrites_data();
    void refusesWhatNoRuleWrites();
    void cutsForTheTerminal_data();
    void cutsForTheTerminal();
    void readsCsv_data();
    void readsCsv();
};

static QByteArray everyByte()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    return bytes;
}

void TestText::roundTrips_data()
{
    QTest::addColumn<bool>("isBytes");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped"); // null: only read back
    QTest::addColumn<QString>("cell");    // the spreadsheet's cell; null: the escaped form

    const auto bytes = [](const char *name, const QByteArray &in, const QString &escaped,
                          const QString &cell = QString()) {
        QTest::newRow(name) << true << in << QString() << escaped << cell;
    };
    const auto text = [](const char *name, const QString &in, const QString &escaped,
                         const QString &cell = QString()) {
        QTest::newRow(name) << false << QByteArray() << in << escaped << cell;
    };
    bytes("every byte", everyByte(), QString());
    bytes("clear screen and backslash", "\x1b[2J\\", "\\x1b[2J\\\\");
    bytes("high bytes and DEL", "\x80\xff\x7f\xe9", "\\x80\\xff\\x7f\\xe9");
    bytes("slot starting with =", "=HYPERLINK(\"http://x\",\"y\")",
          "=HYPERLINK(\"http://x\",\"y\")", "'=HYPERLINK(\"http://x\",\"y\")");
    bytes("slot starting with '", "'KAVRO", "'KAVRO", "''KAVRO");
    bytes("slot starting with -", "-1+2", "-1+2", "'-1+2");
    bytes("slot starting with a backslash", "\\x41", "\\\\x41");
    bytes("tab and CR cannot start a cell", "\t=1\r", "\\x09=1\\x0d");
    bytes("padded slot", "KAVRO*Technology   ", "KAVRO*Technology   ");
    text("Chinese status", QStringLiteral("设置数据成功 讀卡錯誤"),
         QStringLiteral("设置数据成功 讀卡錯誤"));
    text("right-to-left override", QStringLiteral("abc\u202Edcba"), "abc\\u202edcba");
    text("isolates, marks and byte-order mark", QStringLiteral("\u2066\u200F\u061C\uFEFF\u2069"),
         "\\u2066\\u200f\\u061c\\ufeff\\u2069");
    text("line separator", QStringLiteral("a\u2028b"), "a\\u2028b");
    text("C0, DEL and C1", QStringLiteral("\u0007\u007F\u009B"), "\\x07\\x7f\\x9b");
    text("beyond U+FFFF", QString::fromUcs4(U"\U0001F600\U000E0001"),
         QString::fromUcs4(U"\U0001F600") + "\\U000e0001");
    text("lone surrogate", QString(QChar(0xD800)), "\\ud800");
    text("formula starts", QStringLiteral("@SUM(A1)"), "@SUM(A1)", "'@SUM(A1)");
}

void TestText::roundTrips()
{
    QFETCH(bool, isBytes);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QFETCH(QString, cell);

    const QString shown = isBytes ? EscapeBytes(bytes) : EscapeText(text);
    if (!escaped.isNull())
        QCOMPARE(shown, escaped);
    for (const char32_t c : shown.toUcs4())
        QVERIFY2(isBytes ? c >= U' ' && c <= U'~' : QChar::isPrint(c), qPrintable(shown));
    if (isBytes)
        QCOMPARE(UnescapeBytes(shown), std::optional<QByteArray>(bytes));
    else
        QCOMPARE(UnescapeText(shown), std::optional<QString>(text));

    // Through a whole document and back.
    const QString expectedCell = cell.isNull() ? shown : cell;
    QCOMPARE(isBytes ? CsvBytesCell(bytes) : CsvTextCell(text), expectedCell);
    CsvWriter writer({QStringLiteral("before"), QStringLiteral("value")});
    writer.addText(u"x");
    isBytes ? writer.addBytes(bytes) : writer.addText(text);
    writer.endRow();
    QVERIFY(writer.data().startsWith("\xEF\xBB\xBF"
                                     "before,value\r\nx,"));
    const CsvTable table = ReadCsv(writer.data());
    QVERIFY2(table.ok(), qPrintable(table.error));
    QCOMPARE(table.rows.size(), 1);
    QCOMPARE(table.rows[0][1], expectedCell);
    if (isBytes)
        QCOMPARE(CsvBytesValue(table.rows[0][1]), std::optional<QByteArray>(bytes));
    else
        QCOMPARE(CsvTextValue(table.rows[0][1]), std::optional<QString>(text));
}

void TestText::refusesWhatNoRuleWrites_data()
{
    QTest::addColumn<bool>("isBytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("bytes: short escape") << true << "ab\\x4";
    QTest::newRow("bytes: unknown escape") << true << "\\n";
    QTest::newRow("bytes: lone backslash at the end") << true << "ab\\";
    QTest::newRow("bytes: no hex digit") << true << "\\xg1";
    QTest::newRow("bytes: a character no byte writes") << true << QStringLiteral("caf\u00e9");
    QTest::newRow("bytes: raw control") << true << "a\tb";
    QTest::newRow("text: short escape") << false << "\\u12";
    QTest::newRow("text: beyond Unicode") << false << "\\U00110000";
    QTest::newRow("text: surrogate as a whole character") << false << "\\U0000d800";
    QTest::newRow("text: raw override") << false << QStringLiteral("a\u202Eb");
    QTest::newRow("text: raw escape character") << false << "a\x1b";
}

void TestText::refusesWhatNoRuleWrites()
{
    QFETCH(bool, isBytes);
    QFETCH(QString, text);
    QVERIFY(isBytes ? !UnescapeBytes(text) : !UnescapeText(text));
}

void TestText::cutsForTheTerminal_data()
{
    QTest::addColumn<QByteArray>("bytes"); // module bytes, unless null
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxChars");
    QTest::addColumn<QString>("shown");

    QTest::newRow("10 MB echo") << QByteArray(10 << 20, 'L') << QString() << 64
                                << QString(63, 'L') + QChar(0x2026);
    QTest::newRow("an escape is never split") << QByteArray("ab\x1b"
                                                            "c")
                                              << QString() << 5 << QStringLiteral("ab\u2026");
    QTest::newRow("fits exactly") << QByteArray() << "abcde" << 5 << "abcde";
    QTest::newRow("text cut") << QByteArray() << "abcdef" << 5 << QStringLiteral("abcd\u2026");
}

void TestText::cutsForTheTerminal()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(int, maxChars);
    QFETCH(QString, shown);
    QCOMPARE(bytes.isNull() ? TerminalText(text, maxChars) : TerminalBytes(bytes, maxChars), shown);
}

void TestText::readsCsv_data()
{
    QTest::addColumn<QByteArray>("document");
    // Rows with cells joined by "|", rows by "/"; or "error LINE:COLUMN".
    QTest::addColumn<QString>("read");

    QTest::newRow("no byte-order mark, LF") << QByteArray("a,b\n1,2\n") << "a|b/1|2";
    QTest::newRow("quoted comma, quote and newline")
        << QByteArray("\xEF\xBB\xBF"
                      "a,b\r\n\"x,\"\"y\"\"\r\nz\", 2 \r\n")
        << "a|b/x,\"y\"\r\nz| 2 ";
    QTest::newRow("empty cells, no last line end") << QByteArray("a,b,c\r\n,,") << "a|b|c/||";
    QTest::newRow("unterminated quote") << QByteArray("a,b\r\n1,\"2\r\n") << "error 2:2";
    QTest::newRow("stray quote") << QByteArray("a,b\r\nx\"y,1\r\n") << "error 2:1";
    QTest::newRow("text after the closing quote")
        << QByteArray("a,b\r\n\"x\"y,1\r\n") << "error 2:1";
    QTest::newRow("a CR alone") << QByteArray("a,b\r\n1\r2,3\r\n") << "error 2:1";
    QTest::newRow("too wide") << QByteArray("a,b\r\n1,2,3\r\n") << "error 2:3";
    QTest::newRow("too narrow, after a quoted newline")
        << QByteArray("a,b\n\"x\ny\",1\n1\n") << "error 4:2";
    QTest::newRow("not UTF-8") << QByteArray("a,b\r\n1,2\r\n\xff,1\r\n") << "error 3:1";
    QTest::newRow("nothing") << QByteArray("\xEF\xBB\xBF") << "error 1:1";
}

void TestText::readsCsv()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, read);
    const CsvTable table = ReadCsv(document);
    QStringList rows;
    for (const QStringList &row : QList<QStringList>{table.header} + table.rows)
        rows << row.join('|');
    const QString got =
        table.ok() ? rows.join('/')
                   : QStringLiteral("error %1:%2").arg(table.errorLine).arg(table.errorColumn);
    QVERIFY2(table.ok() || table.rows.isEmpty(), "a document with an error reads as no rows");
    QCOMPARE(got, read);
}

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
