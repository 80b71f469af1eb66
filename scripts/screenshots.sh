#!/usr/bin/env bash
# Takes a picture of the main window in each language: docs/window-en.png, window-zh-cn.png and
# window-zh-tw.png. Needs an existing build (BUILD_DIR, default build/), Xvfb and ImageMagick.
# The tool is only started and photographed: nothing is scanned and no page is loaded.
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
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    xwininfo -display ":$display" -root >/dev/null 2>&1 && break
    sleep 0.1
done

# The browser pane refuses to run as root without this.
export QTWEBENGINE_DISABLE_SANDBOX=1
export DISPLAY=":$display"
export QT_QPA_PLATFORM=xcb

find_window() {
    xwininfo -display ":$display" -root -tree 2>/dev/null | awk '/ 758x546\+/ {print $1; exit}'
}

shoot() {
    local flag=$1 out=$2
    rm -rf "$work/xdg"
    mkdir -p "$work/xdg/KAVRO"
    printf '[General]\nLanguageFlag=%s\n' "$flag" >"$work/xdg/KAVRO/LinkConfig.conf"
    XDG_CONFIG_DIRS="$work/xdg" XDG_RUNTIME_DIR="$work" "$tool" >"$work/tool.log" 2>&1 &
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
    import -display ":$display" -window "$window" "$root/docs/$out"
    kill "$tool_pid"
    wait "$tool_pid" 2>/dev/null || true
    tool_pid=""
    echo "docs/$out"
}

shoot English window-en.png
shoot ChineseGB window-zh-cn.png
shoot ChineseBIG5 window-zh-tw.png
