#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ and
# runs the test suite there. Errors inside the browser engine's own library are not the tool's:
# its new/delete size mismatches are not reported, and its lasting allocations are suppressed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_DIR=build-asan BUILD_TYPE=Debug scripts/build.sh \
    -DVELQA_SANITIZE=ON -DVELQA_WERROR=ON -DBUILD_TESTING=ON
export ASAN_OPTIONS=new_delete_type_mismatch=0:detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-asan
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
