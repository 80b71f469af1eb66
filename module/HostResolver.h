#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

class QObject;

// Looks up the module's host text asynchronously. Tests put in a resolver of their own, so a
// failed lookup sends no DNS query.
class HostResolver
{
public:
    using Done = std::function<void(const QList<QHostAddress> &addresses)>;
    virtual ~HostResolver() = default;

    // Takes the text typed in the address field (ParseHostText): an address is answered as it
    // is, a number that is no address as not found, and only a host name reaches Lookup; a
    // typed port is dropped, since the module always listens on its own. The answer (empty: not
    // found) reaches `done` later from the event loop, never inside this call, and only while
    // `context` lives. Returns false when the text cannot be looked up at all.
    bool Resolve(const QString &text, QObject *context, Done done);

    // Starts the lookup of a host name, answering as Resolve does.
    virtual bool Lookup(const QString &host, QObject *context, Done done) = 0;
};

// The platform's resolver (QHostInfo).
class SystemResolver : public HostResolver
{
public:
    bool Lookup(const QString &host, QObject *context, Done done) override;
};

[[nodiscard]] HostResolver &systemResolver();
