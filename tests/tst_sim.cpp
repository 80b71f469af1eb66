#include "SimTestSupport.h"
#include "simframe.h"
#include "simmodule.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

static const QByteArray kNak("QMK\x15\r", 5);
static const QByteArray kReaderRequest("\x09\x41\x30\x31\x46\x30\x46\x0D", 8);
static const QByteArray kLoopMessage("Loop Test Ok.\0\r", 15);

// A plain client socket that collects everything the module sends.
class Client
{
public:
    Client()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { data += socket.readAll(); });
    }
    bool open(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; },
                               10000);
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    bool waitFor(qsizetype size)
    {
        return QTest::qWaitFor([this, size] { return data.size() >= size; }, 10000);
    }
    // Sends bytes, waits for a reply of the expected size and hands it over, leaving data empty.
    QByteArray exchange(const QByteArray &bytes, qsizetype size)
    {
        data.clear();
        send(bytes);
        waitFor(size);
        return std::exchange(data, QByteArray());
    }

    QTcpSocket socket;
    QByteArray data;
};

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void frameTake_data();
    void frameTake();
    void shouldHaveDefaultValues();
    void readCommands_data();
    void readCommands();
    void writeThenRead_data();
    void writeThenRead();
    void badFramesGetNak_data();
    void badFramesGetNak();
    void requestSplitAcrossReads();
    void reader_data();
    void reader();
    void loopEchoesMessage();
    void receivedHoldsExactBytes();
    void newClientReplacesOld();
    void webPage_data();
    void webPage();
    void refusesNonLoopback();

private:
    QByteArray httpGet(const QByteArray &request);

    SimModule *m_module = nullptr;
};

void TestSim::init()
{
    m_module = new SimModule;
    m_module->setRecording(true);
    QVERIFY(m_module->listen());
    QVERIFY(m_module->listenHttp());
    QVERIFY(m_module->port() != 0);
    QVERIFY(m_module->httpPort() != 0);
}

void TestSim::cleanup()
{
    delete m_module;
    m_module = nullptr;
}

void TestSim::frameTake_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("flush");
    QTest::addColumn<int>("used");
    QTest::addColumn<SimRequestKind>("kind");
    QTest::addColumn<QByteArray>("name");

    const QByteArray writeOne = frameOf("F01" + QByteArray(32, '*'));
    QTest::newRow("serial") << frameOf("S01") << false << 10 << SimRequestKind::Command
                            << QByteArray("S01");
    QTest::newRow("serial then more")
        << frameOf("S01") + "QMK" << false << 10 << SimRequestKind::Command << QByteArray("S01");
    QTest::newRow("slot write, 42 bytes")
        << writeOne << false << 42 << SimRequestKind::Command << QByteArray("F01");
    QTest::newRow("slot data holding CR") << frameOf("F02" + QByteArray(31, 'a') + '\r') << false
                                          << 42 << SimRequestKind::Command << QByteArray("F02");
    QTest::newRow("half a frame waits")
        << frameOf("S01").left(6) << false << 0 << SimRequestKind::Bad << QByteArray();
    QTest::newRow("half a write waits")
        << writeOne.left(30) << false << 0 << SimRequestKind::Bad << QByteArray();
    QTest::newRow("short write flushed") << frameOf("F01" + QByteArray(10, '*')) << true << 20
                                         << SimRequestKind::Bad << QByteArray();
    QTest::newRow("short write waits") << frameOf("F01" + QByteArray(10, '*')) << false << 0
                                       << SimRequestKind::Bad << QByteArray();
    QTest::newRow("bad checksum") << QByteArray("QMK\x0FS015E\r") << false << 10
                                  << SimRequestKind::Bad << QByteArray();
    QTest::newRow("lowercase checksum")
        << QByteArray("QMK\x0FS015d\r") << false << 10 << SimRequestKind::Bad << QByteArray();
    QTest::newRow("slot 9") << frameOf("G09") << false << 10 << SimRequestKind::Bad << QByteArray();
    QTest::newRow("unknown letter")
        << frameOf("X01") << false << 10 << SimRequestKind::Bad << QByteArray();
    QTest::newRow("too long") << frameOf("S012") << false << 11 << SimRequestKind::Bad
                              << QByteArray();
    QTest::newRow("wrong mark") << QByteArray("QMK\x0ES015D\r") << false << 10
                                << SimRequestKind::Bad << QByteArray();
    QTest::newRow("reader") << kReaderRequest << false << 8 << SimRequestKind::Reader
                            << QByteArray("READER");
    QTest::newRow("reader half") << kReaderRequest.left(4) << false << 0 << SimRequestKind::Bad
                                 << QByteArray();
    QTest::newRow("loop") << kLoopMessage << false << 15 << SimRequestKind::Loop
                          << QByteArray("LOOP");
    QTest::newRow("loop without zero")
        << QByteArray("Loop Test Ok.\r") << false << 14 << SimRequestKind::Bad << QByteArray();
    QTest::newRow("noise line") << QByteArray("hello\rS") << false << 6 << SimRequestKind::Bad
                                << QByteArray();
    QTest::newRow("noise without CR")
        << QByteArray("hello") << true << 0 << SimRequestKind::Bad << QByteArray();
}

