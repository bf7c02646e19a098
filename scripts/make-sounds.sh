#!/usr/bin/env bash
# Makes the short chimes the release ships for the seven gifts of the first
# configuration, so that the streamer's first test is heard:
#   scripts/make-sounds.sh FOLDER
# Each is a few plucked notes of its own (sox), made an MP3 (lame). The names
# are those the first configuration gives its gifts' sounds.
set -euo pipefail
folder="$1"
mkdir -p "$folder"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

chime() {
  local name="$1"
  shift
  local notes=() i=0
  for note in "$@"; do
    sox -q -n -r 44100 -c 2 "$work/$i.wav" synth 0.22 pluck "$note" vol 0.7
    notes+=("$work/$i.wav")
    i=$((i + 1))
  done
  sox -q "${notes[@]}" "$work/$name.wav" fade 0 -0 0.15
  lame --quiet --preset 96 "$work/$name.wav" "$folder/$name.mp3"
}

chime rose C5 E5 G5
chime tiktok G5 G5
chime coeur E5 C5
chime boxe C4 C4 G4
chime incroyable C5 E5 G5 C6
chime girafe G4 E5 C5
chime drift A5 F5 D5 A4
