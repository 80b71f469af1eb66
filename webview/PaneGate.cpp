#include "PaneGate.h"

#include <QCoreApplication>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A request or response head longer than this is not one the engine or a module sends.
constexpr qsizetype HeadLimit = 64 * 1024;
// Bytes held for a side that reads slower than the other writes, before reading stops.
constexpr qint64 PipeLimit = 256 * 1024;

// What the pane shows for a request the gate refuses, and for a module page that cannot be
// reached (nothing listens on that port, the module is off or resets the connection).
constexpr char kRefusedText[] = "The web pane reaches only the module it shows.\n";
constexpr char kNoAnswerText[] =
    "The module's web page does not answer on this address and port.\n";

struct Target
{
    QString host;
    quint16 port = 0;
};

QMutex &registryLock()
{
    static QMutex lock;
    return lock;
}

QHash<const void *, Target> &registry()
{
    static QHash<const void *, Target> targets;
    return targets;
}

// IPv6 addresses compare in one spelling; names and IPv4 addresses come canonical from the
// engine and from QUrl alike.
QString comparableHost(QString host)
{
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    host = host.toLower();
    QHostAddress address;
    if (host.contains(QLatin1Char(':')) && address.setAddress(host))
        return address.toString();
    return host;
}

// The listening socket, made before the engine starts (it learns the port from its flags) and
// served once the application exists.
struct Reserved
{
    int fd = -1;
    quint16 port = 0;
};

const Reserved &reserved()
{
    static const Reserved socket = [] {
        Reserved made;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return made;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(fd, SOMAXCONN) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            ::close(fd);
            return made;
        }
        made.fd = fd;
        made.port = ntohs(address.sin_port);
        return made;
    }();
    return socket;
}

QByteArray headerName(const QByteArray &line)
{
    return line.left(line.indexOf(':')).trimmed().toLower();
}

// Splits "host:port" or "[v6]:port"; false when it is neither.
bool splitAuthority(const QByteArray &authority, QString *host, int *port)
{
    QByteArray hostPart = authority;
    QByteArray portPart;
    if (authority.startsWith('[')) {
        const qsizetype close = authority.indexOf(']');
        if (close < 0)
            return false;
        hostPart = authority.left(close + 1);
        const QByteArray rest = authority.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(':'))
            return false;
        portPart = rest.mid(1);
    } else if (const qsizetype colon = authority.lastIndexOf(':'); colon >= 0) {
        hostPart = authority.left(colon);
        portPart = authority.mid(colon + 1);
    }
    if (hostPart.isEmpty() || hostPart.contains('@'))
        return false;
    *host = QString::fromLatin1(hostPart);
    if (portPart.isNull())
        return true;
    bool ok = false;
    const int number = portPart.toInt(&ok);
    if (!ok || number < 1 || number > 65535 || portPart.startsWith('+'))
        return false;
    *port = number;
    return true;
}

