#!/usr/bin/env bash
# The whole unattended search-and-install run ("/unth") side by side with the script a
# technician would write with the same tools:
#   7zz x <pack> -o<index>/<pack> *.inf -r      per pack
#   rg -F -i -l -f <this machine's reduced IDs> <index>   (grep -F -i -l -r when rg is missing)
#   7zz x <pack> -o<out> @<list of matching folders>       per pack with matches
# It builds the collection itself (bench/make_collection.py: any size and pack count, the same
# for the same seed), runs the installed program headless on it (offscreen, as scripts/run.sh
# does without a display), runs the script, checks that both extracted the same files in the
# same folders, and prints both times and their ratio. Then it runs /unth a second time over the
# same packs and working folder, as a technician searches again, and prints that time against the
# first (the INF index comes from the record of the first build: DP_Content.ini must not change;
# the matching folders from the record of the first extraction: Drivers/ must not change).
#
# Usage: bench/unth_compare.sh <installed program folder> [infs=3000] [packs=10] [seed=1]
#        [payload KB per INF=16]
# Environment: BENCH_BIN (default build/default/bench: machine_ids), TMPDIR (where the
# collection and both runs' folders go), KEEP=1 keeps them, PACK_RUNS (sets VELMORA_PACK_RUNS
# for the program: how many packs the archive tool works on at once), COLLECTION (a folder of packs
# bench/make_collection.py made before with this machine's IDs: used instead of a new collection,
# which at 20,000 INF files takes minutes to make), FIRST=script (the script runs before the program),
# LEVEL (the packs' compression level, default 1; 9 is the level driver packs are published at:
# see bench/make_collection.py for what it changes in how 7zz decodes them).
#
# The program's time runs from its start to the moment it has saved UnattendedLOg.txt, its last
# step before the 10-second close timer; the time of that idle wait is not counted.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
install_dir="$(realpath "$1")"
infs="${2:-3000}"
packs="${3:-10}"
seed="${4:-1}"
payload_kb="${5:-16}"
bench_bin="${BENCH_BIN:-$here/build/default/bench}"

