#include "SimTestSupport.h"
#include "TestClock.h"
#include "simmodule.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

Q_DECLARE_METATYPE(SimFaults)

static const QByteArray kSerial("FT000001");
static const QByteArray kVersion("01.00-07");
static const QByteArray kReaderRequest("\tA01F0F\r");

// A bare socket client, because QTcpSocket reports an orderly close and a reset alike and these
// rows must tell them apart. It never blocks: it is polled while the test clock's waits run the
// module's events and move its time on.
class RawClient
{
public:
    enum class End { Open, Closed, Reset };

    explicit RawClient(const TestClock &clock) : m_clock(clock) {}

    ~RawClient()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    // Connecting to a listening loopback port completes in the kernel without the event loop.
    bool open(quint16 port, int *error = nullptr, quint32 host = INADDR_LOOPBACK)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(host);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            if (error) {
                *error = errno;
            }
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        return true;
    }
    void send(const QByteArray &bytes)
    {
        QCOMPARE(::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL),
                 ssize_t(bytes.size()));
    }
    // What the kernel takes now, without waiting.
    ssize_t trySend(const QByteArray &bytes)
    {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    // Drains what has arrived; each call that finds bytes counts as one read.
    void poll()
    {
        QByteArray read;
        char buffer[65536];
        while (m_end == End::Open) {
            const ssize_t count = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (count > 0) {
                read.append(buffer, count);
            } else if (count == 0) {
                m_end = End::Closed;
            } else if (errno == ECONNRESET) {
                m_end = End::Reset;
            } else {
                break;
            }
        }
        if (!read.isEmpty()) {
            reads.append(read);
            data += read;
        }
    }
    // Polls until `condition` holds, the clock moving on 25 ms at a time; gives up after 30 s of
    // real time.
    template <typename Condition> bool waitUntil(Condition condition)
    {
        const QDeadlineTimer deadline(30000);
        for (poll(); !condition(); poll()) {
            if (deadline.hasExpired())
                return false;
            m_clock.PumpFor(25);
        }
        return true;
    }
    [[nodiscard]] End end() const { return m_end; }

    QByteArray data;
    QList<QByteArray> reads;

private:
    const TestClock &m_clock;
    int m_fd = -1;
    End m_end = End::Open;
};

enum class Expect { Nothing, Exactly, Size, Split, Closed, Reset, Repeats, Refused };
Q_DECLARE_METATYPE(Expect)

class TestSimFaults : public QObject
{
    Q_OBJECT

private slots:
    void faults_data();
    void faults();
    void faultsChangeWhileConnected();
    void edges_data();
    void edges();
    void fleetProgram();
};

