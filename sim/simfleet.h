#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

class SimModule;

// Many simulated modules in one process: one per consecutive IPv4 loopback address from a first
// one, all on the same port, each with its own serial number and slot contents.
class SimFleet : public QObject
{
    Q_OBJECT

public:
    explicit SimFleet(QObject *parent = nullptr);
    ~SimFleet() override;

    // Starts `count` modules on `first`, `first` + 1, ... (all inside 127.0.0.0/8). Port 0 picks
    // a free port that every address can take, retrying with another one when some address
    // already has it in use, so fleets of parallel tests do not collide.
    bool listen(const QHostAddress &first, int count, quint16 port = 0);
    void close();

    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] int count() const { return int(m_modules.size()); }
    [[nodiscard]] SimModule *module(int index) const { return m_modules.value(index); }
    [[nodiscard]] QHostAddress address(int index) const;
    [[nodiscard]] QString errorString() const { return m_errorString; }

    // "VQ" and six digits from the address's host part below 127.0.0.0: 127.0.0.7 gives
    // "VQ000007", 127.0.1.4 gives "VQ000260".
    [[nodiscard]] static QByteArray serialFor(const QHostAddress &address);
    // Slot contents that name the slot and the module, 32 characters.
    [[nodiscard]] static QByteArray slotFor(const QHostAddress &address, int slot);

private:
    bool listenAll(const QHostAddress &first, int count, quint16 port);

    QList<SimModule *> m_modules;
    quint32 m_first = 0;
    quint16 m_port = 0;
    QString m_errorString;
};
