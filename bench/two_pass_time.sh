#!/usr/bin/env bash
# Times each pass of a two-pass encode and prints how long the first pass
# takes against the second, in wall and processor seconds.
#   bench/two_pass_time.sh SOURCE [--runs N] [--preset P] [--quality L] [-- rvxenc options...]
# The target is the size of a fixed-quality encode at level L (default 8).
# Wall time per pass comes from the --progress json lines (the first line of
# the second pass ends the first). Processor time of the first pass is that
# of the two-pass encode less that of one fixed-quality encode, which codes
# what the second pass codes. Each figure is the median of N runs (default 3).
# Set RVXENC to time another build of the encoder.
set -euo pipefail
cd "$(dirname "$0")/.."
# Processor times come from GNU time, which only the benchmarks need.
scripts/setup time

[ $# -ge 1 ] || { echo "usage: $0 SOURCE [--runs N] [--preset P] [--quality L] [-- rvxenc options...]" >&2; exit 2; }
source=$1; shift
runs=3; preset=medium; quality=8; extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --preset) preset=$2; shift 2 ;;
    --quality) quality=$2; shift 2 ;;
    --) shift; extra=("$@"); break ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
rvxenc=${RVXENC:-build/cli/rvxenc}
[ -x "$rvxenc" ] || { echo "$rvxenc is not built (scripts/build rvxenc)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Processor seconds (user + system) of one run of the command.
cpu_seconds() {
  /usr/bin/env time -f '%U %S' -o "$work/time" "$@" >/dev/null
  awk '{ print $1 + $2 }' "$work/time"
}

"$rvxenc" "$source" -o "$work/fixed.rvx" --preset "$preset" --quality "$quality" --overwrite --quiet "${extra[@]}"
target=$(stat -c %s "$work/fixed.rvx")

: >"$work/one"; : >"$work/two"; : >"$work/first"; : >"$work/second"
for ((i = 1; i <= runs; i++)); do
  cpu_seconds "$rvxenc" "$source" -o "$work/fixed.rvx" --preset "$preset" --quality "$quality" --overwrite \
    --quiet "${extra[@]}" >>"$work/one"
  cpu_seconds "$rvxenc" "$source" -o "$work/sized.rvx" --preset "$preset" --size "$target" --overwrite \
    --quiet "${extra[@]}" >>"$work/two"
  "$rvxenc" "$source" -o "$work/sized.rvx" --preset "$preset" --size "$target" --overwrite \
    --progress json "${extra[@]}" 2>"$work/progress" >/dev/null
  grep -m1 '"pass": 2' "$work/progress" | sed 's/.*"elapsed": \([0-9.]*\).*/\1/' >>"$work/first"
  first=$(tail -n1 "$work/first")
  grep '"stage": "end"' "$work/progress" | sed 's/.*"elapsed": \([0-9.]*\).*/\1/' |
    awk -v first="$first" '{ print $1 - first }' >>"$work/second"
done

one=$(median <"$work/one"); two=$(median <"$work/two")
first=$(median <"$work/first"); second=$(median <"$work/second")
size=$(stat -c %s "$work/sized.rvx")
awk -v one="$one" -v two="$two" -v first="$first" -v second="$second" -v target="$target" -v size="$size" \
    -v preset="$preset" 'BEGIN {
  printf "%s, target %d bytes, got %d (%+.2f %%)\n", preset, target, size, (size - target) * 100 / target
  printf "wall:      first pass %.3f s, second pass %.3f s, ratio %.2f\n", first, second, first / second
  printf "processor: two passes %.3f s, one pass %.3f s, first pass %.3f s, ratio %.2f\n", two, one, two - one,
         (two - one) / one
}'
