#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include "simreactor.h"

#include <memory>

class QTcpSocket;

// A listening TCP socket with the few calls of QTcpServer the simulated module uses, watched in
// the thread's reactor (one epoll set for every module), so that ten thousand listening addresses
// cost the event loop one descriptor. It also exists because QTcpServer handles a process that
// is out of descriptors badly: once an earlier accept has ended on "would block", its engine
// keeps reporting that error, so a later "too many open files" looks temporary, the socket stays
// watched while the connection waits in the backlog, and the event loop spins; on a first
// failure it pauses for good instead. This one stops watching and tries again a little later,
// whatever the failure.
class SimListener : public QObject, public SimWatcher
{
    Q_OBJECT

public:
    explicit SimListener(QObject *parent = nullptr);
    ~SimListener() override;

    bool listen(const QHostAddress &address, quint16 port);
    void close();
    [[nodiscard]] bool isListening() const { return m_fd >= 0; }
    [[nodiscard]] quint16 serverPort() const { return m_port; }
    [[nodiscard]] QString errorString() const { return m_errorString; }
    // The next accepted connection as a bare descriptor (the caller owns it), or -1.
    int nextPendingDescriptor();
    // The next accepted connection as a QTcpSocket, a child of this listener, or nullptr.
    QTcpSocket *nextPendingConnection();
    [[nodiscard]] const std::shared_ptr<SimReactor> &reactor() const { return m_reactor; }

    void onEvents(quint32 events) override;

signals:
    void newConnection();

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QString m_errorString;
    std::shared_ptr<SimReactor> m_reactor;
    QTimer m_retry;
    QList<int> m_pending;
};
