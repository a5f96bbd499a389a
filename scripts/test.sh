#!/usr/bin/env bash
# Sets everything up and runs every test: a plain build, a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the 32-bit Windows cross-compile of the core library.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen

echo "== plain build and tests"
bash scripts/build.sh default
ctest --preset default -j2

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --preset asan -j2

echo "== 32-bit Windows core library (MinGW-w64 i686)"
bash scripts/build.sh win32
echo "all tests passed"
