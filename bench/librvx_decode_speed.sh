#!/usr/bin/env bash
# Times librvx's picture decoding through its public interface against
# rvxdec --y4m on the same movies: natural content (a photograph zoomed and
# panned as a camera would film it) at 640x480 and 1920x1080, encoded by
# rvxenc. Prints the median wall seconds of the runs and the pictures per
# second they give: the library on one thread and with its default (one
# per processor), its planes without colour conversion, and rvxdec.
#   bench/librvx_decode_speed.sh [--runs N] [--frames N] [--photo FILE] [--dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5; frames=100; dir=${TMPDIR:-/tmp}/rvx-librvx-speed
photo=/root/.rustup/toolchains/stable-x86_64-unknown-linux-gnu/share/doc/rust/html/embedded-book/assets/f3.jpg
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --photo) photo=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--frames N] [--photo FILE] [--dir DIR]" >&2; exit 2 ;;
  esac
done
[ -f build/librvx/librvx.so.1 ] && [ -x build/cli/rvxenc ] && [ -x build/cli/rvxdec ] ||
  { echo "build librvx, rvxenc and rvxdec first" >&2; exit 1; }
mkdir -p "$dir"
cc -O2 -std=c99 -Iinclude bench/rvx_decode_all.c -Lbuild/librvx -lrvx -Wl,-rpath,"$PWD/build/librvx" \
  -o "$dir/rvx_decode_all"

# Median wall seconds of a command over the runs.
median_seconds() {
  for _ in $(seq "$runs"); do
    start=$(date +%s.%N); "$@" >/dev/null 2>&1; end=$(date +%s.%N)
    echo "$end - $start" | bc -l
  done | sort -n | awk '{ a[NR] = $1 } END { printf "%.3f", a[int((NR + 1) / 2)] }'
}

for size in 640x480 1920x1080; do
  movie="$dir/${frames}x${size}.rvx"
  bench/zoom_movie.sh "$movie" "$size" "$frames" "$photo"
  for what in "librvx threads=1:$dir/rvx_decode_all $movie 1" "librvx threads=0:$dir/rvx_decode_all $movie 0" \
              "librvx planes:$dir/rvx_decode_all $movie 0 planes" "rvxdec --y4m:build/cli/rvxdec $movie --y4m /dev/null"; do
    # shellcheck disable=SC2086
    seconds=$(median_seconds ${what#*:})
    printf "%-9s %-18s %7s s  %7.1f pictures/s\n" "$size" "${what%%:*}" "$seconds" "$(echo "$frames / $seconds" | bc -l)"
  done
done
