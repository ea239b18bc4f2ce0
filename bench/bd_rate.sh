# Bjøntegaard delta rate of rate-distortion curves, sourced by the bench/
# scripts that compare curves (rd_curves.sh, bd_table.sh).

# BD-rate arithmetic. Input lines "CURVE RATE PSNR"; prints one line per
# ordered pair "TEST REFERENCE PERCENT|n/a" for the pairs asked for in the
# variable 'pairs' ("TEST:REF TEST:REF ..."). The variable 'method' picks
# how log(rate) is followed between the points: "cubic" (one least-squares
# cubic in PSNR per curve) or "pchip" (a piecewise cubic through every point
# whose slopes never overshoot, Fritsch and Carlson's rule). A cubic swings
# wildly where a curve flattens (grain that no rate codes puts a ceiling on
# PSNR at low rates); the piecewise curve stays between its points.
bd_rate_awk='
function fit(name,    i, j, k, r, n, m, piv, t, f, lo, hi, mid, half) {
  n = count[name]
  if (n < 4) return 0
  lo = 1e300; hi = -1e300
  for (i = 1; i <= n; i++) { if (ps[name, i] < lo) lo = ps[name, i]; if (ps[name, i] > hi) hi = ps[name, i] }
  if (hi - lo <= 0) return 0
  # Centred and scaled PSNR keeps the normal equations well conditioned.
  mid = (lo + hi) / 2; half = (hi - lo) / 2
  center[name] = mid; scale[name] = half; low[name] = lo; high[name] = hi
  for (j = 0; j < 4; j++) { for (k = 0; k < 5; k++) m[j, k] = 0 }
  for (i = 1; i <= n; i++) {
    t = (ps[name, i] - mid) / half
    for (j = 0; j < 4; j++) {
      for (k = 0; k < 4; k++) m[j, k] += t ^ (j + k)
      m[j, 4] += t ^ j * log(rate[name, i])
    }
  }
  for (j = 0; j < 4; j++) {          # Gauss-Jordan with partial pivoting
    piv = j
    for (r = j + 1; r < 4; r++) if (abs(m[r, j]) > abs(m[piv, j])) piv = r
    if (abs(m[piv, j]) < 1e-12) return 0
    for (k = 0; k < 5; k++) { t = m[j, k]; m[j, k] = m[piv, k]; m[piv, k] = t }
    for (r = 0; r < 4; r++) {
      if (r == j) continue
      f = m[r, j] / m[j, j]
      for (k = j; k < 5; k++) m[r, k] -= f * m[j, k]
    }
  }
  for (j = 0; j < 4; j++) coef[name, j] = m[j, 4] / m[j, j]
  return 1
}
function abs(x) { return x < 0 ? -x : x }
# Integral of the fitted log rate over PSNR from a to b.
function integral(name, a, b,    j, s, ta, tb) {
  ta = (a - center[name]) / scale[name]; tb = (b - center[name]) / scale[name]
  s = 0
  for (j = 0; j < 4; j++) s += coef[name, j] * (tb ^ (j + 1) - ta ^ (j + 1)) / (j + 1)
  return s * scale[name]
}
# The points of a curve in rising PSNR (points of equal PSNR merged, their
# log rates averaged) and the slope at each point that keeps every piece
# monotone between its ends.
function pchip(name,    n, i, j, k, t, x, y, h, d, w1, w2) {
  n = count[name]
  if (n < 4) return 0
  for (i = 1; i <= n; i++) { x[i] = ps[name, i]; y[i] = log(rate[name, i]) }
  for (i = 2; i <= n; i++)            # insertion sort by PSNR
    for (j = i; j > 1 && x[j - 1] > x[j]; j--) {
      t = x[j]; x[j] = x[j - 1]; x[j - 1] = t; t = y[j]; y[j] = y[j - 1]; y[j - 1] = t
    }
  k = 0
  for (i = 1; i <= n; i++) {
    if (k > 0 && x[i] - px[name, k] < 1e-9) { pn[k]++; py[name, k] += (y[i] - py[name, k]) / pn[k]; continue }
    k++; px[name, k] = x[i]; py[name, k] = y[i]; pn[k] = 1
  }
  if (k < 2) return 0
  points[name] = k; low[name] = px[name, 1]; high[name] = px[name, k]
  for (i = 1; i < k; i++) { h[i] = px[name, i + 1] - px[name, i]; d[i] = (py[name, i + 1] - py[name, i]) / h[i] }
  if (k == 2) { slope[name, 1] = slope[name, 2] = d[1]; return 1 }
  for (i = 2; i < k; i++) {
    if (d[i - 1] * d[i] <= 0) { slope[name, i] = 0; continue }
    w1 = 2 * h[i] + h[i - 1]; w2 = h[i] + 2 * h[i - 1]
    slope[name, i] = (w1 + w2) / (w1 / d[i - 1] + w2 / d[i])
  }
  slope[name, 1] = end_slope(h[1], h[2], d[1], d[2])
  slope[name, k] = end_slope(h[k - 1], h[k - 2], d[k - 1], d[k - 2])
  return 1
}
function end_slope(h0, h1, d0, d1,    s) {
  s = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1)
  if (s * d0 <= 0) return 0
  if (d0 * d1 <= 0 && abs(s) > 3 * abs(d0)) return 3 * d0
  return s
}
# Integral of the Hermite piece from point i over its share t0..t1 (0..1).
function piece(name, i, t0, t1,    h, s) {
  h = px[name, i + 1] - px[name, i]
  s = py[name, i] * (h00(t1) - h00(t0)) + h * slope[name, i] * (h10(t1) - h10(t0))
  s += py[name, i + 1] * (h01(t1) - h01(t0)) + h * slope[name, i + 1] * (h11(t1) - h11(t0))
  return h * s
}
function h00(t) { return t ^ 4 / 2 - t ^ 3 + t }
function h10(t) { return t ^ 4 / 4 - 2 * t ^ 3 / 3 + t ^ 2 / 2 }
function h01(t) { return -t ^ 4 / 2 + t ^ 3 }
function h11(t) { return t ^ 4 / 4 - t ^ 3 / 3 }
function pchip_integral(name, a, b,    i, lo, hi, h, s) {
  s = 0
  for (i = 1; i < points[name]; i++) {
    lo = px[name, i] > a ? px[name, i] : a; hi = px[name, i + 1] < b ? px[name, i + 1] : b
    if (hi <= lo) continue
    h = px[name, i + 1] - px[name, i]
    s += piece(name, i, (lo - px[name, i]) / h, (hi - px[name, i]) / h)
  }
  return s
}
function bd_rate(test, ref,    a, b, it, ir) {
  if (!(test in fitted) || !(ref in fitted)) return "n/a"
  a = low[test] > low[ref] ? low[test] : low[ref]
  b = high[test] < high[ref] ? high[test] : high[ref]
  if (b <= a) return "n/a"
  if (method == "pchip") { it = pchip_integral(test, a, b); ir = pchip_integral(ref, a, b) }
  else { it = integral(test, a, b); ir = integral(ref, a, b) }
  return sprintf("%+.1f", (exp((it - ir) / (b - a)) - 1) * 100)
}
$2 > 0 && $3 ~ /^[0-9.]+$/ { i = ++count[$1]; rate[$1, i] = $2; ps[$1, i] = $3 + 0 }
END {
  for (name in count) if (method == "pchip" ? pchip(name) : fit(name)) fitted[name] = 1
  np = split(pairs, list, " ")
  for (p = 1; p <= np; p++) {
    split(list[p], two, ":")
    print two[1], two[2], bd_rate(two[1], two[2])
  }
}'

