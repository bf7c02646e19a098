#!/usr/bin/env bash
# Makes the release a streamer downloads: builds the Windows program and writes
# dist/koravel-key-webhook-<version>-windows-x64.zip, holding the .exe, the
# guide in French (LISEZMOI.txt, in UTF-8 with a byte-order mark and CR LF
# line ends, so that Notepad shows its accents), a short sound for each gift
# of the first configuration (sounds/) and the licences of what the .exe
# contains. The version is the CMake project's.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh --windows
cmake --preset windows >/dev/null
cmake --build --preset windows

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)"
[[ -n "$version" ]] || { echo "no project version in build/windows/CMakeCache.txt" >&2; exit 1; }
name="koravel-key-webhook-$version-windows-x64"
deps="${KORAVEL_DEPS_DIR:-$HOME/.cache/koravel-key-webhook}"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp build/windows/koravel-key-webhook.exe "$stage/"
{ printf '\xEF\xBB\xBF'; sed 's/\r*$/\r/' docs/LISEZMOI.txt; } >"$stage/LISEZMOI.txt"
scripts/make-sounds.sh "$stage/sounds"
mkdir "$stage/licences"
cp "$deps/httplib/LICENSE" "$stage/licences/cpp-httplib.txt"
cp /usr/share/doc/nlohmann-json3-dev/copyright "$stage/licences/nlohmann-json.txt"
cp "$deps/openssl-mingw64/LICENSE.txt" "$stage/licences/openssl.txt"
cp "$deps/sdl-mingw64/LICENSE-SDL2.txt" "$stage/licences/sdl2.txt"
cp "$deps/sdl-mingw64/LICENSE-SDL2_mixer.txt" "$stage/licences/sdl2-mixer.txt"
cp "$deps/sdl-mingw64/LICENSE-mpg123.txt" "$stage/licences/mpg123.txt"
# The C runtime's start-up code and the threads library, linked in statically.
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licences/mingw-w64.txt"

mkdir -p dist
rm -f "dist/$name.zip"
(cd "$stage" && cmake -E tar cf "$root/dist/$name.zip" --format=zip -- *)
echo "dist/$name.zip"
