#!/usr/bin/env bash
# Runs the end-to-end suite against one program, in a network namespace of
# its own, so that its port 5000 never meets another test's.
#   tests/e2e/run-suite.sh PROGRAM [pytest arguments...]
#   tests/e2e/run-suite.sh --wine PROGRAM.exe [pytest arguments...]
# With --wine the Windows program runs under wine, in a WINEPREFIX made for
# this run and removed after it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wine=0
if [[ "${1:-}" == "--wine" ]]; then
  wine=1
  shift
fi
program="$(realpath "$1")"
shift
export KORAVEL_PROGRAM="$program"
# The key logger, built beside the program.
export KORAVEL_KEYLOG="$(dirname "$program")/tests/linux/keylog"
if ((wine)); then
  export KORAVEL_WINE=1 KORAVEL_PROGRAM="wine $program" KORAVEL_KEYLOG="$(dirname "$program")/tests/windows/keylog.exe"
  export KORAVEL_START_TIMEOUT=90 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX="$(mktemp -d /tmp/koravel-wine-XXXXXX)"
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
fi
if (($# == 0)); then set -- tests/e2e; fi
cd "$root"
unshare --net -- bash -c 'ip link set lo up && exec /usr/bin/python3 -m pytest -p no:cacheprovider -q "$@"' bash "$@"
