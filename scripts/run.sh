#!/usr/bin/env bash
# Installs what is missing, builds, starts a simulated module on 127.0.0.1 and opens the tool
# beside it. Without a display the tool runs on a virtual one and screenshots are saved instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_TARGETS="velqa-config velqa-sim" scripts/build.sh

SIM=build/sim/velqa-sim
TOOL=build/app/velqa-config
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

# The tool opens a bare address on port 80, so the simulator serves its web page there when it
# can; port 80 needs root or the capability to bind low ports.
start_sim() {
    "$SIM" --address 127.0.0.1 --port 5003 --http-port "$1" &
    sim_pid=$!
    sleep 0.5
    kill -0 "$sim_pid" 2>/dev/null
}
if start_sim 80; then
    web_hint="the module's web page appears in the lower pane after the scan"
elif start_sim 8080; then
    echo "Port 80 on 127.0.0.1 could not be had (not root, or in use): the web page is on"
    echo "http://127.0.0.1:8080/ instead; type 127.0.0.1:8080 and press Refresh Web to see it."
    web_hint="the web page is on port 8080 (see above)"
else
    echo "The simulated module could not start: is port 5003 on 127.0.0.1 already in use?" >&2
    exit 1
fi
pids+=("$sim_pid")

echo
echo "Simulated module running on 127.0.0.1, port 5003."
echo "In the tool, type 127.0.0.1 in the VELQA IP field and press Scan Module;"
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
mkdir -p build/screenshots
"$TOOL" >build/screenshots/tool.log 2>&1 &
pids+=("$!")
sleep 4
import -window root build/screenshots/started.png
# The IP field has the focus: replace its text with the simulator's address and press Enter.
if command -v xdotool >/dev/null 2>&1; then
    xdotool key ctrl+a && xdotool type --delay 20 127.0.0.1 && xdotool key Return
    sleep 5
    import -window root build/screenshots/scanned.png
fi
echo "Screenshots: $(ls build/screenshots/*.png | tr '\n' ' ')"
echo "(the tool's messages are in build/screenshots/tool.log)"
