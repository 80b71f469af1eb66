#include "CommandFrame.h"

#include <QTest>

class TestCommandFrame : public QObject
{
    Q_OBJECT

private slots:
    void frame_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("frame");

        QTest::newRow("serial") << QByteArray("S01") << QByteArray("QMK\x0FS015D\r");
        QTest::newRow("version") << QByteArray("V01") << QByteArray("QMK\x0FV0158\r");
        QTest::newRow("slot read 8") << QByteArray("G08") << QByteArray("QMK\x0FG0840\r");
        QTest::newRow("asterisks cancel in pairs") << QByteArray("F01" + QByteArray(32, '*'))
                                                   << QByteArray("QMK\x0F"
                                                                 "F01" +
                                                                 QByteArray(32, '*') + "48\r");
        QTest::newRow("checksum below 0x10 keeps two digits") << QByteArray("\x0E", 1)
                                                              << QByteArray("QMK\x0F\x0E"
                                                                            "01\r");
        QTest::newRow("zero byte in command") << QByteArray("A\0B", 3)
                                              << QByteArray("QMK\x0F"
                                                            "A\0B"
                                                            "0C\r",
                                                            10);
        QTest::newRow("empty command") << QByteArray()
                                       << QByteArray("QMK\x0F"
                                                     "0F\r");
    }

    void frame()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, frame);
        QCOMPARE(BuildCommandFrame(command), frame);
        QCOMPARE(BuildCommandFrame(command).size(), command.size() + 7);
    }

    void length_data()
    {
        QTest::addColumn<int>("commandLength");
        QTest::addColumn<int>("frameLength");

        QTest::newRow("test pattern, 35 bytes") << 35 << 42;
        QTest::newRow("longest that fits, 72 bytes") << 72 << 79;
        QTest::newRow("one too long, 73 bytes") << 73 << 0;
        QTest::newRow("far too long") << 500 << 0;
    }

    void length()
    {
        QFETCH(int, commandLength);
        QFETCH(int, frameLength);
        QCOMPARE(BuildCommandFrame(QByteArray(commandLength, 'x')).size(), frameLength);
    }

    void testPatternChecksum()
    {
        // The write of the test pattern into slot 1 (35 bytes) frames to 42 bytes.
        const QByteArray pattern("F01KAVRO*Technology*Corp.********99");
        QCOMPARE(pattern.size(), 35);
        const QByteArray frame = BuildCommandFrame(pattern);
        quint8 sum = 0x0F;
        for (char c : pattern)
            sum ^= quint8(c);
        QCOMPARE(frame.mid(39, 2), QByteArray::number(sum, 16).toUpper().rightJustified(2, '0'));
        QCOMPARE(frame.back(), '\r');
    }
};

QTEST_GUILESS_MAIN(TestCommandFrame)
#include "tst_commandframe.moc"
