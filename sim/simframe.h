#pragma once

#include <QByteArray>

// What the simulated module makes of the bytes at the head of its input buffer.
enum class SimRequestKind { Command, Reader, Loop, Bad };

struct SimRequest
{
    SimRequestKind kind = SimRequestKind::Bad;
    // Three-letter command name ("S01", "G04", "F02"); "READER" and "LOOP" for the raw messages.
    QByteArray name;
    // The 32 characters that follow a slot write; empty for every other request.
    QByteArray data;
    // The request exactly as it arrived, terminator included.
    QByteArray raw;
};

// Framing and reply building of the simulated module, kept free of sockets so it can be tested
// alone.
class SimFrame
{
public:
    static constexpr char Terminator = '\r';
    static constexpr char FrameMark = '\x0F';
    static constexpr char ReplyMark = '\x06';
    static constexpr char NakMark = '\x15';
    static constexpr int SlotCount = 8;
    static constexpr int SlotWidth = 32;
    static constexpr int FieldWidth = 8;

    // 0x0F-seeded exclusive-or over the command text, as the tool frames it.
    [[nodiscard]] static quint8 checksum(const QByteArray &bytes, quint8 seed = 0x0F);
    [[nodiscard]] static QByteArray hexByte(quint8 value);

    // Cuts one request off the head of buffer and returns how many bytes it used, or 0 when
    // more bytes are needed. With flush set, an incomplete frame that holds a carriage return
    // is given up as a bad request instead of waiting for more input.
    [[nodiscard]] static qsizetype take(const QByteArray &buffer, bool flush, SimRequest *request);

    // "QMK" 0x06, the data, two hex digits of the 0x06-seeded checksum over the data, 0x0D.
    [[nodiscard]] static QByteArray reply(const QByteArray &data);
    // "QMK" 0x15 0x0D: the answer to a bad checksum, an unknown command or a wrong length.
    [[nodiscard]] static QByteArray nak();
    // 0x09 "A01" "00", the 8 card digits, checksum, 0x0D: the card sits at characters 7 to 14.
    [[nodiscard]] static QByteArray cardReply(const QByteArray &cardNumber);
    // 0x09 "A01" "NC", checksum, 0x0D: 9 characters, too short to carry a card number.
    [[nodiscard]] static QByteArray noCardReply();

    [[nodiscard]] static QByteArray readerRequest();
    [[nodiscard]] static QByteArray loopMessage();

    // Pads with spaces or truncates to exactly width bytes.
    [[nodiscard]] static QByteArray fitted(const QByteArray &text, int width);
};
