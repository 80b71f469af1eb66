#include "HostText.h"

#include <QUrl>

static bool isDecimal(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// What the system resolver reads as a number: decimal, octal with a leading 0, or 0x hex.
static bool isNumberLabel(QStringView label)
{
    if (label.startsWith(u"0x", Qt::CaseInsensitive)) {
        for (const QChar c : label.mid(2))
            if (!(c >= u'0' && c <= u'9') && !(c >= u'a' && c <= u'f') && !(c >= u'A' && c <= u'F'))
                return false;
        return true;
    }
    return isDecimal(label);
}

// Four parts of 0 to 255. A part with a leading zero is refused: the resolver reads "010" as
// 8 and the browser pane does the same, where a technician means 10.
static bool isDottedDecimal(QStringView host)
{
    const auto parts = host.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QStringView part : parts) {
        if (!isDecimal(part) || part.size() > 3 || (part.size() > 1 && part.front() == u'0') ||
            part.toUInt() > 255)
            return false;
    }
    return true;
}

static bool parsePort(QStringView text, quint16 *port)
{
    if (!isDecimal(text) || text.size() > 5)
        return false;
    const uint value = text.toUInt();
    if (value < 1 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

static HostText unusable()
{
    return {};
}

static HostText ipv6(const QString &host, quint16 port)
{
    const QHostAddress address(host);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return unusable();
    return {HostText::Kind::Address, host, address, port};
}

HostText ParseHostText(const QString &typed)
{
    const QString text = typed.trimmed();
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return unusable();
        const QStringView rest = QStringView(text).mid(close + 1);
        quint16 port = 0;
        if (!rest.isEmpty() && (!rest.startsWith(u':') || !parsePort(rest.mid(1), &port)))
            return unusable();
        return ipv6(text.mid(1, close - 1), port);
    }
    if (text.count(u':') > 1)
        return ipv6(text, 0);

    QString host = text;
    quint16 port = 0;
    const qsizetype colon = text.indexOf(u':');
    if (colon >= 0) {
        if (!parsePort(QStringView(text).mid(colon + 1), &port))
            return unusable();
        host = text.left(colon);
    }
    if (host.isEmpty())
        return unusable();

    // A text whose last part is a number is an address or nothing, never a name to ask about.
    const QStringList labels = host.split(u'.');
    const QString last =
        labels.last().isEmpty() && labels.size() > 1 ? labels.at(labels.size() - 2) : labels.last();
    if (isNumberLabel(last)) {
        if (!isDottedDecimal(host))
            return {HostText::Kind::NotAnAddress, host, {}, port};
        return {HostText::Kind::Address, host, QHostAddress(host), port};
    }
    // A host name has at most 255 octets in its ASCII form; a text that has none cannot be asked.
    const QByteArray ace = QUrl::toAce(host);
    if (ace.isEmpty() || ace.size() > 255)
        return unusable();
    return {HostText::Kind::Name, host, {}, port};
}
