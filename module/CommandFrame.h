#pragma once

#include <QByteArray>

// A command travels as "QMK", 0x0F, the command bytes, two uppercase hex digits of the
// checksum, 0x0D. The frame is assembled in an 80-byte buffer, so a command has at most 72 bytes.
inline constexpr int MaxCommandLength = 72;

// 0x0F exclusive-or every command byte in turn; "QMK" does not enter it.
[[nodiscard]] quint8 CommandChecksum(const QByteArray &command);

// The frame for `command`, or an empty array when the command is too long to frame.
[[nodiscard]] QByteArray BuildCommandFrame(const QByteArray &command);
