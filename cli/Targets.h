#pragma once

#include <QString>
#include <QStringList>

// The modules a command runs on, in the order given, each once.
struct TargetList
{
    QStringList hosts;
    // Empty when every target and file was understood; otherwise why not (a usage error).
    QString error;
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Commands larger than this are refused as a usage error rather than started.
inline constexpr int MaxTargets = 65536;

// Each target is an address or host name, a range of IPv4 addresses ("127.0.0.1-127.0.0.40",
// or "127.0.0.1-40" for the last number only), and each file holds such targets, one or more per
// line separated by spaces or commas, with "#" starting a comment.
[[nodiscard]] TargetList ParseTargets(const QStringList &targets, const QStringList &files = {});

// Appends the hosts of one target; false with `error` set when the target is malformed.
bool ExpandTarget(const QString &target, QStringList *hosts, QString *error);
