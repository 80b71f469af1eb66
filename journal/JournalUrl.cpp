// Where a journal lives: the URL a station is given, read into a store's location.
#include "JournalStore.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

QString JournalLocation::display() const
{
    switch (kind) {
    case Kind::Sqlite:
        return QStringLiteral("sqlite:") + path;
    case Kind::Postgres: {
        const QString where =
            host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
        return QStringLiteral("postgresql://%1%2:%3/%4")
            .arg(user.isEmpty() ? QString() : user + QLatin1Char('@'), where)
            .arg(port)
            .arg(database);
    }
    case Kind::Invalid:
        break;
    }
    return QString();
}

QString JournalLocation::urlWithoutPassword() const
{
    if (kind != Kind::Postgres)
        return display();
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(user);
    url.setHost(host);
    url.setPort(port);
    url.setPath(QLatin1Char('/') + database);
    QUrlQuery query;
    for (const auto &[name, value] : options)
        query.addQueryItem(name, value);
    url.setQuery(query);
    return url.toString(QUrl::FullyEncoded);
}

// Why `value` is not one the option takes; empty when it is.
static QString optionProblem(const QString &name, const QString &value)
{
    static const QStringList sslModes{"disable", "allow",     "prefer",
                                      "require", "verify-ca", "verify-full"};
    if (name == QLatin1String("sslmode"))
        return sslModes.contains(value)
                   ? QString()
                   : QStringLiteral("one of %1").arg(sslModes.join(QStringLiteral(", ")));
    if (name == QLatin1String("connect_timeout")) {
        bool ok = false;
        const int seconds = value.toInt(&ok);
        return ok && seconds >= 1 && seconds <= 3600 ? QString()
                                                     : QStringLiteral("seconds from 1 to 3600");
    }
    if (name == QLatin1String("application_name")) {
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9._-]{1,63}$"));
        return name.match(value).hasMatch()
                   ? QString()
                   : QStringLiteral("1 to 63 letters, digits, dots, dashes or underscores");
    }
    // sslrootcert: a file name; whatever it holds stays one value for libpq.
    static const QRegularExpression path(QStringLiteral("^[^\\x00-\\x1f\\x7f]{1,4096}$"));
    return path.match(value).hasMatch() ? QString()
                                        : QStringLiteral("a file name without control characters");
}

static bool parseOptions(const QUrl &url, JournalLocation &location)
{
    static const QStringList known{"sslmode", "sslrootcert", "connect_timeout", "application_name"};
    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto &[name, value] : items) {
        if (!known.contains(name)) {
            location.error = QStringLiteral("the journal URL's option \"%1\" is not one the tool "
                                            "passes on (%2)")
                                 .arg(name.left(40), known.join(QStringLiteral(", ")));
            return false;
        }
        const QString problem = optionProblem(name, value);
        if (!problem.isEmpty()) {
            location.error = QStringLiteral("the journal URL's %1 wants %2, not \"%3\"")
                                 .arg(name, problem, value.left(40));
            return false;
        }
        if (std::any_of(location.options.begin(), location.options.end(),
                        [&name = name](const auto &option) { return option.first == name; })) {
            location.error = QStringLiteral("the journal URL gives %1 twice").arg(name);
            return false;
        }
        location.options.append({name, value});
    }
    return true;
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
        location.host = parsed.host();
        location.port = parsed.port(5432);
        location.user = parsed.userName();
        location.password = parsed.password();
        location.database = parsed.path().mid(1);
        if (location.host.isEmpty() || location.database.isEmpty() ||
            location.database.contains(QLatin1Char('/'))) {
            location.error = QStringLiteral("a PostgreSQL journal needs a host and a database");
            return location;
        }
        if (parseOptions(parsed, location))
            location.kind = JournalLocation::Kind::Postgres;
        return location;
    }
    location.error = QStringLiteral("\"%1\" is not a journal address; use sqlite:PATH or "
                                    "postgresql://user@host:port/database")
                         .arg(url.left(200));
    return location;
}
