#include "SoakHarness.h"

#include "IndicatorShape.h"
#include "MainWindow.h"
#include "Operations.h"
#include "simmodule.h"
#include "simreactor.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineView>

#include <cstdio>
#include <optional>

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

static constexpr qint64 FloodBytes = 1024 * 1024;
static constexpr int KeptFailures = 50;
// After a fault that acts late (a delayed reply, a close after the answer, a flood still
// arriving), this long passes before a press may be held to what a healthy module gives.
static constexpr qint64 SettleMs = 500;

QString SoakFaultName(SoakFault fault)
{
    switch (fault) {
    case SoakFault::Healthy:
        return QStringLiteral("healthy");
    case SoakFault::Garbage:
        return QStringLiteral("garbage");
    case SoakFault::Split:
        return QStringLiteral("split replies");
    case SoakFault::Flood:
        return QStringLiteral("1 MB flood");
    case SoakFault::Reset:
        return QStringLiteral("reset");
    case SoakFault::Close:
        return QStringLiteral("orderly close");
    case SoakFault::Silent:
        return QStringLiteral("silence");
    case SoakFault::Delay:
        return QStringLiteral("delay");
    case SoakFault::Unsolicited:
        return QStringLiteral("unsolicited");
    case SoakFault::Refused:
        return QStringLiteral("refused");
    case SoakFault::Short:
        return QStringLiteral("short replies");
    }
    return {};
}

// Faults whose effects are over when the press that met them ends.
static bool settlesAtOnce(SoakFault fault)
{
    switch (fault) {
    case SoakFault::Healthy:
    case SoakFault::Garbage:
    case SoakFault::Silent:
    case SoakFault::Refused:
    case SoakFault::Short:
        return true;
    default:
        return false;
    }
}

// Scan, set data, clear, reader, loop, refresh.
SoakMix SoakMix::ci()
{
    SoakMix mix;
    mix.name = QStringLiteral("ci");
    mix.note = QStringLiteral("scans and all four link operations, web page now and then");
    mix.connected = {18, 14, 10, 24, 28, 6};
    mix.disconnected = {60, 8, 8, 10, 10, 4};
    return mix;
}

SoakMix SoakMix::quick()
{
    SoakMix mix;
    mix.name = QStringLiteral("quick");
    mix.note = QStringLiteral("quick operations weighted up: loop and reader tests are two "
                              "thirds of the presses on an open link");
    mix.connected = {6, 12, 6, 34, 38, 4};
    mix.disconnected = {55, 10, 10, 10, 10, 5};
    return mix;
}

double SoakReport::rssGrowthPercent() const
{
    if (rssEarlyKb <= 0 || rssEndKb <= 0)
        return 0.0;
    return 100.0 * double(rssEndKb - rssEarlyKb) / double(rssEarlyKb);
}

bool SoakReport::passed() const
{
    return failureCount == 0 && (!rssJudged() || rssGrowthPercent() < 10.0);
}

int SoakReport::faultTotal(SoakFault fault) const
{
    int total = 0;
    for (int count : byFault[size_t(fault)])
        total += count;
    return total;
}

static QString outcomeHeader(const QString &first)
{
    QString line = QStringLiteral("  %1").arg(first, -15);
    for (int o = 0; o < SoakOutcomeCount; ++o)
        line += QStringLiteral("%1").arg(SoakOutcomeName(SoakOutcome(o)), 11);
    return line + QStringLiteral("%1\n").arg(QStringLiteral("total"), 8);
}

static QString outcomeRow(const QString &name, const std::array<int, SoakOutcomeCount> &counts)
{
    QString line = QStringLiteral("  %1").arg(name, -15);
    int total = 0;
    for (int count : counts) {
        line += QStringLiteral("%1").arg(count, 11);
        total += count;
    }
    return line + QStringLiteral("%1\n").arg(total, 8);
}

