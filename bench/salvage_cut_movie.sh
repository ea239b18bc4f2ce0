#!/usr/bin/env bash
# How much of a movie cut short still plays: a 10-second 640x480 movie with
# stereo sound (a panned photograph and a tone, encoded by rvxenc with its
# defaults) is cut after 10 %, 50 %, 90 % and 99.9 % of its bytes, and each
# cut is played by `rvxdec --salvage` and by the GStreamer plug-in (in
# playbin). Prints the pictures and the seconds of sound each gives. The
# sound track follows the pictures in the file, so a cut inside the
# pictures loses all of it.
#   bench/salvage_cut_movie.sh [--dir DIR] [--photo FILE]
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${TMPDIR:-/tmp}/rvx-salvage
photo=/root/.rustup/toolchains/stable-x86_64-unknown-linux-gnu/share/doc/rust/html/embedded-book/assets/f3.jpg
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir=$2; shift 2 ;;
    --photo) photo=$2; shift 2 ;;
    *) echo "usage: $0 [--dir DIR] [--photo FILE]" >&2; exit 2 ;;
  esac
done
[ -f build/gst/libgstrvx.so ] && [ -x build/cli/rvxenc ] && [ -x build/cli/rvxdec ] ||
  { echo "build gstrvx, rvxenc and rvxdec first" >&2; exit 1; }
mkdir -p "$dir"
export GST_PLUGIN_PATH=$PWD/build/gst GST_REGISTRY=$dir/registry.bin

movie=$dir/movie.rvx
if [ ! -f "$movie" ]; then
  ffmpeg -hide_banner -loglevel error -y -loop 1 -i "$photo" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
    -filter_complex "[0:v]scale=960:-2,zoompan=z='1.2+0.002*on':x='iw/2-(iw/zoom/2)+on*4':y='ih/2-(ih/zoom/2)':d=1:s=640x480:fps=25[v];[1:a]aformat=channel_layouts=stereo[a]" \
    -map "[v]" -map "[a]" -frames:v 250 -t 10 -c:v ffv1 -c:a flac "$dir/source.mkv"
  build/cli/rvxenc "$dir/source.mkv" -o "$movie" --quiet --overwrite
  rm -f "$dir/source.mkv"
fi
size=$(stat -c %s "$movie")
frames=$(build/cli/rvxdec "$movie" --json | awk -F': ' '/"frames"/ { sub(",", "", $2); print $2 }')
echo "movie: $size bytes, $frames pictures"
printf '%-6s %-22s %-22s\n' cut "rvxdec --salvage" "GStreamer plug-in"
for permille in 100 500 900 999; do
  cut=$dir/cut$permille.rvx
  head -c $((size * permille / 1000)) "$movie" >"$cut"
  rm -rf "$dir/frames"
  said=$(build/cli/rvxdec "$cut" --salvage --frames "$dir/frames" --wav "$dir/salvaged.wav" 2>&1 >/dev/null || true)
  pictures=$(ls "$dir/frames" 2>/dev/null | wc -l)
  seconds=$(echo "$said" | sed -n 's/.*sound sample frames (\([0-9.]*\) of.*/\1/p')
  # playbin plays the streams there are; the sinks write as fast as they can.
  timeout 300 gst-launch-1.0 -q playbin uri="file://$cut" \
    video-sink="videoconvert ! y4menc ! filesink location=$dir/gst.y4m" \
    audio-sink="audioconvert ! audio/x-raw,format=S16LE,channels=2,rate=44100 ! wavenc ! filesink location=$dir/gst.wav" \
    >/dev/null 2>&1 || true
  gst_pictures=$(grep -ao 'FRAME' "$dir/gst.y4m" 2>/dev/null | wc -l)
  gst_seconds=$(awk -v b="$(stat -c %s "$dir/gst.wav" 2>/dev/null || echo 44)" 'BEGIN { printf "%.2f", b > 44 ? (b - 44) / (44100 * 4) : 0 }')
  printf '%-6s %4s pictures, %5s s   %4s pictures, %5s s\n' "$((permille / 10)).$((permille % 10))%" \
    "$pictures" "${seconds:-0}" \
    "${gst_pictures:-0}" "$gst_seconds"
  rm -f "$dir/gst.y4m" "$dir/gst.wav"
done
