#!/usr/bin/env bash
# Whole-program comparison with FFmpeg's mpeg2video encoder on one generated
# clip: wall and CPU time, frames per second, file size and PSNR against the
# source pictures, measured for both by ffmpeg's psnr filter.
#
# The first ffmpeg row is the fixed yardstick: the very command
#   ffmpeg -i frame%04d.png -threads 2 -c:v mpeg2video -qscale:v 4 -bf 2 -g 16 OUT.m2v
# and the last line gives rvxenc's wall time over that command's.
#
#   bench/compare_ffmpeg.sh [--frames N] [--size WxH] [--work DIR] [--rvxenc-args "..."]
#
# rvxenc runs with its default settings unless --rvxenc-args says otherwise;
# mpeg2video gets the same group of pictures (-g 16 -bf 2) and the fixed
# quantiser (-q:v) whose file comes closest in size to ours. When even its
# finest quantiser stays well below our size, rvxenc is run once more with the
# coarser quality triple that comes closest to that file, so there is also a
# pair of equal size. Our movie is decoded with rvxdec --y4m.
#
# PSNR is given twice, both from the same pairs: "RGB" compares planar RGB
# (what a viewer sees; both codecs pay for their chroma subsampling), "Y" the
# luma of studio-range BT.601 4:4:4 (the usual codec figure). The clip is
# cached in the work directory; timings include reading the PNG files.
set -euo pipefail
shopt -s lastpipe   # measure sets variables at the end of a pipeline
cd "$(dirname "$0")/.."

frames=150
size=640x480
work=${TMPDIR:-/tmp}/rvx-compare-ffmpeg
rvxenc_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --rvxenc-args) read -r -a rvxenc_args <<<"$2"; shift 2 ;;
    -h|--help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "compare_ffmpeg: unknown argument $1" >&2; exit 2 ;;
  esac
done
for tool in ffmpeg ffprobe python3; do
  command -v "$tool" >/dev/null || { echo "compare_ffmpeg: $tool is missing (scripts/setup installs it)" >&2; exit 2; }
done

build=${RVX_BUILD_DIR:-build}
scripts/build rvxenc rvxdec >/dev/null
rvxenc=$build/cli/rvxenc
rvxdec=$build/cli/rvxdec
fps=30

clip=$work/clip-$size-$frames
if [ ! -f "$clip/.done" ]; then
  rm -rf "$clip"
  scripts/make-sample --out "$clip" --frames "$frames" --size "$size" --fps "$fps" --no-sound >/dev/null
  touch "$clip/.done"
fi
source_pattern=$clip/frame%04d.png
mkdir -p "$work"

# Runs a command; its wall and CPU (user + system) seconds in $wall, $cpu.
timed() {
  local t
  t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>"$work/last-stderr.txt"; } 2>&1 ) || {
    cat "$work/last-stderr.txt" >&2; echo "compare_ffmpeg: failed: $*" >&2; exit 1; }
  read -r wall user sys <<<"$t"
  cpu=$(python3 -c "print(f'{$user + $sys:.2f}')")
}

# PSNR of the decoded pictures on standard input against the source run:
# sets $rgb_psnr, $y_psnr, $psnr_frames.
measure() {
  local graph log
  graph="[0]setpts=PTS-STARTPTS,split[d1][d2];[1]setpts=PTS-STARTPTS,split[s1][s2];"
  graph+="[d1]scale=flags=accurate_rnd+full_chroma_int,format=gbrp[dr];"
  graph+="[s1]scale=flags=accurate_rnd+full_chroma_int,format=gbrp[sr];[dr][sr]psnr[o1];"
  graph+="[d2]scale=flags=accurate_rnd+full_chroma_int,format=yuv444p[dy];"
  graph+="[s2]scale=flags=accurate_rnd+full_chroma_int,format=yuv444p[sy];[dy][sy]psnr=stats_file=$work/psnr-y.log[o2]"
  log=$work/psnr.txt
  ffmpeg -hide_banner -nostats -i - -framerate "$fps" -start_number 1 -i "$source_pattern" \
    -filter_complex "$graph" -map '[o1]' -f null - -map '[o2]' -f null - 2>"$log" ||
    { cat "$log" >&2; echo "compare_ffmpeg: PSNR measurement failed" >&2; exit 1; }
  rgb_psnr=$(grep -o 'PSNR r:.*average:[0-9.inf]*' "$log" | sed 's/.*average://')
  y_psnr=$(grep -o 'PSNR y:[0-9.inf]*' "$log" | sed 's/.*y://')
  psnr_frames=$(wc -l <"$work/psnr-y.log")
}

