#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>
#include <unordered_map>

class QSocketNotifier;

// Something with a descriptor in the reactor's set, told of its events.
class SimWatcher
{
public:
    virtual ~SimWatcher() = default;
    virtual void onEvents(quint32 events) = 0;
};

// One epoll set for every listening socket and module connection of the simulated modules on a
// thread, watched by the thread's event loop through a single notifier: the event loop polls one
// descriptor however many modules there are (ten thousand listening addresses would otherwise be
// polled on every wake-up). Shared by the modules of a thread; it lives while one of them does.
class SimReactor : public QObject
{
    Q_OBJECT

public:
    [[nodiscard]] static std::shared_ptr<SimReactor> forThisThread();
    ~SimReactor() override;

    // Adds `fd` with the epoll `events` (EPOLLIN, EPOLLOUT), or changes them.
    void watch(int fd, quint32 events, SimWatcher *watcher);
    void setEvents(int fd, quint32 events);
    void unwatch(int fd);

private:
    SimReactor();
    void onActivated();

    struct Entry
    {
        SimWatcher *watcher = nullptr;
        quint32 events = 0;
        quint32 serial = 0;
    };
    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::unordered_map<int, Entry> m_entries;
    quint32 m_serial = 0;
};

// A module connection on a bare non-blocking socket in the reactor: the few calls of QTcpSocket
// the simulated module uses, without a socket engine and two notifiers per connection. Writes go
// out at once; what the system does not take yet waits and goes out as the socket drains.
class SimConnection : public QObject, public SimWatcher
{
    Q_OBJECT

public:
    SimConnection(int fd, std::shared_ptr<SimReactor> reactor, QObject *parent = nullptr);
    ~SimConnection() override;

    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }
    [[nodiscard]] qintptr socketDescriptor() const { return m_fd; }
    [[nodiscard]] quint16 localPort() const;
    [[nodiscard]] quint16 peerPort() const;
    // Small writes leave at once instead of waiting for the acknowledgement of the one before.
    void setLowDelay();
    // At most `max` bytes of what has arrived; empty when nothing has.
    QByteArray read(qint64 max);
    [[nodiscard]] qint64 bytesAvailable() const;
    qint64 write(const QByteArray &bytes);
    [[nodiscard]] qint64 bytesToWrite() const { return m_out.size() - m_sent; }
    // Closes once everything written has gone out (FIN); disconnected() follows, at once when
    // nothing waits.
    void disconnectFromHost();
    // Closes now; a zero linger set beforehand makes it a reset. disconnected() follows at once.
    void abort();

    void onEvents(quint32 events) override;

signals:
    void readyRead();
    void bytesWritten(qint64 bytes);
    void disconnected();

private:
    void sendPending();
    void updateEvents();
    void closeNow();

    int m_fd = -1;
    std::shared_ptr<SimReactor> m_reactor;
    QByteArray m_out;
    qsizetype m_sent = 0;
    bool m_closing = false;
    bool m_ended = false;
    // The reader left input unread (its output is full): input is not watched until output
    // drains, or the loop would wake for it again at once.
    bool m_paused = false;
    bool m_readToEnd = false;
    bool m_watched = false;
};
