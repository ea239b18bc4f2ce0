#!/usr/bin/env bash
# Makes the set of short PNG runs that encoder decisions are measured on:
# one folder per clip (DIR/NAME/f0001.png ...) and DIR/clips.txt, one line a
# clip: "NAME WxH FRAMES tuning|held-out DESCRIPTION".
#
#   bench/make_clip_set.sh DIR [--only NAME[,NAME...]] [--list]
#
#   box          real camera footage: hand-held around objects on a table
#                (/work/shared/media/box.mp4 or $RVX_MEDIA), 640x480, 40 frames
#   cup          real camera footage: a cup on a table (cup.mp4), 640x480,
#                40 frames; held out
#   photo-pan    a photograph panned with grain (Garden.jpg), 640x480, 40
#   photo-zoom   a photograph zoomed in while turning, with grain
#                (LadyBird.jpg), 576x384, 40 frames; held out
#   street       a fixed camera on a road (Storm.jpg) with a textured car and
#                a walker crossing, grain and a cloud darkening the scene,
#                768x576, 40 frames
#   cartoon      CG-like animation: a still painted background (Dune.jpg,
#                blurred and posterised into flat areas), a drawn figure that
#                blinks, talks and waves, a cut to another scene (Wood.jpg)
#                after 18 frames, 720x528, 36 frames
#   mandelbrot   a generated fractal zooming in, 640x480, 30 frames
#   photo-1080p  a photograph held by a shaking hand with grain
#                (TwoWings.jpg), 1920x1080, 20 frames
#
# The photographs come from Debian's mate-backgrounds package
# (/usr/share/backgrounds/mate/nature/), installed through scripts/setup
# when missing. Everything else is drawn by FFmpeg's sources and filters; the
# grain's seeds are fixed and the camera clips are decoded on one thread, so
# a set is the same on every run. The held-out clips are never used to tune
# a decision, only to check one (bench/bd_table.sh marks them).
set -euo pipefail
self=$(readlink -f "$0")
cd "$(dirname "$self")/.."

usage() { sed -n '5,6p' "$self" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -ge 1 ] || usage
case "$1" in -h|--help) sed -n '2,31p' "$self" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
out=$1; shift
only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --only) only=",$2,"; shift 2 ;;
    --list) list=true; shift ;;
    *) echo "make_clip_set: unknown argument $1" >&2; usage ;;
  esac
done

# name, size, frames, role, description
clips=(
  "box|640x480|40|tuning|real camera footage, hand-held around objects on a table"
  "cup|640x480|40|held-out|real camera footage, a cup on a table"
  "photo-pan|640x480|40|tuning|photograph panned with grain"
  "photo-zoom|576x384|40|held-out|photograph zoomed in and turning with grain"
  "street|768x576|40|tuning|fixed camera, a car and a walker crossing, grain, a cloud darkening the scene"
  "cartoon|720x528|36|tuning|CG-like animation, painted still background, figure talking and waving, a cut at frame 19"
  "mandelbrot|640x480|30|tuning|generated fractal zooming in"
  "photo-1080p|1920x1080|20|tuning|photograph held by a shaking hand with grain"
)
if [ "${list:-false}" = true ]; then printf '%s\n' "${clips[@]}" | tr '|' ' '; exit 0; fi

media=${RVX_MEDIA:-/work/shared/media}
photos=/usr/share/backgrounds/mate/nature
[ -f "$photos/Garden.jpg" ] || scripts/setup mate-backgrounds
command -v ffmpeg >/dev/null || { echo "make_clip_set: ffmpeg is missing (scripts/setup installs it)" >&2; exit 2; }

ff() { ffmpeg -v error -nostdin -y "$@"; }

# Frames FIRST.. of a camera file, decoded on one thread (error concealment
# of damaged slices then never depends on thread timing).
camera_clip() {  # dir, file, first frame, frames
  [ -f "$2" ] || { echo "make_clip_set: no camera footage $2 (set RVX_MEDIA)" >&2; exit 2; }
  ff -threads 1 -i "$2" -an -vf "trim=start_frame=$3:end_frame=$(($3 + $4)),settb=1/30,setpts=N" \
    -fps_mode passthrough -frames:v "$4" -pix_fmt rgb24 -start_number 1 "$1/f%04d.png"
}

# A still background of 720x528 that looks painted: the photograph blurred
# and each channel posterised into flat steps.
painted_background() {  # photo
  echo "scale=720:528:force_original_aspect_ratio=increase,crop=720:528,gblur=sigma=5,"`
      `"lutrgb=r='floor(val/40)*40+20':g='floor(val/40)*40+20':b='floor(val/40)*40+20',"`
      `"smartblur=lr=1.5:ls=-0.3"
}

