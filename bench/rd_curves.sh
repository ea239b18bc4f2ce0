#!/usr/bin/env bash
# Rate-distortion curves of rvxenc settings on one PNG run, and their
# Bjøntegaard delta rates against each other and against FFmpeg's mpeg2video.
#
#   bench/rd_curves.sh CLIPDIR [--curve "NAME:RVXENC ARGS"]... [--qualities "2 3 4 ..."]
#                      [--mpeg2] [--fps N] [--work DIR]
#   bench/rd_curves.sh --self-test
#
# CLIPDIR holds a numbered run f0001.png ... (bench/make_natural_clip.sh).
# Each curve encodes the run once per quality; in its arguments {q} is the
# quality, {q+N} the quality plus N and {q*F} the quality times F (rounded),
# both clamped to 2..32. Without --curve there is one curve,
#   classic:--quality {q},{q+2},{q+4}
# the default spacing of the I, P and B qualities. Arguments are handed to
# rvxenc as they are, so any flag it knows may be measured. --qualities
# defaults to "2 3 4 6 8 11 16 22 30".
#
# --mpeg2 adds FFmpeg's mpeg2video at -qscale:v 2 3 5 8 12 18 with -bf 2
# -g 16 on yuv420p. Every encode runs alone, one after another.
#
# Measured per point: the file's bytes; kbit/s at --fps (default 30); luma
# PSNR; encode wall time as frames per second and CPU time (user + system,
# all threads) in ms per frame, reading the PNG files included.
#
# Luma PSNR: the decoded pictures are RGB (rvxdec --frames writes PNG;
# mpeg2video's yuv420p is turned into RGB PNG by FFmpeg with bicubic,
# accurate-rounding, full-chroma scaling, so both codecs are judged on the
# RGB pictures a viewer gets). Decoded and source PNGs then pass the same
# conversion to yuv444p (BT.601 studio range, accurate rounding) and FFmpeg's
# psnr filter compares them; its overall y figure (from the mean squared
# error over all frames) is the PSNR.
#
# BD-rate of curve B against curve A: log(kbit/s) is fitted as a cubic in
# PSNR per curve (least squares over all its points, at least 4), both fits
# are integrated over the PSNR range both curves cover, and
# (exp(mean difference) - 1) x 100 % is the extra rate B needs for the same
# quality (negative: B saves). "n/a" when the ranges do not overlap.
# --self-test checks this arithmetic on synthetic curves and exits; every
# measuring run checks it first as well.
set -euo pipefail
self=$(readlink -f "$0")
caller=$PWD
cd "$(dirname "$self")/.."

source "$(dirname "$self")/bd_rate.sh"
source "$(dirname "$self")/clip_measure.sh"

if [ "${1:-}" = --self-test ]; then
  self_test && echo "rd_curves: BD-rate self-test passed"
  exit
fi

help_text() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$self"; }
usage() { sed -n '5,7p' "$self" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -ge 1 ] || usage
case "$1" in -h|--help) help_text; exit 0 ;; esac
clip=$(cd "$caller" && cd "$1" 2>/dev/null && pwd) || { echo "rd_curves: no clip directory $1" >&2; exit 2; }
shift
curves=(); qualities="2 3 4 6 8 11 16 22 30"; mpeg2=false; fps=30
work=${TMPDIR:-/tmp}/rvx-rd-curves
while [ $# -gt 0 ]; do
  case "$1" in
    --curve) curves+=("$2"); shift 2 ;;
    --qualities) qualities=$2; shift 2 ;;
    --mpeg2) mpeg2=true; shift ;;
    --fps) fps=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    -h|--help) help_text; exit 0 ;;
    *) echo "rd_curves: unknown argument $1" >&2; usage ;;
  esac
