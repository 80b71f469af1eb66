#include "Targets.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSet>

static bool looksDotted(const QString &text)
{
    static const QRegularExpression dotted(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"));
    return dotted.match(text).hasMatch();
}

// A strict dotted IPv4 address: four numbers from 0 to 255 and nothing else.
static bool parseDotted(const QString &text, quint32 *address)
{
    if (!looksDotted(text))
        return false;
    const QStringList parts = text.split(QLatin1Char('.'));
    quint32 value = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint number = part.toUInt(&ok);
        if (!ok || number > 255 || part.size() > 3)
            return false;
        value = (value << 8) | number;
    }
    *address = value;
    return true;
}

bool ExpandTarget(const QString &target, QStringList *hosts, QString *error)
{
    const QString text = target.trimmed();
    if (text.isEmpty()) {
        *error = QStringLiteral("empty target");
        return false;
    }
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    quint32 first = 0;
    // Host names may hold dashes; a range starts with a dotted address.
    if (dash > 0 && parseDotted(text.left(dash), &first)) {
        const QString right = text.mid(dash + 1);
        quint32 last = 0;
        bool ok = false;
        if (parseDotted(right, &last)) {
            ok = true;
        } else if (!right.isEmpty() && !right.contains(QLatin1Char('.'))) {
            const uint octet = right.toUInt(&ok);
            ok = ok && octet <= 255;
            last = (first & 0xFFFFFF00u) | octet;
        }
        if (!ok) {
            *error = QStringLiteral("bad range \"%1\": want FIRST-LAST such as "
                                    "127.0.0.1-127.0.0.40 or 127.0.0.1-40")
                         .arg(text);
            return false;
        }
        if (last < first) {
            *error = QStringLiteral("bad range \"%1\": its end comes before its start").arg(text);
            return false;
        }
        if (quint64(last) - first + 1 > quint64(MaxTargets)) {
            *error = QStringLiteral("range \"%1\" holds more than %2 addresses")
                         .arg(text)
                         .arg(MaxTargets);
            return false;
        }
        for (quint64 address = first; address <= last; ++address)
            hosts->append(QHostAddress(quint32(address)).toString());
        return true;
    }
    if (looksDotted(text)) {
        if (!parseDotted(text, &first)) {
            *error = QStringLiteral("bad address \"%1\"").arg(text);
            return false;
        }
        hosts->append(QHostAddress(first).toString());
        return true;
    }
    if (text.contains(QRegularExpression(QStringLiteral("[\\s,/]")))) {
        *error = QStringLiteral("bad target \"%1\"").arg(text);
        return false;
    }
    hosts->append(text);
    return true;
}

TargetList ParseTargets(const QStringList &targets, const QStringList &files)
{
    TargetList list;
    QStringList all;
    for (const QString &target : targets) {
        if (!ExpandTarget(target, &all, &list.error))
            return list;
    }
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            list.error =
                QStringLiteral("cannot read target file \"%1\": %2").arg(path, file.errorString());
            return list;
        }
        int lineNumber = 0;
        while (!file.atEnd()) {
            ++lineNumber;
            QString line = QString::fromUtf8(file.readLine());
            line = line.left(line.indexOf(QLatin1Char('#')));
            const QStringList words = line.split(separators, Qt::SkipEmptyParts);
            for (const QString &word : words) {
                if (!ExpandTarget(word, &all, &list.error)) {
                    list.error =
                        QStringLiteral("%1:%2: %3").arg(path).arg(lineNumber).arg(list.error);
                    return list;
                }
            }
        }
    }
    // Two links to one module would take each other's connection.
    QSet<QString> seen;
    for (const QString &host : std::as_const(all)) {
        const QString key = host.toLower();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        list.hosts.append(host);
        if (list.hosts.size() > MaxTargets) {
            list.error = QStringLiteral("more than %1 targets").arg(MaxTargets);
            list.hosts.clear();
            return list;
        }
    }
    if (list.hosts.isEmpty())
        list.error = QStringLiteral("no targets given");
    return list;
}
