#!/usr/bin/env bash
# Start-up time with 500 packs in the pack folder, from process start to the window shown.
# Usage: bench/startup.sh [program folder=build/default/install] [runs=10]
# Runs the installed program on the offscreen platform with VELMORA_EXIT_AFTER_SHOW=1, which
# makes it print "window shown after <ms> ms" and quit; prints each run and the median.
set -euo pipefail
cd "$(dirname "$0")/.."
program_dir="$(realpath "${1:-build/default/install}")"
runs="${2:-10}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cp -a "$program_dir" "$scratch/prog"
# A configuration left in the program folder by an earlier run would point the pack folder
# elsewhere: the copy starts as a fresh installation does.
rm -f "$scratch/prog/dp_tavi.ini" "$scratch/prog/Markers/cmd" "$scratch/prog/Markers/cmdout"
mkdir -p "$scratch/prog/DP" "$scratch/win"
for i in $(seq -w 1 500); do printf 'pack' > "$scratch/prog/DP/Driver pack $i.7z"; done
# The log line that reports the number of packs listed, in the shipped English text.
listed="$(sed -n 's/^log17=//p' "$scratch/prog/lng/english.lng" | tr -d '\r' | sed 's/%s/500/')"
times=()
for run in $(seq 1 "$runs"); do
  VELMORA_WINDIR="$scratch/win" VELMORA_EXIT_AFTER_SHOW=1 QT_QPA_PLATFORM=offscreen \
    "$scratch/prog/Velmora_TAVI" 2>"$scratch/log" >/dev/null
  if ! grep -qF "$listed" "$scratch/log"; then
    echo "run $run: the program did not list the 500 packs (no \"$listed\" line):" >&2
    grep -v '^=' "$scratch/log" >&2
    exit 1
  fi
  ms=$(sed -n 's/.*window shown after \([0-9.]*\) ms.*/\1/p' "$scratch/log" | tail -1)
  echo "run $run: ${ms} ms"
  times+=("$ms")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print "median: " a[int((NR+1)/2)] " ms"}'
