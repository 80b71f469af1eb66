#pragma once

// Test doubles for the module link: a scripted module on loopback, a resolver that answers
// from a table without sending any DNS query, a recording link owner and an offset clock (the
// virtual clock is in TestClock.h).

#include "Clock.h"
#include "HostResolver.h"
#include "ModuleLink.h"
#include "TestClock.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

#include <sys/socket.h>

// Answers what the link sends with replies chosen by a script function; each reply is
// (delay in ms, bytes) and goes out as one write.
class ScriptedModule : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        int delayMs = 0;
        QByteArray bytes;
    };
    using Script = std::function<QList<Reply>(const QByteArray &chunk)>;

    explicit ScriptedModule(const QHostAddress &address = QHostAddress::LocalHost)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            m_client = m_server.nextPendingConnection();
            connect(m_client, &QTcpSocket::readyRead, this, [this, client = m_client] {
                const QByteArray chunk = client->readAll();
                m_received += chunk;
                emit bytesReceived();
                if (!m_script)
                    return;
                for (const Reply &r : m_script(chunk)) {
                    const auto write = [client = QPointer<QTcpSocket>(client), b = r.bytes] {
                        if (client) {
                            client->write(b);
                            client->flush();
                        }
                    };
                    if (m_clock)
                        m_clock->after(quint32(r.delayMs), write);
                    else
                        QTimer::singleShot(r.delayMs, client, write);
                }
            });
            emit clientConnected();
        });
        m_server.listen(address, 0);
    }

    [[nodiscard]] quint16 port() const { return m_server.serverPort(); }
    [[nodiscard]] QByteArray received() const { return m_received; }
    [[nodiscard]] QTcpSocket *client() const { return m_client; }
    void setScript(Script script) { m_script = std::move(script); }
    // Reply delays count on this clock instead of in real time.
    void setClock(const TestClock *clock) { m_clock = clock; }

    void send(const QByteArray &bytes)
    {
        m_client->write(bytes);
        m_client->flush();
    }
    void closeOrderly() { m_client->disconnectFromHost(); }
    // Closes with an RST instead of a FIN.
    void reset()
    {
        const linger lingerZero{1, 0};
        ::setsockopt(int(m_client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &lingerZero,
                     sizeof lingerZero);
        m_client->abort();
    }

signals:
    void clientConnected();
    void bytesReceived();

private:
    QTcpServer m_server;
    QTcpSocket *m_client = nullptr;
    QByteArray m_received;
    Script m_script;
    const TestClock *m_clock = nullptr;
};

// Answers names from a table after `delayMs`; a missing name is "not found".
class TableResolver : public HostResolver
{
public:
    QHash<QString, QList<QHostAddress>> table;
    int delayMs = 0;
    QStringList asked;

    bool Lookup(const QString &host, QObject *context, Done done) override
    {
        asked << host;
        const QList<QHostAddress> answer = table.value(host);
        QTimer::singleShot(delayMs, context, [done, answer] { done(answer); });
        return true;
    }
};

// Records the link's notifications, each with the connected flag as it stood at that moment.
class RecordingOwner : public LinkOwner
{
public:
    ModuleLink *link = nullptr;
    QStringList events;
    QStringList errors;

    void LinkConnected() override { events << flagged("connected"); }
    void LinkDisconnected() override { events << flagged("disconnected"); }
    void LinkErrorReported(const QString &message) override
    {
        events << "error";
        errors << message;
    }

private:
    QString flagged(const QString &what) const
    {
        return QStringLiteral("%1 flag=%2").arg(what).arg(link && link->ConnectedFlag() ? 1 : 0);
    }
};

// The system clock moved by a fixed offset, to run its waits across the 32-bit wrap-around.
class OffsetClock : public SteadyClock
{
public:
    explicit OffsetClock(quint32 start) : m_start(start) { m_timer.start(); }
    [[nodiscard]] quint32 Milliseconds() const override
    {
        return m_start + quint32(m_timer.elapsed());
    }

private:
    quint32 m_start;
    QElapsedTimer m_timer;
};