QString SoakReport::text() const
{
    QString out;
    out += QStringLiteral("Fault soak: %1 operations, seed %2, mix \"%3\" (%4)\n")
               .arg(operations)
               .arg(seed)
               .arg(mixName, mixNote);
    out += QStringLiteral("module %1 port %2; web page on port 80: %3\n")
               .arg(moduleAddress)
               .arg(modulePort)
               .arg(webPageServed ? QStringLiteral("served")
                                  : QStringLiteral("not served (cannot bind), loads fail"));
    out += QStringLiteral("elapsed %1 s, %2 s per operation")
               .arg(double(elapsedMs) / 1000.0, 0, 'f', 1)
               .arg(operations ? double(elapsedMs) / 1000.0 / operations : 0.0, 0, 'f', 2);
    // The times below are the test clock's: what the presses would have taken in real time.
    if (virtualTime)
        out +=
            QStringLiteral(", for %1 s of virtual time").arg(double(clockMs) / 1000.0, 0, 'f', 1);
    out += QStringLiteral("\n\n");

    out += QStringLiteral("  %1%2%3%4\n")
               .arg(QStringLiteral("operation"), -15)
               .arg(QStringLiteral("presses"), 11)
               .arg(QStringLiteral("mean s"), 11)
               .arg(QStringLiteral("max s"), 11);
    for (int op = 0; op < SoakOperationCount; ++op) {
        int presses = 0;
        for (int count : byOperation[size_t(op)])
            presses += count;
        out += QStringLiteral("  %1%2%3%4\n")
                   .arg(SoakOperationName(SoakOperation(op)), -15)
                   .arg(presses, 11)
                   .arg(presses ? double(totalMs[size_t(op)]) / 1000.0 / presses : 0.0, 11, 'f', 2)
                   .arg(double(maxMs[size_t(op)]) / 1000.0, 11, 'f', 2);
    }

    out += QLatin1Char('\n') + outcomeHeader(QStringLiteral("fault"));
    std::array<int, SoakOutcomeCount> totals{};
    for (int f = 0; f < SoakFaultCount; ++f) {
        out += outcomeRow(SoakFaultName(SoakFault(f)), byFault[size_t(f)]);
        for (int o = 0; o < SoakOutcomeCount; ++o)
            totals[size_t(o)] += byFault[size_t(f)][size_t(o)];
    }
    out += outcomeRow(QStringLiteral("all"), totals);

    out += QLatin1Char('\n') + outcomeHeader(QStringLiteral("operation"));
    for (int op = 0; op < SoakOperationCount; ++op)
        out += outcomeRow(SoakOperationName(SoakOperation(op)), byOperation[size_t(op)]);

    out += QStringLiteral("\nheld to a healthy module's results (settled link): %1 presses\n")
               .arg(strictChecks);
    out += QStringLiteral("error box messages:%1\n")
               .arg(errorKinds.isEmpty() ? QStringLiteral(" none") : QString());
    for (auto it = errorKinds.cbegin(); it != errorKinds.cend(); ++it)
        out += QStringLiteral("  %1  %2\n").arg(it.value(), 5).arg(it.key());

    out += QStringLiteral("RSS: %1 kB at operation %2, %3 kB at operation %4: %5%6 %\n")
               .arg(rssEarlyKb)
               .arg(rssEarlyAt)
               .arg(rssEndKb)
               .arg(operations)
               .arg(rssGrowthPercent() >= 0 ? QStringLiteral("+") : QString())
               .arg(rssGrowthPercent(), 0, 'f', 1);
    out += rssJudged() ? QStringLiteral("RSS growth limit 10 %: %1\n")
                             .arg(rssGrowthPercent() < 10.0 ? QStringLiteral("met")
                                                            : QStringLiteral("EXCEEDED"))
                       : QStringLiteral("RSS growth not judged below 200 operations\n");
    out += QStringLiteral("problems: %1\n").arg(failureCount);
    for (const QString &failure : failures)
        out += QStringLiteral("  %1\n").arg(failure);
    return out;
}

// One end of a TCP connection as its system counts it.
struct TcpEnd
{
    quint16 localPort = 0;
    quint16 peerPort = 0;
    // Bytes waiting to be sent (in Qt's buffer or the system's), sent once, and received.
    qint64 waiting = 0;
    qint64 sent = 0;
    qint64 received = 0;
};

