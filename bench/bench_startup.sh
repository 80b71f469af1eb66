#!/usr/bin/env bash
# Runs bench_startup several times under a virtual X display (xvfb-run) and on the offscreen
# platform, each run a fresh process, and prints the time to the shown window per run with the
# median, then the last run's full figures for each platform.
# Usage: bench/bench_startup.sh [build dir] [runs per platform]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
program="$build/bench/bench_startup"
[ -x "$program" ] || { echo "no $program: build first" >&2; exit 2; }

measure() {
    local label=$1; shift
    local times=() last=""
    for _ in $(seq "$runs"); do
        last=$("$@" "$program" 2>/dev/null || true)
        times+=("$(sed -n 's/^window shown \([0-9.]*\) s.*/\1/p' <<<"$last")")
    done
    local sorted
    sorted=$(printf '%s\n' "${times[@]}" | sort -n)
    echo "$label: window shown after ${times[*]} s; median $(sed -n "$(((runs + 1) / 2))p" <<<"$sorted") s"
    echo "$last" | sed 's/^/    /'
}

if command -v xvfb-run >/dev/null 2>&1; then
    measure "Xvfb (xvfb-run -a)" env -u QT_QPA_PLATFORM xvfb-run -a
else
    echo "Xvfb: xvfb-run not installed, skipped"
fi
measure "offscreen" env QT_QPA_PLATFORM=offscreen
