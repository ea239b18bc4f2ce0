#!/usr/bin/env bash
# BD-rate tables of rvxenc configurations over a set of clips, against FFmpeg's
# mpeg2video in its default mode and in its best rate-distortion mode.
#
#   bench/bd_table.sh CLIPSET [--configs FILE] [--config "NAME:ARGS"]...
#                     [--clips NAME,NAME] [--qualities "2 4 ..."] [--jobs N]
#                     [--work DIR] [--rvxenc PATH] [--out FILE] [--kept-only]
#                     [--fit pchip|cubic]
#
# CLIPSET is a folder made by bench/make_clip_set.sh (its clips.txt gives
# the order, sizes and which clips are held out); without clips.txt every
# sub-folder holding f0001.png is a clip. A configuration is one "NAME: ARGS"
# line of FILE (blank lines and # comments skipped) or one --config; ARGS go
# to rvxenc as they are, and get "--quality {q}" added unless they hold {q}
# (bench/rd_curves.sh's {q}, {q+N}, {q*F} forms work). --qualities defaults
# to "3 5 8 12 18 30". The references are always measured at -qscale:v
# 2 3 5 8 12 18 with -bf 2 -g 16 on yuv420p:
#   mpeg2video       its defaults
#   mpeg2video-best  -mbd rd -trellis 1 -cmp satd -subcmp satd
#
# Every point (clip, arguments, quality) is kept in --work (default
# $TMPDIR/rvx-bd-table): the encoded file and a line of bytes, luma PSNR,
# wall and CPU seconds. The key is the clip's name and pictures, the
# arguments and the encoder binary, so an interrupted run goes on where it
# stopped, a new build measures afresh, and a configuration renamed or
# shared by two tables is not encoded twice. --jobs N measures N points at
# once (CPU figures stay per process; wall figures then mean little).
# --kept-only measures nothing and prints the tables of the points kept so
# far (a curve with fewer than 4 points reads n/a).
#
# Luma PSNR is computed as bench/rd_curves.sh does (decoded RGB pictures and
# the source both turned into BT.601 yuv444p). BD-rate integrates log rate
# over the PSNR range both curves cover, followed between the points by a
# monotone piecewise cubic (--fit pchip, the default; grainy clips flatten
# at a PSNR ceiling where one least-squares cubic, --fit cubic as in
# rd_curves.sh, swings far off). A point whose encode fails is reported as
# "failed" in its cell; the run goes on.
#
# Prints three markdown tables (also to --out FILE): BD-rate against each
# reference, one row per clip and one column per configuration, with the
# range over the tuning clips and over the held-out clips; and CPU
# milliseconds per frame (user + system of the whole process, reading the
# PNG files included, mean over the curve's points).
set -euo pipefail
self=$(readlink -f "$0")
caller=$PWD
cd "$(dirname "$self")/.."
source bench/bd_rate.sh
source bench/clip_measure.sh

help_text() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$self"; }
usage() { sed -n '5,7p' "$self" | sed 's/^# \{0,1\}//' >&2; exit 2; }
fail() { echo "bd_table: $*" >&2; exit 2; }
absolute() { case $1 in /*) echo "$1" ;; *) echo "$caller/$1" ;; esac; }

[ $# -ge 1 ] || usage
case "$1" in -h|--help) help_text; exit 0 ;; esac
set_dir=$(cd "$caller" && cd "$1" 2>/dev/null && pwd) || fail "no clip set $1"
shift
configs=(); only=""; qualities="3 5 8 12 18 30"; jobs=1; rvxenc=""; out=""; kept_only=false; fit=pchip
work=${TMPDIR:-/tmp}/rvx-bd-table
read_configs() {  # file
  local line
  [ -f "$1" ] || fail "no configuration file $1"
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%%#*}
    [[ $line =~ [^[:space:]] ]] || continue
    configs+=("$(sed 's/^[[:space:]]*//; s/[[:space:]]*$//; s/^\([^:]*[^:[:space:]]\)[[:space:]]*:[[:space:]]*/\1:/' <<<"$line")")
  done <"$1"
}
while [ $# -gt 0 ]; do
  case "$1" in
    --configs) read_configs "$(absolute "$2")"; shift 2 ;;
    --config) configs+=("$2"); shift 2 ;;
    --clips) only=$2; shift 2 ;;
    --qualities) qualities=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --work) work=$(absolute "$2"); shift 2 ;;
    --rvxenc) rvxenc=$(absolute "$2"); shift 2 ;;
    --out) out=$(absolute "$2"); shift 2 ;;
    --kept-only) kept_only=true; shift ;;
    --fit) fit=$2; shift 2 ;;
    -h|--help) help_text; exit 0 ;;
    *) echo "bd_table: unknown argument $1" >&2; usage ;;
  esac
