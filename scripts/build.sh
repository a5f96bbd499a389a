#!/usr/bin/env bash
# Configures and builds one preset and lays out the program folder.
# Usage: scripts/build.sh [preset]   (default: default; the program folder is build/<preset>/install,
# for win32 too: Velmora_TAVI.exe with the same folders as on Linux)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
case "$preset" in
  win32-tests) ;;  # a test program only: no program folder
  *) cmake --install "build/$preset" --prefix "build/$preset/install" >/dev/null ;;
esac