void TestSim::frameTake()
{
    QFETCH(QByteArray, buffer);
    QFETCH(bool, flush);
    QFETCH(int, used);
    QFETCH(SimRequestKind, kind);
    QFETCH(QByteArray, name);

    SimRequest request;
    QCOMPARE(SimFrame::take(buffer, flush, &request), qsizetype(used));
    if (used > 0) {
        QCOMPARE(request.kind, kind);
        QCOMPARE(request.name, name);
        QCOMPARE(request.raw, buffer.left(used));
    }
}

void TestSim::shouldHaveDefaultValues()
{
    QCOMPARE(m_module->serialNumber().size(), 8);
    QCOMPARE(m_module->firmwareVersion().size(), 8);
    QCOMPARE(m_module->firmwareVersion().at(2), '.');
    for (int slot = 1; slot <= 8; ++slot) {
        QCOMPARE(m_module->slotData(slot).size(), 32);
    }
    QVERIFY(m_module->slotData(0).isEmpty());
    QVERIFY(m_module->slotData(9).isEmpty());
    QCOMPARE(m_module->cardNumber().size(), 8);
    QVERIFY(!m_module->noCard());
    QVERIFY(m_module->isListening());
    QVERIFY(!m_module->hasClient());
    QVERIFY(m_module->received().isEmpty());
    QVERIFY(!SimModule().isRecording());
}

void TestSim::readCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("slot");

    QTest::newRow("S01") << QByteArray("S01") << 0;
    QTest::newRow("V01") << QByteArray("V01") << 0;
    for (int slot = 1; slot <= 8; ++slot) {
        const QByteArray name = "G0" + QByteArray::number(slot);
        QTest::newRow(name.constData()) << name << slot;
    }
}

void TestSim::readCommands()
{
    QFETCH(QByteArray, command);
    QFETCH(int, slot);

    m_module->setSerialNumber("AB123456");
    m_module->setFirmwareVersion("07.02-13");
    for (int n = 1; n <= 8; ++n) {
        m_module->setSlotData(n, "slot " + QByteArray::number(n) + " of eight");
    }
    QByteArray field =
        command == "S01" ? QByteArray("AB123456")
        : command == "V01"
            ? QByteArray("07.02-13")
            : ("slot " + QByteArray::number(slot) + " of eight").leftJustified(32, ' ');

    Client client;
    QVERIFY(client.open(m_module->port()));
    const QByteArray reply = client.exchange(frameOf(command), 4 + field.size() + 3);
    QCOMPARE(reply, dataReplyOf(field));
    QCOMPARE(reply.mid(4, field.size()), field);
    QCOMPARE(m_module->handledCommands(), QList<QByteArray>{command});
}

void TestSim::writeThenRead_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("F01 pattern") << 1 << QByteArray("Maker*Technology*Corp.********99").left(32);
    QTest::newRow("F02 asterisks") << 2 << QByteArray(32, '*');
    QTest::newRow("F05 spaces inside") << 5 << QByteArray(" a b c d e f g h i j k l m n o p");
    QTest::newRow("F08 markup") << 8 << QByteArray("<b>&amp;</b>").leftJustified(32, '#');
}

