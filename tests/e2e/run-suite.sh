#!/usr/bin/env bash
# Runs the end-to-end suite against one program, in a network namespace of
# its own, so that its port 5000 never meets another test's.
#   tests/e2e/run-suite.sh PROGRAM [pytest arguments...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
program="$1"
shift
export KORAVEL_PROGRAM="$program"
exec unshare --net -- bash -c 'ip link set lo up && exec /usr/bin/python3 -m pytest -p no:cacheprovider -q "$@"' \
  suite "$here" "$@"
