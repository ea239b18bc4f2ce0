#!/usr/bin/env bash
# Whether rvxenc's size targets are met or refused, on every clip of a set.
#
#   bench/target_check.sh CLIPSET [--clips NAME,NAME] [--config "NAME:ARGS"]...
#                         [--floor-presets "slow medium classic"] [--jobs N]
#                         [--work DIR] [--rvxenc PATH] [--out FILE]
#
# The floor: the smallest size --size accepts (the size a refused target
# names, tried until it is taken) against the real size of the movie coded
# with --quality 32,32,32 by each of --floor-presets, and what a --size of
# 1.05 times that estimate gives with each preset: the file's size, its
# excess over the target and rvxenc's exit status (a target the movie cannot
# reach should be refused, exit 2, rather than missed).
#
# The targets: for each configuration (default "medium.nodef: --preset
# medium --transform DCT-NoDEF" and "slow: --preset slow") and each fixed
# quality "4", "10", "20" and "8,10,12", the fixed encode's size and luma
# PSNR, then --size at exactly that size: the size error and the PSNR
# difference (negative: the two-pass movie is worse than the fixed one of
# the same size). Every encode is kept in --work (default
# $TMPDIR/rvx-target-check) under a key of the clip, the arguments and the
# encoder binary, so a run cut short goes on where it stopped. PSNR is the
# one of bench/bd_table.sh.
set -euo pipefail
self=$(readlink -f "$0")
caller=$PWD
cd "$(dirname "$self")/.."
source bench/clip_measure.sh

