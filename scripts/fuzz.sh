#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang, under AddressSanitizer and
# UndefinedBehaviorSanitizer, in build/fuzz, and runs them.
# Usage:
#   scripts/fuzz.sh [seconds per target] [target...]
#       fuzzes each target (all by default) for that long (default 60), one after the other,
#       on one core; new inputs go to build/fuzz/corpus/<target> (seeded from the kept corpus
#       tests/fuzz/corpus/<target>), faults to build/fuzz/artifacts/<target>, the output to
#       build/fuzz/logs/<target>.log; a summary line per target at the end
#   scripts/fuzz.sh --check
#       runs every target once over its kept corpus (what scripts/test.sh does): seconds
# Targets: ini language tree_text xml lines shared_functions command_line inf hwid_rules search
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/fuzz
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DVELMORA_SANITIZE=ON \
    -DVELMORA_BUILD_GUI=OFF -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_TOOLS=OFF >/dev/null
fi
all_targets=(ini language tree_text xml lines shared_functions command_line inf hwid_rules search)
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

if [ "${1:-}" = "--check" ]; then
  cmake --build "$build" -j2
  ctest --test-dir "$build" -j2 --output-on-failure
  exit 0
fi

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
cmake --build "$build" -j2 --target $(printf 'fuzz_%s ' "${targets[@]}")

mkdir -p "$build/logs"
summary=()
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t" artifacts="$build/artifacts/$t/"
  mkdir -p "$corpus" "$artifacts"
  echo "== fuzzing $t for $seconds s"
  result=0
  "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$artifacts" -report_slow_units=1 \
    "$corpus" "tests/fuzz/corpus/$t" >"$build/logs/$t.log" 2>&1 || result=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/logs/$t.log" | grep -o '[0-9]*$' || echo "?")
  corpus_size=$(find "$corpus" -type f | wc -l)
  # The slowest input of the corpus: each one run once more, its time in milliseconds.
  slowest=$(find "$corpus" "tests/fuzz/corpus/$t" -type f -print0 |
    xargs -0 "$build/tests/fuzz/fuzz_$t" 2>&1 |
    sed -n 's/^Executed \(.*\) in \([0-9]*\) ms$/\2 \1/p' | sort -n | tail -1 || true)
  faults=$(find "$artifacts" -type f | wc -l)
  [ "$result" -ne 0 ] && status=1
  summary+=("$t: ${runs} runs, ${faults} fault(s), corpus ${corpus_size} inputs, slowest input ${slowest%% *} ms (${slowest#* }), exit status $result")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$status"
