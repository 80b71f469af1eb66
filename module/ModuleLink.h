#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class Clock;
class HostResolver;
class QTcpSocket;

// What the link tells its owner (the main window): the link came up, went down, or the socket
// reported a failure on its own (shown in the owner's error box).
class LinkOwner
{
public:
    virtual ~LinkOwner() = default;
    virtual void LinkConnected() = 0;
    virtual void LinkDisconnected() = 0;
    virtual void LinkErrorReported(const QString &message) = 0;
};

// The tool's single TCP connection to the module, the state every operation consults, and the
// pumped wait in which the socket's events are delivered.
class ModuleLink : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 ModulePort = 5003;

    explicit ModuleLink(LinkOwner *owner, QObject *parent = nullptr);
    ~ModuleLink() override;

    [[nodiscard]] bool ConnectedFlag() const { return m_connectedFlag; }
    [[nodiscard]] QTcpSocket *ModuleSocket() const { return m_moduleSocket; }
    [[nodiscard]] const QByteArray &ReplyBuffer() const { return m_replyBuffer; }
    void ClearReplyBuffer() { m_replyBuffer.clear(); }

    // Starts opening the link to `host` (resolved asynchronously) on the link's port. Success
    // arrives later as the connect event. An empty host, or one that cannot be looked up at all,
    // runs the disconnect event and throws LinkError. An attempt still pending is cancelled.
    void OpenLink(const QString &host);

    // Closes a connected link; the disconnect event runs inside the call. Does nothing when the
    // link is not connected.
    void CloseLink();

    // One send on the module socket; returns the bytes accepted, 0 when not connected. A send
    // the system refuses closes the link (disconnect event) and throws LinkError.
    qint64 SendText(const QByteArray &bytes);
    qint64 SendBuffer(const char *bytes, int count);

    void WaitPumping(quint32 ms);

    // Frames and sends `command`, then waits up to 100 x 10 ms for a reply of more than five
    // characters. False when not connected (nothing sent), when the command is too long to
    // frame (nothing sent), or when no such reply came in time.
    bool SendCommand(const QByteArray &command);

    // The port is the module's fixed 5003; tests point the link at a simulator on another port.
    void setPort(quint16 port) { m_port = port; }
    [[nodiscard]] quint16 port() const { return m_port; }
    void setResolver(HostResolver *resolver);

    // Sees the bytes of every send the system accepted and of every read, as they happen; for a
    // trace of the exchange. None by default.
    enum class WireDirection { Sent, Received };
    using WireObserver = std::function<void(WireDirection, const QByteArray &)>;
    void setWireObserver(WireObserver observer) { m_wireObserver = std::move(observer); }

    // The clock of every wait on this link and of the operations on it; the system's by default.
    void setClock(const Clock *clock);
    [[nodiscard]] const Clock &clock() const { return *m_clock; }

    // The owner that the link's events go to from now on (not null).
    void setOwner(LinkOwner *owner);
    [[nodiscard]] LinkOwner *owner() const { return m_owner; }

    // The socket's events, as the window's handlers of the same names.
    void sockMainConnect();
    void sockMainRead();
    void sockMainDisconnect();

private:
    enum class Call { None, Connect, Send };

    void onLookupDone(quint64 attempt, const QList<class QHostAddress> &addresses);
    void onSocketError();
    void onSocketDisconnected();
    void reportLater(const QString &message);
    void cancelPendingAttempt();

    LinkOwner *m_owner;
    QTcpSocket *m_socket;
    QTcpSocket *m_moduleSocket = nullptr;
    HostResolver *m_resolver;
    const Clock *m_clock;
    bool m_connectedFlag = false;
    QByteArray m_replyBuffer;
    QString m_host;
    quint16 m_port = ModulePort;
    quint64 m_attempt = 0;
    bool m_lookupPending = false;
    Call m_call = Call::None;
    std::optional<int> m_callError;
    WireObserver m_wireObserver;
};
