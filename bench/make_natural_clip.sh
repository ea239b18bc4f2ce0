#!/usr/bin/env bash
# Makes a numbered PNG run (OUTDIR/f0001.png ...) of camera-like content from
# one photograph: a window of the photo moves over it as a hand-held camera
# would (smooth sub-pixel motion, a slight turn and a little shake), with
# temporal film grain, so rate-distortion measurements see natural pictures
# rather than synthetic ones.
#
#   bench/make_natural_clip.sh OUTDIR --size WxH --frames N --photo FILE
#                              --motion pan|zoom|shake
#
#   pan    a slow sweep from left to right with a little vertical drift
#   zoom   a push-in from 1.25x to 1.8x magnification while turning slightly
#   shake  a held shot at 1.4x with hand-held wobble and small turns
#
# The photo is scaled to cover twice the output size; every frame is drawn
# from it by one perspective warp (cubic, with the window's centre,
# magnification and angle as per-frame expressions) and then scaled down by
# two, which keeps the motion smooth below a pixel. Grain is added to the
# 4:4:4 picture (strength 6 on luma, 3 on chroma, new every frame; the noise
# seed is fixed, so a run is the same every time).
set -euo pipefail

usage() { sed -n '7,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -ge 1 ] || usage
out=$1; shift
size=640x480; frames=90; photo=""; motion=pan
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --photo) photo=$2; shift 2 ;;
    --motion) motion=$2; shift 2 ;;
    -h|--help) usage ;;
    *) echo "make_natural_clip: unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ $size =~ ^([0-9]+)x([0-9]+)$ ]] || { echo "make_natural_clip: --size must be WxH" >&2; exit 2; }
w=${BASH_REMATCH[1]}; h=${BASH_REMATCH[2]}
if [ $((w % 2)) -ne 0 ] || [ $((h % 2)) -ne 0 ] || [ "$w" -lt 16 ] || [ "$h" -lt 16 ] ||
   [ "$w" -gt 4096 ] || [ "$h" -gt 4096 ]; then
  echo "make_natural_clip: --size needs even sides from 16 to 4096" >&2; exit 2
fi
[[ $frames =~ ^[0-9]+$ ]] && [ "$frames" -ge 1 ] && [ "$frames" -le 9999 ] ||
  { echo "make_natural_clip: --frames must be 1..9999" >&2; exit 2; }
[ -f "$photo" ] || { echo "make_natural_clip: --photo: no such file: $photo" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "make_natural_clip: ffmpeg is missing" >&2; exit 2; }

# Motion in the working picture (2w x 2h): the window's centre offset dx, dy
# in working pixels, its magnification z and its angle a in radians, as
# functions of the frame number 'in'. Every motion carries the same small
# tremor (a few incommensurate sines, under a pixel of output).
ww=$((2 * w)); wh=$((2 * h))
p="(in/$frames)"
tremor_x="(1.4*sin(in*0.91)+0.9*sin(in*2.13+1.1))"
tremor_y="(1.1*sin(in*1.37+0.4)+0.8*sin(in*2.71+2.3))"
case "$motion" in
  pan)
    z="1.35"
    dx="(-0.11*$ww*cos(PI*$p)+$tremor_x)"
    dy="(0.04*$wh*sin(PI*$p*1.3)+$tremor_y)"
    a="(0.006*sin(in*0.13))" ;;
  zoom)
    z="(1.25*exp(0.3646*$p))"   # 1.25 to 1.8
    dx="(0.05*$ww*$p+$tremor_x)"
    dy="(-0.03*$wh*$p+$tremor_y)"
    a="(0.035*$p+0.004*sin(in*0.21))" ;;
  shake)
    z="1.4"
    dx="(9*sin(in*0.37)+5*sin(in*0.83+0.7)+3*sin(in*1.9+2.0)+$tremor_x)"
    dy="(7*sin(in*0.29+1.3)+4*sin(in*0.97+0.2)+3*sin(in*2.3+0.9)+$tremor_y)"
    a="(0.012*sin(in*0.41)+0.006*sin(in*1.07+0.5))" ;;
  *) echo "make_natural_clip: --motion must be pan, zoom or shake" >&2; exit 2 ;;
esac

# Source position of the window corner at (su, sv) (each -1 or +1).
corner_x() { echo "($ww/2+$dx+($1*$w*cos($a)-($2)*$h*sin($a))/$z)"; }
corner_y() { echo "($wh/2+$dy+($1*$w*sin($a)+($2)*$h*cos($a))/$z)"; }
warp="perspective=interpolation=cubic:eval=frame"
warp+=":x0='$(corner_x -1 -1)':y0='$(corner_y -1 -1)'"
warp+=":x1='$(corner_x 1 -1)':y1='$(corner_y 1 -1)'"
warp+=":x2='$(corner_x -1 1)':y2='$(corner_y -1 1)'"
warp+=":x3='$(corner_x 1 1)':y3='$(corner_y 1 1)'"

graph="scale=$ww:$wh:force_original_aspect_ratio=increase:flags=lanczos+accurate_rnd,"
graph+="crop=$ww:$wh,format=yuv444p,$warp,"
graph+="scale=$w:$h:flags=lanczos+accurate_rnd,noise=c0s=6:c1s=3:c2s=3:allf=t"

mkdir -p "$out"
rm -f "$out"/f[0-9][0-9][0-9][0-9].png
ffmpeg -v error -nostdin -y -loop 1 -framerate 30 -i "$photo" -vf "$graph" -frames:v "$frames" \
  -pix_fmt rgb24 -start_number 1 "$out/f%04d.png"
echo "$out: $frames frames of ${w}x$h, $motion over $(basename "$photo")"