# A figure on a 200x300 transparent canvas: an outlined head and body, eyes
# that blink every 24 frames, a mouth that opens and closes and an arm that
# waves. N is the frame number within the scene.
figure_geq() {  # body colour as r,g,b
  local br bg bb
  IFS=, read -r br bg bb <<<"$1"
  local head="lt(hypot(X-100,Y-70),45)" head_line="between(hypot(X-100,Y-70),42,45)"
  local body="lt(hypot((X-100)/55,(Y-200)/80),1)"
  local body_line="between(hypot((X-100)/55,(Y-200)/80),0.95,1)"
  local eyes="if(lt(mod(N,24),3),lt(abs(Y-62),1.5)*(lt(abs(X-82),7)+lt(abs(X-118),7)),lt(hypot(X-82,Y-62),6)+lt(hypot(X-118,Y-62),6))"
  local mouth="between(X,88,112)*between(Y,88,90+5*abs(sin(N*0.9)))"
  local angle="(-0.6+0.6*sin(N*0.4))"
  local along="clip((X-150)*cos($angle)+(Y-150)*sin($angle),0,70)"
  local arm="lt(hypot(X-150-$along*cos($angle),Y-150-$along*sin($angle)),9)"
  local dark="gt($head_line+$body_line+$eyes+$mouth,0)"
  channel() {  # skin, shirt
    echo "if($dark,30,if($head,$1,if($arm+$body,$2,0)))"
  }
  echo "format=rgba,geq=r='$(channel 240 "$br")':g='$(channel 200 "$bg")':b='$(channel 170 "$bb")'"`
      `":a='if(gt($head+$body+$arm,0),255,0)'"
}

cartoon_scene() {  # dir, photo, body colour, figure x, figure scale, frames, first number
  local graph
  graph="[0]$(painted_background)[bg];"
  graph+="[1]$(figure_geq "$3"),scale=iw*$5:ih*$5[fig];"
  graph+="[bg][fig]overlay=x='$4+2*sin(n*0.15)':y=H-h-20:eval=frame,format=rgb24"
  ff -loop 1 -framerate 30 -i "$2" -f lavfi -i "color=c=black@0:s=200x300:r=30,format=rgba" \
    -filter_complex "$graph" -frames:v "$6" -pix_fmt rgb24 -start_number "$7" "$1/f%04d.png"
}

# A road seen by a fixed camera: the photograph stands still, a textured car
# (part of another photograph) drives across, a small walker crosses slowly,
# a cloud darkens and lightens the scene, and grain is new every frame.
street_clip() {  # dir, frames
  local graph
  graph="[0]scale=768:576:force_original_aspect_ratio=increase,crop=768:576[bg];"
  graph+="[1]scale=160:-2,crop=160:70:0:20[car];"
  graph+="[2]scale=-2:60,crop=18:44[walker];"
  graph+="[bg][car]overlay=x='-160+17*n':y=430:eval=frame[a];"
  graph+="[a][walker]overlay=x='520-1.5*n':y='380+sin(n*0.8)*2':eval=frame,"
  graph+="eq=brightness='-0.09*sin(PI*n/$2)':eval=frame,"
  graph+="format=yuv444p,noise=c0s=8:c1s=3:c2s=3:allf=t:all_seed=4711,format=rgb24"
  ff -loop 1 -framerate 30 -i "$photos/Storm.jpg" -loop 1 -framerate 30 -i "$photos/LadyBird.jpg" \
    -loop 1 -framerate 30 -i "$photos/Garden.jpg" -filter_complex "$graph" -frames:v "$2" \
    -pix_fmt rgb24 -start_number 1 "$1/f%04d.png"
}

make_clip() {  # name, dir, size, frames
  local name=$1 dir=$2 size=$3 n=$4 half
  case "$name" in
    box) camera_clip "$dir" "$media/box.mp4" 150 "$n" ;;
    cup) camera_clip "$dir" "$media/cup.mp4" 60 "$n" ;;
    photo-pan) bench/make_natural_clip.sh "$dir" --size "$size" --frames "$n" --photo "$photos/Garden.jpg" --motion pan ;;
    photo-zoom) bench/make_natural_clip.sh "$dir" --size "$size" --frames "$n" --photo "$photos/LadyBird.jpg" --motion zoom ;;
    photo-1080p) bench/make_natural_clip.sh "$dir" --size "$size" --frames "$n" --photo "$photos/TwoWings.jpg" --motion shake ;;
    street) street_clip "$dir" "$n" ;;
    cartoon)
      half=$((n / 2))
      cartoon_scene "$dir" "$photos/Dune.jpg" 70,110,200 260 1.0 "$half" 1
      cartoon_scene "$dir" "$photos/Wood.jpg" 200,60,60 420 1.4 "$((n - half))" "$((half + 1))" ;;
    mandelbrot)
      ff -f lavfi -i "mandelbrot=size=$size:rate=30:start_x=-0.743643887:start_y=0.131825904:start_scale=0.02:end_scale=0.002:end_pts=4" \
        -frames:v "$n" -pix_fmt rgb24 -start_number 1 "$dir/f%04d.png" ;;
  esac
}

mkdir -p "$out"
: >"$out/clips.txt.new"
for entry in "${clips[@]}"; do
  IFS='|' read -r name size n role description <<<"$entry"
  echo "$name $size $n $role $description" >>"$out/clips.txt.new"
  if [ -n "$only" ] && [[ $only != *",$name,"* ]]; then continue; fi
  dir=$out/$name
  if [ -f "$dir/.done" ]; then echo "$dir: kept"; continue; fi
  rm -rf "$dir"; mkdir -p "$dir"
  make_clip "$name" "$dir" "$size" "$n" >/dev/null
  got=$(find "$dir" -maxdepth 1 -name 'f[0-9][0-9][0-9][0-9].png' | wc -l)
  [ "$got" -eq "$n" ] || { echo "make_clip_set: $name has $got frames, not $n" >&2; exit 1; }
  touch "$dir/.done"
  echo "$dir: $n frames of $size, $description"
done
mv "$out/clips.txt.new" "$out/clips.txt"
