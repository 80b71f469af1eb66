#!/usr/bin/env bash
# Makes docs/report-en.png and docs/report-zh-tw.png: a journal written by velqa-cli against
# simulated modules on loopback addresses of their own (good ones, one without a card, one that
# never answers, one that resets the link, an address where nothing listens), reported by
# velqa-cli report and drawn by the tool's own browser engine (build/bench/report_picture).
# Needs an existing build (BUILD_DIR, default build/) with velqa-sim, velqa-cli and
# report_picture.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
for program in sim/velqa-sim cli/velqa-cli bench/report_picture; do
    [ -x "$build/$program" ] || { echo "No $build/$program: build it first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

base=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1))
sim() {
    "$build/sim/velqa-sim" --address "$1" --port 5003 --no-http "${@:2}" >/dev/null 2>&1 &
    pids+=($!)
}
sim "$base.1" --count 12
sim "$base.20" --serial VQ240820 --version-text 03.20-02 --no-card
sim "$base.21" --serial VQ240821 --version-text 03.20-02
sim "$base.22" --serial VQ240822 --version-text 03.19-05 --reset-after 4
sim "$base.23" --silent
sleep 0.5

cli() {
    "$build/cli/velqa-cli" "$@" --journal "sqlite:$work/journal.sqlite" --no-progress \
        --port 5003 >/dev/null 2>&1 || true
}
# The silent module and the empty address take their full waits: they run once a round.
for round in 1 2 3; do
    cli scan "$base.1-12" "$base.20-22"
    cli set-test-data "$base.1-12" "$base.21"
    cli reader-test "$base.1-12" "$base.20-22"
    cli loop-test "$base.1-12" "$base.20-22"
    cli clear "$base.1-6"
    cli scan "$base.23" "$base.40"
done

since=$(date -d '6 days ago' +%F)
for language in English:en ChineseBIG5:zh-tw; do
    "$build/cli/velqa-cli" report --journal "sqlite:$work/journal.sqlite" --since "$since" \
        --language "${language%%:*}" --html "$work/report.html"
    QT_QPA_PLATFORM=offscreen "$build/bench/report_picture" "$work/report.html" \
        "docs/report-${language##*:}.png" 1000 >/dev/null 2>&1
    echo "docs/report-${language##*:}.png"
done