done
[ ${#configs[@]} -gt 0 ] || fail "no configuration: give --configs FILE or --config NAME:ARGS"
names=()
for config in "${configs[@]}"; do
  [[ $config =~ ^[A-Za-z0-9._/+-]+: ]] || fail "a configuration must be NAME:ARGS (NAME of letters, digits, . _ / + -): $config"
  name=${config%%:*}
  [[ $name != mpeg2video* ]] || fail "names starting with mpeg2video are the references'"
  for other in "${names[@]}"; do [ "$other" != "$name" ] || fail "two configurations are named $name"; done
  names+=("$name")
done
for q in $qualities; do [[ $q =~ ^[0-9]+$ ]] || fail "--qualities must be whole numbers: $q"; done
[ "$(wc -w <<<"$qualities")" -ge 4 ] || fail "--qualities needs at least 4 points for the fit"
[[ $jobs =~ ^[1-9][0-9]*$ ]] || fail "--jobs must be a positive whole number"
[ "$fit" = pchip ] || [ "$fit" = cubic ] || fail "--fit must be pchip or cubic"
for tool in ffmpeg awk md5sum; do command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup installs it)"; done
self_test

if [ -z "$rvxenc" ]; then
  build=${RVX_BUILD_DIR:-build}
  scripts/build -j2 rvxenc shown_frames >/dev/null
  rvxenc=$PWD/$build/cli/rvxenc
fi
shown_frames=$(shown_frames_beside "$rvxenc")
[ -x "$rvxenc" ] && [ -x "$shown_frames" ] || fail "no rvxenc and bench/shown_frames in the build of $rvxenc"
encoder_id=$(md5sum "$rvxenc" | cut -c1-12)
ffmpeg_id=$(ffmpeg -version | head -1 | md5sum | cut -c1-12)
mpeg2_qscales="2 3 5 8 12 18"
mpeg2_default=""
mpeg2_best="-mbd rd -trellis 1 -cmp satd -subcmp satd"
sws=$clip_measure_sws
fps=30

mapfile -t clip_rows < <(clip_set_rows "$set_dir" "$only")
[ ${#clip_rows[@]} -gt 0 ] || fail "no clips in $set_dir"

# One folder per clip and arguments; its name is a hash of what decides the
# result, args.txt says what it holds.
point_dir() {  # clip name, clip id, kind, encoder id, arguments
  local key
  key=$(printf '%s\n' "$3" "$4" "$5" | md5sum | cut -c1-12)
  echo "$work/$1-$2/$key"
}

# Measures one point unless it is kept: encode (timed), decode to RGB PNG,
# luma PSNR against the source. Writes "BYTES PSNR WALL CPU" to qN.pt, or
# the failure to qN.failed.
measure_point() {  # clip dir, frames, point dir, quality, kind, arguments
  local clip=$1 frames=$2 dir=$3 q=$4 kind=$5 args=$6 tmp file t wall user sys psnr
  [ -f "$dir/q$q.pt" ] && return 0
  tmp=$(mktemp -d "$work/tmp.XXXXXX")
  if [ "$kind" = rvxenc ]; then
    file=$dir/q$q.rvx
    read -r -a argv <<<"$(expand_quality "$args" "$q")"
    t=$( { TIMEFORMAT='%R %U %S'; time "$rvxenc" "$clip/f0001.png" -o "$tmp/out.rvx" --overwrite --quiet \
           "${argv[@]}" >/dev/null 2>"$tmp/err"; } 2>&1 ) || { point_failed; return 0; }
  else
    file=$dir/q$q.m2v
    read -r -a argv <<<"$args"
    t=$( { TIMEFORMAT='%R %U %S'; time ffmpeg -nostdin -v error -y -framerate "$fps" -start_number 1 \
           -i "$clip/f%04d.png" -sws_flags "$sws" -c:v mpeg2video -qscale:v "$q" -bf 2 -g 16 "${argv[@]}" \
           -pix_fmt yuv420p "$tmp/out.m2v" 2>"$tmp/err"; } 2>&1 ) || { point_failed; return 0; }
  fi
  mv "$tmp/out.${file##*.}" "$file"
  read -r wall user sys <<<"$t"
  psnr=$(luma_psnr "$clip" "$frames" "$file" "$tmp") || { point_failed; return 0; }
  awk -v b="$(stat -c %s "$file")" -v p="$psnr" -v w="$wall" -v u="$user" -v s="$sys" \
    'BEGIN { printf "%d %s %s %.3f\n", b, p, w, u + s }' >"$dir/q$q.tmp"
  mv "$dir/q$q.tmp" "$dir/q$q.pt"
  rm -rf "$tmp"
}

point_failed() {  # uses measure_point's locals
  { echo "$kind $args at $q failed:"; cat "$tmp/err"; } >"$dir/q$q.failed"
  echo "bd_table: $(basename "$clip") $kind $args at quality $q failed (see $dir/q$q.failed)" >&2
  rm -rf "$tmp"
}

# Every point to measure: "CLIP FRAMES DIR QUALITY KIND ARGS".
mkdir -p "$work"
todo=$work/todo.$$
: >"$todo"
trap 'rm -f "$todo"' EXIT
curve_dir() {  # clip name, clip id, config -> sets cdir, kind, cargs, cqualities
  local config=$1
  case "$config" in
    mpeg2video:*|mpeg2video-best:*) kind=mpeg2video; cargs=${config#*:}; cqualities=$mpeg2_qscales
      cdir=$(point_dir "$2" "$3" mpeg2video "$ffmpeg_id" "$cargs") ;;
    *) kind=rvxenc; cargs=${config#*:}; cqualities=$qualities
      [[ $cargs == *"{q"* ]] || cargs+=" --quality {q}"
      cdir=$(point_dir "$2" "$3" rvxenc "$encoder_id" "$cargs") ;;
  esac
}
all_configs=("mpeg2video:$mpeg2_default" "mpeg2video-best:$mpeg2_best" "${configs[@]}")
declare -A clip_ids
for row in "${clip_rows[@]}"; do
  read -r name size n role <<<"$row"
  clip_ids[$name]=$(clip_digest "$set_dir/$name" "$n")
done
# Configuration by configuration, so a run cut short has whole columns.
for config in "${all_configs[@]}"; do
  for row in "${clip_rows[@]}"; do
    read -r name size n role <<<"$row"
    curve_dir "$config" "$name" "${clip_ids[$name]}"
    mkdir -p "$cdir"
    echo "$config" >"$cdir/args.txt"
    for q in $cqualities; do
      [ -f "$cdir/q$q.pt" ] || echo "$set_dir/$name $n $cdir $q $kind $cargs" >>"$todo"
    done
  done
done

! $kept_only || : >"$todo"
total=$(wc -l <"$todo")
echo "bd_table: $total points to measure (${#clip_rows[@]} clips, ${#all_configs[@]} curves), $jobs at a time;" \
  "$(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
done_count=0
while read -r clip frames dir q kind args; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  measure_point "$clip" "$frames" "$dir" "$q" "$kind" "$args" &
  done_count=$((done_count + 1))
  [ $((done_count % 20)) -ne 0 ] || echo "bd_table: $done_count of $total started" >&2
done <"$todo"
wait

source bench/bd_table_report.sh
report | tee ${out:+"$out"}
