#pragma once

#include <QByteArray>
#include <QString>

// The web engine's only way to the network: a small HTTP proxy on loopback, in a thread of its
// own, through which the engine sends every connection it makes (page loads, redirects,
// sub-resources, WebSockets, whatever the page asks for). It forwards only to the address and
// port of a module page a pane shows and answers everything else "403 Forbidden" without
// connecting anywhere or looking any name up, so nothing the engine does can reach another
// host. The tool's own local pages (local data, no network) never pass through it.
namespace PaneGate {

// The engine flags that send all of the engine's traffic through the gate, loopback included,
// and keep WebRTC from sending UDP past it. Reserves the gate's loopback port the first time (the
// engine reads its flags when it starts, before any page exists); without a port, only the
// WebRTC rule.
[[nodiscard]] QByteArray EngineFlags();

// Starts forwarding on the reserved port; needs the application object. Once per process;
// later calls do nothing.
void Start();

// Lets the gate forward to `host` (as a URL carries it: lower case, IPv6 without brackets) and
// `port` for `owner` (a module page), replacing what that owner was allowed before; an empty
// host allows nothing.
void Allow(const void *owner, const QString &host, quint16 port);
void Forget(const void *owner);

// Whether some owner allows `host` and `port` (the same rule the gate applies).
[[nodiscard]] bool Allowed(const QString &host, quint16 port);

} // namespace PaneGate
