#!/usr/bin/env bash
# Builds the libFuzzer target (the fuzz preset, clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for a while, in a network of its own
# so that its server takes port 5000 whatever else runs.
#   scripts/fuzz.sh [SECONDS]
# New inputs it finds go to build/fuzz/corpus, so that a later run goes on
# from them; a finding stops the run and leaves its input there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${1:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$root/build/fuzz/corpus"
mkdir -p "$work/page_api"
log="$work/page_api.log"
echo "--- fuzz_page_api for ${seconds} s"
status=0
ASAN_OPTIONS="detect_leaks=0" UBSAN_OPTIONS="print_stacktrace=1" \
  unshare -n sh -c 'ip link set lo up && exec "$@"' fuzz \
  build/fuzz/tests/fuzz/fuzz_page_api -max_total_time="$seconds" -timeout=30 -max_len=4096 \
  -print_final_stats=1 -artifact_prefix="$work/page_api-" "$work/page_api" >"$log" 2>&1 || status=$?
if ((status != 0)); then
  grep -v '^Lecture audio\|^Touche\|^Cadeau' "$log" | tail -n 60
  echo "fuzz_page_api: FINDING (exit $status); the input is in $work/page_api-*" >&2
  exit 1
fi
runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
echo "fuzz_page_api: ${runs} runs in ${seconds} s (${rate}/s), no finding"
