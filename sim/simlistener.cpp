#include "simlistener.h"

#include <QTcpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

// After a failed accept (out of descriptors, most likely) the socket is watched again this often.
static constexpr int kRetryMs = 200;
// Connections taken in one go before the event loop gets its turn again.
static constexpr int kAcceptsPerTurn = 64;
static constexpr int kBacklog = 50;

SimListener::SimListener(QObject *parent) : QObject(parent), m_reactor(SimReactor::forThisThread())
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_fd >= 0) {
            m_reactor->setEvents(m_fd, EPOLLIN);
            onEvents(EPOLLIN);
        }
    });
}

SimListener::~SimListener()
{
    close();
}

bool SimListener::listen(const QHostAddress &address, quint16 port)
{
    close();
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, &bytes, sizeof v6->sin6_addr);
        length = sizeof *v6;
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *v4;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_errorString = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // As QTcpServer does: a port whose last connections linger in TIME_WAIT can be taken again.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&storage), length) != 0 ||
        ::listen(fd, kBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&storage), &length) != 0) {
        m_errorString = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    m_port =
        ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port
                                            : reinterpret_cast<sockaddr_in *>(&storage)->sin_port);
    m_fd = fd;
    m_reactor->watch(fd, EPOLLIN, this);
    return true;
}

void SimListener::close()
{
    m_retry.stop();
    if (m_fd >= 0) {
        m_reactor->unwatch(m_fd);
        ::close(m_fd);
        m_fd = -1;
    }
    for (const int fd : std::as_const(m_pending))
        ::close(fd);
    m_pending.clear();
}

int SimListener::nextPendingDescriptor()
{
    return m_pending.isEmpty() ? -1 : m_pending.takeFirst();
}

QTcpSocket *SimListener::nextPendingConnection()
{
    for (int fd = nextPendingDescriptor(); fd >= 0; fd = nextPendingDescriptor()) {
        auto *socket = new QTcpSocket(this);
        if (socket->setSocketDescriptor(qintptr(fd)))
            return socket;
        ::close(fd);
        delete socket;
    }
    return nullptr;
}

void SimListener::onEvents(quint32)
{
    for (int turn = 0; turn < kAcceptsPerTurn && m_fd >= 0; ++turn) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            m_pending.append(fd);
            emit newConnection();
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // The connection stays in the backlog and the socket readable: watching it now
            // would wake the loop again at once.
            m_reactor->setEvents(m_fd, 0);
            m_retry.start();
        }
        return;
    }
}
