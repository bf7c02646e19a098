#!/usr/bin/env bash
# How soon a gift's sound is heard, against a plain player on the same sink;
# a burst of sound gifts; memory with the sound output open. In a network
# namespace of its own, with a sound server of its own.
#   bench/sounds.sh [--trials N]           the Linux program
#   bench/sounds.sh --wine [--trials N]    the Windows program under wine
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
if [[ "${1:-}" == --wine ]]; then
  shift
  export KORAVEL_WINE=1 KORAVEL_PROGRAM="wine $root/build/windows/koravel-key-webhook.exe" KORAVEL_START_TIMEOUT=90
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$(mktemp -d)"
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
  wineboot -i && wineserver -w
else
  cmake --preset native >/dev/null
  cmake --build "$root/build/native" --target koravel-key-webhook >/dev/null
  export KORAVEL_PROGRAM="$root/build/native/koravel-key-webhook"
fi
unshare --net -- bash -c 'ip link set lo up && exec /usr/bin/python3 -m bench.sound_latency "$@"' bash "$@"