// One connection from the engine: its request is read, judged and, when it goes to a module,
// forwarded on a connection of its own that serves this one request (or one tunnel) only.
class GateConnection : public QObject
{
public:
    GateConnection(QTcpSocket *client, QObject *parent) : QObject(parent), m_client(client)
    {
        m_client->setParent(this);
        m_client->setReadBufferSize(PipeLimit);
        connect(m_client, &QTcpSocket::readyRead, this, &GateConnection::onClientData);
        connect(m_client, &QTcpSocket::bytesWritten, this, &GateConnection::pumpToClient);
        connect(m_client, &QTcpSocket::disconnected, this, &GateConnection::onClientGone);
        onClientData();
    }

private:
    void onClientData()
    {
        if (m_upstream) {
            pumpToUpstream();
            return;
        }
        m_head += m_client->read(HeadLimit + 4 - m_head.size());
        const qsizetype end = m_head.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_head.size() > HeadLimit)
                answer("431 Request Header Fields Too Large");
            return;
        }
        startRequest(m_head.left(end), m_head.mid(end + 4));
    }

    void startRequest(const QByteArray &head, const QByteArray &rest)
    {
        QList<QByteArray> lines = head.split('\n');
        for (QByteArray &line : lines)
            line = line.trimmed();
        const QList<QByteArray> request = lines.takeFirst().split(' ');
        if (request.size() != 3) {
            answer("400 Bad Request");
            return;
        }
        const QByteArray &method = request[0];
        const QByteArray &target = request[1];
        QString host;
        int port = 80;
        QByteArray path;
        m_tunnel = method == "CONNECT";
        if (m_tunnel) {
            port = 0;
            if (!splitAuthority(target, &host, &port) || port == 0) {
                answer("400 Bad Request");
                return;
            }
        } else {
            if (!target.toLower().startsWith("http://")) {
                answer("403 Forbidden");
                return;
            }
            const QByteArray afterScheme = target.mid(7);
            qsizetype pathStart = afterScheme.size();
            for (const char stop : {'/', '?', '#'}) {
                const qsizetype at = afterScheme.indexOf(stop);
                if (at >= 0)
                    pathStart = qMin(pathStart, at);
            }
            if (!splitAuthority(afterScheme.left(pathStart), &host, &port)) {
                answer("400 Bad Request");
                return;
            }
            path = afterScheme.mid(pathStart);
            if (!path.startsWith('/'))
                path.prepend('/');
        }
        if (!PaneGate::Allowed(host, quint16(port))) {
            answer("403 Forbidden");
            return;
        }

        if (m_tunnel) {
            m_toUpstream = rest;
        } else {
            // One request per connection: the module is asked to close after its answer, so a
            // later request on the engine's side never reaches it unjudged.
            QByteArray forwarded = method + ' ' + path + ' ' + request[2] + "\r\n";
            qint64 bodyLength = 0;
            for (const QByteArray &line : std::as_const(lines)) {
                const QByteArray name = headerName(line);
                if (name == "transfer-encoding") {
                    answer("501 Not Implemented");
                    return;
                }
                if (name == "content-length") {
                    bool ok = false;
                    bodyLength = line.mid(line.indexOf(':') + 1).trimmed().toLongLong(&ok);
                    if (!ok || bodyLength < 0) {
                        answer("400 Bad Request");
                        return;
                    }
                }
                if (name == "connection" || name == "proxy-connection" || name == "keep-alive" ||
                    name == "proxy-authorization" || name == "upgrade")
                    continue;
                forwarded += line + "\r\n";
            }
            forwarded += "Connection: close\r\n\r\n";
            m_bodyLeft = bodyLength;
            m_toUpstream = forwarded + takeBody(rest);
        }

        m_upstream = new QTcpSocket(this);
        m_upstream->setProxy(QNetworkProxy::NoProxy);
        m_upstream->setReadBufferSize(PipeLimit);
        connect(m_upstream, &QTcpSocket::connected, this, &GateConnection::onUpstreamConnected);
        connect(m_upstream, &QTcpSocket::readyRead, this, &GateConnection::pumpToClient);
        connect(m_upstream, &QTcpSocket::bytesWritten, this, &GateConnection::pumpToUpstream);
        connect(m_upstream, &QTcpSocket::disconnected, this, &GateConnection::onUpstreamGone);
        connect(m_upstream, &QTcpSocket::errorOccurred, this, &GateConnection::onUpstreamGone);
        m_upstream->connectToHost(comparableHost(host), quint16(port));
    }

    // The part of `bytes` that belongs to the request's body; what follows it is dropped.
    QByteArray takeBody(const QByteArray &bytes)
    {
        const QByteArray body = bytes.left(m_bodyLeft);
        m_bodyLeft -= body.size();
        return body;
    }

    void onUpstreamConnected()
    {
        m_connected = true;
        if (m_tunnel)
            m_client->write("HTTP/1.1 200 Connection established\r\n\r\n");
        m_upstream->write(m_toUpstream);
        m_toUpstream.clear();
        pumpToUpstream();
    }

    void pumpToUpstream()
    {
        if (!m_connected)
            return;
        while (m_client->bytesAvailable() > 0 && m_upstream->bytesToWrite() < PipeLimit) {
            const QByteArray chunk = m_client->read(PipeLimit);
            m_upstream->write(m_tunnel ? chunk : takeBody(chunk));
        }
    }

    void pumpToClient()
    {
        if (!m_upstream)
            return;
        while (m_upstream->bytesAvailable() > 0 && m_client->bytesToWrite() < PipeLimit)
            toClient(m_upstream->read(PipeLimit));
    }

    // The module's answer goes back as it came, except that its head says the connection closes.
    void toClient(const QByteArray &bytes)
    {
        if (m_tunnel || m_responseStarted) {
            m_client->write(bytes);
            return;
        }
        m_responseHead += bytes;
        for (;;) {
            const qsizetype end = m_responseHead.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_responseHead.size() > HeadLimit)
                    answer("502 Bad Gateway");
                return;
            }
            QList<QByteArray> lines = m_responseHead.left(end).split('\n');
            const QByteArray rest = m_responseHead.mid(end + 4);
            const QByteArray status = lines.value(0).trimmed();
            const bool interim =
                status.split(' ').value(1).startsWith('1') && status.split(' ').value(1) != "101";
            QByteArray head = status + "\r\n";
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const QByteArray name = headerName(line);
                if (!interim &&
                    (name == "connection" || name == "proxy-connection" || name == "keep-alive"))
                    continue;
                head += line + "\r\n";
            }
            if (!interim)
                head += "Connection: close\r\n";
            m_client->write(head + "\r\n");
            m_responseHead = rest;
            if (!interim) {
                m_responseStarted = true;
                m_client->write(std::exchange(m_responseHead, {}));
                return;
            }
        }
    }

    void onUpstreamGone()
    {
        if (m_closing)
            return;
        m_closing = true;
        if (!m_connected) {
            answer("502 Bad Gateway", kNoAnswerText);
            return;
        }
        while (m_upstream->bytesAvailable() > 0)
            toClient(m_upstream->read(PipeLimit));
        m_client->disconnectFromHost();
    }

    void onClientGone()
    {
        if (m_upstream)
            m_upstream->abort();
        deleteLater();
    }

    // Answers the engine with a status of the gate's own and ends the connection; the pane
    // shows `body`.
    void answer(const QByteArray &status, const char *body = kRefusedText)
    {
        m_closing = true;
        if (m_upstream)
            m_upstream->abort();
        if (!m_responseStarted) {
            m_client->write("HTTP/1.1 " + status +
                            "\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                            "Content-Length: " +
                            QByteArray::number(qstrlen(body)) + "\r\n\r\n" + body);
        }
        m_client->disconnectFromHost();
    }

    QTcpSocket *m_client;
    QTcpSocket *m_upstream = nullptr;
    QByteArray m_head;
    QByteArray m_toUpstream;
    QByteArray m_responseHead;
    qint64 m_bodyLeft = 0;
    bool m_tunnel = false;
    bool m_connected = false;
    bool m_responseStarted = false;
    bool m_closing = false;
};

