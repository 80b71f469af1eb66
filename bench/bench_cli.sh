#!/usr/bin/env bash
# Scans a fleet of simulated modules on 127.0.0.1.. with velqa-cli, all at once and then one
# after another, and prints wall time, CPU time (user + sys) and maximum RSS of each run.
#
# Usage: bench/bench_cli.sh [--count N] [--jobs N] [--sample N]
#   --count N   modules in the fleet (default 250, on 127.0.0.1 to 127.0.0.N)
#   --jobs N    parallel modules for the first run (default: velqa-cli's own default)
#   --sample N  time only N scans one after another and extrapolate to the whole fleet
#               (the full sequential run takes about N x 0.7 s)
# BUILD_DIR selects the build (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
count=250
jobs=
sample=
while [ $# -gt 0 ]; do
    case "$1" in
        --count) count=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --sample) sample=$2; shift 2 ;;
        *) echo "usage: $0 [--count N] [--jobs N] [--sample N]" >&2; exit 2 ;;
    esac
done
cli=$BUILD_DIR/cli/velqa-cli
sim=$BUILD_DIR/sim/velqa-sim
for program in "$cli" "$sim"; do
    [ -x "$program" ] || { echo "missing $program: build first (scripts/build.sh)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$sim" --count "$count" --address 127.0.0.1 --port 0 >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q "modules on" "$work/sim.out" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/.*, port \([0-9]*\)$/\1/p' "$work/sim.out")
[ -n "$port" ] || { cat "$work/sim.out" >&2; exit 1; }
last=127.0.0.$count
[ "$count" -gt 255 ] && last=$(python3 -c "import ipaddress; print(ipaddress.ip_address('127.0.0.1') + $count - 1)")
echo "fleet: $count simulated modules on 127.0.0.1 to $last, port $port (velqa-sim pid $sim_pid)"

sim_ticks() { awk '{print $14 + $15}' "/proc/$sim_pid/stat"; }
ticks_per_s=$(getconf CLK_TCK)

# Runs velqa-cli scan on a range; prints one line of figures.
run() {
    local label=$1 range=$2; shift 2
    local before after
    before=$(sim_ticks)
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$cli" scan "$range" --port "$port" \
        --no-progress "$@" >"$work/out" 2>"$work/err" || true
    after=$(sim_ticks)
    read -r wall user sys rss <"$work/time"
    local summary
    summary=$(tail -n 1 "$work/out")
    printf '%-34s wall %7.2f s  cpu %5.2f s (user %.2f, sys %.2f)  max RSS %6.1f MiB  sim cpu %.2f s\n' \
        "$label" "$wall" "$(echo "$user + $sys" | bc)" "$user" "$sys" "$(echo "scale=1; $rss / 1024" | bc)" \
        "$(echo "scale=2; ($after - $before) / $ticks_per_s" | bc)"
    echo "    $summary"
    last_wall=$wall
}

jobs_args=()
[ -n "$jobs" ] && jobs_args=(--jobs "$jobs")
run "all at once (${jobs:-default} jobs)" "127.0.0.1-$last" "${jobs_args[@]}"
parallel_wall=$last_wall

if [ -n "$sample" ]; then
    sample_last=127.0.0.$sample
    run "one after another, $sample sampled" "127.0.0.1-$sample_last" --jobs 1
    estimate=$(echo "scale=2; $last_wall * $count / $sample" | bc)
    echo "one after another, all $count: about $estimate s (extrapolated from $sample, not measured)"
else
    run "one after another (--jobs 1)" "127.0.0.1-$last" --jobs 1
    estimate=$last_wall
fi
echo "speed-up: $(echo "scale=1; $estimate / $parallel_wall" | bc) x; goal: all $count in under 5 s"