rows=()
report() {  # name, file, wall, cpu
  local bytes
  bytes=$(stat -c %s "$2")
  rows+=("$(python3 -c "
name, size, wall, cpu, rgb, y, n = '$1', $bytes, $3, $4, '$rgb_psnr', '$y_psnr', $psnr_frames
print(f'{name:<34} {wall:7.2f} {cpu:7.2f} {$frames / wall:8.1f} {size:>10,} {float(rgb):8.2f} {float(y):8.2f} {n:>6}')")")
}

encode_ours() {  # output, rvxenc arguments...
  local out=$1; shift
  timed "$rvxenc" "$clip/frame0001.png" -o "$out" --overwrite --quiet "$@"
  "$rvxdec" "$out" --y4m - 2>/dev/null | measure
}

mpeg2() {  # quantiser, output
  ffmpeg -v error -y -framerate "$fps" -start_number 1 -i "$source_pattern" -c:v mpeg2video -g 16 -bf 2 \
    -qmin 1 -q:v "$1" -pix_fmt yuv420p "$2"
}

echo "clip: $frames frames of $size at $fps fps from scripts/make-sample; $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
ours=$work/ours.rvx
encode_ours "$ours" "${rvxenc_args[@]}"
ours_label="rvxenc ${rvxenc_args[*]:-(defaults)}"
report "$ours_label" "$ours" "$wall" "$cpu"
ours_wall=$wall
ours_size=$(stat -c %s "$ours")

# The yardstick: the same command every time, whatever our file's size.
yardstick=$work/yardstick.m2v
timed ffmpeg -v error -y -i "$source_pattern" -threads 2 -c:v mpeg2video -qscale:v 4 -bf 2 -g 16 "$yardstick"
yardstick_wall=$wall
# The command reads the pictures at ffmpeg's default 25 fps: renumbered at
# the clip's rate, each decoded picture meets its own source picture.
ffmpeg -v error -i "$yardstick" -vf "setpts=N/($fps*TB)" -r "$fps" -f yuv4mpegpipe -pix_fmt yuv420p - | measure
report "ffmpeg -threads 2 -qscale:v 4" "$yardstick" "$wall" "$cpu"

# The fixed quantiser whose file size is closest to ours (sizes fall as q rises).
best_q=1; best_gap=-1
lo=1; hi=31
while [ $lo -le $hi ]; do
  q=$(( (lo + hi) / 2 ))
  mpeg2 "$q" "$work/probe.m2v"
  s=$(stat -c %s "$work/probe.m2v")
  gap=$(( s > ours_size ? s - ours_size : ours_size - s ))
  if [ $best_gap -lt 0 ] || [ $gap -lt $best_gap ]; then best_gap=$gap; best_q=$q; fi
  if [ "$s" -gt "$ours_size" ]; then lo=$((q + 1)); else hi=$((q - 1)); fi
done
theirs=$work/mpeg2.m2v
timed mpeg2 "$best_q" "$theirs"
ffmpeg -v error -i "$theirs" -f yuv4mpegpipe -pix_fmt yuv420p - | measure
report "ffmpeg mpeg2video -q:v $best_q" "$theirs" "$wall" "$cpu"
theirs_size=$(stat -c %s "$theirs")

# mpeg2video cannot grow as large as our file: add our encode of its size.
if [ $(( theirs_size * 100 / ours_size )) -lt 85 ] && [ ${#rvxenc_args[@]} -eq 0 ]; then
  best=""; best_gap=-1
  lo=4; hi=28
  while [ $lo -le $hi ]; do
    q=$(( (lo + hi) / 2 ))
    "$rvxenc" "$clip/frame0001.png" -o "$work/probe.rvx" --overwrite --quiet --quality "$q,$((q + 2)),$((q + 4))"
    s=$(stat -c %s "$work/probe.rvx")
    gap=$(( s > theirs_size ? s - theirs_size : theirs_size - s ))
    if [ $best_gap -lt 0 ] || [ $gap -lt $best_gap ]; then best_gap=$gap; best=$q; fi
    if [ "$s" -gt "$theirs_size" ]; then lo=$((q + 1)); else hi=$((q - 1)); fi
  done
  quality="$best,$((best + 2)),$((best + 4))"
  encode_ours "$work/ours-matched.rvx" --quality "$quality"
  report "rvxenc --quality $quality" "$work/ours-matched.rvx" "$wall" "$cpu"
fi

printf '%-34s %7s %7s %8s %10s %8s %8s %6s\n' encoder "wall s" "cpu s" "fps" bytes "RGB dB" "Y dB" frames
printf '%s\n' "${rows[@]}"
python3 -c "print(f'rvxenc wall / ffmpeg -threads 2 -qscale:v 4 wall: {$ours_wall / $yardstick_wall:.2f}')"
