#!/usr/bin/env bash
# Builds the Linux program and starts it in the current folder, where it
# keeps its configuration file.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
cmake --preset native -S "$root" >/dev/null
cmake --build --preset native --target koravel-key-webhook
exec "$root/build/native/koravel-key-webhook"
