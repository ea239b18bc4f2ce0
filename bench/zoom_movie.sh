#!/usr/bin/env bash
# Makes the decoding benchmarks' movie, unless it is there already: a slow
# zoom and pan over a photograph, as a camera would film it, encoded by
# build/cli/rvxenc with its defaults.
#   bench/zoom_movie.sh OUT.rvx WIDTHxHEIGHT FRAMES PHOTO
set -euo pipefail
movie=$1; size=$2; frames=$3; photo=$4
[ -f "$movie" ] && exit 0
width=${size%x*}
source="${movie%.rvx}.source.mkv"
ffmpeg -hide_banner -loglevel error -y -loop 1 -i "$photo" \
  -vf "scale=$((width * 3 / 2)):-2,zoompan=z='1.2+0.002*on':x='iw/2-(iw/zoom/2)+on*4':y='ih/2-(ih/zoom/2)':d=1:s=$size:fps=25" \
  -frames:v "$frames" -c:v ffv1 "$source"
build/cli/rvxenc "$source" -o "$movie" --quiet --overwrite
rm -f "$source"
