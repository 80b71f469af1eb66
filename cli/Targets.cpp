#include "Targets.h"

#include "Cli.h"
#include "Escape.h"
#include "HostResolver.h"
#include "HostText.h"

#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QRegularExpression>

#include <numeric>
#include <vector>

static bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// A strict dotted IPv4 address: four numbers of one to three digits from 0 to 255, nothing else.
static bool parseDotted(QStringView text, quint32 *address)
{
    quint32 value = 0;
    int parts = 0;
    for (const QStringView part : text.split(QLatin1Char('.'))) {
        if (++parts > 4 || part.isEmpty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), isAsciiDigit))
            return false;
        const uint number = part.toUInt();
        if (number > 255)
            return false;
        value = (value << 8) | number;
    }
    if (parts != 4)
        return false;
    *address = value;
    return true;
}

static bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// One target before expansion: a host text, or the addresses first..last.
struct ParsedTarget
{
    QString host;
    quint32 first = 0;
    quint32 last = 0;
    bool range = false;
    [[nodiscard]] qint64 count() const { return range ? qint64(last) - first + 1 : 1; }
};

static bool parseTarget(const QString &target, ParsedTarget *out, QString *error)
{
    const QString text = target.trimmed();
    if (text.isEmpty()) {
        *error = QStringLiteral("empty target");
        return false;
    }
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return isControl(c.unicode()); })) {
        *error = QStringLiteral("target %1 holds a control character").arg(CliQuoted(text));
        return false;
    }
    if (text.toUtf8().size() > MaxHostOctets) {
        *error = QStringLiteral("target %1 is longer than %2 octets")
                     .arg(CliQuoted(text), QString::number(MaxHostOctets));
        return false;
    }
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    // Host names may hold dashes; a range starts with a dotted address.
    if (dash > 0 && parseDotted(QStringView(text).left(dash), &out->first)) {
        const QStringView right = QStringView(text).mid(dash + 1);
        bool ok = parseDotted(right, &out->last);
        if (!ok && !right.isEmpty() && right.size() <= 3 &&
            std::all_of(right.begin(), right.end(), isAsciiDigit)) {
            const uint octet = right.toUInt();
            ok = octet <= 255;
            out->last = (out->first & 0xFFFFFF00u) | octet;
        }
        if (!ok) {
            *error = QStringLiteral("bad range %1: want FIRST-LAST such as "
                                    "127.0.0.1-127.0.0.40 or 127.0.0.1-40")
                         .arg(CliQuoted(text));
            return false;
        }
        if (out->last < out->first) {
            *error =
                QStringLiteral("bad range %1: its end comes before its start").arg(CliQuoted(text));
            return false;
        }
        out->range = true;
        return true;
    }
    // The rest is host text, read as the window reads its address field: a number that is no
    // plain address ("127.000.0.1", "0x7f.1") is taken and ends as an unknown host.
    static const QRegularExpression forbidden(QStringLiteral("[\\s,/]"));
    if (text.contains(forbidden) || ParseHostText(text).kind == HostText::Kind::Unusable) {
        *error = QStringLiteral("bad target %1").arg(CliQuoted(text));
        return false;
    }
    out->host = text;
    return true;
}

// Adds the target to `parsed` and its count to `total`; false with `error` set when it is
// malformed or brings the total past the limit.
static bool addTarget(const QString &target, std::vector<ParsedTarget> *parsed, qint64 *total,
                      QString *error)
{
    ParsedTarget one;
    if (!parseTarget(target, &one, error))
        return false;
    *total += one.count();
    if (*total > MaxTargets) {
        *error =
            QStringLiteral("more than %1 targets (each address of a range counts)").arg(MaxTargets);
        return false;
    }
    parsed->push_back(std::move(one));
    return true;
}

// The whole file, unless it is larger than the limit; a pipe is read up to the limit only.
static bool readTargetFile(const QString &path, QByteArray *bytes, QString *error)
{
    QFile file(path);
    const auto tooLarge = [&] {
        *error = QStringLiteral("target file %1 is larger than %2 MiB")
                     .arg(CliQuoted(path), QString::number(MaxTargetFileBytes / (1024 * 1024)));
        return false;
    };
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read target file %1: %2")
                     .arg(CliQuoted(path), file.errorString());
        return false;
    }
    if (!file.isSequential() && file.size() > MaxTargetFileBytes)
        return tooLarge();
    char chunk[64 * 1024];
    for (;;) {
        const qint64 got = file.read(chunk, sizeof chunk);
        if (got < 0) {
            *error = QStringLiteral("cannot read target file %1: %2")
                         .arg(CliQuoted(path), file.errorString());
            return false;
        }
        if (got == 0)
            break;
        if (bytes->size() + got > MaxTargetFileBytes)
            return tooLarge();
        bytes->append(chunk, got);
    }
    return true;
}

