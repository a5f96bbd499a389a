#!/usr/bin/env bash
# Installs the Debian 12 packages Velmora needs.
# Usage: scripts/setup.sh [run|test]
#   run  (the default) what building and running the Linux program needs: compiler, CMake, Qt,
#        the libraries it links, the archiver behind its 7z stand-in, a virtual X server;
#   test everything for the tests besides: GoogleTest, benchmarks, clang for fuzzing, the
#        MinGW-w64 compilers for 32- and 64-bit Windows, and Wine to run the Windows tests:
#        64-bit Wine always, 32-bit Wine only where this machine can execute 32-bit code (some
#        hosts run 64-bit user code only; the tests then use the 64-bit Windows build).
# Safe to run again: nothing is fetched when everything is there.
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-run}"

run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev              # the Linux front end (Qt 6 Widgets)
  libboost-stacktrace-dev             # call stacks in the error report
  7zip                                # the archiver behind the 7z stand-in
  libhivex-dev                        # the installer stand-in: an offline Windows' registry hives
  pci.ids usb.ids                     # device names for the devcon stand-in
  xvfb xauth                          # the window without a display (scripts/run.sh /switch)
  fonts-dejavu-core
)
test_packages=(
  libgtest-dev libgmock-dev googletest # unit tests (googletest: sources for the Windows tests)
  libbenchmark-dev                    # benchmarks (bench/)
  ripgrep                             # benchmarks: fixed-string search to compare with
  libhivex-bin                        # benchmarks: hivexget reads the hives the kill loop leaves
  clang libclang-rt-14-dev            # fuzzing (scripts/fuzz.sh): clang and its libFuzzer runtime
  g++-mingw-w64-i686-posix            # the 32-bit Windows build
  g++-mingw-w64-x86-64-posix          # the 64-bit Windows build, tested where 32-bit code cannot run
  wine wine64                         # running the Windows tests (64-bit Wine)
  x11-apps imagemagick                # screenshots
)

case "$what" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/setup.sh [run|test]" >&2; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

if [ "$what" = test ]; then
  source scripts/wine-env.sh
  if machine_runs_i386; then
    # 32-bit Wine for the 32-bit Windows tests. wine32 is an i386 package: that architecture
    # must be known before it can be installed (the apt-get update below then fetches its lists,
    # since wine32 is still missing).
    packages+=(wine32:i386)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $SUDO dpkg --add-architecture i386
    fi
  fi
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
