#include "CommandFrame.h"

quint8 CommandChecksum(const QByteArray &command)
{
    quint8 sum = 0x0F;
    for (const char c : command)
        sum ^= quint8(c);
    return sum;
}

QByteArray BuildCommandFrame(const QByteArray &command)
{
    if (command.size() > MaxCommandLength)
        return {};
    QByteArray frame;
    frame.reserve(command.size() + 7);
    frame.append("QMK\x0F", 4);
    frame.append(command);
    frame.append(QByteArray::number(CommandChecksum(command), 16).toUpper().rightJustified(2, '0'));
    frame.append('\r');
    return frame;
}