void TestSim::writeThenRead()
{
    QFETCH(int, slot);
    QFETCH(QByteArray, data);
    QCOMPARE(data.size(), 32);

    Client client;
    QVERIFY(client.open(m_module->port()));
    const QByteArray number = QByteArray::number(slot);
    const QByteArray written = client.exchange(frameOf("F0" + number + data), 6);
    QVERIFY2(written.size() > 5, written.toHex().constData());
    QCOMPARE(m_module->slotData(slot), data);

    const QByteArray readBack = client.exchange(frameOf("G0" + number), 39);
    QCOMPARE(readBack.mid(4, 32), data);
    QVERIFY(m_module->webPage().contains(QString::fromLatin1(data).toHtmlEscaped().toUtf8()));
    // The other slots keep their content.
    QCOMPARE(client.exchange(frameOf(slot == 1 ? "G02" : "G01"), 39).mid(4, 32),
             m_module->slotData(slot == 1 ? 2 : 1));
}

void TestSim::badFramesGetNak_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("bad checksum") << QByteArray("QMK\x0FS015E\r");
    QTest::newRow("unknown command") << frameOf("Z99");
    QTest::newRow("slot 0") << frameOf("G00");
    QTest::newRow("too long") << frameOf("V011");
    QTest::newRow("write too long") << frameOf("F03" + QByteArray(33, 'x'));
    QTest::newRow("noise line") << QByteArray("garbage\r");
}

void TestSim::badFramesGetNak()
{
    QFETCH(QByteArray, bytes);

    Client client;
    QVERIFY(client.open(m_module->port()));
    QCOMPARE(client.exchange(bytes, 5), kNak);
    QVERIFY(m_module->handledCommands().isEmpty());
    // The next good frame is understood again.
    QCOMPARE(client.exchange(frameOf("S01"), 15), dataReplyOf(m_module->serialNumber()));
}

void TestSim::requestSplitAcrossReads()
{
    Client client;
    QVERIFY(client.open(m_module->port()));
    QSignalSpy pieces(m_module, &SimModule::bytesReceived);
    const QByteArray frame =
        frameOf("F04" + QByteArray("split over several reads").leftJustified(32));
    for (qsizetype at = 0; at < frame.size(); at += 9) {
        client.send(frame.mid(at, 9));
        QVERIFY(pieces.wait(10000));
    }
    QVERIFY(pieces.size() >= 4);
    QVERIFY(client.waitFor(10));
    QCOMPARE(client.data, dataReplyOf("F04"));
    QCOMPARE(m_module->slotData(4), QByteArray("split over several reads").leftJustified(32));

    // A frame cut short by a terminator is answered once the input stops growing.
    client.data.clear();
    client.send(frameOf("F05" + QByteArray(20, '*')));
    QVERIFY(client.waitFor(5));
    QCOMPARE(client.data, kNak);
}

void TestSim::reader_data()
{
    QTest::addColumn<bool>("noCard");
    QTest::addColumn<QByteArray>("card");

    QTest::newRow("card") << false << QByteArray("12345678");
    QTest::newRow("other card") << false << QByteArray("00000042");
    QTest::newRow("no card") << true << QByteArray("12345678");
}

void TestSim::reader()
{
    QFETCH(bool, noCard);
    QFETCH(QByteArray, card);

    QVERIFY(m_module->setCardNumber(card));
    m_module->setNoCard(noCard);
    Client client;
    QVERIFY(client.open(m_module->port()));
    const QByteArray reply = client.exchange(kReaderRequest, noCard ? 6 : 14);
    if (noCard) {
        QVERIFY2(reply.size() >= 6 && reply.size() <= 10, reply.toHex().constData());
    } else {
        QVERIFY2(reply.size() >= 14, reply.toHex().constData());
        QCOMPARE(reply.mid(6, 8), card);
    }
    QCOMPARE(m_module->handledCommands(), QList<QByteArray>{"READER"});
}

void TestSim::loopEchoesMessage()
{
    Client client;
    QVERIFY(client.open(m_module->port()));
    QCOMPARE(client.exchange(kLoopMessage, 15), kLoopMessage);
    QCOMPARE(client.exchange(kLoopMessage, 15), kLoopMessage);
    QCOMPARE(m_module->handledCommands(), (QList<QByteArray>{"LOOP", "LOOP"}));
}