void TestSimFaults::faults_data()
{
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<Expect>("expect");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("size");

    const QByteArray serial = frameOf("S01");
    const QByteArray serialReply = dataReplyOf(kSerial);
    const QByteArray versionReply = dataReplyOf(kVersion);
    SimFaults f;

    QTest::newRow("none") << f << serial << Expect::Exactly << serialReply << 0;

    f = {};
    f.silent = true;
    QTest::newRow("silent") << f << serial << Expect::Nothing << QByteArray() << 0;
    QTest::newRow("silent, bad frame")
        << f << QByteArray("QMK\x0FS0100\r") << Expect::Nothing << QByteArray() << 0;

    f = {};
    f.answerOnly = {"S01", "V01"};
    QTest::newRow("answer some: S01") << f << serial << Expect::Exactly << serialReply << 0;
    QTest::newRow("answer some: V01")
        << f << frameOf("V01") << Expect::Exactly << versionReply << 0;
    QTest::newRow("answer some: G01 unanswered")
        << f << frameOf("G01") << Expect::Nothing << QByteArray() << 0;
    QTest::newRow("answer some: F01 unanswered")
        << f << frameOf("F01" + QByteArray(32, '*')) << Expect::Nothing << QByteArray() << 0;
    QTest::newRow("answer some: reader unanswered")
        << f << kReaderRequest << Expect::Nothing << QByteArray() << 0;
    QTest::newRow("answer some: in turn")
        << f << frameOf("G02") + serial + frameOf("G03") << Expect::Exactly << serialReply << 0;

    f = {};
    f.shortReplies = true;
    QTest::newRow("short") << f << serial << Expect::Exactly << serialReply.left(5) << 0;
    QTest::newRow("short reader") << f << kReaderRequest << Expect::Size << QByteArray() << 5;
    QTest::newRow("short slot") << f << frameOf("G07") << Expect::Size << QByteArray() << 5;

    f = {};
    f.splitGapMs = 300;
    QTest::newRow("split with gap") << f << serial << Expect::Split << serialReply << 0;
    f.delayMs = 200;
    QTest::newRow("delayed and split") << f << serial << Expect::Split << serialReply << 0;

    f = {};
    f.delayMs = 400;
    QTest::newRow("delayed") << f << serial << Expect::Exactly << serialReply << 0;
    QTest::newRow("delayed keeps order")
        << f << serial + frameOf("V01") << Expect::Exactly << serialReply + versionReply << 0;

    f = {};
    f.unsolicitedMs = 40;
    f.unsolicitedBytes = "\x01unasked\r";
    QTest::newRow("unsolicited") << f << QByteArray() << Expect::Repeats << f.unsolicitedBytes << 3;

    f = {};
    f.closeAfter = 1;
    QTest::newRow("close after 1")
        << f << serial + frameOf("V01") << Expect::Closed << serialReply << 0;
    f.closeAfter = 3;
    QTest::newRow("close after 3") << f << serial + frameOf("V01") + serial << Expect::Closed
                                   << serialReply + versionReply + serialReply << 0;
    f.silent = true;
    QTest::newRow("silent, close after 3")
        << f << serial + serial + serial << Expect::Closed << QByteArray() << 0;

    f = {};
    f.resetAfter = 2;
    QTest::newRow("reset after 2") << f << serial + frameOf("V01") + serial << Expect::Reset
                                   << serialReply + versionReply << 0;
    f.resetAfter = 1;
    f.delayMs = 150;
    QTest::newRow("delayed, reset after 1") << f << serial << Expect::Reset << serialReply << 0;

    f = {};
    f.flood = SimFlood::OnConnect;
    QTest::newRow("flood on connect")
        << f << QByteArray() << Expect::Size << QByteArray() << 1024 * 1024;
    f.flood = SimFlood::AsReply;
    QTest::newRow("flood as reply") << f << serial << Expect::Size << QByteArray() << 1024 * 1024;
    f.floodBytes = 1000;
    QTest::newRow("small flood") << f << serial << Expect::Size << QByteArray() << 1000;

    f = {};
    f.garbageReplies = true;
    QTest::newRow("garbage") << f << serial << Expect::Size << serialReply
                             << int(serialReply.size());
    QTest::newRow("garbage slot") << f << frameOf("G01") << Expect::Size << QByteArray() << 39;

    f = {};
    f.forgetWrites = true;
    QTest::newRow("slot write answered, not kept")
        << f << frameOf("F01" + QByteArray(32, '#')) + frameOf("G01") << Expect::Exactly
        << dataReplyOf("F01") + dataReplyOf(QByteArray("Slot 1 factory data").leftJustified(32))
        << 0;

    f = {};
    f.refuseConnections = true;
    QTest::newRow("refused, then listening again")
        << f << serial << Expect::Refused << serialReply << 0;
}

