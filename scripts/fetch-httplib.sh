#!/usr/bin/env bash
# Fetches cpp-httplib from Debian's source archive (unstable, from the archive
# the machine's apt sources name), through a private apt configuration, so the
# system's own apt lists stay as they are. Its single header is split by the
# library's own split.py into a header of declarations and one source file:
# compiled once, rather than in every file that includes it, which takes
# more than a third off each build. Only those two files and the licence are
# kept, in the dependency cache.
set -euo pipefail

cache="${KORAVEL_DEPS_DIR:-$HOME/.cache/koravel-key-webhook}"
dest="$cache/httplib"
min_version="0.41.0"

version_of() { sed -n 's/^#define CPPHTTPLIB_VERSION "\(.*\)"/\1/p' "$1"; }

if [[ -f "$dest/httplib.h" && -f "$dest/httplib.cc" ]]; then
  have="$(version_of "$dest/httplib.h")"
  if [[ "$(printf '%s\n%s\n' "$min_version" "$have" | sort -V | head -n1)" == "$min_version" ]]; then
    echo "cpp-httplib $have already in $dest"
    exit 0
  fi
fi

for tool in apt-get dpkg-source python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (install dpkg-dev and python3)" >&2; exit 1; }
done

. "$(dirname "${BASH_SOURCE[0]}")/debian-source.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Unstable, from the archive that serves this release.
. /etc/os-release
suites=()
while read -r uri; do suites+=("$uri unstable"); done < <(archives_of "$VERSION_CODENAME")
debian_source cpp-httplib "$work" "${suites[@]}"

header="$(find "$work/src" -maxdepth 2 -name httplib.h | head -n1)"
[[ -n "$header" ]] || { echo "httplib.h not found in the cpp-httplib source package" >&2; exit 1; }
srcdir="$(dirname "$header")"
have="$(version_of "$header")"
if [[ "$(printf '%s\n%s\n' "$min_version" "$have" | sort -V | head -n1)" != "$min_version" ]]; then
  echo "Debian's cpp-httplib is $have; $min_version or newer is needed" >&2
  exit 1
fi
[[ -f "$srcdir/split.py" ]] || { echo "split.py not found in the cpp-httplib source package" >&2; exit 1; }
python3 "$srcdir/split.py" --out "$work/split"
mkdir -p "$dest"
cp "$work/split/httplib.h" "$work/split/httplib.cc" "$srcdir/LICENSE" "$dest/"
echo "cpp-httplib $have installed in $dest"
