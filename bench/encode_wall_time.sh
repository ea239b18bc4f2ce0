#!/usr/bin/env bash
# Times the whole encoder on a generated 300-frame 640x480 run with sound:
# wall, user and system seconds per run, once on one thread (RVX_THREADS=1)
# and once with the default thread count, and checks that both wrote the
# same bytes.
#   bench/encode_wall_time.sh [--runs N] [--frames N] [--size WxH] [--dir DIR]
# The run is generated into DIR (default $TMPDIR/rvx-wall-time) unless it is
# there already. Set RVXENC to time another build of the encoder.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3; frames=300; size=640x480; dir=${TMPDIR:-/tmp}/rvx-wall-time
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--frames N] [--size WxH] [--dir DIR]" >&2; exit 2 ;;
  esac
done
rvxenc=${RVXENC:-build/cli/rvxenc}
[ -x "$rvxenc" ] || { echo "$rvxenc is not built (scripts/build rvxenc)" >&2; exit 1; }

clip="$dir/${frames}x${size}"
last=$(printf '%s/frame%04d.png' "$clip" "$frames")
if [ ! -f "$last" ] || [ ! -f "$clip/sound.wav" ]; then
  scripts/make-sample --out "$clip" --frames "$frames" --size "$size" >/dev/null
fi

echo "$frames frames of $size, $(nproc) processors, load: $(cut -d' ' -f1-3 /proc/loadavg)"
for threads in 1 default; do
  for ((i = 1; i <= runs; i++)); do
    out="$dir/out-$threads.rvx"
    TIMEFORMAT="threads=$threads  wall %R s  user %U s  sys %S s"
    if [ "$threads" = default ]; then
      time env -u RVX_THREADS "$rvxenc" "$clip/frame0001.png" --wav "$clip/sound.wav" -o "$out" --overwrite --quiet
    else
      time RVX_THREADS=$threads "$rvxenc" "$clip/frame0001.png" --wav "$clip/sound.wav" -o "$out" --overwrite --quiet
    fi
  done
done
if cmp -s "$dir/out-1.rvx" "$dir/out-default.rvx"; then
  echo "movies identical ($(stat -c %s "$dir/out-1.rvx") bytes)"
else
  echo "movies differ between one thread and the default" >&2
  exit 1
fi
