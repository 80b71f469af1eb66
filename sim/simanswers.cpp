// What the simulated module holds (serial number, version, slots, card) and how it answers a
// well-formed request from it; the faults that bend the answers are the connection's business.
#include "simframe.h"
#include "simmodule.h"

void SimModule::setSerialNumber(const QByteArray &serialNumber)
{
    m_serialNumber = SimFrame::fitted(serialNumber, SimFrame::FieldWidth);
}

void SimModule::setFirmwareVersion(const QByteArray &version)
{
    m_firmwareVersion = SimFrame::fitted(version, SimFrame::FieldWidth);
}

QByteArray SimModule::slotData(int slot) const
{
    if (slot < 1 || slot > SimFrame::SlotCount) {
        return {};
    }
    return m_slots.at(slot - 1);
}

void SimModule::setSlotData(int slot, const QByteArray &data)
{
    if (slot >= 1 && slot <= SimFrame::SlotCount) {
        m_slots[slot - 1] = SimFrame::fitted(data, SimFrame::SlotWidth);
    }
}

bool SimModule::setCardNumber(const QByteArray &cardNumber)
{
    if (cardNumber.size() != SimFrame::FieldWidth) {
        return false;
    }
    for (const char digit : cardNumber) {
        if (digit < '0' || digit > '9') {
            return false;
        }
    }
    m_cardNumber = cardNumber;
    return true;
}

QByteArray SimModule::answerFor(const SimRequest &request)
{
    switch (request.kind) {
    case SimRequestKind::Command: {
        const int slot = request.name.at(2) - '0';
        switch (request.name.at(0)) {
        case 'S':
            return SimFrame::reply(m_serialNumber);
        case 'V':
            return SimFrame::reply(m_firmwareVersion);
        case 'G':
            return SimFrame::reply(slotData(slot));
        case 'F':
            if (!m_faults.forgetWrites)
                setSlotData(slot, request.data);
            return SimFrame::reply(request.name);
        default:
            return SimFrame::nak();
        }
    }
    case SimRequestKind::Reader:
        return m_noCard ? SimFrame::noCardReply() : SimFrame::cardReply(m_cardNumber);
    case SimRequestKind::Loop:
        return request.raw;
    case SimRequestKind::Bad:
        break;
    }
    return SimFrame::nak();
}