// The window's QTcpSocket or the simulated module's SimConnection.
template <typename Socket> static std::optional<TcpEnd> tcpEnd(const Socket *socket)
{
    // The system's state number of an open connection (TCP_ESTABLISHED in netinet/tcp.h, which
    // cannot be included beside linux/tcp.h).
    constexpr int Established = 1;
    if (!socket || socket->socketDescriptor() == -1)
        return std::nullopt;
    const int fd = int(socket->socketDescriptor());
    tcp_info info{};
    socklen_t size = sizeof info;
    int unsent = 0;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
        info.tcpi_state != Established || ::ioctl(fd, SIOCOUTQNSD, &unsent) != 0)
        return std::nullopt;
    return TcpEnd{socket->localPort(), socket->peerPort(), socket->bytesToWrite() + unsent,
                  qint64(info.tcpi_bytes_sent - info.tcpi_bytes_retrans),
                  qint64(info.tcpi_bytes_received)};
}

// Whether something is still on its way between the window's end of the connection and the
// module's: the connection being made, the module taking it or closing it, or bytes waiting to be
// sent or sent and not yet received. The system delivers what is sent on loopback a moment after
// it was sent, at times later when the machine is busy.
static bool onTheirWay(const QTcpSocket *window, const SimConnection *module)
{
    if (!window)
        return false;
    if (window->state() == QAbstractSocket::ConnectingState)
        return true;
    // Closed, or the module's close has arrived.
    const std::optional<TcpEnd> a = tcpEnd(window);
    if (!a)
        return false;
    const std::optional<TcpEnd> b = tcpEnd(module);
    if (!b || a->localPort != b->peerPort || b->localPort != a->peerPort)
        return true;
    return a->waiting > 0 || b->waiting > 0 || a->sent > b->received || b->sent > a->received;
}

static QHostAddress randomLoopbackAddress()
{
    QRandomGenerator *random = QRandomGenerator::global();
    return QHostAddress(QStringLiteral("127.%1.%2.%3")
                            .arg(random->bounded(1, 255))
                            .arg(random->bounded(1, 255))
                            .arg(random->bounded(2, 255)));
}

SoakHarness::SoakHarness(SoakOptions options)
    : m_options(std::move(options)), m_random(m_options.seed), m_address(randomLoopbackAddress())
{
}

SoakHarness::~SoakHarness()
{
    m_window.reset();
    m_sim.reset();
    setBeeper(nullptr);
    setErrorPresenter(nullptr);
}

bool SoakHarness::setUp(QString *why)
{
    if (!m_store.isValid()) {
        *why = QStringLiteral("no scratch folder for the settings");
        return false;
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_store.path());
    setBeeper(&m_beeper);
    setErrorPresenter(&m_presenter);

    m_sim = std::make_unique<SimModule>();
    if (m_options.virtualTime) {
        // The window, the module and the clock share this thread, so a slice lasts only until
        // the bytes between window and module have arrived.
        m_testClock = std::make_unique<TestClock>(1000, TestClock::Dispatch::UntilIdle);
        m_clock = m_testClock.get();
        m_sim->setScheduler(m_testClock->scheduler());
    }
    if (!m_sim->listen(m_address, 0)) {
        *why = QStringLiteral("module cannot listen: ") + m_sim->errorString();
        return false;
    }
    m_report.webPageServed = m_sim->listenHttp(m_address, 80);
    QObject::connect(m_sim.get(), &SimModule::clientConnected, m_sim.get(),
                     [this] { m_moduleCommands = 0; });
    QObject::connect(m_sim.get(), &SimModule::commandHandled, m_sim.get(),
                     [this] { ++m_moduleCommands; });

    m_window = std::make_unique<TfrmMain>();
    m_window->link().setPort(m_sim->port());
    m_window->link().setClock(m_clock);
    if (m_testClock) {
        m_testClock->setInFlight([this] {
            return onTheirWay(m_window->link().findChild<QTcpSocket *>(), m_sim->clientSocket());
        });
    }
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get(), 30000)) {
        *why = QStringLiteral("the window was never shown");
        return false;
    }
    // The address field's default is a real module's address; the soak only ever uses its own.
    m_window->findChild<QLineEdit *>(QStringLiteral("edIP"))->setText(m_address.toString());
    return true;
}

