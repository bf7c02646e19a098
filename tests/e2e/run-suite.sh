#!/usr/bin/env bash
# Runs the end-to-end suite against one program, in a network namespace of its
# own so that its port 5000 meets no other test's, with a network address of its own (192.168.77.2):
#   tests/e2e/run-suite.sh [--wine] PROGRAM [pytest arguments...]
# With --wine, PROGRAM.exe runs under wine in a WINEPREFIX of the run's own.
set -euo pipefail
[[ "$1" == --wine ]] && wine=1 && shift || wine=0
program="$(realpath "$1")" && shift
helpers="$(dirname "$program")/tests"
# The streamer's hands are on the X display, whichever program reads them.
export KORAVEL_HOLDKEY="$(realpath "$(dirname "${BASH_SOURCE[0]}")/../../build/native/tests/linux/desktop") hold"
export KORAVEL_CA_NAME="koravel-e2e-test-ca-$$.crt" KORAVEL_PROGRAM="$program" KORAVEL_KEYLOG="$helpers/linux/keylog" KORAVEL_WINDOW="$helpers/linux/desktop window"
if ((wine)); then
  export KORAVEL_WINE=1 KORAVEL_PROGRAM="wine $program" KORAVEL_KEYLOG="wine $helpers/windows/keylog.exe" \
    KORAVEL_WINDOW="wine $helpers/windows/window.exe" KORAVEL_FAULT="wine $helpers/windows/fault.exe"
  # A prefix of the run's own, unless KORAVEL_WINEPREFIX names one to use and keep (runs one after another).
  export KORAVEL_START_TIMEOUT=90 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="${KORAVEL_WINEPREFIX:-$(mktemp -d)}"
  ca=/usr/local/share/ca-certificates/$KORAVEL_CA_NAME  # the suite removes it, unless it was killed
  # wineserver -k fails when the suite has ended the server already: that must not fail the run.
  trap 'wineserver -k 2>/dev/null || true; [[ -n "${KORAVEL_WINEPREFIX:-}" ]] || rm -rf "$WINEPREFIX"; [[ ! -f $ca ]] || (rm $ca && update-ca-certificates --fresh); true' EXIT
fi
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
unshare --net -- bash -c 'ip link set lo up && ip link add lan0 type veth peer name lan1 && ip addr add 192.168.77.2/24 dev lan0 && ip link set lan0 up && ip link set lan1 up && exec /usr/bin/python3 -m pytest -p no:cacheprovider -q "${@:-tests/e2e}"' bash "$@"
