#!/usr/bin/env bash
# Builds static SDL2, SDL2_mixer and libmpg123 libraries for the Windows
# program from Debian's own libsdl2, libsdl2-mixer and mpg123 source
# packages, cross-compiled with mingw-w64, into the dependency cache, with
# the licences the release ships. Only what sounds need is built: SDL's audio
# (WASAPI, DirectSound, winmm), events and threads; the mixer's WAV, OGG
# (stb_vorbis, which comes with its source) and MP3 through libmpg123, the
# decoder the Linux program's mixer uses: it reads the encoder's gapless
# information, so that an MP3 starts with its first sample, not with the
# silence of its header frame and of the encoder's delay. Linked in, SDL does
# not let another SDL library be put in its place (SDL_DYNAMIC_API). A
# finished build is reused.
set -euo pipefail

cache="${KORAVEL_DEPS_DIR:-$HOME/.cache/koravel-key-webhook}"
prefix="$cache/sdl-mingw64"

if [[ -f "$prefix/lib/libSDL2.a" && -f "$prefix/lib/libSDL2_mixer.a" && -f "$prefix/lib/libmpg123.a" && -f "$prefix/.complete" ]]; then
  echo "SDL2 and SDL2_mixer for mingw already in $prefix"
  exit 0
fi

for tool in apt-get dpkg-source x86_64-w64-mingw32-gcc-posix cmake make; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/debian-source.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
. /etc/os-release
release=()
while read -r uri; do release+=("$uri $VERSION_CODENAME"); done < <(archives_of "$VERSION_CODENAME")

rm -rf "$prefix"
cross=(-DCMAKE_TOOLCHAIN_FILE="$here/../cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/x86_64-w64-mingw32")

mkdir -p "$work/sdl"
debian_source libsdl2 "$work/sdl" "${release[@]}"
srcdir="$(find "$work/sdl/src" -mindepth 1 -maxdepth 1 -type d -name 'libsdl2-*' | head -n1)"
[[ -n "$srcdir" ]] || { echo "libsdl2 source not unpacked" >&2; exit 1; }
# SDL's own way of turning it off is to edit the header.
sed -i 's/^#define SDL_DYNAMIC_API 1$/#define SDL_DYNAMIC_API 0/' "$srcdir/src/dynapi/SDL_dynapi.h"
! grep -q '^#define SDL_DYNAMIC_API 1' "$srcdir/src/dynapi/SDL_dynapi.h" || { echo "SDL_DYNAMIC_API still on" >&2; exit 1; }
cmake -S "$srcdir" -B "$work/sdl/build" "${cross[@]}" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
  -DSDL_VIDEO=OFF -DSDL_RENDER=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF \
  -DSDL_POWER=OFF -DSDL_LOCALE=OFF -DSDL_MISC=OFF -DSDL_FILESYSTEM=OFF -DSDL_DIRECTX=ON -DSDL_WASAPI=ON >/dev/null
cmake --build "$work/sdl/build" -j"$(nproc)" >/dev/null
cmake --install "$work/sdl/build" >/dev/null
cp "$srcdir/LICENSE.txt" "$prefix/LICENSE-SDL2.txt"

mkdir -p "$work/mpg123"
debian_source mpg123 "$work/mpg123" "${release[@]}"
srcdir="$(find "$work/mpg123/src" -mindepth 1 -maxdepth 1 -type d -name 'mpg123-*' | head -n1)"
[[ -n "$srcdir" ]] || { echo "mpg123 source not unpacked" >&2; exit 1; }
(cd "$srcdir" && ./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix --prefix="$prefix" \
  --enable-static --disable-shared --disable-modules --with-audio=dummy --with-cpu=x86-64 >/dev/null &&
  make -j"$(nproc)" >/dev/null && make install >/dev/null)
cp "$srcdir/COPYING" "$prefix/LICENSE-mpg123.txt"

mkdir -p "$work/mixer"
debian_source libsdl2-mixer "$work/mixer" "${release[@]}"
srcdir="$(find "$work/mixer/src" -mindepth 1 -maxdepth 1 -type d -name 'libsdl2-mixer-*' | head -n1)"
[[ -n "$srcdir" ]] || { echo "libsdl2-mixer source not unpacked" >&2; exit 1; }
cmake -S "$srcdir" -B "$work/mixer/build" "${cross[@]}" -DSDL2_DIR="$prefix/lib/cmake/SDL2" \
  -DBUILD_SHARED_LIBS=OFF -DSDL2MIXER_SAMPLES=OFF -DSDL2MIXER_VENDORED=OFF -DSDL2MIXER_DEPS_SHARED=OFF \
  -DSDL2MIXER_CMD=OFF -DSDL2MIXER_FLAC=OFF -DSDL2MIXER_MOD=OFF -DSDL2MIXER_MIDI=OFF -DSDL2MIXER_OPUS=OFF \
  -DSDL2MIXER_MP3=ON -DSDL2MIXER_MP3_DRMP3=OFF -DSDL2MIXER_MP3_MPG123=ON \
  -DMPG123_LIBRARY="$prefix/lib/libmpg123.a" -DMPG123_INCLUDE_PATH="$prefix/include" -DSDL2MIXER_VORBIS=STB \
  -DSDL2MIXER_WAVE=ON >/dev/null
cmake --build "$work/mixer/build" -j"$(nproc)" >/dev/null
cmake --install "$work/mixer/build" >/dev/null
cp "$srcdir/LICENSE.txt" "$prefix/LICENSE-SDL2_mixer.txt"
touch "$prefix/.complete"
echo "SDL2 and SDL2_mixer for mingw installed in $prefix"