SoakReport SoakHarness::run()
{
    m_report.operations = m_options.operations;
    m_report.seed = m_options.seed;
    m_report.mixName = m_options.mix.name;
    m_report.mixNote = m_options.mix.note;
    m_report.moduleAddress = m_address.toString();
    m_report.modulePort = m_sim->port();
    m_report.rssEarlyAt = m_options.operations >= 200 ? 100 : qMax(1, m_options.operations / 5);
    m_report.virtualTime = m_options.virtualTime;
    m_wall.start();
    m_start = m_clock->Milliseconds();
    for (int index = 1; index <= m_options.operations; ++index) {
        runOne(index);
        if (index == m_report.rssEarlyAt)
            m_report.rssEarlyKb = CurrentResidentKilobytes();
    }
    m_report.rssEndKb = CurrentResidentKilobytes();
    m_report.elapsedMs = m_wall.elapsed();
    m_report.clockMs = now();
    return m_report;
}

qint64 SoakHarness::now() const
{
    return qint64(quint32(m_clock->Milliseconds() - m_start));
}

SoakHarness::FaultDraw SoakHarness::drawFault()
{
    // Healthy, garbage, split, flood, reset, close, silent, delay, unsolicited, refused, short.
    static const std::array<int, SoakFaultCount> weights = {22, 7, 7, 7, 7, 9, 7, 7, 7, 7, 6};
    static const std::array<int, 4> delays = {20, 200, 700, 1300};
    int total = 0;
    for (int weight : weights)
        total += weight;
    // Every parameter is drawn every time, so a different path through one press does not
    // shift the draws of the presses after it.
    FaultDraw draw;
    int pick = int(m_random.bounded(total));
    for (int f = 0; f < SoakFaultCount; ++f) {
        pick -= weights[size_t(f)];
        if (pick < 0) {
            draw.fault = SoakFault(f);
            break;
        }
    }
    draw.splitGapMs = int(m_random.bounded(31));
    draw.floodOnConnect = m_random.bounded(2) == 1;
    draw.afterDraw = int(m_random.bounded(1000));
    draw.closeNow = m_random.bounded(2) == 1;
    draw.delayMs = delays[m_random.bounded(int(delays.size()))];
    draw.unsolicitedMs = int(m_random.bounded(2, 41));
    return draw;
}

SoakOperation SoakHarness::pickOperation(int draw, bool connected) const
{
    const auto &weights = connected ? m_options.mix.connected : m_options.mix.disconnected;
    int total = 0;
    for (int weight : weights)
        total += weight;
    int pick = draw % qMax(1, total);
    for (int op = 0; op < SoakOperationCount; ++op) {
        pick -= weights[size_t(op)];
        if (pick < 0)
            return SoakOperation(op);
    }
    return SoakOperation::Scan;
}

QString SoakHarness::applyFault(const FaultDraw &draw, SoakOperation operation)
{
    // A scan starts a new connection, on which the module counts its commands from zero.
    const int base = operation == SoakOperation::Scan ? 0 : m_moduleCommands;
    const int reach = operation == SoakOperation::Scan    ? 10
                      : operation == SoakOperation::Clear ? 8
                                                          : 3;
    const int after = 1 + draw.afterDraw % reach;

    SimFaults faults;
    QString words = SoakFaultName(draw.fault);
    bool closeNow = false;
    switch (draw.fault) {
    case SoakFault::Healthy:
        break;
    case SoakFault::Garbage:
        faults.garbageReplies = true;
        break;
    case SoakFault::Split:
        faults.splitGapMs = draw.splitGapMs;
        words += QStringLiteral(" %1 ms").arg(draw.splitGapMs);
        break;
    case SoakFault::Flood:
        faults.flood = draw.floodOnConnect ? SimFlood::OnConnect : SimFlood::AsReply;
        faults.floodBytes = FloodBytes;
        words += draw.floodOnConnect ? QStringLiteral(" on connect") : QStringLiteral(" as reply");
        break;
    case SoakFault::Reset:
        faults.resetAfter = base + after;
        words += QStringLiteral(" after %1").arg(after);
        break;
    case SoakFault::Close:
        closeNow = draw.closeNow;
        if (!closeNow)
            faults.closeAfter = base + after;
        words += closeNow ? QStringLiteral(" now") : QStringLiteral(" after %1").arg(after);
        break;
    case SoakFault::Silent:
        faults.silent = true;
        break;
    case SoakFault::Delay:
        faults.delayMs = draw.delayMs;
        words += QStringLiteral(" %1 ms").arg(draw.delayMs);
        break;
    case SoakFault::Unsolicited:
        faults.unsolicitedMs = draw.unsolicitedMs;
        words += QStringLiteral(" every %1 ms").arg(draw.unsolicitedMs);
        break;
    case SoakFault::Refused:
        faults.refuseConnections = true;
        break;
    case SoakFault::Short:
        faults.shortReplies = true;
        break;
    }
    m_sim->setFaults(faults);
    if (closeNow)
        m_sim->disconnectClient();
    return words;
}

