#!/usr/bin/env bash
# Runs the benchmarks against the program (the Linux build by default), in a
# network namespace of its own.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export KORAVEL_PROGRAM="$(realpath "${1:-$here/../build/native/koravel-key-webhook}")"
cd "$here/.."
exec unshare --net -- bash -c 'ip link set lo up && exec /usr/bin/python3 -m bench.basics'
