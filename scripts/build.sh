#!/usr/bin/env bash
# Configures and builds one preset and lays out the program folder.
# Usage: scripts/build.sh [preset]   (default: default)
#   program      the Linux program, its tool stand-ins and the demo packs, no tests, in build/default
#   default      the same build folder with the tests and benchmarks
#   asan         the tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   win32, win64 Velmora_TAVI.exe for 32- or 64-bit Windows
#   win32-tests, win64-tests  the Windows test program with the test doubles (no program folder)
# The program folder is build/<preset>/install (build/default/install for program), for Windows
# too: Velmora_TAVI.exe with the same folders as on Linux.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
case "$preset" in
  win32-tests | win64-tests) ;;  # a test program only: no program folder
  program) cmake --install build/default --prefix build/default/install >/dev/null ;;
  *) cmake --install "build/$preset" --prefix "build/$preset/install" >/dev/null ;;
esac
