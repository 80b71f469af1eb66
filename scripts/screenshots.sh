#!/usr/bin/env bash
# Takes pictures of the main window in each language: as it starts (docs/window-en.png,
# window-zh-cn.png, window-zh-tw.png) and after a scan of a simulated module on a loopback address
# of its own (docs/scan-en.png, scan-zh-cn.png, scan-zh-tw.png). Needs an existing build
# (BUILD_DIR, default build/), Xvfb, xdotool and ImageMagick; the web page after the scan needs
# port 80 (root). With qt6ct installed it also pictures the window under that desktop theme
# (docs/theme-qt6ct.png) and under its dark colour scheme with the focus on Scan Module
# (docs/dark-palette.png). THEMES_ONLY=1 takes only these two. The scan is also pictured at the
# scale factors 1.5 and 2 (docs/scan-scale-1.5.png, scan-scale-2.png); SCALES_ONLY=1 takes only
# these.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tool="$root/${BUILD_DIR:-build}/app/velqa-config"
[ -x "$tool" ] || { echo "No $tool: build first (scripts/build.sh)" >&2; exit 1; }
mkdir -p "$root/docs"

display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done

work=$(mktemp -d)
xvfb_pid=""
tool_pid=""
cleanup() {
    [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb ":$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    xwininfo -display ":$display" -root >/dev/null 2>&1 && break
    sleep 0.1
done

# The tool turns the browser pane's sandbox off itself when it runs as root, and only then.
export DISPLAY=":$display"
export QT_QPA_PLATFORM=xcb

# The window's size on the screen: 758 x 546 at scale 1.
window_size=758x546
find_window() {
    xwininfo -display ":$display" -root -tree 2>/dev/null | awk "/ $window_size\\+/ {print \$1; exit}"
}

sim_pid=""
sim_address=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 2))
start_sim() {
    "$root/${BUILD_DIR:-build}/sim/velqa-sim" --address "$sim_address" --port 5003 \
        --http-port 80 >"$work/sim.log" 2>&1 &
    sim_pid=$!
    sleep 0.5
}

# Extra environment for the tool (a platform theme) and keys to press before the picture.
extra_env=()
keys_before=()
shoot() {
    local flag=$1 out=$2 scan_out=${3:-}
    rm -rf "$work/xdg"
    mkdir -p "$work/xdg/KAVRO"
    printf '[General]\nLanguageFlag=%s\n' "$flag" >"$work/xdg/KAVRO/LinkConfig.conf"
    env "${extra_env[@]}" XDG_CONFIG_DIRS="$work/xdg" XDG_RUNTIME_DIR="$work" "$tool" \
        >"$work/tool.log" 2>&1 &
    tool_pid=$!
    local window=""
    for _ in $(seq 100); do
        window=$(find_window)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { echo "The window did not appear" >&2; cat "$work/tool.log" >&2; exit 1; }
    # The browser pane makes Qt recreate the top-level window once, so look for it again.
    sleep 3
    window=$(find_window)
    # Without a window manager the window is drawn inactive, without focus frames, until it is
    # given the input focus.
    [ ${#keys_before[@]} -gt 0 ] && xdotool windowfocus "$window" && sleep 0.5
    for key in "${keys_before[@]}"; do
        xdotool key "$key"
        sleep 0.2
    done
    # "-": no picture of the window as it starts.
    if [ "$out" != - ]; then
        import -display ":$display" -window "$window" "$root/docs/$out"
        echo "docs/$out"
    fi
    if [ -n "$scan_out" ]; then
        # The IP field has the focus: type the simulator's address and press Enter to scan.
        xdotool key ctrl+a
        xdotool type --delay 10 "$sim_address"
        xdotool key Return
        sleep 4
        import -display ":$display" -window "$window" "$root/docs/$scan_out"
        echo "docs/$scan_out"
    fi
    kill "$tool_pid"
    wait "$tool_pid" 2>/dev/null || true
    tool_pid=""
}

start_sim
if [ -z "${THEMES_ONLY:-}" ] && [ -z "${SCALES_ONLY:-}" ]; then
    shoot English window-en.png scan-en.png
    shoot ChineseGB window-zh-cn.png scan-zh-cn.png
    shoot ChineseBIG5 window-zh-tw.png scan-zh-tw.png
fi

if [ -z "${THEMES_ONLY:-}" ]; then
    for scale in 1.5 2; do
        extra_env=(QT_SCALE_FACTOR=$scale)
        window_size=$(awk -v s="$scale" 'BEGIN { printf "%dx%d", 758 * s, 546 * s }')
        shoot English - "scan-scale-$scale.png"
    done
    extra_env=()
    window_size=758x546
fi

if [ -z "${SCALES_ONLY:-}" ] && [ -f /usr/lib/x86_64-linux-gnu/qt6/plugins/platformthemes/libqt6ct.so ]; then
    mkdir -p "$work/home/qt6ct"
    extra_env=(QT_QPA_PLATFORMTHEME=qt6ct XDG_CONFIG_HOME="$work/home")
    shoot English theme-qt6ct.png
    cat >"$work/home/qt6ct/qt6ct.conf" <<'CONF'
[Appearance]
color_scheme_path=/usr/share/qt6ct/colors/darker.conf
custom_palette=true
style=Fusion
CONF
    # Back from the address field past the browser pane, the loop page's field and the tabs.
    keys_before=(shift+Tab shift+Tab shift+Tab shift+Tab)
    shoot English dark-palette.png
fi