QPushButton *SoakHarness::button(const char *name) const
{
    return m_window->findChild<QPushButton *>(QLatin1String(name));
}

QString SoakHarness::text(const char *name) const
{
    const QObject *control = m_window->findChild<QObject *>(QLatin1String(name));
    return control ? control->property("text").toString() : QString();
}

SoakObservation SoakHarness::observe(SoakOperation operation) const
{
    SoakObservation o;
    o.operation = operation;
    o.status = text("pnMsg");
    o.indicator = m_window->findChild<IndicatorShape *>(QStringLiteral("shComm"))->colour();
    for (const BeepRecord &beep : m_beeper.beeps())
        o.beepFrequencies << beep.frequencyHz;
    o.connected = m_window->link().ConnectedFlag();
    for (const char *name : {"btnSetData", "btnClear", "btnReader", "btnLoop"})
        o.operationButtons << button(name)->isEnabled();
    o.windowEnabled = m_window->WindowEnabled();
    o.busyCursor = QApplication::overrideCursor() != nullptr;
    o.serial = text("pnSerial");
    o.version = text("pnVersion");
    const auto *list = m_window->findChild<QListWidget *>(QStringLiteral("lstData"));
    for (int row = 0; row < list->count(); ++row)
        o.dataLines << list->item(row)->text();
    o.cardId = text("edCardID");
    o.loopText = text("edLoop");
    o.webLocation =
        m_window->findChild<QWebEngineView *>(QStringLiteral("webMain"))->url().toString();
    return o;
}

SoakExpectation SoakHarness::healthyExpectation(SoakOperation operation) const
{
    SoakExpectation e;
    const QString page = QStringLiteral("http://%1/").arg(m_address.toString());
    switch (operation) {
    case SoakOperation::Scan:
        e.serial = FixedTexts::SerialPrefix + QString::fromLatin1(m_sim->serialNumber());
        e.version = FixedTexts::VersionPrefix + QString::fromLatin1(m_sim->firmwareVersion());
        for (int slot = 1; slot <= 8; ++slot)
            e.dataLines << QStringLiteral("(%1) ").arg(slot, 2, 10, QLatin1Char('0')) +
                               QString::fromLatin1(m_sim->slotData(slot));
        e.webLocation = page;
        break;
    case SoakOperation::Reader:
        e.cardId = QString::fromLatin1(m_sim->cardNumber());
        break;
    case SoakOperation::Loop:
        e.loopText = QStringLiteral("Loop Test Ok.");
        break;
    case SoakOperation::Refresh:
        e.webLocation = page;
        break;
    case SoakOperation::SetData:
    case SoakOperation::Clear:
        break;
    }
    return e;
}

QStringList SoakHarness::moduleProblems(SoakOperation operation) const
{
    QStringList problems;
    if (operation == SoakOperation::SetData &&
        m_sim->slotData(1) != ModuleMessages::TestPattern.mid(3))
        problems << QStringLiteral("slot 1 holds \"%1\" after set data")
                        .arg(QString::fromLatin1(m_sim->slotData(1)));
    if (operation == SoakOperation::Clear) {
        for (int slot = 1; slot <= 8; ++slot) {
            if (m_sim->slotData(slot) != QByteArray(32, '*'))
                problems << QStringLiteral("slot %1 holds \"%2\" after clearing")
                                .arg(slot)
                                .arg(QString::fromLatin1(m_sim->slotData(slot)));
        }
    }
    return problems;
}

