#pragma once

// The simulator tests' own frame builders, written from the wire format rather than taken from
// the module code, so that the simulator is checked against an independent reading of it.

#include <QByteArray>

inline QByteArray checksummed(const QByteArray &head, quint8 start, const QByteArray &body)
{
    quint8 sum = start;
    for (const char byte : body)
        sum ^= static_cast<quint8>(byte);
    return head + body + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0') + '\r';
}

// A command as the tool frames it.
inline QByteArray frameOf(const QByteArray &command)
{
    return checksummed(QByteArray("QMK\x0F"), 0x0F, command);
}

// A data reply as the simulated module frames it.
inline QByteArray dataReplyOf(const QByteArray &data)
{
    return checksummed(QByteArray("QMK\x06"), 0x06, data);
}
