#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset, clang) and runs each one for
# a while, starting from the seeds kept in tests/fuzz/corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Targets: inputs (the only one, and the default).
# New inputs the fuzzer finds go to build/fuzz/corpus, so that a later run
# goes on from them; a finding stops the run and leaves its input there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${1:-60}"
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then targets=(inputs); fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$root/build/fuzz/corpus"
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  log="$work/$target.log"
  echo "--- fuzz_$target for ${seconds} s"
  status=0
  ASAN_OPTIONS="detect_leaks=0" UBSAN_OPTIONS="print_stacktrace=1" \
    "build/fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$work/$target-" \
    "$work/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  if ((status != 0)); then
    tail -n 60 "$log"
    echo "fuzz_$target: FINDING (exit $status); the input is in $work/$target-*" >&2
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  echo "fuzz_$target: ${runs} runs in ${seconds} s (${rate}/s), no finding"
done