void TestSimFaults::faults()
{
    QFETCH(SimFaults, faults);
    QFETCH(QByteArray, request);
    QFETCH(Expect, expect);
    QFETCH(QByteArray, expected);
    QFETCH(int, size);

    // The module's delays, gaps and unasked bytes pass in virtual time.
    TestClock clock;
    SimModule module;
    module.setScheduler(clock.scheduler());
    module.setSerialNumber(kSerial);
    module.setFirmwareVersion(kVersion);
    module.setRecording(true);
    QVERIFY(module.listen());
    const quint16 port = module.port();
    module.setFaults(faults);

    RawClient client(clock);
    if (expect == Expect::Refused) {
        QVERIFY(!module.isListening());
        int error = 0;
        QVERIFY(!client.open(port, &error));
        QCOMPARE(error, ECONNREFUSED);
        faults.refuseConnections = false;
        module.setFaults(faults);
        QVERIFY(module.isListening());
        QCOMPARE(module.port(), port);
        expect = Expect::Exactly;
    }
    QSignalSpy connected(&module, &SimModule::clientConnected);
    QSignalSpy disconnected(&module, &SimModule::clientDisconnected);
    QVERIFY(client.open(port));
    QVERIFY(connected.wait(10000));

    const quint64 start = clock.elapsed();
    if (!request.isEmpty()) {
        client.send(request);
        QVERIFY(client.waitUntil([&] { return module.received() == request; }));
    }
    // Answers come after the module's delays on the test clock: not sooner, and not a real wait
    // later, which would have let the clock run far past them.
    const auto afterDelays = [&](int ms) {
        const auto since = qint64(clock.elapsed() - start);
        return since >= ms && since < ms + 2000;
    };

    switch (expect) {
    case Expect::Nothing:
    case Expect::Size: {
        // Answers go out in turn: whatever arrives ahead of the answer to a request sent with
        // the faults cleared (the version, which no row asks for) is all the row's request got.
        QVERIFY(client.waitUntil([&] { return client.data.size() >= size; }));
        module.setFaults({});
        const QByteArray next = dataReplyOf(kVersion);
        client.send(frameOf("V01"));
        QVERIFY(client.waitUntil([&] { return client.data.size() >= size + next.size(); }));
        QCOMPARE(client.data.mid(size), next);
        QCOMPARE(client.end(), RawClient::End::Open);
        if (!expected.isEmpty()) {
            QVERIFY(client.data.left(size) != expected);
        }
        break;
    }
    case Expect::Exactly:
        QVERIFY(client.waitUntil([&] { return client.data.size() >= expected.size(); }));
        QCOMPARE(client.data, expected);
        QVERIFY(afterDelays(faults.delayMs));
        break;
    case Expect::Split:
        QVERIFY(client.waitUntil([&] { return client.data.size() >= expected.size(); }));
        QCOMPARE(client.data, expected);
        QVERIFY(client.reads.size() >= 2);
        QVERIFY(client.reads.first().size() < expected.size());
        QVERIFY(afterDelays(faults.delayMs + faults.splitGapMs));
        break;
    case Expect::Closed:
    case Expect::Reset: {
        const RawClient::End end =
            expect == Expect::Closed ? RawClient::End::Closed : RawClient::End::Reset;
        QVERIFY(client.waitUntil([&] { return client.end() != RawClient::End::Open; }));
        QCOMPARE(client.end(), end);
        QCOMPARE(client.data, expected);
        QVERIFY(afterDelays(faults.delayMs));
        QVERIFY(client.waitUntil([&] { return !disconnected.isEmpty(); }));
        QVERIFY(!module.hasClient());
        // The port still takes the next connection.
        RawClient next(clock);
        QVERIFY(next.open(port));
        QVERIFY(connected.wait(10000));
        break;
    }
    case Expect::Repeats:
        QVERIFY(client.waitUntil([&] { return client.data.size() >= size * expected.size(); }));
        QCOMPARE(client.data.left(size * expected.size()), expected.repeated(size));
        QVERIFY(afterDelays(size * faults.unsolicitedMs));
        break;
    case Expect::Refused:
        QFAIL("handled above");
    }
}

void TestSimFaults::faultsChangeWhileConnected()
{
    // The module keeps its time on Qt's own timers here.
    const TestClock clock;
    SimModule module;
    module.setRecording(true);
    QVERIFY(module.listen());
    RawClient client(clock);
    QSignalSpy handled(&module, &SimModule::commandHandled);
    QVERIFY(client.open(module.port()));

    SimFaults faults;
    faults.silent = true;
    module.setFaults(faults);
    client.send(frameOf("V01"));
    QVERIFY(handled.wait(10000));

    // An answer to the silenced request would arrive ahead of this one.
    faults = {};
    faults.delayMs = 50;
    module.setFaults(faults);
    QElapsedTimer delayed;
    delayed.start();
    client.send(frameOf("S01"));
    QVERIFY(client.waitUntil([&] { return client.data.size() >= 15; }));
    QCOMPARE(client.data, dataReplyOf(module.serialNumber()));
    QVERIFY(delayed.elapsed() >= faults.delayMs);

    // Refusing new connections leaves the one in progress alone.
    faults = {};
    faults.refuseConnections = true;
    module.setFaults(faults);
    RawClient refused(clock);
    QVERIFY(!refused.open(module.port()));
    client.data.clear();
    client.send(frameOf("V01"));
    QVERIFY(client.waitUntil([&] { return client.data.size() >= 15; }));
    QCOMPARE(client.data, dataReplyOf(module.firmwareVersion()));
    QCOMPARE(module.handledCommands(), (QList<QByteArray>{"V01", "S01", "V01"}));

    // Unasked bytes repeat on Qt's timers too.
    faults.unsolicitedMs = 10;
    faults.unsolicitedBytes = "\x01unasked\r";
    module.setFaults(faults);
    client.data.clear();
    QVERIFY(client.waitUntil([&] { return client.data.size() >= 3 * 9; }));
    QCOMPARE(client.data.left(3 * 9), faults.unsolicitedBytes.repeated(3));
}

