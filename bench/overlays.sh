#!/usr/bin/env bash
# Gift -> alert drawn on the alerts overlay, in headless Chromium, over 100
# gifts (about two minutes: each card shows for its second):
#   bench/overlays.sh [PROGRAM] [--gifts N]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
program="$here/../build/native/koravel-key-webhook"
[[ $# -gt 0 && "$1" != --* ]] && program="$1" && shift
export KORAVEL_PROGRAM="$(realpath "$program")"
cd "$here/.."
exec unshare --net -- bash -c 'ip link set lo up && exec /usr/bin/python3 -m bench.overlay_latency "$@"' bash "$@"
