#!/usr/bin/env bash
# Pictures of the main window's pages and of the progress window, taken in a virtual X server.
# Usage: scripts/screenshot.sh [program folder=build/default/install] [output folder=build/screenshots]
# Needs xvfb-run (scripts/setup.sh installs it). The program runs on a copy of its folder,
# with a fresh Windows folder and a few pack names, so the pictures show a first start. With
# VELMORA_SCREENSHOT_DIR set the program shows each page, saves "page-<index>.png" (and
# "waitfrm.png" for the progress window) and quits.
set -euo pipefail
cd "$(dirname "$0")/.."
program_dir="$(realpath "${1:-build/default/install}")"
out_dir="$(realpath -m "${2:-build/screenshots}")"
if [ ! -x "$program_dir/Velmora_TAVI" ]; then
  echo "No program in $program_dir: build and install it first (cmake --install <build> --prefix $program_dir)." >&2
  exit 1
fi
if ! command -v xvfb-run >/dev/null; then
  echo "xvfb-run is missing: run scripts/setup.sh." >&2
  exit 1
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cp -a "$program_dir" "$scratch/prog"
mkdir -p "$scratch/win" "$scratch/prog/DP" "$out_dir"
# A few pack names, so the pack list shows rows (the files are not real archives).
for name in "DP_Chipset_wnt5_x86-32.7z" "DP_LAN_wnt5_x86-32.7z" "DP_Sound_A_wnt5_x86-32.7z"; do
  [ -e "$scratch/prog/DP/$name" ] || printf 'pack' >"$scratch/prog/DP/$name"
done
rm -f "$out_dir"/page-*.png "$out_dir"/waitfrm.png
env -u QT_QPA_PLATFORM VELMORA_WINDIR="$scratch/win" VELMORA_SCREENSHOT_DIR="$out_dir" \
  timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" "$scratch/prog/Velmora_TAVI" >"$scratch/run.log" 2>&1 || {
  echo "The program failed; its output:" >&2
  cat "$scratch/run.log" >&2
  exit 1
}
ls -1 "$out_dir"/*.png