bd_rates() {  # pairs, [method: cubic (default) or pchip]; point lines on standard input
  awk -v pairs="$1" -v method="${2:-cubic}" "$bd_rate_awk"
}

# Synthetic curves with a known answer: "more" needs exactly 10 % more rate
# than "base" at every PSNR, "less" 20 % less; "apart" covers no PSNR that
# "base" covers; "few" has too few points to fit. Both methods must find
# them. "flat" and "flatmore" (10 % more) meet a PSNR ceiling at low rates,
# as grainy clips do: there only the piecewise curve keeps its answer.
self_test() {
  local got expected method
  for method in cubic pchip; do
    got=$(awk 'BEGIN {
      for (q = 30; q <= 44; q += 2) {
        print "base", exp(0.16 * q + 0.002 * (q - 37) ^ 3), q
        p = q + 1   # the other curves are sampled between the base points
        r = exp(0.16 * p + 0.002 * (p - 37) ^ 3)
        print "more", r * 1.1, p; print "less", r * 0.8, p; print "apart", r, p + 20
      }
      print "few", 100, 30; print "few", 200, 35; print "few", 400, 40
    }' | bd_rates "more:base less:base base:more apart:base few:base" "$method")
    expected=$'more base +10.0\nless base -20.0\nbase more -9.1\napart base n/a\nfew base n/a'
    # Pieces through sampled points follow the smooth curves to within 0.2 %.
    if ! paste -d' ' <(echo "$got") <(echo "$expected") | awk -v tol="$([ $method = cubic ] && echo 0.01 || echo 0.2)" '
         $1 != $4 || $2 != $5 || ($3 == "n/a") != ($6 == "n/a") || ($3 != "n/a" && ($3 - $6 > tol || $6 - $3 > tol)) { bad = 1 }
         END { exit bad || NR != 5 }'; then
      printf 'BD-rate self-test (%s) failed\n got:\n%s\n expected:\n%s\n' "$method" "$got" "$expected" >&2
      return 1
    fi
  done
  # Rate falling steeply towards a PSNR ceiling near 34.9 dB, "flatmore"
  # sampled between "flat"'s points (a single cubic reads +24 % here).
  got=$(awk 'BEGIN {
    split("35.00 35.20 35.50 36.20 37.50 39.50 42.50", a, " "); split("35.05 35.30 35.80 36.80 38.50 41.00 43.00", b, " ")
    for (i = 1; i <= 7; i++) {
      print "flat", exp(0.25 * a[i] + 1.5 * log(a[i] - 34.9)), a[i]
      print "flatmore", 1.1 * exp(0.25 * b[i] + 1.5 * log(b[i] - 34.9)), b[i]
    }
  }' | bd_rates "flatmore:flat" pchip)
  if ! awk '{ exit !($3 >= 9 && $3 <= 11) }' <<<"$got"; then
    printf 'BD-rate self-test (pchip, a PSNR ceiling) failed: %s\n' "$got" >&2
    return 1
  fi
}
