#include "HostResolver.h"

#include "HostText.h"

#include <QHostInfo>

static void answerLater(QObject *context, HostResolver::Done done, QList<QHostAddress> answer)
{
    QMetaObject::invokeMethod(
        context, [done = std::move(done), answer = std::move(answer)] { done(answer); },
        Qt::QueuedConnection);
}

bool HostResolver::Resolve(const QString &text, QObject *context, Done done)
{
    const HostText parsed = ParseHostText(text);
    switch (parsed.kind) {
    case HostText::Kind::Address:
        // QHostInfo would also look up the address's name, asking the DNS server about an
        // address that may be no more than a loopback alias.
        answerLater(context, std::move(done), {parsed.address});
        return true;
    case HostText::Kind::NotAnAddress:
        answerLater(context, std::move(done), {});
        return true;
    case HostText::Kind::Name:
        return Lookup(parsed.host, context, std::move(done));
    case HostText::Kind::Unusable:
        break;
    }
    return false;
}

bool SystemResolver::Lookup(const QString &host, QObject *context, Done done)
{
    QHostInfo::lookupHost(host, context, [done](const QHostInfo &info) { done(info.addresses()); });
    return true;
}

HostResolver &systemResolver()
{
    static SystemResolver resolver;
    return resolver;
}
