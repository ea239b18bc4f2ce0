#!/usr/bin/env bash
# Checks the measuring scripts on small inputs made here: the BD-rate
# arithmetic, quality templates, the clip list of a set, the table's cells
# and ranges, and the smallest target size read from rvxenc's refusal.
#
#   bench/bench_scripts_test.sh [RVXENC]     (default build/cli/rvxenc)
set -uo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
rvxenc=$(readlink -f "${1:-build/cli/rvxenc}")
source bench/bd_rate.sh
source bench/clip_measure.sh
source bench/bd_table_report.sh
scratch=$(mktemp -d "${TMPDIR:-/tmp}/bench-scripts.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
passed=0; failed=0

check() {  # name, got, expected
  if [ "$2" == "$3" ]; then passed=$((passed + 1)); return; fi
  failed=$((failed + 1))
  printf 'FAILED %s\n got:\n%s\n expected:\n%s\n' "$1" "$2" "$3"
}

check "BD-rate of synthetic curves" "$(self_test 2>&1 && echo ok)" ok

while IFS='|' read -r template q expected; do
  check "quality template $template at $q" "$(expand_quality "$template" "$q")" "$expected"
done <<'EOF'
--quality {q}|8|--quality 8
--quality {q},{q+2},{q+4}|30|--quality 30,32,32
--quality {q*1.5}|3|--quality 5
--quality {q*0.4},{q}|2|--quality 2,2
--preset slow|5|--preset slow
EOF

# A set whose list names a clip that was never made, and a set without list.
for name in a c; do
  mkdir -p "$scratch/set/$name"
  ffmpeg -v error -f lavfi -i color=red:s=48x32 -frames:v 3 -start_number 1 "$scratch/set/$name/f%04d.png"
done
printf '%s\n' "a 48x32 3 tuning first" "b 48x32 3 tuning never made" "c 48x32 3 held-out last" >"$scratch/set/clips.txt"
check "clips of a listed set" "$(clip_set_rows "$scratch/set")" $'a 48x32 3 tuning\nc 48x32 3 held-out'
check "clips chosen by name" "$(clip_set_rows "$scratch/set" c,x)" "c 48x32 3 held-out"
mkdir -p "$scratch/bare"; cp -r "$scratch/set/a" "$scratch/bare/"
check "clips of a set without list" "$(clip_set_rows "$scratch/bare")" "a 48x32 3 tuning"

# Cells "CLIP ROLE TABLE COLUMN VALUE": ranges per role skip failures and
# gaps; a clip with no value shows "-".
clip_rows=("p 64x48 10 tuning" "q 64x48 10 tuning" "r 32x32 5 held-out" "s 32x32 5 tuning")
cat >"$scratch/cells" <<'EOF'
p tuning default x +10.0
q tuning default x -2.5
r held-out default x +4.0
s tuning default x failed
p tuning default y n/a
q tuning default y +1.0
p tuning cpu x 12.0
EOF
check "a table's cells and ranges" "$(report_table "$scratch/cells" default x y)" "$(cat <<'EOF'
| clip | size, frames | x | y |
|---|---|---|---|
| p | 64x48, 10 | +10.0 % | n/a |
| q | 64x48, 10 | -2.5 % | +1.0 % |
| r (held out) | 32x32, 5 | +4.0 % | - |
| s | 32x32, 5 | failed | - |
| range, tuning clips | | -2.5 to +10.0 | +1.0 to +1.0 |
| range, held-out clips | | +4.0 to +4.0 |  |
EOF
)"

