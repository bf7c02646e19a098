#!/usr/bin/env bash
# Runs the end-to-end suite against one program, in a network namespace of
# its own, so that its port 5000 never meets another test's.
#   tests/e2e/run-suite.sh PROGRAM [pytest arguments...]
#   tests/e2e/run-suite.sh --wine PROGRAM.exe [pytest arguments...]
# With --wine the Windows program runs under wine, in a fresh WINEPREFIX made
# for this run and removed after it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

wine=0
if [[ "${1:-}" == "--wine" ]]; then
  wine=1
  shift
fi
program="$(realpath "$1")"
shift

if ((wine)); then
  export KORAVEL_WINE=1
  export KORAVEL_PROGRAM="wine $program"
  # The key logger, built beside the program by the windows preset.
  export KORAVEL_KEYLOG="$(dirname "$program")/tests/windows/keylog.exe"
  export KORAVEL_LINE_END=$'\r\n'
  export KORAVEL_START_TIMEOUT=90
  export WINEPREFIX="$(mktemp -d /tmp/koravel-wine-XXXXXX)"
  export WINEDEBUG=-all
  # No Mono or Gecko installer prompts in a fresh prefix.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    # The suite removes its test CA itself; this is for a suite that was killed.
    if [[ -f /usr/local/share/ca-certificates/koravel-e2e-test-ca.crt ]]; then
      rm -f /usr/local/share/ca-certificates/koravel-e2e-test-ca.crt
      update-ca-certificates --fresh >/dev/null 2>&1 || true
    fi
  }
  trap cleanup EXIT
else
  export KORAVEL_PROGRAM="$program"
  # The key logger, built beside the program by the Linux presets.
  export KORAVEL_KEYLOG="$(dirname "$program")/tests/linux/keylog"
fi

# Without arguments, the whole suite.
if (($# == 0)); then set -- "$here"; fi
unshare --net -- bash -c 'ip link set lo up && cd "$0" && exec /usr/bin/python3 -m pytest -p no:cacheprovider -q "$@"' \
  "$here" "$@"
