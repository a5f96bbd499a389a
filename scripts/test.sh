#!/usr/bin/env bash
# Sets everything up and runs every test: a plain build, a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets over their kept corpus, the 32-bit Windows
# program with its end-to-end tests under Wine, and the platform-neutral tests built for 32-bit
# Windows and run under Wine.
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

echo "== fuzz targets once over their kept corpus (clang, sanitizers)"
bash scripts/fuzz.sh --check

echo "== 32-bit Windows program (MinGW-w64 i686) and its end-to-end tests under Wine"
bash scripts/build.sh win32
# The end-to-end runs use the test doubles of the archive tool and the installer built with the
# Windows test program.
bash scripts/build.sh win32-tests
bash scripts/e2e-win32.sh

echo "== 32-bit Windows tests under Wine"
stage_start=$SECONDS
# A private 32-bit Wine prefix in the build folder; no display, no add-on installers (mscoree
# and mshtml off), no Wine debug output, and the C locale, which gives the ANSI code page 1252.
export WINEPREFIX="$PWD/build/win32-tests/wineprefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 300 wineboot -i >/dev/null 2>&1 || { echo "cannot create the Wine prefix $WINEPREFIX"; exit 1; }
fi
wine_status=0
LC_ALL=C timeout 600 wine build/win32-tests/tests/windows/velmora_tests_win32.exe --gtest_brief=1 ||
  wine_status=$?
wineserver -k 2>/dev/null || true
if [ "$wine_status" -ne 0 ]; then
  [ "$wine_status" -eq 124 ] && echo "the Windows tests did not finish within 10 minutes"
  echo "32-bit Windows tests under Wine FAILED (exit status $wine_status)"
  exit 1
fi
echo "32-bit Windows tests: $((SECONDS - stage_start)) s"
echo "all tests passed"
