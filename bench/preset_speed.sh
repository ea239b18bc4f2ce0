#!/usr/bin/env bash
# The presets' speed claims, timed side by side on a grainy and a clean clip
# (150 pictures of 640x480 each, two threads): medium against FFmpeg's
# mpeg2video and fast against classic.
#
#   bench/preset_speed.sh [--runs N] [--work DIR] [--frames N]
#
# Clips: "grainy" is a photograph panned with grain (bench/make_natural_clip.sh
# over mate-backgrounds' Garden.jpg), "clean" the synthetic movie of
# scripts/make-sample. The pairs (A against B):
#   medium          rvxenc --preset medium          vs  mpeg2video
#   medium.nodef    rvxenc --preset medium --transform DCT-NoDEF  vs  mpeg2video
#   fast            rvxenc --preset fast            vs  rvxenc --preset classic
# rvxenc keeps its default qualities (4,6,8) and threads; mpeg2video is the
# yardstick of bench/compare_ffmpeg.sh (-threads 2 -qscale:v 4 -bf 2 -g 16).
# A and B run in turn (A B A B ...), so a machine busy with other work slows
# both alike; the figure is the median over the pairs of A's wall time over
# B's, with both medians of wall and CPU seconds beside it.
set -euo pipefail
self=$(readlink -f "$0")
cd "$(dirname "$self")/.."

runs=5; frames=150; work=${TMPDIR:-/tmp}/rvx-preset-speed
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    -h|--help) awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$self"; exit 0 ;;
    *) echo "preset_speed: unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ $runs =~ ^[1-9][0-9]*$ ]] && [[ $frames =~ ^[1-9][0-9]*$ ]] ||
  { echo "preset_speed: --runs and --frames must be positive whole numbers" >&2; exit 2; }
scripts/build -j2 rvxenc >/dev/null
rvxenc=$PWD/${RVX_BUILD_DIR:-build}/cli/rvxenc
photo=/usr/share/backgrounds/mate/nature/Garden.jpg
[ -f "$photo" ] || scripts/setup mate-backgrounds
mkdir -p "$work"

if [ ! -f "$work/grainy/.done" ]; then
  bench/make_natural_clip.sh "$work/grainy" --size 640x480 --frames "$frames" --photo "$photo" --motion pan >/dev/null
  touch "$work/grainy/.done"
fi
if [ ! -f "$work/clean/.done" ]; then
  rm -rf "$work/clean"
  scripts/make-sample --out "$work/clean" --frames "$frames" --size 640x480 --fps 30 --no-sound >/dev/null
  mkdir -p "$work/clean"
  i=1; for f in "$work/clean"/frame*.png; do mv "$f" "$work/clean/$(printf 'f%04d.png' $i)"; i=$((i + 1)); done
  touch "$work/clean/.done"
fi

# Wall and CPU seconds of one run: "WALL CPU".
timed() {
  local t
  t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>"$work/stderr.txt"; } 2>&1 ) ||
    { cat "$work/stderr.txt" >&2; echo "preset_speed: failed: $*" >&2; exit 1; }
  awk '{ printf "%s %.3f\n", $1, $2 + $3 }' <<<"$t"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

rvx() {  # clip, arguments...
  local clip=$1; shift
  timed "$rvxenc" "$work/$clip/f0001.png" -o "$work/out.rvx" --overwrite --quiet "$@"
}
mpeg2() {  # clip
  timed ffmpeg -nostdin -v error -y -i "$work/$1/f%04d.png" -threads 2 -c:v mpeg2video -qscale:v 4 -bf 2 -g 16 \
    "$work/out.m2v"
}

pair() {  # clip, name, A command, B command (each one string of words)
  local i a b ratios=() aw=() ac=() bw=() bc=()
  for ((i = 0; i < runs; i++)); do
    read -r -a words <<<"$3"; a=$("${words[@]}")
    read -r -a words <<<"$4"; b=$("${words[@]}")
    aw+=("${a% *}"); ac+=("${a#* }"); bw+=("${b% *}"); bc+=("${b#* }")
    ratios+=("$(awk -v x="${a% *}" -v y="${b% *}" 'BEGIN { printf "%.3f", x / y }')")
  done
  printf '| %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f |\n' "$1" "$2" \
    "$(printf '%s\n' "${aw[@]}" | median)" "$(printf '%s\n' "${ac[@]}" | median)" \
    "$(printf '%s\n' "${bw[@]}" | median)" "$(printf '%s\n' "${bc[@]}" | median)" \
    "$(printf '%s\n' "${ratios[@]}" | median)"
}

echo "$frames pictures of 640x480, $runs pairs each; $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| clip | A against B | A wall s | A CPU s | B wall s | B CPU s | A/B wall (median of pairs) |"
echo "|---|---|---|---|---|---|---|"
for clip in grainy clean; do
  pair "$clip" "medium vs mpeg2video" "rvx $clip --preset medium" "mpeg2 $clip"
  pair "$clip" "medium NoDEF vs mpeg2video" "rvx $clip --preset medium --transform DCT-NoDEF" "mpeg2 $clip"
  pair "$clip" "fast vs classic" "rvx $clip --preset fast" "rvx $clip --preset classic"
done
