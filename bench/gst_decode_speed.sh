#!/usr/bin/env bash
# Times the GStreamer plug-in's picture decoding, whole pipeline
# (filesrc ! rvxdemux ! rvxvideodec threads=N ! fakesink), on natural
# content: a photograph scaled up and panned, encoded by rvxenc. Prints the
# median wall and processor seconds of the runs, the frames per second they
# give, and the peak memory, on one thread and on two.
#   bench/gst_decode_speed.sh [--runs N] [--frames N] [--size WxH] [--photo FILE] [--dir DIR]
# The movie is made into DIR (default $TMPDIR/rvx-gst-speed) unless it is
# there already. The plug-in is taken from build/gst.
set -euo pipefail
cd "$(dirname "$0")/.."
# Processor times come from GNU time, which only the benchmarks need.
scripts/setup time

runs=5; frames=100; size=1920x1080; dir=${TMPDIR:-/tmp}/rvx-gst-speed
photo=/root/.rustup/toolchains/stable-x86_64-unknown-linux-gnu/share/doc/rust/html/embedded-book/assets/f3.jpg
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --photo) photo=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--frames N] [--size WxH] [--photo FILE] [--dir DIR]" >&2; exit 2 ;;
  esac
done
[ -f build/gst/libgstrvx.so ] && [ -x build/cli/rvxenc ] || { echo "build gstrvx and rvxenc first" >&2; exit 1; }
export GST_PLUGIN_PATH=$PWD/build/gst
mkdir -p "$dir"
movie="$dir/${frames}x${size}.rvx"
bench/zoom_movie.sh "$movie" "$size" "$frames" "$photo"
gst-inspect-1.0 rvxvideodec >/dev/null  # the plug-in registry is up to date before timing

echo "$frames frames of $size, $(nproc) processors, load: $(cut -d' ' -f1-3 /proc/loadavg)"
# The median over the runs of an expression of the fields wall, user, system
# seconds and peak KiB ($1..$4).
median() { printf '%s\n' "${results[@]}" | awk "{ print $1 }" | sort -n | sed -n "$(((runs + 1) / 2))p"; }
for threads in 1 2; do
  results=()
  for ((i = 1; i <= runs; i++)); do
    results+=("$( { /usr/bin/time -f '%e %U %S %M' gst-launch-1.0 -q filesrc location="$movie" ! rvxdemux ! \
                    rvxvideodec threads=$threads ! fakesink >/dev/null; } 2>&1 | tail -1)")
  done
  wall=$(median '$1'); cpu=$(median '$2 + $3'); peak=$(median '$4')
  awk -v t="$threads" -v w="$wall" -v c="$cpu" -v p="$peak" -v f="$frames" 'BEGIN {
    printf "threads=%d  wall %.3f s (%.0f frames/s)  cpu %.3f s (%.0f frames/s a processor)  peak %.0f MiB\n",
           t, w, f / w, c, f / c, p / 1024 }'
done
