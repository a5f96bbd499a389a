#!/usr/bin/env bash
# Times the extended collection's devcon runs on this machine: one "devcon driverfiles =<class>"
# per line of the class list, as "Collect HWIDs +" starts them, one after another.
# With a second devcon (for example a build of an older commit) both are timed in turn, round by
# round, and their outputs compared class by class.
# Usage: bench/devcon_classes.sh <devcon> [<other devcon>] [rounds=3] [class list=data/Data/classes.tavi]
set -euo pipefail
cd "$(dirname "$0")/.."
first="$1"
second=""
if [ $# -ge 2 ] && [ -x "$2" ]; then second="$2"; shift; fi
rounds="${2:-3}"
list="${3:-data/Data/classes.tavi}"
mapfile -t classes < <(tr -d '\r' <"$list" | sed -e 's/:.*//' -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' | grep -v '^$')
echo "classes: ${#classes[@]} from $list; rounds: $rounds; load average: $(cut -d' ' -f1-3 /proc/loadavg)"

# Runs every class once; prints wall seconds, then user and system seconds of the children.
run_all() {
  local tool="$1" out="$2" start end
  : >"$out"
  start=$(date +%s.%N)
  for class in "${classes[@]}"; do
    { echo "*$class"; "$tool" driverfiles "=$class"; } >>"$out"
  done
  end=$(date +%s.%N)
  echo "$start $end" | awk '{printf "%.3f", $2 - $1}'
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for tool in "$first" $second; do
  [ -x "$tool" ] || { echo "not a program: $tool" >&2; exit 2; }
done
for ((r = 1; r <= rounds; r++)); do
  line="round $r:"
  n=0
  for tool in "$first" $second; do
    n=$((n + 1))
    before=$(awk '{print $14 + $15 + $16 + $17}' /proc/$$/stat)
    wall=$(run_all "$tool" "$work/out$n")
    after=$(awk '{print $14 + $15 + $16 + $17}' /proc/$$/stat)
    cpu=$(echo "$before $after $(getconf CLK_TCK)" | awk '{printf "%.2f", ($2 - $1) / $3}')
    line="$line  $(basename "$tool") ${wall} s (processor ${cpu} s, $(echo "$wall ${#classes[@]}" | awk '{printf "%.3f", $1 / $2}') s per call)"
  done
  echo "$line"
done
if [ -n "$second" ]; then
  if cmp -s "$work/out1" "$work/out2"; then
    echo "outputs: identical ($(wc -l <"$work/out1") lines)"
  else
    echo "outputs DIFFER:"
    diff "$work/out1" "$work/out2" | head -20
    exit 1
  fi
fi