void SoakHarness::tallyErrors(QStringList *shown)
{
    for (const QString &message : m_presenter.messages()) {
        ++m_report.errorKinds[SoakErrorKind(message)];
        if (shown)
            *shown << message;
    }
    m_presenter.Clear();
}

void SoakHarness::fail(int index, const QString &what, const QString &problem)
{
    ++m_report.failureCount;
    const QString line = QStringLiteral("operation %1 (%2): %3").arg(index).arg(what, problem);
    if (m_report.failures.size() < KeptFailures)
        m_report.failures << line;
    if (m_options.verbose)
        std::printf("      PROBLEM %s\n", qPrintable(problem));
}

void SoakHarness::runOne(int index)
{
    const FaultDraw draw = drawFault();
    const int operationDraw = int(m_random.bounded(1000));
    const int idleDraw = int(m_random.bounded(100));
    const int idleMs = int(m_random.bounded(1, 41));
    // A close is more telling when the next press comes before the tool could see it.
    const bool idle = idleDraw < (draw.fault == SoakFault::Close && draw.closeNow ? 40 : 75);

    const SoakOperation operation = pickOperation(operationDraw, m_window->link().ConnectedFlag());
    const QString faultWords = applyFault(draw, operation);
    // Usually the tool idles in its message loop between presses; sometimes the next press
    // comes before any event was dispatched, so a close lands in the operation's own start.
    if (idle)
        m_clock->PumpFor(quint32(idleMs));
    tallyErrors(nullptr);

    const bool settled = now() >= m_unsettledUntilMs;
    const bool strict = draw.fault == SoakFault::Healthy && idle && settled &&
                        (!SoakNeedsLink(operation) || m_window->link().ConnectedFlag());

    SoakObservation before = observe(operation);
    QPushButton *pressed = button(SoakButtonName(operation));
    const bool wasEnabled = pressed->isEnabled();
    m_beeper.Clear();
    m_sim->clearReceived();
    m_sim->clearHandledCommands();

    const qint64 start = now();
    QTest::mouseClick(pressed, Qt::LeftButton);
    const qint64 ms = now() - start;

    SoakObservation after = observe(operation);
    after.buttonWasEnabled = wasEnabled;
    after.statusBefore = before.status;
    after.indicatorBefore = before.indicator;
    tallyErrors(&after.errors);

    std::optional<SoakExpectation> expected;
    if (strict)
        expected = healthyExpectation(operation);
    SoakVerdict verdict = JudgeOperation(after, expected);
    if (strict) {
        ++m_report.strictChecks;
        verdict.problems << moduleProblems(operation);
    }

    ++m_report.byFault[size_t(draw.fault)][size_t(verdict.outcome)];
    ++m_report.byOperation[size_t(operation)][size_t(verdict.outcome)];
    m_report.totalMs[size_t(operation)] += ms;
    m_report.maxMs[size_t(operation)] = qMax(m_report.maxMs[size_t(operation)], ms);
    if (!settlesAtOnce(draw.fault)) {
        const qint64 late = draw.fault == SoakFault::Delay ? draw.delayMs : 0;
        m_unsettledUntilMs = now() + SettleMs + late;
    }

    const QString what = SoakOperationName(operation) + QStringLiteral(", ") + faultWords;
    if (m_options.verbose) {
        std::printf("%5d %-12s %-24s %-10s %6lld ms%s  \"%s\"\n", index,
                    qPrintable(SoakOperationName(operation)), qPrintable(faultWords),
                    qPrintable(SoakOutcomeName(verdict.outcome)), static_cast<long long>(ms),
                    strict ? " strict" : "", qPrintable(after.status));
        std::fflush(stdout);
    }
    for (const QString &problem : verdict.problems)
        fail(index, what, problem);
}
