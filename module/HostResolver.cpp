#include "HostResolver.h"

#include <QHostInfo>
#include <QUrl>

bool SystemResolver::Lookup(const QString &host, QObject *context, Done done)
{
    // A host name has at most 255 octets in its ASCII form; a text that has none cannot be asked.
    const QString name = host.trimmed();
    const QHostAddress literal(name);
    if (!literal.isNull()) {
        // A numeric address is its own answer. QHostInfo would also look up its name, which
        // asks the DNS server about an address that may be no more than a loopback alias.
        QMetaObject::invokeMethod(
            context, [done, literal] { done({literal}); }, Qt::QueuedConnection);
        return true;
    }
    const QByteArray ace = QUrl::toAce(name);
    if (ace.isEmpty() || ace.size() > 255)
        return false;
    QHostInfo::lookupHost(name, context, [done](const QHostInfo &info) { done(info.addresses()); });
    return true;
}

HostResolver &systemResolver()
{
    static SystemResolver resolver;
    return resolver;
}
