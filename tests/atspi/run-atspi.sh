#!/usr/bin/env bash
# Runs one window test on a real accessibility bus: a virtual display, a private D-Bus session,
# the AT-SPI bus and Qt's AT-SPI bridge switched on. The test starts check_window.py.
# Usage: run-atspi.sh TEST-PROGRAM TEST-FUNCTION
# Exits 77 (skipped) when the machine lacks the pieces (scripts/deps.sh installs them).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
launcher=/usr/libexec/at-spi-bus-launcher
for tool in Xvfb dbus-run-session dbus-send "$launcher"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is missing"; exit 77; }
done
/usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
    { echo "SKIP: python3-gi or gir1.2-atspi-2.0 is missing"; exit 77; }

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
# Xvfb picks a free display of its own and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
# Under AddressSanitizer the GL driver and the bridge are unloaded before the leak check, leaving
# allocations with no library name to suppress them by; the offscreen tests check for leaks.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 VELQA_ATSPI_CHECKER="$here/check_window.py"
dbus-run-session -- bash -c '
    "$0" --launch-immediately >/dev/null 2>&1 &
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
            org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
        sleep 0.1
    done
    "$1" "$2"
' "$launcher" "$1" "$2" 2> >(grep -v -e "Failed to set fd limit" -e "^dbus-daemon" >&2)
