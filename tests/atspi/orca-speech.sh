#!/usr/bin/env bash
# Drives the tool under Orca, the screen reader, on a virtual display and checks what Orca says:
# the address field read whole, the empty loop reply field (Shift+Tab from the address) read as
# empty, then in each language a scan, Set Data and a failed scan (a module that never answers),
# each outcome spoken while the focus stays in the address field, and the change of language. Two simulated modules listen on loopback addresses of this run's own;
# the address field is set to one of them before anything is scanned. Prints Orca's spoken lines.
# Usage: orca-speech.sh [BUILD_DIR] [LANGUAGE...]   (default: build English ChineseGB; also
# ChineseBIG5). Exits 77 (skipped) when orca, Xvfb, xdotool or the AT-SPI bus is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=$(cd "${1:-build}" && pwd)
shift || true
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(English ChineseGB)
launcher=/usr/libexec/at-spi-bus-launcher
for tool in orca Xvfb xdotool dbus-run-session dbus-send "$launcher"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is missing"; exit 77; }
done
[ -x "$build/app/velqa-config" ] && [ -x "$build/sim/velqa-sim" ] ||
    { echo "No velqa-config or velqa-sim in $build: build them first" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "${KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
for _ in $(seq 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done
# Orca's settings, the tool's language and journal stay in this run's folder.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_CONFIG_DIRS="$work/machine" VELQA_JOURNAL="sqlite:$work/journal.sqlite"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_DIRS/KAVRO"
printf '[General]\nLanguageFlag=English\n' >"$XDG_CONFIG_DIRS/KAVRO/LinkConfig.conf"

octet() { echo $((RANDOM % 250 + 2)); }
good=127.$((RANDOM % 100 + 20)).$(octet).$(octet)
silent=127.$((RANDOM % 100 + 120)).$(octet).$(octet)
"$build/sim/velqa-sim" --address "$good" --port 5003 --no-http >"$work/good.log" 2>&1 &
pids+=($!)
"$build/sim/velqa-sim" --address "$silent" --port 5003 --no-http --silent >"$work/silent.log" 2>&1 &
pids+=($!)

# Orca logs each line it would say, speech server or not. No speech server is started, by Orca or
# by the browser pane: there is no sound device to speak with, and a server that starts and fails
# while Orca connects to it holds Orca up.
export SPEECHD_CMD=/bin/false
export work good silent build root
export LANGUAGES="${languages[*]}"
dbus-run-session -- bash -euo pipefail -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
            org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
        sleep 0.1
    done
    log=$work/orca.log
    touch "$log"
    # Waits until Orca has said PATTERN more often than COUNT times (default 0).
    heard() {
        local pattern=$1 count=${2:-0}
        for _ in $(seq 300); do
            [ "$(grep -c -F -- "SPEECH OUTPUT: '\''$pattern" "$log")" -gt "$count" ] && return 0
            sleep 0.1
        done
        echo "FAIL: Orca did not say \"$pattern\"" >&2
        return 1
    }
    said() { grep -c -F -- "SPEECH OUTPUT: '\''$1" "$log" || true; }
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$build/app/velqa-config" >"$work/tool.log" 2>&1 &
    tool=$!
    window=""
    for _ in $(seq 100); do
        window=$(xdotool search --name "KAVRO VELQA" 2>/dev/null | tail -1) && [ -n "$window" ] && break
        sleep 0.1
    done
    # Orca writes its log through a buffer that fills slowly; written to a terminal, the log is
    # flushed line by line, so each line can be waited for.
    script -q -c "orca --debug-file /dev/tty" /dev/null >"$log" 2>/dev/null &
    orca=$!
    trap "kill $orca $tool 2>/dev/null || true" EXIT
    heard "Screen reader on."
    # The browser pane makes Qt create the window anew once: focus the one that is there now.
    sleep 1
    xdotool windowfocus "$(xdotool search --name "KAVRO VELQA" | tail -1)"
    heard "192.168.1.101."
    xdotool key shift+Tab
    heard "Loop reply read only text."
    heard "empty."
    xdotool key Tab
    # Types an address into the address field, then leaves it and comes back: nothing is scanned
    # until Orca has read the field back holding that address, since it starts with a real
    # module'\''s factory address that must never be scanned.
    address() {
        local before
        before=$(said "$1 selected.")
        xdotool key ctrl+a
        xdotool type --delay 15 "$1"
        sleep 0.5
        xdotool key shift+Tab
        sleep 0.3
        xdotool key Tab
        heard "$1 selected." "$before" || { echo "FAIL: the address field does not hold $1" >&2; exit 1; }
    }
    status=0
    for language in $LANGUAGES; do
        case $language in
        English) key=ctrl+1 chosen="Language: English" setData="Set Data Ok" ;;
        ChineseGB) key=ctrl+2 chosen="语言：简体中文" setData="设定资料完成" ;;
        ChineseBIG5) key=ctrl+3 chosen="語言：繁體中文" setData="設定資料完成" ;;
        *) echo "unknown language $language" >&2; exit 2 ;;
        esac
        xdotool key "$key"
        [ "$language" = English ] || heard "notification $chosen" || status=1
        address "$good"
        ok=$(said "notification Ok.")
        xdotool key F5
        heard "notification Ok." "$ok" || status=1
        xdotool key F6
        heard "notification $setData" || status=1
        address "$silent"
        failed=$(said "notification Error!")
        xdotool key F5
        heard "notification Error!" "$failed" || status=1
    done
    exit $status
' || status=$?
status=${status:-0}

# What Orca said, without the echo of each typed key.
grep -o "SPEECH OUTPUT: .*" "$work/orca.log" | sed -E -e "s/\r$//" -e "s/^SPEECH OUTPUT: '//" -e "s/' ?\[?\{'established.*$//" |
    grep -v -x -E '.{0,2} |tab |dot |colon |(left |right )?(control|shift) |Selection deleted\.|entire document selected|selected|Screen reader (on|off)\.'
exit "$status"
