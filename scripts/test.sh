#!/usr/bin/env bash
# Sets everything up and runs every test: a plain build, a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets over their kept corpus, the Windows program with
# its end-to-end tests under Wine, and the platform-neutral tests built for Windows and run under
# Wine. The Windows stages run the 32-bit program where this machine can execute 32-bit code, and
# otherwise the same code built for 64-bit Windows under 64-bit Wine (VELMORA_WIN64=1 asks for the
# 64-bit variant anywhere); the 32-bit program is compiled either way.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
export QT_QPA_PLATFORM=offscreen
run_start=$SECONDS
timings=()
stage_done() { timings+=("$1: $((SECONDS - stage_start)) s"); }

echo "== plain build and tests"
stage_start=$SECONDS
bash scripts/build.sh default
ctest --preset default -j2
stage_done "plain build and tests"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
stage_start=$SECONDS
bash scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --preset asan -j2
stage_done "sanitizer build and tests"

echo "== fuzz targets once over their kept corpus (clang, sanitizers)"
stage_start=$SECONDS
bash scripts/fuzz.sh --check
stage_done "fuzz targets over their corpus"

# The variant of the Windows stages; wine-env.sh also sets the private Wine prefix.
source scripts/wine-env.sh
echo "== Windows stages: $WIN_VARIANT_REASON"

if [ "$WIN_VARIANT" = win64 ]; then
  echo "== the 32-bit Windows program and test program, compiled only (MinGW-w64 i686)"
  stage_start=$SECONDS
  bash scripts/build.sh win32
  bash scripts/build.sh win32-tests
  stage_done "32-bit Windows compile"
fi

echo "== $WIN_VARIANT Windows program and its end-to-end tests under Wine"
stage_start=$SECONDS
bash scripts/build.sh "$WIN_PRESET"
# The end-to-end runs use the test doubles of the archive tool and the installer built with the
# Windows test program.
bash scripts/build.sh "$WIN_TESTS_PRESET"
bash scripts/e2e-win32.sh
stage_done "$WIN_VARIANT Windows program and end-to-end runs"

echo "== $WIN_VARIANT Windows tests under Wine"
stage_start=$SECONDS
# The test program's own private prefix, without a display.
export WINEPREFIX="$PWD/build/$WIN_TESTS_PRESET/wineprefix"
unset DISPLAY WAYLAND_DISPLAY
wine_prefix_ready || exit 1
wine_status=0
timeout 600 "$WINE" "build/$WIN_TESTS_PRESET/tests/windows/velmora_tests_win32.exe" --gtest_brief=1 ||
  wine_status=$?
wineserver -k 2>/dev/null || true
if [ "$wine_status" -ne 0 ]; then
  [ "$wine_status" -eq 124 ] && echo "the Windows tests did not finish within 10 minutes"
  echo "$WIN_VARIANT Windows tests under Wine FAILED (exit status $wine_status)"
  exit 1
fi
stage_done "$WIN_VARIANT Windows tests under Wine"

echo "== stages ($WIN_VARIANT_REASON)"
printf '   %s\n' "${timings[@]}"
echo "all tests passed in $((SECONDS - run_start)) s"
