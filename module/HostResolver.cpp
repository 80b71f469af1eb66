#include "HostResolver.h"

#include <QHostInfo>
#include <QUrl>

bool SystemResolver::Lookup(const QString &host, QObject *context, Done done)
{
    // A host name has at most 255 octets in its ASCII form; a text that has none cannot be asked.
    const QString name = host.trimmed();
    const QByteArray ace = QUrl::toAce(name);
    if (QHostAddress(name).isNull() && (ace.isEmpty() || ace.size() > 255))
        return false;
    QHostInfo::lookupHost(name, context,
                          [done](const QHostInfo &info) { done(info.addresses()); });
    return true;
}

HostResolver &systemResolver()
{
    static SystemResolver resolver;
    return resolver;
}