void TestSim::receivedHoldsExactBytes()
{
    Client client;
    QSignalSpy connected(m_module, &SimModule::clientConnected);
    QVERIFY(client.open(m_module->port()));
    QVERIFY(connected.size() == 1 || connected.wait(10000));

    QSignalSpy handled(m_module, &SimModule::commandHandled);
    const QByteArray sent = frameOf("S01") + kReaderRequest + QByteArray("\x00\xFFnoise\r", 8) +
                            kLoopMessage + frameOf("G03");
    client.send(sent);
    QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 4, 10000);
    QCOMPARE(m_module->received(), sent);
    QCOMPARE(m_module->handledCommands(), (QList<QByteArray>{"S01", "READER", "LOOP", "G03"}));
    QCOMPARE(handled.at(3).at(0).toByteArray(), QByteArray("G03"));

    m_module->clearReceived();
    m_module->clearHandledCommands();
    QVERIFY(m_module->received().isEmpty());
    client.send(frameOf("V01"));
    QTRY_COMPARE_WITH_TIMEOUT(m_module->received(), frameOf("V01"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(m_module->handledCommands(), QList<QByteArray>{"V01"}, 10000);
}

void TestSim::newClientReplacesOld()
{
    QSignalSpy connected(m_module, &SimModule::clientConnected);
    QSignalSpy disconnected(m_module, &SimModule::clientDisconnected);
    Client first;
    QVERIFY(first.open(m_module->port()));
    QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
    QVERIFY(m_module->hasClient());

    Client second;
    QVERIFY(second.open(m_module->port()));
    QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(first.socket.state(), QAbstractSocket::UnconnectedState, 10000);
    QCOMPARE(disconnected.size(), 1);
    QCOMPARE(second.exchange(frameOf("S01"), 15), dataReplyOf(m_module->serialNumber()));

    second.socket.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.size(), 2, 10000);
    QVERIFY(!m_module->hasClient());
}

QByteArray TestSim::httpGet(const QByteArray &request)
{
    QTcpSocket socket;
    QByteArray response;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { response += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, m_module->httpPort());
    socket.write(request);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                         10000)) {
        return {};
    }
    return response + socket.readAll();
}

void TestSim::webPage_data()
{
    QTest::addColumn<QByteArray>("request");

    QTest::newRow("root, HTTP/1.1") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QTest::newRow("any path, HTTP/1.0") << QByteArray("GET /status.htm HTTP/1.0\r\n\r\n");
    QTest::newRow("bare line feeds") << QByteArray("GET / HTTP/1.0\n\n");
}

void TestSim::webPage()
{
    QFETCH(QByteArray, request);

    m_module->setSerialNumber("WB000777");
    m_module->setSlotData(6, "written <by> the technician");
    const QByteArray response = httpGet(request);
    const qsizetype split = response.indexOf("\r\n\r\n");
    QVERIFY2(split > 0, response.constData());
    const QByteArray head = response.left(split + 2);
    const QByteArray body = response.mid(split + 4);
    QVERIFY(head.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(head.contains("\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n"));
    QVERIFY(head.contains("\r\nConnection: close"));
    QVERIFY(body.contains("<title>VELQA Module WB000777</title>"));
    QVERIFY(body.contains(m_module->firmwareVersion()));
    QVERIFY(body.contains("written &lt;by&gt; the technician     "));
    QVERIFY(!body.contains("<script"));
    QVERIFY(!body.contains("http://"));
    QVERIFY(!body.contains("https://"));

    // The page reflects a slot write made over the module port.
    Client client;
    QVERIFY(client.open(m_module->port()));
    QVERIFY(client.exchange(frameOf("F03" + QByteArray(32, '#')), 6).size() > 5);
    QVERIFY(httpGet(request).contains(QByteArray(32, '#')));
}

void TestSim::refusesNonLoopback()
{
    SimModule module;
    QVERIFY(!module.listen(QHostAddress::Any));
    QVERIFY(!module.listen(QHostAddress(QStringLiteral("192.0.2.7"))));
    QVERIFY(!module.listenHttp(QHostAddress::AnyIPv4));
    QVERIFY(!module.errorString().isEmpty());
    QVERIFY(!module.isListening());
    QVERIFY(module.listen(QHostAddress(QStringLiteral("127.0.0.2"))) ||
            module.listen(QHostAddress::LocalHost));

    QVERIFY(!module.setCardNumber("1234567"));
    QVERIFY(!module.setCardNumber("1234567X"));
    QVERIFY(module.setCardNumber("87654321"));
    QCOMPARE(module.cardNumber(), QByteArray("87654321"));
    module.setSerialNumber("TOO-LONG-SERIAL");
    QCOMPARE(module.serialNumber(), QByteArray("TOO-LONG"));
    module.setFirmwareVersion("1.0");
    QCOMPARE(module.firmwareVersion(), QByteArray("1.0     "));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
