#!/usr/bin/env bash
# Reliability figures of the program (the Linux build by default), in a
# network namespace of its own.
#   bench/reliability.sh [PROGRAM] [load] [slow] [trickle] [remotes] [storm]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
program="$here/../build/native/koravel-key-webhook"
if [[ $# -gt 0 && -x "$1" ]]; then
  program="$1"
  shift
fi
export KORAVEL_PROGRAM="$(realpath "$program")"
cd "$here/.."
exec unshare --net -- bash -c 'ip link set lo up && exec /usr/bin/python3 -m bench.reliability "$@"' bash "$@"
