#include "simmodule.h"

#include "simframe.h"
#include "simlistener.h"
#include "simreactor.h"

#include <QRandomGenerator>
#include <QTcpSocket>

#include <cstring>
#include <vector>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

// An incomplete request that stops growing for this long is judged on what has arrived.
static constexpr int kStallMs = 300;
// Input without any terminator is thrown away once it grows this large.
static constexpr qsizetype kInputLimit = 64 * 1024;
// Input is read at most this much at a time; while the output is full it stays in the kernel and
// the client's sends wait there, as they would against a real module.
static constexpr qint64 kReadBufferSize = 64 * 1024;
// While more output than this waits for a client that does not read, its requests are left
// unread, so replies never pile up in memory.
static constexpr qint64 kOutputLimit = 1024 * 1024;
static constexpr qsizetype kOutboxLimit = 256;

static QByteArray randomBytes(qint64 count)
{
    std::vector<quint32> words(static_cast<size_t>((count + 3) / 4));
    QRandomGenerator::global()->fillRange(words.data(), static_cast<qsizetype>(words.size()));
    QByteArray bytes(static_cast<qsizetype>(count), Qt::Uninitialized);
    std::memcpy(bytes.data(), words.data(), static_cast<size_t>(count));
    return bytes;
}

SimModule::SimModule(QObject *parent)
    : QObject(parent), m_stallTimer([this] { parseInput(true); }),
      m_sendTimer([this] { onSendTimer(); }),
      m_unsolicitedTimer([this] { sendUnsolicited(); }, false)
{
    for (int slot = 1; slot <= SimFrame::SlotCount; ++slot) {
        m_slots.append(SimFrame::fitted("Slot " + QByteArray::number(slot) + " factory data",
                                        SimFrame::SlotWidth));
    }
}

const SimConnection *SimModule::clientSocket() const
{
    return m_client.data();
}

void SimModule::setScheduler(const SimTimer::Scheduler &scheduler)
{
    m_stallTimer.setScheduler(scheduler);
    m_sendTimer.setScheduler(scheduler);
    m_unsolicitedTimer.setScheduler(scheduler);
}

void SimModule::setRecording(bool on)
{
    m_recording = on;
    if (!on) {
        m_received.clear();
        m_handled.clear();
    }
}

SimModule::~SimModule()
{
    // The sockets are deleted with their servers after this object has stopped being a SimModule.
    for (SimConnection *socket : findChildren<SimConnection *>())
        socket->disconnect(this);
    for (QTcpSocket *socket : findChildren<QTcpSocket *>())
        socket->disconnect(this);
}

bool SimModule::listen(const QHostAddress &address, quint16 port)
{
    if (!address.isLoopback()) {
        m_errorString = QStringLiteral("refusing to listen on %1: not a loopback address")
                            .arg(address.toString());
        return false;
    }
    if (!m_server) {
        m_server = new SimListener(this);
        connect(m_server, &SimListener::newConnection, this, &SimModule::onNewConnection);
    }
    m_server->close();
    if (!m_server->listen(address, port)) {
        m_errorString = m_server->errorString();
        return false;
    }
    m_address = address;
    m_port = m_server->serverPort();
    applyRefusal();
    return true;
}

bool SimModule::listenHttp(const QHostAddress &address, quint16 port)
{
    if (!address.isLoopback()) {
        m_errorString = QStringLiteral("refusing to listen on %1: not a loopback address")
                            .arg(address.toString());
        return false;
    }
    if (!m_http) {
        m_http = new SimListener(this);
        connect(m_http, &SimListener::newConnection, this, &SimModule::onHttpConnection);
    }
    m_http->close();
    if (!m_http->listen(address, port)) {
        m_errorString = m_http->errorString();
        return false;
    }
    return true;
}

quint16 SimModule::httpPort() const
{
    return m_http ? m_http->serverPort() : 0;
}

bool SimModule::isListening() const
{
    return m_server && m_server->isListening();
}

void SimModule::disconnectClient()
{
    if (m_client) {
        m_client->disconnectFromHost();
    }
}

