#!/usr/bin/env bash
# Fleets of simulated modules scanned by velqa-cli: for each fleet size, a scan with the default
# --jobs and one with --jobs 1024, each with its wall time, processor time and maximum RSS, the
# simulator's processor time in the same run, how many modules came back complete and correct,
# and the ratio to the floor (bench_floor: the same connects and ten exchanges per module, made by
# the plainest epoll client, with no fixed wait). Then discover over the largest fleet beside
# `nmap -sT` on the same addresses (when nmap is installed), and the starved run: 1,000 modules
# with --jobs 1024 while a CPU hog keeps every core busy, with its count of modules wrongly
# reported failed (every simulated module is healthy, so every failure is false).
#
# Usage: bench/bench_fleet.sh [--counts "250 1000 10000"] [--repeat N] [--no-starved]
#                             [--no-discover]
# BUILD_DIR selects the build (default build); CLI, SIM and FLOOR name other programs to measure.
# Other programs on the machine change the figures: the script prints the load average first.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
CLI=${CLI:-$BUILD_DIR/cli/velqa-cli}
SIM=${SIM:-$BUILD_DIR/sim/velqa-sim}
FLOOR=${FLOOR:-$BUILD_DIR/bench/bench_floor}
counts="250 1000 10000"
repeat=1
starved=1
discover=1
while [ $# -gt 0 ]; do
    case "$1" in
        --counts) counts=$2; shift 2 ;;
        --repeat) repeat=$2; shift 2 ;;
        --no-starved) starved=; shift ;;
        --no-discover) discover=; shift ;;
        *) echo "usage: $0 [--counts \"250 1000 10000\"] [--repeat N] [--no-starved] [--no-discover]" >&2
           exit 2 ;;
    esac
done
for program in "$CLI" "$SIM" "$FLOOR"; do
    [ -x "$program" ] || { echo "missing $program: build first (scripts/build.sh)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }

work=$(mktemp -d)
sim_pid=
hog_pids=()
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    for pid in "${hog_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
# The engine alone by default; VELQA_JOURNAL=sqlite:FILE measures it with the journal on.
export VELQA_JOURNAL=${VELQA_JOURNAL:-off}
ulimit -n "$(ulimit -Hn)"
ticks_per_s=$(getconf CLK_TCK)
default_jobs=$("$CLI" scan --help 2>/dev/null | tr '\n' ' ' | sed -n 's/.*--jobs <N>[^(]*(default \([0-9]*\).*/\1/p')
default_jobs=${default_jobs:-128}

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); velqa-cli default --jobs $default_jobs; journal ${VELQA_JOURNAL%%:*}"

last_of() { python3 -c "import ipaddress; print(ipaddress.ip_address('127.0.0.1') + $1 - 1)"; }

start_sim() {
    local count=$1
    "$SIM" --count "$count" --address 127.0.0.1 --port 0 >"$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 600); do
        grep -q "modules on" "$work/sim.out" 2>/dev/null && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    port=$(sed -n 's/.*, port \([0-9]*\)$/\1/p' "$work/sim.out")
    [ -n "$port" ] || { cat "$work/sim.out" >&2; exit 1; }
}
stop_sim() { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; sim_pid=; }
sim_ticks() { awk '{print $14 + $15}' "/proc/$sim_pid/stat"; }

# Counts the modules reported complete and correct: success, the serial and slots the fleet gives
# that address, the simulator's version.
check_json() {
    python3 - "$1" <<'PY'
import ipaddress, json, sys
rows = json.load(open(sys.argv[1]))
good = 0
for r in rows:
    n = int(ipaddress.ip_address(r["address"])) & 0xFFFFFF
    serial = "VQ%06d" % (n % 1000000)
    slots = [s["data"] for s in r.get("slots", [])]
    want = [("Slot %d of %s" % (i, serial)).ljust(32) for i in range(1, 9)]
    if r["outcome"] == "success" and r["serial"] == serial and r["version"] == "03.21-01" and slots == want:
        good += 1
print(good, len(rows))
PY
}

