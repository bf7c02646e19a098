#!/usr/bin/env bash
# The receiver against the bare HTTP library and against a Node.js script,
# on loopback, in one go; prints one table.
#   bench/run.sh            five rounds of 5 s per workload (about 6 minutes)
#   bench/run.sh --short    one round of 1 s per workload (a check that it runs)
#   bench/run.sh --rounds N --seconds S
#   bench/run.sh --page     the same with the control page open, its feed followed
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
args=()
while (($#)); do
  case "$1" in
    --short) args+=(--rounds 1 --seconds 1) ;;
    *) args+=("$1") ;;
  esac
  shift
done
for tool in wrk node unshare; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done
cmake --preset native >/dev/null
cmake --build "$root/build/native" --target koravel-key-webhook bare-httplib-server keylog >/dev/null
# A network namespace of its own: port 5000 is the benchmark's alone.
cd "$root"
exec unshare --net -- bash -c 'ip link set lo up && exec /usr/bin/python3 -m bench.compare "$@"' bash \
  --receiver "$root/build/native/koravel-key-webhook" --bare "$root/build/native/bench/bare-httplib-server" \
  --keylog "$root/build/native/tests/linux/keylog" "${args[@]}"