void SimModule::setFaults(const SimFaults &faults)
{
    m_faults = faults;
    applyUnsolicited();
    applyRefusal();
}

void SimModule::sendUnsolicited()
{
    if (m_client && m_client->isOpen() && m_client->bytesToWrite() < kOutputLimit) {
        m_client->write(m_faults.unsolicitedBytes);
    }
}

void SimModule::applyUnsolicited()
{
    if (m_client && m_faults.unsolicitedMs > 0) {
        m_unsolicitedTimer.start(m_faults.unsolicitedMs);
    } else {
        m_unsolicitedTimer.stop();
    }
}

void SimModule::applyRefusal()
{
    if (!m_server || m_port == 0) {
        return;
    }
    if (m_faults.refuseConnections && m_server->isListening()) {
        m_server->close();
    } else if (!m_faults.refuseConnections && !m_server->isListening()) {
        if (!m_server->listen(m_address, m_port)) {
            m_errorString = m_server->errorString();
            qWarning("velqa-sim: cannot listen again on port %u: %s", unsigned(m_port),
                     qPrintable(m_errorString));
        }
    }
}

void SimModule::onNewConnection()
{
    for (int fd = m_server->nextPendingDescriptor(); fd >= 0;
         fd = m_server->nextPendingDescriptor()) {
        auto *socket = new SimConnection(fd, m_server->reactor(), this);
        if (SimConnection *old = m_client.data()) {
            old->abort();
            if (m_client == old) {
                onClientGone(old);
            }
        }
        m_client = socket;
        m_input.clear();
        m_commandsOnConnection = 0;
        // Every write leaves at once, the two pieces of a split reply as two segments: the system
        // would otherwise hold a small write back until the tool acknowledges the one before it,
        // up to 40 ms later.
        socket->setLowDelay();
        connect(socket, &SimConnection::readyRead, this, [this, socket] {
            if (socket == m_client) {
                onClientReadyRead();
            }
        });
        // Input left unread while the output was full is taken up as the output drains.
        connect(socket, &SimConnection::bytesWritten, this, [this, socket] {
            if (socket == m_client && socket->bytesAvailable() > 0) {
                onClientReadyRead();
            }
        });
        connect(socket, &SimConnection::disconnected, this,
                [this, socket] { onClientGone(socket); });
        emit clientConnected();
        applyUnsolicited();
        if (m_faults.flood == SimFlood::OnConnect && m_client == socket) {
            socket->write(randomBytes(m_faults.floodBytes));
        }
    }
}

void SimModule::onClientGone(SimConnection *socket)
{
    if (socket == m_client) {
        m_client = nullptr;
        m_input.clear();
        m_outbox.clear();
        m_stage = SendStage::Idle;
        m_sendTimer.stop();
        m_stallTimer.stop();
        m_unsolicitedTimer.stop();
        emit clientDisconnected();
    }
    socket->deleteLater();
}

bool SimModule::outputIsFull() const
{
    return m_outbox.size() >= kOutboxLimit || (m_client && m_client->bytesToWrite() > kOutputLimit);
}

void SimModule::onClientReadyRead()
{
    while (m_client && !outputIsFull()) {
        const QByteArray bytes = m_client->read(kReadBufferSize);
        if (bytes.isEmpty()) {
            return;
        }
        if (m_recording) {
            m_received += bytes;
        }
        m_input += bytes;
        emit bytesReceived(bytes);
        parseInput(false);
    }
}

void SimModule::parseInput(bool flush)
{
    // Requests are taken from a moving offset and the used bytes dropped once: removing each
    // request from the front would move the rest of a large read for every one of them.
    qsizetype offset = 0;
    while (m_client && offset < m_input.size()) {
        SimRequest request;
        const QByteArray rest =
            QByteArray::fromRawData(m_input.constData() + offset, m_input.size() - offset);
        const qsizetype used = SimFrame::take(rest, flush, &request);
        if (used == 0) {
            break;
        }
        offset += used;
        request.raw.detach();
        request.data.detach();
        request.name.detach();
        handleRequest(request);
    }
    if (m_client) {
        m_input.remove(0, offset);
    }
    if (m_input.size() > kInputLimit) {
        m_input.clear();
    }
    if (m_input.isEmpty() || flush) {
        m_stallTimer.stop();
    } else {
        m_stallTimer.start(kStallMs);
    }
}