void TestSimFaults::edges_data()
{
    QTest::addColumn<bool>("repliesUnread");
    QTest::newRow("requests whose replies are never read") << true;
    QTest::newRow("descriptors run out and come back") << false;
}

// What a client does to the module must never cost it unbounded memory or its listening port.
void TestSimFaults::edges()
{
    QFETCH(bool, repliesUnread);

    const TestClock clock;
    SimModule module;
    module.setSerialNumber(kSerial);
    QVERIFY(module.listen());
    QSignalSpy connected(&module, &SimModule::clientConnected);
    RawClient client(clock);
    QVERIFY(client.open(module.port()));
    QVERIFY(connected.wait(10000));

    if (repliesUnread) {
        // Every 10-byte request asks for a 15-byte reply that the client never reads: the module
        // stops reading, so the client's sends end up waiting in the kernel while the module's
        // events find nothing more to read.
        int reads = 0;
        connect(&module, &SimModule::bytesReceived, this, [&reads] { ++reads; });
        const QByteArray requests = frameOf("S01").repeated(6400);
        const qint64 budget = 64 * 1024 * 1024;
        qint64 taken = 0;
        for (int quiet = 0; quiet < 3 && taken < budget;) {
            for (ssize_t sent = 0; (sent = client.trySend(requests)) > 0;)
                taken += sent;
            const int before = reads;
            QCoreApplication::processEvents();
            if (reads == before)
                clock.PumpFor(25);
            quiet = reads == before ? quiet + 1 : 0;
        }
        QVERIFY2(taken < budget, qPrintable(QString::number(taken)));
        return;
    }
    // The next connection waits in the backlog while the module cannot accept it.
    RawClient next(clock);
    QVERIFY(next.open(module.port()));
    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 512);
    QVERIFY(setrlimit(RLIMIT_NOFILE, &low) == 0);
    std::vector<int> spent;
    // Also when a check fails: the rest of the run needs its descriptors.
    const auto giveBack = [&] {
        for (const int fd : spent)
            ::close(fd);
        spent.clear();
        return setrlimit(RLIMIT_NOFILE, &saved) == 0;
    };
    const auto guard = qScopeGuard(giveBack);
    for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
        spent.push_back(fd);
    // The module's events run while it has no descriptor to accept the connection with.
    const qsizetype accepted = connected.size();
    clock.PumpFor(25);
    QCOMPARE(connected.size(), accepted);
    QVERIFY(giveBack());
    QVERIFY(connected.wait(10000));
    next.send(frameOf("S01"));
    QVERIFY(next.waitUntil([&] { return next.data.size() >= 15; }));
    QCOMPARE(next.data, dataReplyOf(kSerial));
}

// The fault options reach every module of a fleet.
void TestSimFaults::fleetProgram()
{
    QProcess sim;
    const auto stop = qScopeGuard([&sim] {
        sim.kill();
        sim.waitForFinished(10000);
    });
    QByteArray output;
    connect(&sim, &QProcess::readyReadStandardOutput, this,
            [&] { output += sim.readAllStandardOutput(); });
    QSignalSpy said(&sim, &QProcess::readyReadStandardOutput);
    const auto waitFor = [&](const QByteArray &text) {
        while (!output.contains(text)) {
            if (!said.wait(10000))
                return false;
        }
        return true;
    };
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Long enough for this test to try a connection after it has read the port.
    sim.start(QStringLiteral(VELQA_SIM_PROGRAM),
              {"--count", "2", "--refuse-for", "500", "--port", "0"});
    QVERIFY(waitFor("\n"));
    // "velqa-sim: 2 modules on 127.0.0.1 to 127.0.0.2, port N"
    const auto port = quint16(output.left(output.indexOf('\n')).split(' ').last().toUInt());
    QVERIFY2(port != 0, output.constData());

    // The second module refuses too.
    const TestClock clock;
    RawClient client(clock);
    int error = 0;
    QVERIFY(!client.open(port, &error, INADDR_LOOPBACK + 1));
    QCOMPARE(error, ECONNREFUSED);
    QVERIFY(waitFor("velqa-sim: accepting connections again\n"));
    QVERIFY(client.open(port, &error, INADDR_LOOPBACK + 1));
}

QTEST_GUILESS_MAIN(TestSimFaults)
#include "tst_sim_faults.moc"
