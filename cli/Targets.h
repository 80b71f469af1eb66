#pragma once

#include <QString>
#include <QStringList>

class HostResolver;

// The targets a command runs on, expanded, in the order given, repeats included.
struct TargetList
{
    QStringList hosts;
    // Empty when every target and file was understood; otherwise why not (a usage error).
    QString error;
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// At most this many targets in all, each address of a range counted and repeats included. The
// count is taken before any range is expanded, so a larger command costs no memory.
inline constexpr int MaxTargets = 65536;
// Target files larger than this are refused before they are read.
inline constexpr qint64 MaxTargetFileBytes = 16 * 1024 * 1024;
// A host name has at most 255 octets.
inline constexpr int MaxHostOctets = 255;

// Each target is an address or host name, or a range of IPv4 addresses ("127.0.0.1-127.0.0.40",
// or "127.0.0.1-40" for the last number only), and each file holds such targets, one or more per
// line separated by spaces or commas, with "#" starting a comment. Other targets are host text,
// kept as given and read as the window reads its address field (ParseHostText).
[[nodiscard]] TargetList ParseTargets(const QStringList &targets, const QStringList &files = {});

// One module to run: the targets that reach it and the host its link opens.
struct TargetModule
{
    // The address the targets share, or the text itself when it could not be looked up (the
    // link then looks it up again and reports the failure as the window would).
    QString host;
    // The distinct target texts that reach this module, in the order given; the first names
    // the module in the report.
    QStringList texts;
    // How many targets named it, repeats included.
    int given = 0;
};

// Groups the targets by module: texts whose addresses overlap reach one module, which takes a
// single connection at a time, so each module is run once. Addresses are compared as addresses
// (an IPv4-mapped IPv6 address equals its IPv4 one); host names are looked up through
// `resolver`, all at once, and this waits for the answers. A number that the window takes for
// no address ("127.1", "0x7f.1", "127.000.0.1") is never looked up and stays apart, unresolved:
// its link ends with the window's unknown host error.
[[nodiscard]] QList<TargetModule> GroupByModule(const QStringList &hosts, HostResolver &resolver);
