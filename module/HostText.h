#pragma once

#include <QHostAddress>
#include <QString>

// What the text typed in the address field names, before anything is looked up.
struct HostText
{
    enum class Kind {
        // A dotted IPv4 address of four decimal parts, or an IPv6 address: no lookup needed.
        Address,
        // A host name for the resolver.
        Name,
        // A number that is not four decimal parts ("127.1", "3232235777", "0x7f.1", "010.0.0.1"):
        // the system resolver would read it as some address, often not the one meant, so it
        // names no host and is never looked up.
        NotAnAddress,
        // Nothing that can be looked up: blank, too long for a host name, a bad port.
        Unusable,
    };

    Kind kind = Kind::Unusable;
    // The host without the port and the brackets of an IPv6 address.
    QString host;
    // Set for Kind::Address.
    QHostAddress address;
    // The port typed after the host (the web page's port, never the module's); 0 when none.
    quint16 port = 0;
};

// Splits "host", "host:port", "[IPv6]" and "[IPv6]:port" and says what the host is. A port is
// 1 to 65535 in decimal digits; anything else after the colon leaves the text unusable.
[[nodiscard]] HostText ParseHostText(const QString &text);
