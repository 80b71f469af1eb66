#pragma once

#include "simtimer.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

class SimConnection;
class SimListener;
class QTcpSocket;
struct SimRequest;

enum class SimFlood { Off, OnConnect, AsReply };

// Misbehaviour of the simulated module; every field may be changed at any time with setFaults().
// Faults combine: a reply is built, turned to garbage or flood if asked, cut short if asked, then
// delayed and split on its way out.
struct SimFaults
{
    // Accept and read everything, answer nothing.
    bool silent = false;
    // When not empty, only these requests are answered ("S01", "G03", "F01", "READER", "LOOP").
    QSet<QByteArray> answerOnly;
    // Every reply is cut to its first 5 characters.
    bool shortReplies = false;
    // Zero or more: every reply goes out in two writes this many ms apart; negative: one write.
    int splitGapMs = -1;
    // Every reply waits this long before it goes out; replies keep their order.
    int delayMs = 0;
    // More than zero: unsolicitedBytes are sent every this many ms while a client is connected.
    int unsolicitedMs = 0;
    QByteArray unsolicitedBytes = QByteArrayLiteral("QMK\x07") + QByteArrayLiteral("NOISE\r");
    // More than zero: once this many commands (S, V, G, F, reader, loop) of one connection were
    // handled and the last answer sent, the module closes the connection (FIN).
    int closeAfter = 0;
    // As closeAfter, but the connection is reset (RST).
    int resetAfter = 0;
    // Random bytes sent when a client connects or instead of every reply.
    SimFlood flood = SimFlood::Off;
    qint64 floodBytes = 1024 * 1024;
    // Every reply is replaced by as many random bytes.
    bool garbageReplies = false;
    // Slot writes (F01..F08) are answered as usual but not kept: a read afterwards gives the
    // slot's old content.
    bool forgetWrites = false;
    // The module port stops listening, so connections are refused; clearing it listens again
    // on the same port.
    bool refuseConnections = false;
};

// A simulated module: serves the framed command protocol, the card reader and the loop on one
// TCP port and its web page on another, on loopback addresses only.
class SimModule : public QObject
{
    Q_OBJECT

public:
    explicit SimModule(QObject *parent = nullptr);
    ~SimModule() override;

    // Both refuse any address that is not a loopback address.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    bool listenHttp(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] quint16 httpPort() const;
    [[nodiscard]] bool isListening() const;
    [[nodiscard]] QString errorString() const { return m_errorString; }
    [[nodiscard]] bool hasClient() const { return !m_client.isNull(); }
    // The current client's connection, for a test that watches the bytes on their way.
    [[nodiscard]] const SimConnection *clientSocket() const;
    // Drops the current module connection, if any, with an orderly close.
    void disconnectClient();

    [[nodiscard]] QByteArray serialNumber() const { return m_serialNumber; }
    void setSerialNumber(const QByteArray &serialNumber);
    [[nodiscard]] QByteArray firmwareVersion() const { return m_firmwareVersion; }
    void setFirmwareVersion(const QByteArray &version);
    // Slots count from 1 to 8; content is padded with spaces or cut to 32 characters.
    [[nodiscard]] QByteArray slotData(int slot) const;
    void setSlotData(int slot, const QByteArray &data);
    [[nodiscard]] QByteArray cardNumber() const { return m_cardNumber; }
    // Accepts exactly 8 decimal digits; anything else is refused and returns false.
    bool setCardNumber(const QByteArray &cardNumber);
    [[nodiscard]] bool noCard() const { return m_noCard; }
    void setNoCard(bool noCard) { m_noCard = noCard; }

    [[nodiscard]] SimFaults faults() const { return m_faults; }
    void setFaults(const SimFaults &faults);

    // Where the module's delays, split gaps, unasked bytes and its wait for the rest of a
    // request count their time: on Qt's timers by default, on a test's clock when given. Set it
    // before the first client connects.
    void setScheduler(const SimTimer::Scheduler &scheduler);

    // While recording, received() keeps every byte of the module connection and
    // handledCommands() the name of every request handled. Off by default: a module that runs
    // for days would otherwise keep everything its clients ever sent.
    void setRecording(bool on);
    [[nodiscard]] bool isRecording() const { return m_recording; }
    [[nodiscard]] QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    [[nodiscard]] QList<QByteArray> handledCommands() const { return m_handled; }
    void clearHandledCommands() { m_handled.clear(); }

    // The module's web page as served over HTTP.
    [[nodiscard]] QByteArray webPage() const;

signals:
    void bytesReceived(const QByteArray &bytes);
    void commandHandled(const QByteArray &name);
    void clientConnected();
    void clientDisconnected();
    void httpRequestServed();

private:
    enum class AfterSend { Nothing, Close, Reset };
    enum class SendStage { Idle, Delay, Gap };
    struct Outgoing
    {
        QByteArray bytes;
        AfterSend after = AfterSend::Nothing;
    };

    void onNewConnection();
    void onClientReadyRead();
    [[nodiscard]] bool outputIsFull() const;
    void onClientGone(SimConnection *socket);
    void parseInput(bool flush);
    void handleRequest(const SimRequest &request);
    [[nodiscard]] QByteArray answerFor(const SimRequest &request);
    [[nodiscard]] QByteArray misshapen(const QByteArray &reply) const;
    void queue(const QByteArray &bytes, AfterSend after);
    void sendNext();
    void sendFront();
    void onSendTimer();
    void finishFront();
    void resetClient();
    void sendUnsolicited();
    void applyUnsolicited();
    void applyRefusal();
    void onHttpConnection();
    void onHttpReadyRead(QTcpSocket *socket);

    SimListener *m_server = nullptr;
    SimListener *m_http = nullptr;
    QPointer<SimConnection> m_client;
    QHostAddress m_address = QHostAddress(QHostAddress::LocalHost);
    quint16 m_port = 0;
    QString m_errorString;

    QByteArray m_serialNumber = QByteArrayLiteral("VQ240817");
    QByteArray m_firmwareVersion = QByteArrayLiteral("03.21-01");
    QList<QByteArray> m_slots;
    QByteArray m_cardNumber = QByteArrayLiteral("04172635");
    bool m_noCard = false;
    SimFaults m_faults;

    QByteArray m_input;
    SimTimer m_stallTimer;
    int m_commandsOnConnection = 0;
    QList<Outgoing> m_outbox;
    SendStage m_stage = SendStage::Idle;
    SimTimer m_sendTimer;
    SimTimer m_unsolicitedTimer;

    bool m_recording = false;
    QByteArray m_received;
    QList<QByteArray> m_handled;
    QHash<QTcpSocket *, QByteArray> m_httpRequests;
};