help_text() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$self"; }
usage() { sed -n '4,6p' "$self" | sed 's/^# \{0,1\}//' >&2; exit 2; }
fail() { echo "target_check: $*" >&2; exit 2; }
absolute() { case $1 in /*) echo "$1" ;; *) echo "$caller/$1" ;; esac; }

[ $# -ge 1 ] || usage
case "$1" in -h|--help) help_text; exit 0 ;; esac
set_dir=$(cd "$caller" && cd "$1" 2>/dev/null && pwd) || fail "no clip set $1"
shift
configs=(); only=""; floor_presets="slow medium classic"; jobs=1; rvxenc=""; out=""
work=${TMPDIR:-/tmp}/rvx-target-check
qualities=(4 10 20 8,10,12)
while [ $# -gt 0 ]; do
  case "$1" in
    --clips) only=$2; shift 2 ;;
    --config) configs+=("$2"); shift 2 ;;
    --floor-presets) floor_presets=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --work) work=$(absolute "$2"); shift 2 ;;
    --rvxenc) rvxenc=$(absolute "$2"); shift 2 ;;
    --out) out=$(absolute "$2"); shift 2 ;;
    -h|--help) help_text; exit 0 ;;
    *) echo "target_check: unknown argument $1" >&2; usage ;;
  esac
done
[ ${#configs[@]} -gt 0 ] || configs=("medium.nodef:--preset medium --transform DCT-NoDEF" "slow:--preset slow")
for config in "${configs[@]}"; do
  [[ $config =~ ^[A-Za-z0-9._/+-]+: ]] || fail "a configuration must be NAME:ARGS: $config"
done
[[ $jobs =~ ^[1-9][0-9]*$ ]] || fail "--jobs must be a positive whole number"
for tool in ffmpeg awk md5sum; do command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup installs it)"; done
if [ -z "$rvxenc" ]; then
  scripts/build -j2 rvxenc shown_frames >/dev/null
  rvxenc=$PWD/${RVX_BUILD_DIR:-build}/cli/rvxenc
fi
shown_frames=$(shown_frames_beside "$rvxenc")
[ -x "$rvxenc" ] && [ -x "$shown_frames" ] || fail "no rvxenc and bench/shown_frames in the build of $rvxenc"
mapfile -t clip_rows < <(clip_set_rows "$set_dir" "$only")
[ ${#clip_rows[@]} -gt 0 ] || fail "no clips in $set_dir"
mkdir -p "$work"

# Runs measured_encode for every argument string on standard input, $jobs at
# a time (the results are kept, so the tables read them afterwards).
measure_all() {  # clip dir, frames
  local args
  while IFS= read -r args; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    measured_encode "$1" "$2" "$args" >/dev/null &
  done
  wait
}

percent() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%+.2f %%", (a - b) * 100 / b; else print "-" }'; }
decibels() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "-" && b != "-") printf "%+.2f", a - b; else print "-" }'; }
kilobytes() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e3 }'; }
decibel_value() { awk -v p="$1" 'BEGIN { if (p == "-") print p; else printf "%.2f", p }'; }

floor_table() {
  local row name size n role clip estimate preset r target
  echo "| clip | smallest --size accepts |$(for p in $floor_presets; do printf ' %s q32 |' "$p"; done)$(
    for p in $floor_presets; do printf -- ' --size 1.05x smallest, %s |' "$p"; done)"
  echo "|---|---|$(for p in $floor_presets $floor_presets; do printf -- '---|'; done)"
  for row in "${clip_rows[@]}"; do
    read -r name size n role <<<"$row"
    clip=$set_dir/$name
    estimate=$(smallest_accepted_size "$rvxenc" "$clip/f0001.png" "$work/refused.rvx" --preset medium)
    [ -n "$estimate" ] || { echo "| $name | no refusal read | |"; continue; }
    target=$(( estimate * 105 / 100 ))
    { for preset in $floor_presets; do
        echo "--preset $preset --quality 32,32,32"; echo "--preset $preset --size $target"
      done; } | measure_all "$clip" "$n"
    line="| $name ($size, $n) | $(kilobytes "$estimate") kB |"
    for preset in $floor_presets; do
      read -r _ bytes _ _ < <(measured_encode "$clip" "$n" "--preset $preset --quality 32,32,32")
      line+=" $(kilobytes "$bytes") kB ($(awk -v a="$bytes" -v b="$estimate" 'BEGIN { printf "%.2fx", a / b }')) |"
    done
    for preset in $floor_presets; do
      read -r status bytes _ _ < <(measured_encode "$clip" "$n" "--preset $preset --size $target")
      if [ "$bytes" -gt 0 ]; then line+=" $(kilobytes "$bytes") kB, $(percent "$bytes" "$target"), exit $status |"
      else line+=" no file, exit $status |"; fi
    done
    echo "$line"
  done
}

targets_table() {
  local row name size n role clip config cname cargs q fixed status bytes psnr tstatus tbytes tpsnr
  echo "| clip | configuration | fixed --quality | fixed kB | fixed dB | --size kB | size error | --size dB | dB vs fixed | exit |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  for row in "${clip_rows[@]}"; do
    read -r name size n role <<<"$row"
    clip=$set_dir/$name
    for config in "${configs[@]}"; do
      cname=${config%%:*}; cargs=$(sed 's/^ *//' <<<"${config#*:}")
      for q in "${qualities[@]}"; do echo "$cargs --quality $q"; done | measure_all "$clip" "$n"
      for q in "${qualities[@]}"; do
        read -r _ fixed psnr _ < <(measured_encode "$clip" "$n" "$cargs --quality $q")
        echo "$cargs --size $fixed"
      done | measure_all "$clip" "$n"
      for q in "${qualities[@]}"; do
        read -r status fixed psnr _ < <(measured_encode "$clip" "$n" "$cargs --quality $q")
        read -r tstatus tbytes tpsnr _ < <(measured_encode "$clip" "$n" "$cargs --size $fixed")
        echo "| $name$([ "$role" = held-out ] && echo " (held out)") | $cname | $q | $(kilobytes "$fixed") |" \
          "$(decibel_value "$psnr") | $(kilobytes "$tbytes") | $(percent "$tbytes" "$fixed") | $(decibel_value "$tpsnr") | $(decibels "$tpsnr" "$psnr") |" \
          "$tstatus |"
      done
    done
  done
}

{
  echo "Clips: $set_dir. rvxenc: $rvxenc ($(md5sum <"$rvxenc" | cut -c1-12))."
  echo
  echo "The floor: the smallest size --size accepts against the movie at --quality 32,32,32 (times the estimate),"
  echo "and --size at 1.05 times the estimate (size against that target, exit status):"
  echo
  floor_table
  echo
  echo "Targets at the sizes of fixed-quality encodes:"
  echo
  for config in "${configs[@]}"; do echo "- ${config%%:*}: \`rvxenc ${config#*:}\`"; done
  echo
  targets_table
} | tee ${out:+"$out"}