# The smallest size rvxenc accepts: one byte less is refused before any
# coding (exit 2, no file), that size itself is not refused.
if [ -x "$rvxenc" ]; then
  mkdir -p "$scratch/run"
  ffmpeg -v error -f lavfi -i testsrc2=s=64x48:r=30 -frames:v 6 -start_number 1 "$scratch/run/f%04d.png"
  smallest=$(smallest_accepted_size "$rvxenc" "$scratch/run/f0001.png" "$scratch/refused.rvx" --preset medium)
  check "a smallest size is named" "$([[ $smallest =~ ^[1-9][0-9]*$ ]] && echo yes)" yes
  "$rvxenc" "$scratch/run/f0001.png" -o "$scratch/below.rvx" --quiet --preset medium --size $((smallest - 1)) 2>/dev/null
  check "one byte below it is refused" "$?:$([ -e "$scratch/below.rvx" ] && echo file)" "2:"
  "$rvxenc" "$scratch/run/f0001.png" -o "$scratch/at.rvx" --quiet --preset medium --size "$smallest" 2>/dev/null
  status=$?
  check "the smallest size itself is taken" "$([ "$status" -ne 2 ] && [ -s "$scratch/at.rvx" ] && echo taken)" taken

  # A kept encode is measured once; a refused target keeps no file.
  work=$scratch/kept; shown_frames=$(shown_frames_beside "$rvxenc")
  first=$(measured_encode "$scratch/run" 6 "--preset fast --quality 4")
  check "a measured encode" "$(awk '$1 == 0 && $2 > 0 && $3 > 30 { print "measured" }' <<<"$first")" measured
  check "a kept encode is read back" "$(measured_encode "$scratch/run" 6 "--preset fast --quality 4")" "$first"
  check "one folder per encode" "$(find "$work/encodes" -name result.txt | wc -l)" 1
  check "a refused target" "$(measured_encode "$scratch/run" 6 "--size 10" | cut -d' ' -f1-3)" "2 0 -"

  # The shown pictures read straight from the movie are rvxdec's, pixel for
  # pixel; a movie with a picture missing is not measured.
  mkdir -p "$scratch/png"
  "$(dirname "$rvxenc")/rvxdec" "$work"/encodes/*/*/out.rvx --frames "$scratch/png" >/dev/null
  size=$(ffprobe -v error -show_entries stream=width,height -of csv=s=x:p=0 "$scratch/run/f0001.png")
  check "shown pictures are rvxdec's" \
    "$("$shown_frames" "$work"/encodes/*/*/out.rvx 2>/dev/null | md5sum | cut -c1-32)" \
    "$(ffmpeg -v error -i "$scratch/png/frame%06d.png" -f rawvideo -pix_fmt bgra - | md5sum | cut -c1-32)"
  mkdir -p "$scratch/short"; cp "$scratch/run"/f000[1-5].png "$scratch/short/"
  "$rvxenc" "$scratch/short/f0001.png" -o "$scratch/short.rvx" --quiet --preset fast
  check "a missing picture is not measured" "$(luma_psnr "$scratch/run" 6 "$scratch/short.rvx" "$scratch" ||
    tail -1 "$scratch/err")" "5 decoded pictures for 6 source pictures"

  # The table command end to end: a second run measures nothing again.
  mkdir -p "$scratch/tiny/run"; cp "$scratch/run"/f*.png "$scratch/tiny/run/"
  table=(bench/bd_table.sh "$scratch/tiny" --config "fast:--preset fast" --qualities "4 8 16 30"
         --rvxenc "$rvxenc" --work "$scratch/table")
  row=$("${table[@]}" 2>/dev/null | grep -m1 '^| run |')
  check "a table row" "$(grep -c -E '^\| run \| 64x48, 6 \| [-+][0-9.]+ % \| [-+][0-9.]+ % \|$' <<<"$row")" 1
  check "kept points are not measured again" "$("${table[@]}" 2>&1 >/dev/null | grep -o '^bd_table: [0-9]* points')" \
    "bd_table: 0 points"
  check "a failed encode's cell" "$(bench/bd_table.sh "$scratch/tiny" --config "bad:--matrix none" --qualities "4 8 16 30" \
    --rvxenc "$rvxenc" --work "$scratch/table" 2>/dev/null | grep -m1 '^| run |' | cut -d'|' -f4)" " failed "
  check "nothing kept, nothing measured" "$(bench/bd_table.sh "$scratch/tiny" --config "fast:--preset fast" \
    --rvxenc "$rvxenc" --work "$scratch/empty" --kept-only 2>/dev/null | grep -m1 '^| run |')" "| run | 64x48, 6 | n/a | n/a |"
  check "the target check's floor row" \
    "$(bench/target_check.sh "$scratch/tiny" --floor-presets fast --config "f:--preset fast" --rvxenc "$rvxenc" \
         --work "$scratch/targets" 2>/dev/null | grep -c -E '^\| run \(64x48, 6\) \| [0-9.]+ kB \| [0-9.]+ kB')" 1
  check "a row for each of the four targets" "$(bench/target_check.sh "$scratch/tiny" --floor-presets fast \
    --config "f:--preset fast" --rvxenc "$rvxenc" --work "$scratch/targets" 2>/dev/null |
    grep -c -E '^\| run \| f \| [0-9,]+ \| [0-9.]+ \| [0-9.]+ \| [0-9.]+ \| [-+][0-9.]+ % \| [0-9.]+ \| [-+][0-9.]+ \| [0-9]+ \|$')" 4
else
  echo "no rvxenc at $rvxenc: the encoder's checks were not run"
fi

# The clip set names its clips, two of them held out, without making them.
check "the clip set's list" "$(bench/make_clip_set.sh "$scratch/unused" --list | awk '{ print $4 }' | sort | uniq -c |
  awk '{ printf "%s %s;", $2, $1 }')" "held-out 2;tuning 6;"

echo "bench_scripts: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
