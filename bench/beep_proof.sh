#!/usr/bin/env bash
# Proves that ToneBeeper makes a real tone: runs a private PulseAudio server with a null sink,
# records the sink's monitor while beep-tone plays 1000 Hz and 300 Hz for 300 ms each, and
# measures each recorded tone with sox.
# Usage: bench/beep_proof.sh [build dir, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-${BUILD_DIR:-build}}

need=()
command -v pulseaudio >/dev/null || need+=(pulseaudio)
command -v parec >/dev/null || need+=(pulseaudio-utils)
command -v sox >/dev/null || need+=(sox)
if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
    else
        echo "missing: ${need[*]} (apt-get install them)" >&2
        exit 1
    fi
fi

if ! cmake --build "$BUILD_DIR" --target beep-tone >/dev/null; then
    echo "cannot build beep-tone: bench/CMakeLists.txt must include(beep.cmake)" >&2
    exit 1
fi
tone_program="$BUILD_DIR/bench/beep-tone"

work=$(mktemp -d /tmp/beep-proof.XXXXXX)
server_pid=""
recorder_pid=""
cleanup() {
    [ -n "$recorder_pid" ] && kill "$recorder_pid" 2>/dev/null || true
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A user-mode server in a private runtime folder, so neither the machine's own sound server nor
# other programs are touched; as root it warns once and runs all the same.
export XDG_RUNTIME_DIR="$work" HOME="$work" PULSE_SERVER="unix:$work/native"
pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --use-pid-file=false \
    -L "module-native-protocol-unix socket=$work/native auth-anonymous=1" \
    -L "module-null-sink sink_name=beep rate=44100" \
    --log-target=file:"$work/pulseaudio.log" &
server_pid=$!
for _ in $(seq 1 50); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
pactl set-default-sink beep

parec --device=beep.monitor --format=s16le --rate=44100 --channels=1 --latency-msec=20 \
    --file-format=wav "$work/recorded.wav" &
recorder_pid=$!
sleep 0.5
"$tone_program"
sleep 0.5
kill "$recorder_pid"
wait "$recorder_pid" 2>/dev/null || true
recorder_pid=""

# Split the recording at the silence between the tones; each piece is one tone.
(cd "$work" && sox recorded.wav tone.wav silence 1 0.001 0.5% 1 0.05 0.5% : newfile : restart)

n=0
for piece in "$work"/tone*.wav; do
    length=$(sox "$piece" -n stat 2>&1 | awk '/^Length/ {print $3}')
    if awk -v l="$length" 'BEGIN {exit !(l < 0.01)}'; then
        continue
    fi
    n=$((n + 1))
    rough=$(sox "$piece" -n stat 2>&1 | awk '/^Rough/ {print $3}')
    peak=$(sox "$piece" -n stat -freq 2>&1 | awk 'NF == 2 && $1 + 0 == $1 {if ($2 > m) {m = $2; f = $1}} END {printf "%.0f", f}')
    amplitude=$(sox "$piece" -n stat 2>&1 | awk '/^Maximum amplitude/ {print $3}')
    printf 'tone %d: %s Hz by zero crossings, %s Hz spectrum peak (bins of 10.8 Hz), %.1f ms, peak amplitude %s\n' \
        "$n" "$rough" "$peak" "$(awk -v l="$length" 'BEGIN {print l * 1000}')" "$amplitude"
done
if [ "$n" -eq 0 ]; then
    echo "no tone was recorded" >&2
    exit 1
fi
