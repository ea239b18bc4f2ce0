# The tables of bench/bd_table.sh, sourced by it after every point is
# measured: reads the kept points and prints markdown.

# Lines "CURVE BYTES PSNR CPU_MS_PER_FRAME" of one clip's measured points;
# a curve with a failed point gets one line "CURVE failed".
clip_points() {  # clip name, frames
  local config q
  for config in "${all_configs[@]}"; do
    curve_dir "$config" "$1" "${clip_ids[$1]}"
    for q in $cqualities; do
      if [ -f "$cdir/q$q.failed" ] && [ ! -f "$cdir/q$q.pt" ]; then echo "${config%%:*} failed"; continue; fi
      [ -f "$cdir/q$q.pt" ] || continue
      awk -v c="${config%%:*}" -v n="$2" '{ printf "%s %s %s %.2f\n", c, $1, $2, $4 * 1000 / n }' "$cdir/q$q.pt"
    done
  done
}

# Lines "CLIP ROLE TABLE COLUMN VALUE" for every clip.
report_cells() {
  local row name size n role points pairs name2
  for row in "${clip_rows[@]}"; do
    read -r name size n role <<<"$row"
    points=$(clip_points "$name" "$n")
    pairs="mpeg2video-best:mpeg2video"
    for name2 in "${names[@]}"; do pairs+=" $name2:mpeg2video $name2:mpeg2video-best"; done
    grep -v ' failed$' <<<"$points" | awk '{ print $1, $2, $3 }' | bd_rates "$pairs" "${fit:-pchip}" |
      awk -v clip="$name" -v role="$role" -v failed="$(grep ' failed$' <<<"$points" | cut -d' ' -f1 | tr '\n' ' ')" '
        { v = (index(" " failed, " " $1 " ") ? "failed" : $3)
          print clip, role, ($2 == "mpeg2video" ? "default" : "best"), $1, v }'
    grep -v ' failed$' <<<"$points" | awk -v clip="$name" -v role="$role" '
      { sum[$1] += $4; count[$1]++ }
      END { for (c in sum) printf "%s %s cpu %s %.1f\n", clip, role, c, sum[c] / count[c] }'
  done
}

# One markdown table: rows are clips, then the range over each role.
report_table() {  # cells file, table, columns...
  local cells=$1 table=$2
  shift 2
  awk -v table="$table" -v columns="$*" -v rows="$(printf '%s\n' "${clip_rows[@]}" | tr '\n' ';')" '
    function cell(v) { return v ~ /^[-+]?[0-9.]+$/ && table != "cpu" ? v " %" : v }
    function widen(role, c, v) {
      if (v !~ /^[-+]?[0-9.]+$/) return
      if (!((role, c) in lo) || v + 0 < lo[role, c]) lo[role, c] = v + 0
      if (!((role, c) in hi) || v + 0 > hi[role, c]) hi[role, c] = v + 0
    }
    function range(role, c,    f) {
      if (!((role, c) in lo)) return ""
      f = table == "cpu" ? "%.1f" : "%+.1f"
      return sprintf(f " to " f, lo[role, c], hi[role, c])
    }
    $3 == table { value[$1, $4] = $5 }
    END {
      nc = split(columns, col, " "); nr = split(rows, row, ";")
      line = "| clip | size, frames |"; rule = "|---|---|"
      for (j = 1; j <= nc; j++) { line = line " " col[j] " |"; rule = rule "---|" }
      print line; print rule
      for (i = 1; i <= nr; i++) {
        if (row[i] == "") continue
        split(row[i], f, " ")
        line = "| " f[1] (f[4] == "held-out" ? " (held out)" : "") " | " f[2] ", " f[3] " |"
        for (j = 1; j <= nc; j++) {
          v = ((f[1], col[j]) in value) ? value[f[1], col[j]] : "-"
          widen(f[4], col[j], v); line = line " " cell(v) " |"
        }
        print line
      }
      for (r = 1; r <= 2; r++) {
        role = r == 1 ? "tuning" : "held-out"
        line = "| range, " (r == 1 ? "tuning clips" : "held-out clips") " | |"; any = 0
        for (j = 1; j <= nc; j++) { v = range(role, col[j]); if (v != "") any = 1; line = line " " v " |" }
        if (any) print line
      }
    }' "$cells"
}

report() {
  local cells=$work/cells.$$ config
  report_cells >"$cells"
  echo "Clips: $set_dir. rvxenc qualities: $qualities; mpeg2video -qscale:v $mpeg2_qscales," \
    "-bf 2 -g 16, yuv420p. rvxenc: $rvxenc ($encoder_id). BD-rate fit: ${fit:-pchip}."
  echo
  echo "BD-rate of luma PSNR against mpeg2video's default (extra bits for the same quality; negative saves):"
  echo
  report_table "$cells" default "${names[@]}" mpeg2video-best
  echo
  echo "BD-rate against mpeg2video's best mode ($mpeg2_best):"
  echo
  report_table "$cells" best "${names[@]}"
  echo
  echo "CPU ms per frame (user + system, whole process, reading the pictures; mean over the curve's points):"
  echo
  report_table "$cells" cpu mpeg2video mpeg2video-best "${names[@]}"
  echo
  echo "Configurations:"
  echo
  for config in "${configs[@]}"; do
    curve_dir "$config" x x
    echo "- ${config%%:*}: \`rvxenc$([ -n "$cargs" ] && echo " $cargs")\`"
  done
  rm -f "$cells"
}
