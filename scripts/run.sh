#!/usr/bin/env bash
# Installs what is missing, builds, starts a simulated module on 127.0.0.1 and opens the tool
# beside it. Without a display the tool runs on a virtual one and screenshots are saved instead.
# Works as root and as a normal user (the browser pane keeps its sandbox for a normal user).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

# A normal user may run this from a checkout that is not theirs to write in.
BUILD_DIR=${BUILD_DIR:-build}
if ! { mkdir -p "$BUILD_DIR" && [ -w "$BUILD_DIR" ]; } 2>/dev/null; then
    # One build folder per checkout: a build tree serves only the sources it was made from.
    BUILD_DIR="${XDG_CACHE_HOME:-$HOME/.cache}/velqa-config/build-$(pwd -P | md5sum | cut -c1-8)"
    echo "$(pwd)/build is not writable for $(id -un): building in $BUILD_DIR instead."
fi
export BUILD_DIR
BUILD_TARGETS="velqa-config velqa-sim" scripts/build.sh

SIM=$BUILD_DIR/sim/velqa-sim
TOOL=$BUILD_DIR/app/velqa-config
pids=()
# Ended in the reverse order of their start, so that the tool goes before its display.
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null || true
    done
    rm -f "${first_try:-}"
}
trap cleanup EXIT

# A bare address opens the web page on port 80, so the simulator serves its page there when it
# can; port 80 needs root or the capability to bind low ports. Otherwise the page is on 8080 and
# the address to type carries that port: the tool still scans the module on port 5003 and the
# pane opens the page on the typed port.
# The first try is quiet (a normal user may not have port 80): its words are shown when it
# runs, or when the second try fails too.
first_try=$(mktemp)
start_sim() {
    "$SIM" --address 127.0.0.1 --port 5003 --http-port "$1" &
    sim_pid=$!
    sleep 0.5
    kill -0 "$sim_pid" 2>/dev/null
}
if start_sim 80 >"$first_try" 2>&1; then
    cat "$first_try"
    address=127.0.0.1
    web_hint="its web page (port 80) then appears in the lower pane"
elif start_sim 8080; then
    address=127.0.0.1:8080
    echo "Port 80 on 127.0.0.1 could not be had (not root, or in use): the simulated module's"
    echo "web page is on port 8080 instead."
    web_hint="the tool scans the module on port 5003, then shows the web page from port 8080"
else
    cat "$first_try" >&2
    echo "The simulated module could not start: is port 5003 on 127.0.0.1 already in use?" >&2
    exit 1
fi
pids+=("$sim_pid")

echo
echo "Simulated module running on 127.0.0.1, port 5003."
echo "In the tool, type $address in the VELQA IP field and press Scan Module;"
echo "$web_hint."
echo

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$TOOL"
    exit 0
fi

echo "This machine has no display: the tool runs on a virtual display (Xvfb) instead,"
echo "scans the simulated module there and saves screenshots."
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=("$!")
sleep 1
export DISPLAY=$display
shots=$BUILD_DIR/screenshots
mkdir -p "$shots"
"$TOOL" >"$shots/tool.log" 2>&1 &
pids+=("$!")
sleep 4
import -window root "$shots/started.png"
# The IP field has the focus: replace its text with the simulator's address and press Enter.
if command -v xdotool >/dev/null 2>&1; then
    xdotool key ctrl+a && xdotool type --delay 20 "$address" && xdotool key Return
    sleep 6
    import -window root "$shots/scanned.png"
fi
echo "Screenshots: $(ls "$shots"/*.png | tr '\n' ' ')"
echo "(the tool's messages are in $shots/tool.log)"
