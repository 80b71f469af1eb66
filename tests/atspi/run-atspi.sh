#!/usr/bin/env bash
# Runs one window test on a real accessibility bus: a virtual display, a private D-Bus session,
# the AT-SPI bus and registry, and Qt's AT-SPI bridge switched on. The test starts
# check_window.py, which reads the window as a screen reader does.
# Usage: run-atspi.sh TEST-PROGRAM TEST-FUNCTION
# Exits 77 (skipped) when the machine lacks the pieces (scripts/deps.sh installs them).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1
function=$2

launcher=/usr/libexec/at-spi-bus-launcher
for tool in Xvfb dbus-run-session dbus-send xwininfo; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is missing"; exit 77; }
done
[ -x "$launcher" ] || { echo "SKIP: $launcher is missing (at-spi2-core)"; exit 77; }
/usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
    { echo "SKIP: python3-gi or gir1.2-atspi-2.0 is missing"; exit 77; }

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number of its own, so that parallel runs and other virtual displays never meet.
display=$((RANDOM % 400 + 500))
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    xwininfo -display ":$display" -root >/dev/null 2>&1 && break
    sleep 0.1
done

export DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
# Under AddressSanitizer: the real display's GL driver and the accessibility bridge are unloaded
# before the leak check, so their lasting allocations show with no library name to suppress
# them by. The offscreen window tests still check the tool's own code for leaks.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
fi
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 VELQA_ATSPI_CHECKER="$here/check_window.py"
# The bus launcher ends with the session; the test's exit status is the session's.
dbus-run-session -- bash -c '
    "$0" --launch-immediately >/dev/null 2>&1 &
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
            org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
        sleep 0.1
    done
    "$1" "$2"
' "$launcher" "$program" "$function" 2> >(grep -v -e "Failed to set fd limit" -e "^dbus-daemon" >&2)
