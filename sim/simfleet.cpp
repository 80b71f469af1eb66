#include "simfleet.h"

#include "simframe.h"
#include "simmodule.h"

#include <QTcpServer>

// Attempts at a port shared by every address before the fleet gives up.
static constexpr int kPortAttempts = 20;

SimFleet::SimFleet(QObject *parent) : QObject(parent) {}

SimFleet::~SimFleet()
{
    close();
}

QHostAddress SimFleet::address(int index) const
{
    return QHostAddress(m_first + quint32(index));
}

QByteArray SimFleet::serialFor(const QHostAddress &address)
{
    const quint32 host = (address.toIPv4Address() & 0x00FFFFFFu) % 1000000u;
    return "VQ" + QByteArray::number(host).rightJustified(6, '0');
}

QByteArray SimFleet::slotFor(const QHostAddress &address, int slot)
{
    return SimFrame::fitted("Slot " + QByteArray::number(slot) + " of " + serialFor(address),
                            SimFrame::SlotWidth);
}

void SimFleet::close()
{
    qDeleteAll(m_modules);
    m_modules.clear();
    m_port = 0;
}

bool SimFleet::listen(const QHostAddress &first, int count, quint16 port)
{
    close();
    bool isV4 = false;
    const quint32 base = first.toIPv4Address(&isV4);
    if (!isV4 || !first.isLoopback() || count < 1 ||
        (base & 0xFFFFFFu) + quint32(count) > 0xFFFFFFu) {
        m_errorString = QStringLiteral("a fleet wants a first IPv4 loopback address and room for "
                                       "%1 addresses after it inside 127.0.0.0/8")
                            .arg(count);
        return false;
    }
    m_first = base;
    if (port != 0)
        return listenAll(first, count, port);
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        // The system's choice for the first address is free there; the others may still hold it.
        QTcpServer probe;
        if (!probe.listen(first, 0)) {
            m_errorString = probe.errorString();
            return false;
        }
        const quint16 candidate = probe.serverPort();
        probe.close();
        if (listenAll(first, count, candidate))
            return true;
    }
    return false;
}

bool SimFleet::listenAll(const QHostAddress &first, int count, quint16 port)
{
    for (int i = 0; i < count; ++i) {
        const QHostAddress address(first.toIPv4Address() + quint32(i));
        auto *module = new SimModule(this);
        module->setSerialNumber(serialFor(address));
        for (int slot = 1; slot <= SimFrame::SlotCount; ++slot)
            module->setSlotData(slot, slotFor(address, slot));
        m_modules.append(module);
        if (!module->listen(address, port)) {
            m_errorString = QStringLiteral("%1:%2: %3")
                                .arg(address.toString())
                                .arg(port)
                                .arg(module->errorString());
            qDeleteAll(m_modules);
            m_modules.clear();
            return false;
        }
    }
    m_port = port;
    return true;
}
