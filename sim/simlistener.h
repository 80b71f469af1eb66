#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class QTcpSocket;

// A listening TCP socket with the few calls of QTcpServer the simulated module uses. It exists
// because QTcpServer handles a process that is out of descriptors badly: once an earlier accept
// has ended on "would block", its engine keeps reporting that error, so a later "too many open
// files" looks temporary, the socket stays watched while the connection waits in the backlog,
// and the event loop spins; on a first failure it pauses for good instead. This one stops
// watching and tries again a little later, whatever the failure.
class SimListener : public QObject
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
    // The next accepted connection, or nullptr; the socket is a child of this listener.
    QTcpSocket *nextPendingConnection();

signals:
    void newConnection();

private:
    void onReadable();

    int m_fd = -1;
    quint16 m_port = 0;
    QString m_errorString;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_retry;
    QList<QTcpSocket *> m_pending;
};
