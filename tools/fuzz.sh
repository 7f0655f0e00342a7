#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from
# the seed inputs in fuzz/corpus/<harness>/. Fails on the first finding; the input that
# found it is left in build-fuzz/findings/.
#
#   tools/fuzz.sh [SECONDS_PER_HARNESS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# A small quarantine and no fill of new blocks: the harnesses allocate a lot
# per input, and both cost more time than they find here.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=8:max_malloc_fill_size=0}"

mkdir -p build-fuzz/findings
# Every harness has its seed inputs in fuzz/corpus/<harness>/.
for corpus in fuzz/corpus/*/; do
  harness=$(basename "$corpus")
  # Settings and language files that matter are short: shorter inputs let
  # the INI harness try many more of them.
  max_len=4096
  [ "$harness" = ProfileFuzz ] && max_len=1024
  work=$(mktemp -d)
  cp fuzz/corpus/"$harness"/* "$work"/
  log=build-fuzz/$harness.log
  echo "== fuzzing $harness for $seconds s"
  if ! build-fuzz/bin/"$harness" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix=build-fuzz/findings/"$harness"- "$work" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $harness found a fault; the input is in build-fuzz/findings/" >&2
    rm -rf "$work"
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  rate="?"
  [[ "$runs" =~ ^[0-9]+$ ]] && rate=$((runs / seconds))
  echo "$harness: $runs executions in $seconds s ($rate a second), no finding"
  rm -rf "$work"
done
