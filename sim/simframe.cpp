#include "simframe.h"

static const QByteArray kFramePrefix = QByteArrayLiteral("QMK\x0F");
static constexpr qsizetype kShortFrameLength =
    10; // "QMK" 0x0F, 3 command letters, 2 hex digits, CR
static constexpr qsizetype kWriteFrameLength =
    42; // as above with 32 slot characters after the command

static bool isSlotCommand(const QByteArray &name, char letter)
{
    return name.size() == 3 && name.at(0) == letter && name.at(1) == '0' && name.at(2) >= '1' &&
           name.at(2) <= '8';
}

// Everything up to and including the first carriage return is one bad request.
static qsizetype takeBadLine(const QByteArray &buffer, SimRequest *request)
{
    const qsizetype end = buffer.indexOf(SimFrame::Terminator);
    if (end < 0) {
        return 0;
    }
    request->kind = SimRequestKind::Bad;
    request->name.clear();
    request->data.clear();
    request->raw = buffer.left(end + 1);
    return end + 1;
}

static qsizetype takeFrame(const QByteArray &buffer, bool flush, SimRequest *request)
{
    if (buffer.size() < kFramePrefix.size() + 1) {
        return flush ? takeBadLine(buffer, request) : 0;
    }
    if (!buffer.startsWith(kFramePrefix)) {
        return takeBadLine(buffer, request);
    }
    const char letter = buffer.at(kFramePrefix.size());
    qsizetype length = 0;
    if (letter == 'S' || letter == 'V' || letter == 'G') {
        length = kShortFrameLength;
    } else if (letter == 'F') {
        length = kWriteFrameLength;
    } else {
        return takeBadLine(buffer, request);
    }
    if (buffer.size() < length) {
        return flush ? takeBadLine(buffer, request) : 0;
    }
    if (buffer.at(length - 1) != SimFrame::Terminator) {
        return takeBadLine(buffer, request);
    }

    const QByteArray frame = buffer.left(length);
    const QByteArray text = frame.mid(kFramePrefix.size(), length - kFramePrefix.size() - 3);
    const QByteArray digits = frame.mid(length - 3, 2);
    const QByteArray name = text.left(3);
    request->raw = frame;
    request->name.clear();
    request->data.clear();
    request->kind = SimRequestKind::Bad;
    if (digits != SimFrame::hexByte(SimFrame::checksum(text))) {
        return length;
    }
    const bool known = (letter == 'F')
                           ? isSlotCommand(name, 'F')
                           : (name == "S01" || name == "V01" || isSlotCommand(name, 'G'));
    if (known) {
        request->kind = SimRequestKind::Command;
        request->name = name;
        request->data = text.mid(3);
    }
    return length;
}

// A raw message is recognised only when it matches byte for byte; a prefix of it waits for more.
static qsizetype takeRaw(const QByteArray &buffer, bool flush, SimRequest *request,
                         const QByteArray &expected, SimRequestKind kind, const char *name)
{
    if (buffer.startsWith(expected)) {
        request->kind = kind;
        request->name = name;
        request->data.clear();
        request->raw = expected;
        return expected.size();
    }
    if (!flush && expected.startsWith(buffer)) {
        return 0;
    }
    return takeBadLine(buffer, request);
}

quint8 SimFrame::checksum(const QByteArray &bytes, quint8 seed)
{
    quint8 sum = seed;
    for (const char byte : bytes) {
        sum ^= static_cast<quint8>(byte);
    }
    return sum;
}

QByteArray SimFrame::hexByte(quint8 value)
{
    return QByteArray::number(value, 16).rightJustified(2, '0').toUpper();
}

qsizetype SimFrame::take(const QByteArray &buffer, bool flush, SimRequest *request)
{
    if (buffer.isEmpty()) {
        return 0;
    }
    switch (buffer.at(0)) {
    case 'Q':
        return takeFrame(buffer, flush, request);
    case '\t':
        return takeRaw(buffer, flush, request, readerRequest(), SimRequestKind::Reader, "READER");
    case 'L':
        return takeRaw(buffer, flush, request, loopMessage(), SimRequestKind::Loop, "LOOP");
    default:
        return takeBadLine(buffer, request);
    }
}

QByteArray SimFrame::reply(const QByteArray &data)
{
    return QByteArrayLiteral("QMK") + ReplyMark + data + hexByte(checksum(data, 0x06)) + Terminator;
}

QByteArray SimFrame::nak()
{
    return QByteArrayLiteral("QMK") + NakMark + Terminator;
}

QByteArray SimFrame::cardReply(const QByteArray &cardNumber)
{
    const QByteArray body = QByteArrayLiteral("A0100") + fitted(cardNumber, FieldWidth);
    return '\t' + body + hexByte(checksum(body, 0x09)) + Terminator;
}

QByteArray SimFrame::noCardReply()
{
    const QByteArray body = QByteArrayLiteral("A01NC");
    return '\t' + body + hexByte(checksum(body, 0x09)) + Terminator;
}

QByteArray SimFrame::readerRequest()
{
    return QByteArrayLiteral("\tA01F0F\r");
}

QByteArray SimFrame::loopMessage()
{
    return QByteArray("Loop Test Ok.\0\r", 15);
}

QByteArray SimFrame::fitted(const QByteArray &text, int width)
{
    return text.left(width).leftJustified(width, ' ');
}
