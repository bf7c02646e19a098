#!/usr/bin/env bash
# Checks a release zip as a streamer would get it:
#   scripts/check-package.sh dist/koravel-key-webhook-<version>-windows-x64.zip [TESTED.exe]
# it holds exactly the expected files; its .exe answers --version under wine
# with the version in the zip's name and carries that version and its
# manifest as resources; the guide is UTF-8 with a byte-order mark and CR LF
# line ends; its sounds are MP3s, those of the first run's gifts. Given the
# .exe the tests ran, the zip's must be that very file.
set -euo pipefail
zip="$(realpath "$1")"
tested="${2:+$(realpath "$2")}"
version="$(basename "$zip" | sed -n 's/^koravel-key-webhook-\([0-9][0-9.]*[0-9]\)-windows-x64\.zip$/\1/p')"
[[ -n "$version" ]] || { echo "not a release name: $(basename "$zip")" >&2; exit 1; }

work="$(mktemp -d)"
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")

expected="LISEZMOI.txt
koravel-key-webhook.exe
licences/cpp-httplib.txt
licences/mingw-w64.txt
licences/mpg123.txt
licences/nlohmann-json.txt
licences/openssl.txt
licences/sdl2-mixer.txt
licences/sdl2.txt
sounds/boxe.mp3
sounds/coeur.mp3
sounds/drift.mp3
sounds/girafe.mp3
sounds/incroyable.mp3
sounds/rose.mp3
sounds/tiktok.mp3"
held="$(cd "$work/unpacked" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)"
[[ "$held" == "$expected" ]] || { printf 'the zip holds:\n%s\nexpected:\n%s\n' "$held" "$expected" >&2; exit 1; }

exe="$work/unpacked/koravel-key-webhook.exe"
[[ -z "$tested" ]] || cmp "$exe" "$tested" || { echo "the zip's .exe is not the one the tests ran" >&2; exit 1; }
told="$(cd "$work" && wine "$exe" --version 2>/dev/null | tr -d '\r')"
[[ "$told" == "Koravel Key Webhook $version" ]] || { echo "--version says '$told', the zip's name $version" >&2; exit 1; }

python3 - "$work/unpacked/LISEZMOI.txt" "$exe" "$version" <<'PY'
import re, subprocess, sys
guide, exe, version = sys.argv[1:]
data = open(guide, "rb").read()
assert data.startswith(b"\xef\xbb\xbf"), "the guide has no UTF-8 byte-order mark"
data[3:].decode("utf-8")  # raises on anything that is not UTF-8
assert b"\n" not in data.replace(b"\r\n", b"") and b"\r" not in data.replace(b"\r\n", b""), "a line end is not CR LF"
# The resource section: the version strings (UTF-16) and the manifest.
subprocess.run(["x86_64-w64-mingw32-objcopy", "-O", "binary", "--only-section=.rsrc", exe, guide + ".rsrc"], check=True)
rsrc = open(guide + ".rsrc", "rb").read()
for key in ("FileVersion", "ProductVersion"):
    wanted = re.escape(key.encode("utf-16-le")) + rb"(\x00\x00)+" + re.escape(version.encode("utf-16-le")) + rb"\x00\x00"
    assert re.search(wanted, rsrc), f"no {key} {version} in the version resource"
assert b'level="asInvoker"' in rsrc and b"supportedOS" in rsrc, "no manifest asking for the user's own rights"
PY
for sound in "$work"/unpacked/sounds/*.mp3; do
  # An MPEG audio frame's sync bits, or an ID3 tag.
  [[ "$(head -c 3 "$sound" | od -An -tx1 | tr -d ' ')" =~ ^(494433|fff[23ab]) ]] || { echo "$sound is not an MP3" >&2; exit 1; }
done
# Each gift of the first run has its sound: the first start warns of none.
first="$(sed -n 's/.*"sound": "\(sounds\/[^"]*\)".*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../tests/support/default-config.json" | LC_ALL=C sort)"
[[ "$first" == "$(grep '^sounds/' <<<"$expected")" ]] || { echo "the first run's sounds are not the zip's: $first" >&2; exit 1; }
echo "$(basename "$zip"): the expected files, version $version, guide in UTF-8 with CR LF, the first run's sounds"
