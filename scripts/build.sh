#!/usr/bin/env bash
# Configures and builds the tool out of source in build/ (BUILD_DIR), reusing what is there.
# Usage: scripts/build.sh [extra cmake -D options]; BUILD_TARGETS limits what is built.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$BUILD_DIR/Makefile" ]; then
    generator=(-G Ninja)
fi
cmake -S . -B "$BUILD_DIR" "${generator[@]}" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
targets=()
for t in ${BUILD_TARGETS:-}; do
    targets+=(--target "$t")
done
cmake --build "$BUILD_DIR" --parallel "$(nproc)" "${targets[@]}"
