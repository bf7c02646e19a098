#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian machine:
# Debian's packages, cpp-httplib's header from Debian's source archive, and,
# with --windows, OpenSSL cross-built for the Windows program; with --tests,
# what only the tests use (a browser for the relay-in-a-page test).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

windows=0
tests=0
for arg in "$@"; do
  case "$arg" in
    --windows) windows=1 ;;
    --tests) tests=1 ;;
    *) echo "unknown option $arg" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  nlohmann-json3-dev libssl-dev openssl libgtest-dev
  dpkg-dev xz-utils ca-certificates
  python3 python3-pytest iproute2 util-linux sox lame
  clang libclang-rt-14-dev wrk linux-perf valgrind
  # Keys on the X display (XTest through XCB), sounds through SDL2_mixer;
  # and Xlib with XInput, which the tests read the display's keys with.
  libxcb1-dev libxcb-xtest0-dev libxcb-keysyms1-dev libsdl2-mixer-dev libx11-dev libxi-dev
)
# What the tests see keys and hear sounds with: a virtual X display, a sound
# server with a null sink; and a browser for the relay-in-a-page test.
if ((tests)); then packages+=(chromium xvfb pulseaudio pulseaudio-utils); fi
# The benchmark's Node.js script: the machine's own Node.js when it has one,
# else Debian's.
if ! command -v node >/dev/null; then packages+=(nodejs); fi
if ((windows)); then
  # The cross build, and what the Windows program needs under wine: MP3
  # playback through GStreamer into a PulseAudio null sink.
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    make perl wine wine64 gstreamer1.0-plugins-base gstreamer1.0-plugins-good pulseaudio pulseaudio-utils)
fi

sudo=()
if [[ "$(id -u)" != 0 ]]; then sudo=(sudo); fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null

"$here/fetch-httplib.sh"
if ((windows)); then
  "$here/build-openssl-mingw.sh"
fi