void SimModule::handleRequest(const SimRequest &request)
{
    QByteArray answer = answerFor(request);
    AfterSend after = AfterSend::Nothing;
    bool answered = !m_faults.silent;
    if (request.kind != SimRequestKind::Bad) {
        ++m_commandsOnConnection;
        if (m_recording) {
            m_handled.append(request.name);
        }
        emit commandHandled(request.name);
        if (!m_faults.answerOnly.isEmpty() && !m_faults.answerOnly.contains(request.name)) {
            answered = false;
        }
        if (m_faults.resetAfter > 0 && m_commandsOnConnection == m_faults.resetAfter) {
            after = AfterSend::Reset;
        } else if (m_faults.closeAfter > 0 && m_commandsOnConnection == m_faults.closeAfter) {
            after = AfterSend::Close;
        }
    }
    answer = answered ? misshapen(answer) : QByteArray();
    if (!answer.isEmpty() || after != AfterSend::Nothing) {
        queue(answer, after);
    }
}

QByteArray SimModule::misshapen(const QByteArray &reply) const
{
    QByteArray bytes = reply;
    if (m_faults.garbageReplies) {
        bytes = randomBytes(bytes.size());
    }
    if (m_faults.flood == SimFlood::AsReply) {
        bytes = randomBytes(m_faults.floodBytes);
    }
    if (m_faults.shortReplies) {
        bytes = bytes.left(5);
    }
    return bytes;
}

void SimModule::queue(const QByteArray &bytes, AfterSend after)
{
    m_outbox.append(Outgoing{bytes, after});
    if (m_stage == SendStage::Idle) {
        sendNext();
    }
}

void SimModule::sendNext()
{
    if (m_outbox.isEmpty() || !m_client || !m_client->isOpen()) {
        m_stage = SendStage::Idle;
        return;
    }
    if (m_faults.delayMs > 0) {
        m_stage = SendStage::Delay;
        m_sendTimer.start(m_faults.delayMs);
    } else {
        sendFront();
    }
}

void SimModule::sendFront()
{
    Outgoing &front = m_outbox.first();
    if (m_faults.splitGapMs >= 0 && front.bytes.size() >= 2) {
        const qsizetype half = front.bytes.size() / 2;
        m_client->write(front.bytes.left(half));
        front.bytes.remove(0, half);
        m_stage = SendStage::Gap;
        m_sendTimer.start(m_faults.splitGapMs);
        return;
    }
    if (!front.bytes.isEmpty()) {
        m_client->write(front.bytes);
    }
    finishFront();
}

void SimModule::onSendTimer()
{
    if (!m_client || m_outbox.isEmpty()) {
        m_stage = SendStage::Idle;
        return;
    }
    if (m_stage == SendStage::Delay) {
        sendFront();
    } else if (m_stage == SendStage::Gap) {
        m_client->write(m_outbox.first().bytes);
        finishFront();
    }
}

void SimModule::finishFront()
{
    const Outgoing front = m_outbox.takeFirst();
    m_stage = SendStage::Idle;
    switch (front.after) {
    case AfterSend::Close:
        m_outbox.clear();
        m_client->disconnectFromHost();
        return;
    case AfterSend::Reset:
        m_outbox.clear();
        resetClient();
        return;
    case AfterSend::Nothing:
        break;
    }
    sendNext();
}

void SimModule::resetClient()
{
    SimConnection *socket = m_client.data();
    if (!socket) {
        return;
    }
    // Whatever the system has taken reaches the peer ahead of the reset on loopback.
    const qintptr descriptor = socket->socketDescriptor();
    if (descriptor != -1) {
        // Linger on with a zero timeout makes the close send RST instead of FIN.
        linger option{};
        option.l_onoff = 1;
        option.l_linger = 0;
        ::setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_LINGER,
                     reinterpret_cast<const char *>(&option), sizeof option);
    }
    socket->abort();
    if (m_client == socket) {
        onClientGone(socket);
    }
}
