#include "ModuleLink.h"

#include "Clock.h"
#include "CommandFrame.h"
#include "HostResolver.h"
#include "LinkErrors.h"
#include "OperationSteps.h"
#include "WaitPumping.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <cerrno>

#ifdef Q_OS_WIN
#include <winsock2.h>
#define VELQA_EINVAL WSAEINVAL
#else
#define VELQA_EINVAL EINVAL
#endif

ModuleLink::ModuleLink(LinkOwner *owner, QObject *parent)
    : QObject(parent), m_owner(owner), m_socket(new QTcpSocket(this)),
      m_resolver(&systemResolver()), m_clock(&systemClock())
{
    Q_ASSERT(owner);
    connect(m_socket, &QTcpSocket::connected, this, &ModuleLink::sockMainConnect);
    connect(m_socket, &QTcpSocket::readyRead, this, &ModuleLink::sockMainRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ModuleLink::onSocketDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ModuleLink::onSocketError);
}

ModuleLink::~ModuleLink()
{
    // The owner may already be half torn down: no events from here on.
    m_socket->disconnect(this);
    m_socket->abort();
}

void ModuleLink::setResolver(HostResolver *resolver)
{
    m_resolver = resolver ? resolver : &systemResolver();
}

void ModuleLink::setClock(const Clock *clock)
{
    m_clock = clock ? clock : &systemClock();
}

void ModuleLink::setOwner(LinkOwner *owner)
{
    Q_ASSERT(owner);
    m_owner = owner;
}

void ModuleLink::OpenLink(const QString &host)
{
    if (m_connectedFlag) {
        if (host.compare(m_host, Qt::CaseInsensitive) != 0 || m_socket->peerPort() != m_port)
            throw LinkError(SocketActiveMessage);
        return;
    }
    cancelPendingAttempt();
    m_host = host;
    if (host.isEmpty()) {
        sockMainDisconnect();
        throw LinkError(NoAddressMessage);
    }
    const quint64 attempt = ++m_attempt;
    m_lookupPending = true;
    const bool started =
        m_resolver->Resolve(host, this, [this, attempt](const QList<QHostAddress> &addresses) {
            onLookupDone(attempt, addresses);
        });
    if (!started) {
        m_lookupPending = false;
        sockMainDisconnect();
        throw LinkError(
            WindowsSocketErrorMessage(VELQA_EINVAL, QStringLiteral("WSAASyncGetHostByName")));
    }
}

void ModuleLink::onLookupDone(quint64 attempt, const QList<QHostAddress> &addresses)
{
    if (attempt != m_attempt || !m_lookupPending)
        return;
    m_lookupPending = false;
    if (addresses.isEmpty()) {
        sockMainDisconnect();
        reportLater(WindowsSocketErrorMessage(HostNotFoundCode(), QStringLiteral("ASync Lookup")));
        return;
    }
    m_call = Call::Connect;
    m_callError.reset();
    m_socket->connectToHost(addresses.first(), m_port);
    m_call = Call::None;
    if (m_callError) {
        // Refused inside the connect call itself (say, no route): the attempt is over.
        sockMainDisconnect();
        m_socket->abort();
        reportLater(WindowsSocketErrorMessage(*m_callError, QStringLiteral("connect")));
    }
}

void ModuleLink::cancelPendingAttempt()
{
    m_lookupPending = false;
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
}

void ModuleLink::CloseLink()
{
    if (!m_connectedFlag)
        return;
    sockMainDisconnect();
    m_socket->abort();
}

qint64 ModuleLink::SendText(const QByteArray &bytes)
{
    if (!m_connectedFlag || !m_moduleSocket)
        return 0;
    m_call = Call::Send;
    m_callError.reset();
    const qint64 written = m_moduleSocket->write(bytes);
    if (written >= 0)
        m_moduleSocket->flush();
    m_call = Call::None;
    if (written < 0 || m_callError) {
        const int code = m_callError.value_or(SystemSocketErrorCode(m_socket->error()));
        if (m_connectedFlag)
            sockMainDisconnect();
        m_socket->abort();
        throw LinkError(WindowsSocketErrorMessage(code, QStringLiteral("send")));
    }
    if (m_wireObserver && written > 0)
        m_wireObserver(WireDirection::Sent, bytes.left(written));
    return written;
}

qint64 ModuleLink::SendBuffer(const char *bytes, int count)
{
    return SendText(QByteArray(bytes, count));
}

void ModuleLink::WaitPumping(quint32 ms)
{
    ::WaitPumping(ms, *m_clock);
}

bool ModuleLink::SendCommand(const QByteArray &command)
{
    if (!m_connectedFlag)
        return false;
    const QByteArray frame = BuildCommandFrame(command);
    if (frame.isEmpty())
        return false;
    ClearReplyBuffer();
    SendText(frame);
    // The reply is judged after each wait, never before the first: a reply already in is
    // noticed at the end of the current 10 ms.
    for (int i = 0; i < ReplyRules::CommandWaits; ++i) {
        WaitPumping(ReplyRules::CommandWaitMs);
        if (ReplyRules::IsReply(m_replyBuffer))
            return true;
    }
    return false;
}

void ModuleLink::sockMainConnect()
{
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_connectedFlag = true;
    m_moduleSocket = m_socket;
    m_owner->LinkConnected();
}

void ModuleLink::sockMainRead()
{
    // Whatever arrived replaces the buffer: a reply split over two reads leaves its second piece.
    m_replyBuffer = m_socket->readAll();
    if (m_wireObserver)
        m_wireObserver(WireDirection::Received, m_replyBuffer);
}

void ModuleLink::sockMainDisconnect()
{
    m_owner->LinkDisconnected();
    m_connectedFlag = false;
}

void ModuleLink::onSocketDisconnected()
{
    // A module that closes or resets the connection takes the link down like a local close.
    if (m_connectedFlag)
        sockMainDisconnect();
}

void ModuleLink::onSocketError()
{
    const QAbstractSocket::SocketError error = m_socket->error();
    const int code = SystemSocketErrorCode(error);
    if (m_call != Call::None) {
        if (!m_callError)
            m_callError = code;
        return;
    }
    // Qt reports a close and a reset by the module alike; the disconnect event follows.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    reportLater(AsyncSocketErrorMessage(code));
}

void ModuleLink::reportLater(const QString &message)
{
    // Shown from the next dispatch, outside the socket's own signal emission, so an error box
    // with its own message loop does not run inside QTcpSocket.
    QMetaObject::invokeMethod(
        this, [this, message] { m_owner->LinkErrorReported(message); }, Qt::QueuedConnection);
}