done
[ ${#curves[@]} -gt 0 ] || curves=("classic:--quality {q},{q+2},{q+4}")
seen=()
for curve in "${curves[@]}"; do
  [[ $curve =~ ^[A-Za-z0-9._-]+: ]] || { echo "rd_curves: --curve must be NAME:ARGS (NAME of letters, digits, . _ -): $curve" >&2; exit 2; }
  [ "${curve%%:*}" != mpeg2video ] || { echo "rd_curves: the name mpeg2video is taken by --mpeg2" >&2; exit 2; }
  for other in "${seen[@]}"; do
    [ "$other" != "${curve%%:*}" ] || { echo "rd_curves: two curves are named $other" >&2; exit 2; }
  done
  seen+=("${curve%%:*}")
done
for q in $qualities; do
  [[ $q =~ ^[0-9]+$ ]] || { echo "rd_curves: --qualities must be whole numbers: $q" >&2; exit 2; }
done
[[ $fps =~ ^[0-9]+(\.[0-9]+)?$ ]] && awk -v f="$fps" 'BEGIN { exit !(f > 0) }' ||
  { echo "rd_curves: --fps must be a positive number" >&2; exit 2; }
case $work in /*) ;; *) work=$caller/$work ;; esac
for tool in ffmpeg awk; do
  command -v "$tool" >/dev/null || { echo "rd_curves: $tool is missing (scripts/setup installs it)" >&2; exit 2; }
done
self_test

frames=$(find "$clip" -maxdepth 1 -name 'f[0-9][0-9][0-9][0-9].png' | wc -l)
[ -f "$clip/f0001.png" ] && [ -f "$clip/$(printf 'f%04d.png' "$frames")" ] ||
  { echo "rd_curves: $clip holds no unbroken run f0001.png ..." >&2; exit 2; }

build=${RVX_BUILD_DIR:-build}
scripts/build -j2 rvxenc rvxdec >/dev/null
rvxenc=$build/cli/rvxenc
rvxdec=$build/cli/rvxdec
mkdir -p "$work"
points=$work/points.txt   # CURVE LABEL BYTES KBITS PSNR WALL CPU
: >"$points"
sws=bicubic+accurate_rnd+full_chroma_int

# Runs a command alone; its wall and CPU (user + system) seconds in $wall, $cpu.
timed() {
  local t user sys
  t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>"$work/last-stderr.txt"; } 2>&1 ) || {
    cat "$work/last-stderr.txt" >&2; echo "rd_curves: failed: $*" >&2; exit 1; }
  read -r wall user sys <<<"$t"
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')
}

# Luma PSNR of the PNG run $1 (a pattern, first number $2) against the source.
luma_psnr() {
  local decoded=$1 start=$2 log=$work/psnr.txt graph n
  n=$(find "$(dirname "$decoded")" -maxdepth 1 -name '*.png' | wc -l)
  [ "$n" -eq "$frames" ] || { echo "rd_curves: $n decoded pictures for $frames source pictures" >&2; exit 1; }
  graph="[0]scale=flags=$sws,format=yuv444p[d];[1]scale=flags=$sws,format=yuv444p[s];[d][s]psnr"
  ffmpeg -hide_banner -nostdin -nostats -start_number "$start" -i "$decoded" -start_number 1 -i "$clip/f%04d.png" \
    -filter_complex "$graph" -f null - 2>"$log" ||
    { cat "$log" >&2; echo "rd_curves: PSNR measurement failed" >&2; exit 1; }
  psnr=$(grep -o 'PSNR y:[0-9.inf]*' "$log" | sed 's/.*y://')
  [ -n "$psnr" ] || { cat "$log" >&2; echo "rd_curves: no PSNR in FFmpeg's output" >&2; exit 1; }
}

record() {  # curve, label, file
  local bytes
  bytes=$(stat -c %s "$3")
  awk -v c="$1" -v l="$2" -v b="$bytes" -v p="$psnr" -v w="$wall" -v u="$cpu" -v n="$frames" -v f="$fps" \
    'BEGIN { printf "%s %s %d %.1f %s %s %s\n", c, l, b, b * 8 * f / n / 1000, p, w, u }' >>"$points"
}

decoded=$work/decoded
echo "clip: $clip, $frames frames at $fps fps; $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
for curve in "${curves[@]}"; do
  name=${curve%%:*}; template=${curve#*:}
  for q in $qualities; do
    read -r -a args <<<"$(expand_quality "$template" "$q")"
    out=$work/$name-q$q.rvx
    timed "$rvxenc" "$clip/f0001.png" -o "$out" --overwrite --quiet "${args[@]}"
    rm -rf "$decoded"; mkdir -p "$decoded"
    "$rvxdec" "$out" --frames "$decoded" >/dev/null ||
      { echo "rd_curves: rvxdec failed on $out" >&2; exit 1; }
    # rvxdec numbers its pictures from 0.
    luma_psnr "$decoded/frame%06d.png" 0
    record "$name" "$q" "$out"
  done
done
if $mpeg2; then
  for q in 2 3 5 8 12 18; do
    out=$work/mpeg2video-q$q.m2v
    timed ffmpeg -nostdin -v error -y -framerate "$fps" -start_number 1 -i "$clip/f%04d.png" \
      -sws_flags "$sws" -c:v mpeg2video -qscale:v "$q" -bf 2 -g 16 -pix_fmt yuv420p "$out"
    rm -rf "$decoded"; mkdir -p "$decoded"
    ffmpeg -nostdin -v error -i "$out" -sws_flags "$sws" -pix_fmt rgb24 -start_number 1 "$decoded/f%04d.png"
    luma_psnr "$decoded/f%04d.png" 1
    record mpeg2video "$q" "$out"
  done
fi

names=()
for curve in "${curves[@]}"; do names+=("${curve%%:*}"); done
$mpeg2 && names+=(mpeg2video)
for name in "${names[@]}"; do
  echo
  if [ "$name" = mpeg2video ]; then echo "mpeg2video (-bf 2 -g 16, yuv420p)"
  else for curve in "${curves[@]}"; do [ "${curve%%:*}" = "$name" ] && echo "$name: rvxenc ${curve#*:}"; done; fi
  printf '%8s %10s %9s %8s %8s %8s\n' quality bytes kbit/s "Y dB" fps "cpu ms/f"
  awk -v c="$name" -v n="$frames" '$1 == c {
    printf "%8s %10d %9.1f %8.3f %8.1f %8.1f\n", $2, $3, $4, $5, ($6 > 0 ? n / $6 : 0), $7 * 1000 / n }' "$points"
done

pairs=""
for name in "${names[@]}"; do
  $mpeg2 && pairs+="$name:mpeg2video "
  pairs+="$name:${names[0]} "
done
echo
echo "BD-rate (luma PSNR; extra kbit/s for the same quality, negative saves)"
header=$(printf '%-14s' curve)
$mpeg2 && header+=$(printf ' %14s' "vs mpeg2video")
header+=$(printf ' %14s' "vs ${names[0]}")
echo "$header"
awk '{ print $1, $3, $5 }' "$points" | bd_rates "$pairs" | awk '
  { row[$1] = row[$1] sprintf(" %14s", $3); if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
  END { for (i = 1; i <= n; i++) printf "%-14s%s\n", order[i], row[order[i]] }'
echo "points: $points"
