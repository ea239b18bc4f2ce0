# Helpers for the bench/ scripts that measure rvxenc on a clip set made by
# bench/make_clip_set.sh: the set's clips, one encode measured and kept,
# luma PSNR. Sourced; the caller sets $work, $rvxenc and $shown_frames
# (shown_frames_beside does for a build's rvxenc).

clip_measure_sws=bicubic+accurate_rnd+full_chroma_int

# The shown_frames program of the build that holds rvxenc $1.
shown_frames_beside() {
  readlink -f "$(dirname "$1")/../bench/shown_frames"
}

# The set's clips as lines "NAME SIZE FRAMES ROLE", in clips.txt's order
# (without clips.txt: every sub-folder holding f0001.png, as tuning clips),
# keeping only the names in the comma list $2 when it is given.
clip_set_rows() {  # set dir, names
  local name size n role dir
  if [ -f "$1/clips.txt" ]; then
    while read -r name size n role _; do
      [ -f "$1/$name/f0001.png" ] && echo "$name $size $n $role"
    done <"$1/clips.txt"
  else
    for dir in "$1"/*/; do
      name=$(basename "$dir")
      [ -f "$dir/f0001.png" ] || continue
      n=$(find "$dir" -maxdepth 1 -name 'f[0-9][0-9][0-9][0-9].png' | wc -l)
      echo "$name $(ffprobe -v error -show_entries stream=width,height -of csv=s=x:p=0 "$dir/f0001.png") $n tuning"
    done
  fi | awk -v only="${2:+,$2,}" 'only == "" || index(only, "," $1 ",")'
}

# A short digest of a clip's first and last pictures: kept results belong to
# the pictures they were measured on.
clip_digest() {  # dir, frames
  cat "$1/f0001.png" "$1/$(printf 'f%04d.png' "$2")" | md5sum | cut -c1-10
}

# Replaces {q}, {q+N} and {q*F} in $1 for quality $2 (clamped to 2..32).
expand_quality() {
  local text=$1 q=$2 whole op n value
  while [[ $text =~ \{q(([+*])([0-9]+(\.[0-9]+)?))?\} ]]; do
    whole=${BASH_REMATCH[0]}; op=${BASH_REMATCH[2]}; n=${BASH_REMATCH[3]}
    value=$(awk -v q="$q" -v op="$op" -v n="$n" 'BEGIN {
      if (op == "") { print q; exit }
      v = op == "+" ? q + n : int(q * n + 0.5)
      print v < 2 ? 2 : (v > 32 ? 32 : v) }')
    text=${text//"$whole"/$value}
  done
  printf '%s' "$text"
}

# Luma PSNR of a movie against its clip. An .rvx movie's pictures are the
# ones rvxdec --frames shows (decoded by shown_frames, lossless), any other
# movie is decoded by FFmpeg and turned into RGB with bicubic, accurate,
# full-chroma scaling, so both codecs are judged on the RGB pictures a
# viewer gets. Decoded and source pictures are then turned into BT.601
# studio-range yuv444p with accurate rounding; the figure is FFmpeg's
# overall y PSNR (from the mean squared error over all frames). Prints it;
# on failure the reason goes to scratch/err. $shown_frames names the tool.
luma_psnr() {  # clip dir, frames, movie file, scratch dir
  local sws=$clip_measure_sws log=$4/psnr.txt graph value status compared size decoded
  # Both sides numbered alike whatever rate their reader assumes, so each
  # decoded picture meets its own source picture.
  graph="[0]setpts=N/(30*TB),scale=flags=$sws,format=rgb24,scale=flags=$sws,format=yuv444p[d];"
  graph+="[1]setpts=N/(30*TB),scale=flags=$sws,format=yuv444p[s];[d][s]psnr=stats_file=$4/frames.txt"
  if [[ $3 == *.rvx ]]; then
    size=$(ffprobe -v error -show_entries stream=width,height -of csv=s=x:p=0 "$1/f0001.png")
    "$shown_frames" "$3" 2>"$4/shown.txt" |
      ffmpeg -hide_banner -nostdin -nostats -f rawvideo -pix_fmt bgra -s "$size" -i - \
        -start_number 1 -i "$1/f%04d.png" -filter_complex "$graph" -f null - 2>"$log"
    status=$((PIPESTATUS[0] | PIPESTATUS[1]))
    cat "$4/shown.txt" >>"$4/err"
    # The psnr filter repeats the last picture of a shorter side: count.
    decoded=$(sed -n 's/^pictures: //p' "$4/shown.txt")
    [ "${decoded:-0}" -eq "$2" ] || { echo "${decoded:-no} decoded pictures for $2 source pictures" >>"$4/err"; return 1; }
  else
    ffmpeg -hide_banner -nostdin -nostats -i "$3" -start_number 1 -i "$1/f%04d.png" \
      -filter_complex "$graph" -f null - 2>"$log"
    status=$?
  fi
  [ "$status" -eq 0 ] || { cat "$log" >>"$4/err"; return 1; }
  compared=$(wc -l <"$4/frames.txt")
  [ "$compared" -eq "$2" ] || { echo "$compared decoded pictures for $2 source pictures" >"$4/err"; return 1; }
  value=$(grep -o 'PSNR y:[0-9.inf]*' "$log" | sed 's/.*y://')
  [[ $value =~ ^[0-9.]+$ ]] || { cp "$log" "$4/err"; return 1; }
  echo "$value"
}

# One rvxenc encode of a clip, measured once and kept in $work under a key
# of the clip, the arguments and the encoder binary. Prints
# "EXIT BYTES PSNR CPU_SECONDS" (BYTES 0 and PSNR "-" when no file was
# written) and leaves rvxenc's messages in the kept folder's stderr.txt.
measured_encode() {  # clip dir, frames, rvxenc arguments (one string)
  local clip=$1 frames=$2 args=$3 dir tmp t wall user sys status=0 bytes=0 psnr=- argv
  dir=$work/encodes/$(basename "$clip")-$(clip_digest "$clip" "$frames")/$(
    printf '%s\n' "$args" "$(md5sum <"$rvxenc")" | md5sum | cut -c1-12)
  if [ ! -f "$dir/result.txt" ]; then
    mkdir -p "$dir"
    echo "$args" >"$dir/args.txt"
    tmp=$(mktemp -d "$work/tmp.XXXXXX")
    read -r -a argv <<<"$args"
    t=$( { TIMEFORMAT='%R %U %S'; time "$rvxenc" "$clip/f0001.png" -o "$tmp/out.rvx" --overwrite --quiet \
           "${argv[@]}" >/dev/null 2>"$dir/stderr.txt"; } 2>&1 ) || status=$?
    [ "$status" -eq 0 ] || t=$(tail -1 <<<"$t")
    read -r wall user sys <<<"$t"
    if [ -f "$tmp/out.rvx" ]; then
      bytes=$(stat -c %s "$tmp/out.rvx")
      psnr=$(luma_psnr "$clip" "$frames" "$tmp/out.rvx" "$tmp") || { psnr=-; cat "$tmp/err" >>"$dir/stderr.txt"; }
      mv "$tmp/out.rvx" "$dir/out.rvx"
    fi
    rm -rf "$tmp"
    awk -v s="$status" -v b="$bytes" -v p="$psnr" -v u="${user:-0}" -v y="${sys:-0}" \
      'BEGIN { printf "%d %d %s %.3f\n", s, b, p, u + y }' >"$dir/result.tmp"
    mv "$dir/result.tmp" "$dir/result.txt"
  fi
  cat "$dir/result.txt"
}

# The smallest size --size accepts for a clip: a one-byte target is refused
# naming the smallest size in bytes; that size is tried in turn, since an
# encoder may refuse it once more after its first pass with a measured,
# larger one. Empty when rvxenc names no size.
smallest_accepted_size() {  # rvxenc, first picture, scratch file, rvxenc arguments...
  local encoder=$1 first=$2 scratch=$3 target=1 named tries
  shift 3
  for tries in 1 2 3 4; do
    named=$("$encoder" "$first" -o "$scratch" --overwrite --quiet "$@" --size "$target" 2>&1 |
      sed -n 's/.*smallest this movie can be: [0-9.]* MB (\([0-9]*\) bytes).*/\1/p' || true)
    if [ -z "$named" ]; then break; fi
    [ "$named" -gt "$target" ] || { target=$named; break; }
    target=$named
  done
  rm -f "$scratch"
  if [ "$target" -gt 1 ]; then echo "$target"; fi
}