work="$(mktemp -d "${TMPDIR:-/tmp}/unth_compare.XXXXXX")"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
span() { echo "$1 $2" | awk '{printf "%.2f", $2 - $1}'; }
# The processor time (user + system) of every child this shell has waited for so far: on a machine
# shared with other work it tells what each side costs where the wall-clock time cannot.
# (`times` runs in this shell, not in a command substitution's subshell, whose children are its own.)
mark_cpu() { times >"$work/times"; }
cpu_at_mark() { tail -1 "$work/times" | awk '{ s = 0; for (i = 1; i <= 2; ++i) { split($i, p, "m"); s += p[1] * 60 + p[2] } printf "%.2f", s }'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); processors: $(nproc)"
"$bench_bin/machine_ids" >"$work/ids.txt"
echo "this machine's reduced IDs: $(wc -l <"$work/ids.txt")"
t=$(now)
if [ -n "${COLLECTION:-}" ]; then
  mkdir -p "$work/packs"
  cp -al "$COLLECTION"/*.7z "$work/packs/" 2>/dev/null || cp "$COLLECTION"/*.7z "$work/packs/"
  echo "collection: the packs of $COLLECTION, $(du -smL "$work/packs" | cut -f1) MB"
else
  python3 "$here/bench/make_collection.py" "$work/packs" "$work/ids.txt" "$infs" "$packs" "$seed" 20 "$payload_kb" "${LEVEL:-1}"
  echo "collection: $infs INF files in $packs packs, $(du -sm "$work/packs" | cut -f1) MB, level ${LEVEL:-1}, made in $(span "$t" "$(now)") s"
fi

# ---- the program ----
prog="$work/program"
windir="$work/windows"
mkdir -p "$prog" "$windir"
for entry in "$install_dir"/*; do
  [ "$(basename "$entry")" = DP ] || cp -a "$entry" "$prog/"
done
rm -f "$prog/dp_tavi.ini" "$prog/Markers/cmd" "$prog/Markers/cmdout"
mkdir -p "$prog/DP"
cp -al "$work"/packs/*.7z "$prog/DP/" 2>/dev/null || cp "$work"/packs/*.7z "$prog/DP/"
# The run's last step starts clean.cmd, which would remove the extracted folders before they are
# compared: this copy's clean.cmd does nothing.
printf '#!/bin/sh\nexit 0\n' >"$prog/clean.cmd"
chmod +x "$prog/clean.cmd"
log="$windir/dp_tavi/UnattendedLOg.txt"
env_runs=()
[ -n "${PACK_RUNS:-}" ] && env_runs=(VELMORA_PACK_RUNS="$PACK_RUNS")
# The program's own processor time (user + system of its threads, without the tools it starts),
# read from /proc until it exits: after its log is saved it only waits for its close timer, so
# the last reading holds all its work.
own_cpu_until_exit() {
  local vpid="" d ticks stat
  for d in /proc/[0-9]*; do
    [ "$(readlink "$d/exe" 2>/dev/null)" = "$prog/Velmora_TAVI" ] && vpid="${d#/proc/}" && break
  done
  program_own_cpu="?"
  [ -n "$vpid" ] || return 0
  ticks=$(getconf CLK_TCK)
  while stat=$(cat "/proc/$vpid/stat" 2>/dev/null); do
    program_own_cpu=$(echo "${stat##*) }" | awk -v hz="$ticks" '{printf "%.2f", ($12 + $13) / hz}')
    sleep 0.2
  done
}
run_program() {
  mark_cpu; local c0; c0=$(cpu_at_mark)
  local t; t=$(now)
  (cd "$work" && env QT_QPA_PLATFORM=offscreen VELMORA_WINDIR="$windir" "${env_runs[@]}" \
    /usr/bin/time -f %M -o "$work/program.rss" timeout 1800 "$prog/Velmora_TAVI" /unth) >"$work/program.out" 2>&1 &
  local pid=$!
  while [ ! -s "$log" ] && kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
  program_time=$(span "$t" "$(now)")
  own_cpu_until_exit
  wait "$pid" || { echo "the program failed; its output: $work/program.out" >&2; KEEP=1; exit 1; }
  [ -s "$log" ] || { echo "no UnattendedLOg.txt: $work/program.out" >&2; exit 1; }
  mark_cpu; program_cpu=$(span "$c0" "$(cpu_at_mark)")
}

# ---- the script ----
script="$work/script"
mkdir -p "$script/index" "$script/out"
if command -v rg >/dev/null; then
  search=(rg -F -i -l -f "$work/ids.txt" "$script/index")
  searcher="rg -F -i -l"
else
  search=(grep -F -i -l -r -f "$work/ids.txt" "$script/index")
  searcher="grep -F -i -l -r (rg is not installed)"
fi
run_script() {
  mark_cpu; local c0; c0=$(cpu_at_mark)
  t_start=$(now)
  for pack in "$work"/packs/*.7z; do
    7zz x "$pack" -o"$script/index/$(basename "$pack")" '*.inf' -r -y -bso0 -bsp0
  done
  t_index=$(now)
  "${search[@]}" >"$script/matched.txt" || true
  t_search=$(now)
  for pack in "$work"/packs/*.7z; do
    name=$(basename "$pack")
    grep -F "$script/index/$name/" "$script/matched.txt" | sed -e "s|^$script/index/$name/||" -e 's|/[^/]*$||' |
      sort -u | sed 's|$|/*|' >"$script/$name.list" || true
    [ -s "$script/$name.list" ] && 7zz x "$pack" -o"$script/out" "@$script/$name.list" -y -bso0 -bsp0
  done
  t_end=$(now)
  mark_cpu; script_cpu=$(span "$c0" "$(cpu_at_mark)")
  script_time=$(span "$t_start" "$t_end")
}

# One side after the other; FIRST=script turns the order round, so that a change in the machine's
# load during a measurement does not always fall on the same side.
if [ "${FIRST:-program}" = script ]; then
  run_script
  run_program
else
  run_program
  run_script
fi

# ---- the same folders and files? ----
(cd "$windir/dp_tavi/Drivers" && find . -type f | sort) >"$work/program.files"
(cd "$script/out" && find . -type f | sort) >"$work/script.files"
folders=$(sed 's|/[^/]*$||' "$work/script.files" | sort -u | wc -l)
if cmp -s "$work/program.files" "$work/script.files"; then
  same="yes: $(wc -l <"$work/script.files") files in $folders folders"
else
  same="NO"
  diff "$work/program.files" "$work/script.files" | head -20
fi

# ---- the program again, over the same unchanged packs ----
# The INF index is rebuilt from the record the first run left (DP_Content.state): no pack is
# extracted again for it. DP_Content.ini must come out byte for byte as the first run wrote it.
cp "$windir/dp_tavi/DP_Content.ini" "$work/first_content.ini"
drivers_sums() { (cd "$windir/dp_tavi/Drivers" && find . -type f -print0 | sort -z | xargs -0 -r md5sum); }
drivers_sums >"$work/first_drivers.sums"
cp "$work/program.rss" "$work/first_program.rss" 2>/dev/null || true
first_time=$program_time
first_cpu=$program_cpu
first_own_cpu=$program_own_cpu
rm -f "$log"
run_program
second_time=$program_time
program_time=$first_time
program_cpu=$first_cpu
program_own_cpu=$first_own_cpu
cp "$work/first_program.rss" "$work/program.rss" 2>/dev/null || true
if cmp -s "$work/first_content.ini" "$windir/dp_tavi/DP_Content.ini"; then same_index=yes; else same_index=NO; fi
# The matching folders are not extracted again either (DP_Extract.state): Drivers/ must hold the
# same files with the same content.
if drivers_sums | cmp -s "$work/first_drivers.sums" -; then same_drivers=yes; else same_drivers=NO; fi

echo "matching INF files (script): $(wc -l <"$script/matched.txt")"
echo "the script ($searcher): ${script_time} s (INF files out: $(span "$t_start" "$t_index") s, search: $(span "$t_index" "$t_search") s, folders out: $(span "$t_search" "$t_end") s)"
echo "/unth: ${program_time} s (peak resident memory $(cat "$work/program.rss" 2>/dev/null || echo '?') KiB)"
echo "ratio /unth : script = $(echo "$program_time $script_time" | awk '{printf "%.2f", $1 / $2}')"
echo "processor time (user + system, with every child): /unth $program_cpu s, the script $script_cpu s, ratio $(echo "$program_cpu $script_cpu" | awk '{printf "%.2f", $1 / $2}')"
echo "the program's own processor time (its threads, without the tools it starts): /unth $program_own_cpu s"
echo "second /unth over the unchanged packs: ${second_time} s, $(echo "$second_time $program_time" | awk '{printf "%.2f", $1 / $2}') of the first (same DP_Content.ini: $same_index, same Drivers/: $same_drivers)"
echo "same extracted folders: $same"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$same" != NO ] && [ "$same_index" = yes ] && [ "$same_drivers" = yes ]