// Targets in a file are parted by commas and white space.
static bool isSeparator(QChar c)
{
    return c == QLatin1Char(',') || c == QLatin1Char(' ') ||
           (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
}

static bool addTargetFile(const QString &path, std::vector<ParsedTarget> *parsed, qint64 *total,
                          QString *error)
{
    QByteArray bytes;
    if (!readTargetFile(path, &bytes, error))
        return false;
    int lineNumber = 0;
    for (qsizetype at = 0; at < bytes.size();) {
        ++lineNumber;
        qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            end = bytes.size();
        const QByteArray raw = bytes.mid(at, end - at);
        at = end + 1;
        const auto fail = [&](const QString &why) {
            *error = QStringLiteral("%1:%2: %3")
                         .arg(TerminalText(path, 64), QString::number(lineNumber), why);
            return false;
        };
        // A NUL would end the text early for the system's lookup: nothing a technician types.
        if (raw.contains('\0'))
            return fail(QStringLiteral("a NUL byte"));
        QString line = QString::fromUtf8(raw);
        const qsizetype comment = line.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            line.truncate(comment);
        // Word by word, so a line of countless separators costs no more than the targets it
        // may hold.
        qsizetype start = -1;
        for (qsizetype i = 0; i <= line.size(); ++i) {
            if (i < line.size() && !isSeparator(line[i])) {
                if (start < 0)
                    start = i;
                continue;
            }
            if (start >= 0 && !addTarget(line.mid(start, i - start), parsed, total, error))
                return fail(*error);
            start = -1;
        }
    }
    return true;
}

TargetList ParseTargets(const QStringList &targets, const QStringList &files)
{
    TargetList list;
    std::vector<ParsedTarget> parsed;
    qint64 total = 0;
    for (const QString &target : targets) {
        if (!addTarget(target, &parsed, &total, &list.error))
            return list;
    }
    for (const QString &path : files) {
        if (!addTargetFile(path, &parsed, &total, &list.error))
            return list;
    }
    if (total == 0) {
        list.error = QStringLiteral("no targets given");
        return list;
    }
    list.hosts.reserve(total);
    for (const ParsedTarget &one : parsed) {
        if (!one.range) {
            list.hosts.append(one.host);
            continue;
        }
        for (quint64 address = one.first; address <= one.last; ++address)
            list.hosts.append(QHostAddress(quint32(address)).toString());
    }
    return list;
}

// The address as the link would compare it: an IPv4-mapped IPv6 address as IPv4.
static QString addressKey(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

QList<TargetModule> GroupByModule(const QStringList &hosts, HostResolver &resolver)
{
    // The distinct texts, each with its count, in the order first given.
    QHash<QString, int> textIndex;
    QStringList texts;
    QList<int> counts;
    for (const QString &host : hosts) {
        const QString key = host.toLower();
        const auto found = textIndex.constFind(key);
        if (found != textIndex.cend()) {
            ++counts[*found];
            continue;
        }
        textIndex.insert(key, int(texts.size()));
        texts.append(host);
        counts.append(1);
    }

    // The addresses of every text, as the window's link would find them: addresses at once,
    // names from the resolver, nothing for a number that is no address.
    QList<QList<QHostAddress>> addresses(texts.size());
    QObject context;
    QEventLoop loop;
    int pending = 0;
    for (int i = 0; i < texts.size(); ++i) {
        const HostText host = ParseHostText(texts[i]);
        if (host.kind == HostText::Kind::Address) {
            addresses[i] = {host.address};
            continue;
        }
        if (host.kind != HostText::Kind::Name)
            continue;
        const bool started =
            resolver.Lookup(host.host, &context, [&, i](const QList<QHostAddress> &answer) {
                addresses[i] = answer;
                if (--pending == 0)
                    loop.quit();
            });
        if (started)
            ++pending;
    }
    if (pending > 0)
        loop.exec();

    // Texts sharing an address are one module: a union of texts, joined through their addresses.
    std::vector<int> parent(size_t(texts.size()));
    std::iota(parent.begin(), parent.end(), 0);
    const auto root = [&parent](int i) {
        while (parent[size_t(i)] != i)
            i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        return i;
    };
    QHash<QString, int> owner;
    for (int i = 0; i < texts.size(); ++i) {
        for (const QHostAddress &address : std::as_const(addresses[i])) {
            const QString key = addressKey(address);
            const auto found = owner.constFind(key);
            if (found == owner.cend()) {
                owner.insert(key, i);
                continue;
            }
            // The module keeps the place of its first text.
            const int a = root(*found);
            const int b = root(i);
            parent[size_t(std::max(a, b))] = std::min(a, b);
        }
    }

    QList<TargetModule> modules;
    QHash<int, int> moduleOf;
    for (int i = 0; i < texts.size(); ++i) {
        const int r = root(i);
        auto found = moduleOf.constFind(r);
        if (found == moduleOf.cend()) {
            TargetModule module;
            module.host = addresses[r].isEmpty() ? texts[r] : addressKey(addresses[r].first());
            found = moduleOf.insert(r, int(modules.size()));
            modules.append(module);
        }
        TargetModule &module = modules[*found];
        module.texts.append(texts[i]);
        module.given += counts[i];
    }
    return modules;
}
