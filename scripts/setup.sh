#!/usr/bin/env bash
# Installs everything Velmora needs to build, run and test on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev              # the Linux front end (Qt 6 Widgets)
  libgtest-dev libgmock-dev googletest # unit tests
  libbenchmark-dev                    # benchmarks (bench/)
  ripgrep                             # benchmarks: fixed-string search to compare with
  libpugixml-dev                      # the device tree's XML file
  libboost-stacktrace-dev             # call stacks in the error report
  7zip                                # the archiver behind the 7z stand-in
  pci.ids usb.ids                     # device names for the devcon stand-in
  clang libclang-rt-14-dev            # fuzzing (scripts/fuzz.sh): clang and its libFuzzer runtime
  g++-mingw-w64-i686-posix            # the 32-bit Windows build
  wine wine32:i386                    # running the 32-bit Windows tests
  xvfb xauth x11-apps imagemagick     # running the window without a display, screenshots
  fonts-dejavu-core
)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# wine32 is an i386 package: that architecture must be known before it can be installed (the
# apt-get update below then fetches its lists, since wine32 is still missing).
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
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
