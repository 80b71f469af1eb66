#!/usr/bin/env bash
# Scans a fleet of simulated modules on 127.0.0.1.. with velqa-cli, all at once and then one
# after another, and prints wall time, CPU time (user + sys) and maximum RSS of each run; then
# the same fleet scanned with the journal on (SQLite; PostgreSQL too when its server programs
# are installed) and off, runs alternating, with the difference in per cent.
#
# Usage: bench/bench_cli.sh [--count N] [--jobs N] [--sample N] [--rounds N] [--journal-only]
#   --count N   modules in the fleet (default 250, on 127.0.0.1 to 127.0.0.N)
#   --jobs N    parallel modules for the first run (default: velqa-cli's own default)
#   --sample N  time only N scans one after another and extrapolate to the whole fleet
#               (the full sequential run takes about N x 0.1 s)
#   --rounds N  rounds of the journal comparison, each one run per store (default 5)
#   --journal-only  only the journal comparison
# BUILD_DIR selects the build (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
count=250
jobs=
sample=
rounds=5
journal_only=
while [ $# -gt 0 ]; do
    case "$1" in
        --count) count=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --sample) sample=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        --journal-only) journal_only=1; shift ;;
        *) echo "usage: $0 [--count N] [--jobs N] [--sample N] [--rounds N] [--journal-only]" >&2; exit 2 ;;
    esac
done
cli=$BUILD_DIR/cli/velqa-cli
sim=$BUILD_DIR/sim/velqa-sim
for program in "$cli" "$sim"; do
    [ -x "$program" ] || { echo "missing $program: build first (scripts/build.sh)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }

work=$(mktemp -d)
# The runs keep their journal here, never in the user's data folder.
export VELQA_JOURNAL=sqlite:$work/journal.sqlite
sim_pid=
pg_dir=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    if [ -n "$pg_dir" ]; then pg_run pg_ctl -D "$pg_dir/data" -m fast -w stop >/dev/null 2>&1 || true; fi
    rm -rf "$work" ${pg_dir:+"$pg_dir"}
}
# The PostgreSQL server refuses to run as root: as root, its programs run as the postgres user.
pg_run() {
    local tool=$1; shift
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$pg_bin/$tool" "$@"; else "$pg_bin/$tool" "$@"; fi
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
if [ -z "$journal_only" ]; then
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
fi

# --- the journal on against off
stores=(off "sqlite:$work/compare.sqlite")
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -n "$pg_bin" ] && [ -x "$pg_bin/initdb" ]; then
    # A folder of its own: the postgres user cannot enter $work.
    pg_dir=$(mktemp -d)
    [ "$(id -u)" = 0 ] && chown postgres "$pg_dir"
    pg_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    if pg_run initdb -D "$pg_dir/data" -A trust -U postgres --no-sync >/dev/null 2>&1 &&
        pg_run pg_ctl -D "$pg_dir/data" -o "-p $pg_port -k $pg_dir -c listen_addresses=127.0.0.1" \
            -l "$pg_dir/server.log" -w start >/dev/null 2>&1 &&
        pg_run createdb -h 127.0.0.1 -p "$pg_port" -U postgres bench >/dev/null 2>&1; then
        stores+=("postgresql://postgres@127.0.0.1:$pg_port/bench")
    else
        echo "postgresql: server did not start; SQLite only" >&2
    fi
fi
declare -A walls
echo "journal on against off: $rounds rounds, each store once per round, in turn"
for round in $(seq "$rounds"); do
    for store in "${stores[@]}"; do
        VELQA_JOURNAL=$store run "round $round, journal ${store%%:*}" "127.0.0.1-$last" "${jobs_args[@]}" >/dev/null
        walls[$store]="${walls[$store]:-} $last_wall"
    done
done
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
off_median=$(echo "${walls[off]}" | median)
for store in "${stores[@]}"; do
    m=$(echo "${walls[$store]}" | median)
    printf '%-12s median wall %6.2f s  (runs:%s)' "${store%%:*}" "$m" "${walls[$store]}"
    [ "$store" != off ] && printf '  %+.1f %% against off' "$(echo "scale=4; ($m - $off_median) * 100 / $off_median" | bc)"
    printf '\n'
done
echo "goal: the journal on within 5 % of off"
for store in "${stores[@]:1}"; do
    rows=$("$cli" history --journal "$store" --limit 0 --operation scan | tail -n 1)
    echo "${store%%:*} journal after the runs: $rows (expected $((rounds * count)))"
done
