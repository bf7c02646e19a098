#!/usr/bin/env bash
# Installs what is missing of what the program is built with on a Debian
# machine: Debian's packages and cpp-httplib from Debian's source
# archive; with --tests, what the tests run with; with --windows, the cross
# build and OpenSSL cross-built for the Windows program.
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

# What the program is built with.
packages=(
  build-essential cmake ninja-build pkg-config
  nlohmann-json3-dev libssl-dev openssl
  # cpp-httplib's source, and python3 for its split.py.
  dpkg-dev xz-utils ca-certificates python3
  # Keys on the X display (XTest through XCB, the streamer's own through XInput),
  # sounds through SDL2_mixer.
  libxcb1-dev libxcb-xtest0-dev libxcb-keysyms1-dev libxcb-xinput-dev libsdl2-mixer-dev
)
if ((tests)); then
  # What the tests and the benchmarks run with: GoogleTest, pytest, sox and
  # lame for test sounds, clang for libFuzzer, wrk; Xlib with XInput and XTest and a virtual X
  # display to read the keys and hold one as the streamer would, a sound server with a null sink to hear the sounds.
  packages+=(clang-format libgtest-dev python3 python3-pytest iproute2 util-linux sox lame clang libclang-rt-14-dev
    wrk linux-perf valgrind libx11-dev libxi-dev libxtst-dev xvfb pulseaudio pulseaudio-utils
    # The control page, driven in a real browser.
    chromium chromium-driver python3-selenium)
  # The benchmark's Node.js script: the machine's own Node.js when it has
  # one, else Debian's.
  if ! command -v node >/dev/null; then packages+=(nodejs); fi
fi
if ((windows)); then
  # The cross build, and what the Windows program needs under wine: MP3
  # playback through GStreamer into a PulseAudio null sink.
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    make perl wine wine64 gstreamer1.0-plugins-base gstreamer1.0-plugins-good pulseaudio pulseaudio-utils
    # The release's sounds.
    sox lame)
fi

# Only what is missing: no package lists fetched when all is there.
missing=()
for package in "${packages[@]}"; do
  if [[ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ]]; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  sudo=()
  if [[ "$(id -u)" != 0 ]]; then sudo=(sudo); fi
  echo "installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

"$here/fetch-httplib.sh"
if ((windows)); then
  "$here/build-openssl-mingw.sh"
  "$here/build-sdl-mingw.sh"
fi
