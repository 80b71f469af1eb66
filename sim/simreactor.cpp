#include "simreactor.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// Events handled in one turn of the event loop; more wake it again.
static constexpr int kEventsPerTurn = 256;

std::shared_ptr<SimReactor> SimReactor::forThisThread()
{
    thread_local std::weak_ptr<SimReactor> current;
    std::shared_ptr<SimReactor> reactor = current.lock();
    if (!reactor) {
        reactor.reset(new SimReactor);
        current = reactor;
    }
    return reactor;
}

SimReactor::SimReactor() : m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{
    if (m_epoll >= 0) {
        m_notifier = new QSocketNotifier(qintptr(m_epoll), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SimReactor::onActivated);
    }
}

SimReactor::~SimReactor()
{
    delete m_notifier;
    if (m_epoll >= 0)
        ::close(m_epoll);
}

void SimReactor::watch(int fd, quint32 events, SimWatcher *watcher)
{
    auto found = m_entries.find(fd);
    if (found != m_entries.end()) {
        found->second.watcher = watcher;
        setEvents(fd, events);
        return;
    }
    Entry entry{watcher, events, ++m_serial};
    epoll_event event{};
    event.events = events;
    event.data.u64 = (quint64(entry.serial) << 32) | quint32(fd);
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0)
        m_entries.emplace(fd, entry);
}

void SimReactor::setEvents(int fd, quint32 events)
{
    auto found = m_entries.find(fd);
    if (found == m_entries.end() || found->second.events == events)
        return;
    found->second.events = events;
    epoll_event event{};
    event.events = events;
    event.data.u64 = (quint64(found->second.serial) << 32) | quint32(fd);
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event);
}

void SimReactor::unwatch(int fd)
{
    if (m_entries.erase(fd) > 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

void SimReactor::onActivated()
{
    epoll_event events[kEventsPerTurn];
    const int ready = ::epoll_wait(m_epoll, events, kEventsPerTurn, 0);
    for (int i = 0; i < ready; ++i) {
        // A watcher may have gone, and its descriptor number been taken again, earlier in this
        // turn: the serial tells the entries apart.
        const int fd = int(quint32(events[i].data.u64));
        const auto found = m_entries.find(fd);
        if (found == m_entries.end() || found->second.serial != quint32(events[i].data.u64 >> 32))
            continue;
        found->second.watcher->onEvents(events[i].events);
    }
}

SimConnection::SimConnection(int fd, std::shared_ptr<SimReactor> reactor, QObject *parent)
    : QObject(parent), m_fd(fd), m_reactor(std::move(reactor))
{
    updateEvents();
}

SimConnection::~SimConnection()
{
    if (m_fd >= 0) {
        m_reactor->unwatch(m_fd);
        ::close(m_fd);
    }
}

static quint16 portOf(const sockaddr_storage &address)
{
    return ntohs(address.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port
                     : reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
}

quint16 SimConnection::localPort() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return portOf(address);
}

quint16 SimConnection::peerPort() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::getpeername(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return portOf(address);
}

void SimConnection::setLowDelay()
{
    const int one = 1;
    if (m_fd >= 0)
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

QByteArray SimConnection::read(qint64 max)
{
    if (m_fd < 0 || max <= 0)
        return {};
    // Requests are a few dozen bytes: they are taken through one buffer of the thread's, not a
    // fresh allocation of `max` bytes each.
    thread_local std::vector<char> buffer(64 * 1024);
    const ssize_t got = ::recv(m_fd, buffer.data(),
                               size_t(std::min<qint64>(max, qint64(buffer.size()))), MSG_DONTWAIT);
    if (got > 0)
        return QByteArray(buffer.data(), qsizetype(got));
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        m_readToEnd = true;
    // The client closed, or the connection broke: it ends once the reader is done.
    else if (got == 0 || errno != EINTR)
        m_ended = true;
    return {};
}

qint64 SimConnection::bytesAvailable() const
{
    int count = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &count) != 0)
        return 0;
    return count;
}

qint64 SimConnection::write(const QByteArray &bytes)
{
    if (m_fd < 0 || m_closing)
        return -1;
    if (m_sent == m_out.size()) {
        m_out.clear();
        m_sent = 0;
    }
    m_out += bytes;
    sendPending();
    return bytes.size();
}

void SimConnection::sendPending()
{
    while (m_fd >= 0 && m_sent < m_out.size()) {
        const ssize_t sent = ::send(m_fd, m_out.constData() + m_sent, size_t(m_out.size() - m_sent),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            m_sent += sent;
            // Output moved: the reader may take input again.
            m_paused = false;
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        // A broken connection: the output is lost, and the reactor reports the end.
        m_out.clear();
        m_sent = 0;
        m_ended = true;
        break;
    }
    updateEvents();
}

void SimConnection::updateEvents()
{
    if (m_fd < 0)
        return;
    quint32 events = 0;
    if (!m_paused)
        events |= EPOLLIN;
    if (m_sent < m_out.size())
        events |= EPOLLOUT;
    if (!m_watched)
        m_reactor->watch(m_fd, events, this);
    else
        m_reactor->setEvents(m_fd, events);
    m_watched = true;
}

void SimConnection::disconnectFromHost()
{
    if (m_fd < 0)
        return;
    m_closing = true;
    if (m_sent >= m_out.size())
        closeNow();
}

void SimConnection::abort()
{
    if (m_fd >= 0)
        closeNow();
}

void SimConnection::closeNow()
{
    m_reactor->unwatch(m_fd);
    ::close(m_fd);
    m_fd = -1;
    m_out.clear();
    m_sent = 0;
    emit disconnected();
}

void SimConnection::onEvents(quint32 events)
{
    if (events & EPOLLOUT) {
        const qsizetype before = m_sent;
        sendPending();
        if (m_sent > before && m_fd >= 0) {
            const qint64 written = m_sent - before;
            if (m_sent == m_out.size()) {
                m_out.clear();
                m_sent = 0;
            }
            emit bytesWritten(written);
        }
        if (m_fd >= 0 && m_closing && m_sent >= m_out.size()) {
            closeNow();
            return;
        }
    }
    if (m_fd < 0)
        return;
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
        m_readToEnd = false;
        emit readyRead();
        if (m_fd < 0)
            return;
        if (m_ended || (events & (EPOLLHUP | EPOLLERR))) {
            closeNow();
            return;
        }
        // Input that arrives after the reader read to its end wakes the loop again; input the
        // reader left is not watched until output moves.
        if (!m_readToEnd && !m_paused) {
            m_paused = true;
            updateEvents();
        }
    } else if (m_ended) {
        closeNow();
    }
}
