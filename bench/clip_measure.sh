# Helpers for the bench/ scripts that measure rvxenc on a clip set made by
# bench/make_clip_set.sh: the set's clips, one encode measured and kept,
# luma PSNR. Sourced; the caller sets $work, $rvxenc and $rvxdec.

clip_measure_sws=bicubic+accurate_rnd+full_chroma_int

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

# Luma PSNR of decoded PNG pictures against the clip: both turned into
# BT.601 studio-range yuv444p with accurate rounding, FFmpeg's psnr filter,
# its overall y figure. Prints it; on failure the reason goes to scratch/err.
luma_psnr() {  # clip dir, frames, decoded pattern, its first number, scratch dir
  local graph n log=$5/psnr.txt value sws=$clip_measure_sws
  n=$(find "$5" -maxdepth 1 -name '*.png' | wc -l)
  [ "$n" -eq "$2" ] || { echo "$n decoded pictures for $2 source pictures" >"$5/err"; return 1; }
  graph="[0]scale=flags=$sws,format=yuv444p[d];[1]scale=flags=$sws,format=yuv444p[s];[d][s]psnr"
  ffmpeg -hide_banner -nostdin -nostats -start_number "$4" -i "$3" -start_number 1 -i "$1/f%04d.png" \
    -filter_complex "$graph" -f null - 2>"$log" || { cp "$log" "$5/err"; return 1; }
  value=$(grep -o 'PSNR y:[0-9.inf]*' "$log" | sed 's/.*y://')
  [[ $value =~ ^[0-9.]+$ ]] || { cp "$log" "$5/err"; return 1; }
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
      if "$rvxdec" "$tmp/out.rvx" --frames "$tmp" >/dev/null 2>>"$dir/stderr.txt"; then
        psnr=$(luma_psnr "$clip" "$frames" "$tmp/frame%06d.png" 0 "$tmp") || psnr=-
      fi
      mv "$tmp/out.rvx" "$dir/out.rvx"
    fi
    rm -rf "$tmp"
    awk -v s="$status" -v b="$bytes" -v p="$psnr" -v u="${user:-0}" -v y="${sys:-0}" \
      'BEGIN { printf "%d %d %s %.3f\n", s, b, p, u + y }' >"$dir/result.tmp"
    mv "$dir/result.tmp" "$dir/result.txt"
  fi
  cat "$dir/result.txt"
}

# The smallest size --size accepts for a clip, read from the refusal of a
# one-byte target (which names it in bytes); empty when rvxenc names none.
smallest_accepted_size() {  # rvxenc, first picture, scratch file, rvxenc arguments...
  local encoder=$1 first=$2 scratch=$3
  shift 3
  "$encoder" "$first" -o "$scratch" --overwrite --quiet "$@" --size 1 2>&1 |
    sed -n 's/.*smallest this movie can be: [0-9.]* MB (\([0-9]*\) bytes).*/\1/p' || true
}
