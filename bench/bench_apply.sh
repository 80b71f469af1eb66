#!/usr/bin/env bash
# Provisioning a fleet of simulated modules: exports it, then per round scans it, applies a plan
# that changes all eight slots of every module, and applies that plan again (nothing left to
# write), each timed (wall, CPU of velqa-cli and of the simulator, maximum RSS); prints every
# run and the ratios apply / scan and second apply / scan, medians over the rounds.
#
# Usage: bench/bench_apply.sh [--count N] [--rounds N] [--targets]
#   --count N   modules in the fleet (default 250, on 127.0.0.1 on)
#   --rounds N  rounds (default 3)
#   --targets   also apply with the fleet's range as targets (serial numbers matched among them)
# BUILD_DIR selects the build (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
count=250
rounds=3
targets=
while [ $# -gt 0 ]; do
    case "$1" in
        --count) count=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        --targets) targets=1; shift ;;
        *) echo "usage: $0 [--count N] [--rounds N] [--targets]" >&2; exit 2 ;;
    esac
done
cli=$BUILD_DIR/cli/velqa-cli
sim=$BUILD_DIR/sim/velqa-sim
for program in "$cli" "$sim"; do
    [ -x "$program" ] || { echo "missing $program: build first (scripts/build.sh)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }

work=$(mktemp -d)
export VELQA_JOURNAL=sqlite:$work/journal.sqlite
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
last=$(python3 -c "import ipaddress; print(ipaddress.ip_address('127.0.0.1') + $count - 1)")
range=127.0.0.1-$last
echo "fleet: $count simulated modules on 127.0.0.1 to $last, port $port; load: $(cut -d' ' -f1-3 /proc/loadavg)"

"$cli" export "$range" --port "$port" --no-progress >"$work/fleet.csv"

# A plan from the export with every slot of every module changed, different in each round.
make_plan() {
    python3 - "$work/fleet.csv" "$1" >"$work/plan.csv" <<'PY'
import csv, sys
rows = list(csv.reader(open(sys.argv[1], encoding="utf-8-sig", newline="")))
out = csv.writer(sys.stdout, lineterminator="\r\n")
out.writerow(rows[0])
for row in rows[1:]:
    out.writerow(row[:3] + ["R%s S%d %s" % (sys.argv[2], n, row[1]) for n in range(1, 9)])
PY
}

sim_ticks() { awk '{print $14 + $15}' "/proc/$sim_pid/stat"; }
ticks_per_s=$(getconf CLK_TCK)

# Runs velqa-cli; records "wall cpu sim_cpu rss" and prints a line.
run() {
    local label=$1; shift
    local before after code=0
    before=$(sim_ticks)
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$cli" "$@" --port "$port" --no-progress \
        >"$work/out" 2>"$work/err" || code=$?
    after=$(sim_ticks)
    read -r wall user sys rss <"$work/time"
    local cpu sim_cpu
    cpu=$(echo "$user + $sys" | bc)
    sim_cpu=$(echo "scale=2; ($after - $before) / $ticks_per_s" | bc)
    printf '%-26s wall %6.2f s  cli cpu %5.2f s  sim cpu %5.2f s  rss %4d MB  exit %d  %s\n' \
        "$label" "$wall" "$cpu" "$sim_cpu" $((rss / 1024)) "$code" "$(tail -n 1 "$work/out")"
    echo "$wall" >"$work/last"
}

declare -a scans applies agains
for round in $(seq "$rounds"); do
    make_plan "$round"
    run "round $round: scan" scan "$range"
    scans+=("$(cat "$work/last")")
    run "round $round: apply" apply "$work/plan.csv"
    applies+=("$(cat "$work/last")")
    run "round $round: apply again" apply "$work/plan.csv"
    agains+=("$(cat "$work/last")")
    if [ -n "$targets" ]; then
        make_plan "$round-t"
        run "round $round: apply, targets" apply "$work/plan.csv" "$range"
        run "round $round: again, targets" apply "$work/plan.csv" "$range"
    fi
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
scan=$(median "${scans[@]}")
apply=$(median "${applies[@]}")
again=$(median "${agains[@]}")
echo "median of $rounds: scan $scan s, apply (8 slots each) $apply s, apply again $again s"
echo "apply / scan: $(echo "scale=2; $apply / $scan" | bc) (goal: under 3)"
echo "apply again / scan: $(echo "scale=2; $again / $scan" | bc) (goal: at most 1)"
