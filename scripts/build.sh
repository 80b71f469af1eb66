#!/usr/bin/env bash
# Configures and builds the tool out of source in build/ (BUILD_DIR), reusing what is there.
# Usage: scripts/build.sh [extra cmake -D options]; BUILD_TARGETS limits what is built.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake_args=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$BUILD_DIR/Makefile" ]; then
    cmake_args=(-G Ninja)
fi
# A compiler cache, when installed, makes rebuilds in fresh trees and worktrees cheap.
if command -v ccache >/dev/null 2>&1; then
    cmake_args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD_DIR" "${cmake_args[@]}" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
targets=()
for t in ${BUILD_TARGETS:-}; do
    targets+=(--target "$t")
done
cmake --build "$BUILD_DIR" --parallel "$(nproc)" "${targets[@]}"
