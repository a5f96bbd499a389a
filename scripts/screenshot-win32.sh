#!/usr/bin/env bash
# Pictures of the Windows program's pages and of its progress window, in English and German,
# taken under Wine in a virtual X server.
# Usage: scripts/screenshot-win32.sh [program folder=build/win32/install] [output folder=build/screenshots-win32]
# Writes <output>/english/page-<index>.png, page-2-simple.png, waitfrm.png and the same in
# <output>/german. Needs xvfb-run, wine and imagemagick (scripts/setup.sh installs them). The
# program runs on a copy of its folder with a fresh working folder and a few pack names: first in
# English as at a first start, then in German as the next start after choosing it. With
# VELMORA_SCREENSHOT_DIR set it saves a BMP picture of every page and quits; they are converted
# to PNG here.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
program_dir="$(realpath "${1:-build/$WIN_PRESET/install}")"
out_dir="$(realpath -m "${2:-build/screenshots-win32}")"
if [ ! -f "$program_dir/Velmora_TAVI.exe" ]; then
  echo "No program in $program_dir: build it first (bash scripts/build.sh $WIN_PRESET)." >&2
  exit 1
fi
for tool in xvfb-run convert; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup.sh test." >&2; exit 1; }
done
wine_prefix_ready
scratch="$(mktemp -d)"
trap 'wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT

prog="$scratch/prog"
cp -a "$program_dir" "$prog"
mkdir -p "$prog/DP"
# A few pack names, so the pack list shows rows (the files are not real archives).
for name in "DP_Chipset_wnt5_x86-32.7z" "DP_LAN_wnt5_x86-32.7z" "DP_Sound_A_wnt5_x86-32.7z"; do
  [ -e "$prog/DP/$name" ] || printf 'pack' >"$prog/DP/$name"
done
rm -rf "$(wine_windows_folder)/dp_tavi"

# English first, as a first start; then the same folder again with the language the program
# keeps for the next start once "Apply translation" chose German.
for language in english german; do
  shots="$scratch/shots-$language"
  mkdir -p "$shots"
  if [ "$language" != english ]; then
    sed -i -e "s/^LanguageChange=.*/LanguageChange=Yes\r/" \
      -e "s/^LanguageFile=\(.*\)english\.lng/LanguageFile=\1$language.lng/" "$prog/dp_tavi.ini"
  fi
  VELMORA_SCREENSHOT_DIR="$(wine_path "$shots")" timeout 180 \
    xvfb-run -a -s "-screen 0 1024x768x24" "$WINE" "$prog/Velmora_TAVI.exe" >"$scratch/$language.log" 2>&1 || {
    echo "The program failed ($language); its output:" >&2
    cat "$scratch/$language.log" >&2
    exit 1
  }
  mkdir -p "$out_dir/$language"
  rm -f "$out_dir/$language"/*.png
  for picture in "$shots"/*.bmp; do
    convert "$picture" "$out_dir/$language/$(basename "${picture%.bmp}").png"
  done
done
ls -1 "$out_dir"/*/*.png
