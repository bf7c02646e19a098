#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and starts it in the
# folder this was started from, where it keeps its configuration file.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
# The presets are found beside CMakeLists.txt only.
(cd "$root" && cmake --preset program >/dev/null && cmake --build --preset program --target koravel-key-webhook)
exec "$root/build/program/koravel-key-webhook"
