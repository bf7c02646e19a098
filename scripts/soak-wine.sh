#!/usr/bin/env bash
# The outgoing-call and relay cases of the end-to-end suite, again and again
# against the Windows program under wine, the second half of the runs beside
# two busy CPU loops: a run that fails, or a program that ends by itself,
# prints its output (the program's last line says what ended it).
#   scripts/soak-wine.sh [RUNS]    30 by default; the .exe must be built
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${1:-30}" failed=0 busy=()
# One wine prefix for every run: made once, not at each start.
export KORAVEL_WINEPREFIX="$(mktemp -d)"
trap 'rm -rf "$KORAVEL_WINEPREFIX"' EXIT
cases="each_way_a_call_ends or overtake_each_other or another_machine or other_than_gifts"
for ((run = 1; run <= runs; run++)); do
  if ((run > runs / 2 && ${#busy[@]} == 0)); then
    for _ in 1 2; do (while :; do :; done) & busy+=($!); done
  fi
  started=$SECONDS
  if output="$("$root/tests/e2e/run-suite.sh" --wine "$root/build/windows/koravel-key-webhook.exe" -q -x -k "$cases" 2>&1)"; then
    echo "run $run/$runs${busy:+ (busy)}: passed in $((SECONDS - started)) s"
  else
    failed=$((failed + 1))
    echo "run $run/$runs${busy:+ (busy)}: FAILED in $((SECONDS - started)) s"
    printf '%s\n' "$output" | tail -n 60
  fi
done
((${#busy[@]} == 0)) || kill "${busy[@]}"
echo "$failed of $runs runs failed"
((failed == 0))
