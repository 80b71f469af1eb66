// Where a journal lives: the URL a station is given, read into a store's location.
#include "JournalStore.h"

#include <QUrl>

QString JournalLocation::display() const
{
    switch (kind) {
    case Kind::Sqlite:
        return QStringLiteral("sqlite:") + path;
    case Kind::Postgres:
        return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
    case Kind::Invalid:
        break;
    }
    return QString();
}

JournalLocation ParseJournalUrl(const QString &text)
{
    JournalLocation location;
    const QString url = text.trimmed();
    if (url.startsWith(QLatin1String("sqlite:"))) {
        QString path = url.mid(7);
        if (path.startsWith(QLatin1String("//")))
            path = path.mid(2);
        if (path.isEmpty()) {
            location.error = QStringLiteral("no file after \"sqlite:\"");
            return location;
        }
        location.kind = JournalLocation::Kind::Sqlite;
        location.path = path;
        return location;
    }
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (parsed.isValid() &&
        (scheme == QLatin1String("postgresql") || scheme == QLatin1String("postgres"))) {
        location.kind = JournalLocation::Kind::Postgres;
        location.host = parsed.host();
        location.port = parsed.port(5432);
        location.user = parsed.userName();
        location.password = parsed.password();
        location.database = parsed.path().mid(1);
        if (location.host.isEmpty() || location.database.isEmpty() ||
            location.database.contains(QLatin1Char('/'))) {
            location.kind = JournalLocation::Kind::Invalid;
            location.error = QStringLiteral("a PostgreSQL journal needs a host and a database");
        }
        return location;
    }
    location.error = QStringLiteral("\"%1\" is not a journal address; use sqlite:PATH or "
                                    "postgresql://user@host:port/database")
                         .arg(url.left(200));
    return location;
}