# One scan of the whole fleet; prints its line and sets last_wall.
scan() {
    local label=$1 count=$2; shift 2
    local before after
    before=$(sim_ticks)
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$CLI" scan "127.0.0.1-$(last_of "$count")" \
        --port "$port" --no-progress --json "$@" >"$work/out.json" 2>"$work/err" || true
    after=$(sim_ticks)
    # A run that exits non-zero adds a line ahead of the figures.
    read -r wall user sys rss < <(tail -n 1 "$work/time")
    read -r good total < <(check_json "$work/out.json" 2>/dev/null || echo "0 0")
    local cpu sim_cpu
    cpu=$(echo "$user + $sys" | bc)
    sim_cpu=$(echo "scale=2; ($after - $before) / $ticks_per_s" | bc)
    printf '%-28s wall %6.2f s  cpu %6.2f s (%.3f ms/module)  max RSS %6.1f MiB  sim cpu %6.2f s (%.3f ms/module)  correct %d of %d\n' \
        "$label" "$wall" "$cpu" "$(echo "scale=4; $cpu * 1000 / $count" | bc)" \
        "$(echo "scale=1; $rss / 1024" | bc)" "$sim_cpu" "$(echo "scale=4; $sim_cpu * 1000 / $count" | bc)" \
        "$good" "$count"
    [ "$total" = "$count" ] || sed -n '1,3p' "$work/err" | sed 's/^/    /'
    last_wall=$wall
    last_good=$good
}

floor() {
    local count=$1 jobs=$2 before after
    before=$(sim_ticks)
    "$FLOOR" --port "$port" --count "$count" --jobs "$jobs" >"$work/floor" || true
    after=$(sim_ticks)
    floor_wall=$(sed -n 's/.*wall \([0-9.]*\) s.*/\1/p' "$work/floor")
    printf '%-28s %s  sim cpu %.2f s\n' "floor, $jobs at once" "$(sed 's/^floor: //' "$work/floor")" \
        "$(echo "scale=2; ($after - $before) / $ticks_per_s" | bc)"
}

for count in $counts; do
    start_sim "$count"
    echo "--- $count modules on 127.0.0.1 to $(last_of "$count"), port $port"
    for jobs in $(printf '%s\n' "$default_jobs" 1024 | awk '!seen[$0]++'); do
        floor "$count" "$jobs"
        for r in $(seq "$repeat"); do
            label="scan, --jobs $jobs"
            [ "$jobs" = "$default_jobs" ] && label="scan, default ($jobs jobs)"
            scan "$label" "$count" --jobs "$jobs"
            printf '    ratio to the floor: %.1f x\n' "$(echo "scale=2; $last_wall / $floor_wall" | bc)"
        done
    done
    if [ -n "$discover" ] && [ "$count" = "${counts##* }" ]; then
        before=$(sim_ticks)
        /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$CLI" discover "127.0.0.1-$(last_of "$count")" \
            --port "$port" --no-progress --json >"$work/out.json" 2>"$work/err" || true
        read -r wall user sys rss < <(tail -n 1 "$work/time")
        found=$(python3 -c "import json,sys; print(sum(1 for r in json.load(open(sys.argv[1])) if r.get('serial')))" "$work/out.json" 2>/dev/null || echo 0)
        printf '%-28s wall %6.2f s  cpu %6.2f s  max RSS %6.1f MiB  found %d of %d (serial and version read)\n' \
            "discover" "$wall" "$(echo "$user + $sys" | bc)" "$(echo "scale=1; $rss / 1024" | bc)" "$found" "$count"
        discover_wall=$wall
        if command -v nmap >/dev/null 2>&1; then
            python3 -c "import ipaddress; [print(ipaddress.ip_address('127.0.0.1') + i) for i in range($count)]" >"$work/targets"
            # -n: no name lookups; -Pn: every address is taken as up, as velqa-cli does.
            /usr/bin/time -f "%e" -o "$work/time" nmap -sT -Pn -n -p "$port" -iL "$work/targets" -oG "$work/nmap" >/dev/null 2>&1 || true
            nmap_wall=$(tail -n 1 "$work/time")
            open=$(grep -c "/open/" "$work/nmap" || true)
            printf '%-28s wall %6.2f s  open ports %d of %d; discover takes %.1f x its time (goal: at most 3 x)\n' \
                "nmap -sT -p $port" "$nmap_wall" "$open" "$count" "$(echo "scale=2; $discover_wall / $nmap_wall" | bc)"
        else
            echo "nmap is not installed: no comparison (apt-get install nmap)"
        fi
    fi
    stop_sim
done

if [ -n "$starved" ]; then
    start_sim 1000
    echo "--- starved: 1000 modules, --jobs 1024, a CPU hog on each of the $(nproc) cores"
    for _ in $(seq "$(nproc)"); do
        sh -c 'while :; do :; done' &
        hog_pids+=($!)
    done
    for r in $(seq "$repeat"); do
        scan "scan under the hog" 1000 --jobs 1024
        echo "    modules wrongly failed: $((1000 - last_good))"
    done
    for pid in "${hog_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    hog_pids=()
    stop_sim
fi
