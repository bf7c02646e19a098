#!/usr/bin/env bash
# Builds static OpenSSL libraries for the Windows program from Debian's own
# openssl source package, cross-compiled with mingw-w64, into the dependency
# cache, with the licence the release ships. A finished build is reused.
set -euo pipefail

cache="${KORAVEL_DEPS_DIR:-$HOME/.cache/koravel-key-webhook}"
prefix="$cache/openssl-mingw64"

if [[ -f "$prefix/lib64/libssl.a" || -f "$prefix/lib/libssl.a" ]] && [[ -f "$prefix/.complete" && -f "$prefix/LICENSE.txt" ]]; then
  echo "OpenSSL for mingw already in $prefix"
  exit 0
fi

for tool in apt-get dpkg-source x86_64-w64-mingw32-gcc-posix make perl; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

. "$(dirname "${BASH_SOURCE[0]}")/debian-source.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The openssl source of the system's own release: the security suite's newest
# when the archive serves it, else the release's.
. /etc/os-release
release=()
while read -r uri; do release+=("$uri $VERSION_CODENAME"); done < <(archives_of "$VERSION_CODENAME")
security=()
while read -r uri; do security+=("$uri $VERSION_CODENAME-security"); done < <(archives_of "$VERSION_CODENAME-security")
{ ((${#security[@]} > 0)) && debian_source openssl "$work" "${security[@]}" "${release[@]}"; } ||
  debian_source openssl "$work" "${release[@]}"
srcdir="$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -n1)"
[[ -n "$srcdir" ]] || { echo "openssl source not unpacked" >&2; exit 1; }

rm -rf "$prefix"
cd "$srcdir"
CC=gcc-posix CXX=g++-posix ./Configure mingw64 no-shared no-tests \
  --cross-compile-prefix=x86_64-w64-mingw32- \
  --prefix="$prefix" --libdir=lib >/dev/null
make -j"$(nproc)" build_libs >/dev/null
make install_dev >/dev/null
cp LICENSE.txt "$prefix/LICENSE.txt"
touch "$prefix/.complete"
echo "OpenSSL for mingw installed in $prefix"
