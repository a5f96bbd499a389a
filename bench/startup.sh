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
mkdir -p "$scratch/prog/DP" "$scratch/win"
for i in $(seq -w 1 500); do printf 'pack' > "$scratch/prog/DP/Driver pack $i.7z"; done
times=()
for run in $(seq 1 "$runs"); do
  ms=$(VELMORA_WINDIR="$scratch/win" VELMORA_EXIT_AFTER_SHOW=1 QT_QPA_PLATFORM=offscreen \
         "$scratch/prog/Velmora_TAVI" 2>&1 >/dev/null | sed -n 's/.*window shown after \([0-9.]*\) ms.*/\1/p' | tail -1)
  echo "run $run: ${ms} ms"
  times+=("$ms")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print "median: " a[int((NR+1)/2)] " ms"}'