class GateThread : public QThread
{
public:
    explicit GateThread(int fd) : m_fd(fd) {}

protected:
    void run() override
    {
        QTcpServer server;
        if (!server.setSocketDescriptor(m_fd))
            return;
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
            while (QTcpSocket *client = server.nextPendingConnection())
                new GateConnection(client, &server);
        });
        exec();
    }

private:
    int m_fd;
};

GateThread *g_thread = nullptr;

void stopGate()
{
    if (!g_thread)
        return;
    g_thread->quit();
    g_thread->wait();
    delete g_thread;
    g_thread = nullptr;
}

} // namespace

namespace PaneGate {

QByteArray EngineFlags()
{
    // WebRTC would send its UDP packets to any address, past any proxy.
    QByteArray flags = "--force-webrtc-ip-handling-policy=disable_non_proxied_udp";
    const quint16 port = reserved().port;
    if (port != 0) {
        // "<-loopback>" takes back the engine's own rule that loopback addresses go direct.
        flags += " --proxy-server=http://127.0.0.1:" + QByteArray::number(port) +
                 " --proxy-bypass-list=<-loopback>";
    }
    return flags;
}

void Start()
{
    static bool started = false;
    if (started || !QCoreApplication::instance() || reserved().fd < 0)
        return;
    started = true;
    g_thread = new GateThread(reserved().fd);
    g_thread->setObjectName(QStringLiteral("velqa-web-gate"));
    g_thread->start();
    qAddPostRoutine(stopGate);
}

void Allow(const void *owner, const QString &host, quint16 port)
{
    const QMutexLocker locker(&registryLock());
    if (host.isEmpty())
        registry().remove(owner);
    else
        registry().insert(owner, Target{comparableHost(host), port});
}

void Forget(const void *owner)
{
    const QMutexLocker locker(&registryLock());
    registry().remove(owner);
}

bool Allowed(const QString &host, quint16 port)
{
    const QString wanted = comparableHost(host);
    const QMutexLocker locker(&registryLock());
    for (const Target &target : std::as_const(registry())) {
        if (target.port == port && target.host == wanted)
            return true;
    }
    return false;
}

} // namespace PaneGate
