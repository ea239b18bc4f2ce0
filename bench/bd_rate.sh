# Bjøntegaard delta rate of rate-distortion curves, sourced by the bench/
# scripts that compare curves (rd_curves.sh, bd_table.sh).

# BD-rate arithmetic. Input lines "CURVE RATE PSNR"; prints one line per
# ordered pair "TEST REFERENCE PERCENT|n/a" for the pairs asked for in the
# variable 'pairs' ("TEST:REF TEST:REF ...").
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
function bd_rate(test, ref,    a, b) {
  if (!(test in fitted) || !(ref in fitted)) return "n/a"
  a = low[test] > low[ref] ? low[test] : low[ref]
  b = high[test] < high[ref] ? high[test] : high[ref]
  if (b <= a) return "n/a"
  return sprintf("%+.1f", (exp((integral(test, a, b) - integral(ref, a, b)) / (b - a)) - 1) * 100)
}
$2 > 0 && $3 ~ /^[0-9.]+$/ { i = ++count[$1]; rate[$1, i] = $2; ps[$1, i] = $3 + 0 }
END {
  for (name in count) if (fit(name)) fitted[name] = 1
  np = split(pairs, list, " ")
  for (p = 1; p <= np; p++) {
    split(list[p], two, ":")
    print two[1], two[2], bd_rate(two[1], two[2])
  }
}'

bd_rates() {  # pairs; point lines on standard input
  awk -v pairs="$1" "$bd_rate_awk"
}

# Synthetic curves with a known answer: "more" needs exactly 10 % more rate
# than "base" at every PSNR, "less" 20 % less; "apart" covers no PSNR that
# "base" covers; "few" has too few points to fit.
self_test() {
  local got expected
  got=$(awk 'BEGIN {
    for (q = 30; q <= 44; q += 2) {
      print "base", exp(0.16 * q + 0.002 * (q - 37) ^ 3), q
      p = q + 1   # the other curves are sampled between the base points
      r = exp(0.16 * p + 0.002 * (p - 37) ^ 3)
      print "more", r * 1.1, p; print "less", r * 0.8, p; print "apart", r, p + 20
    }
    print "few", 100, 30; print "few", 200, 35; print "few", 400, 40
  }' | bd_rates "more:base less:base base:more apart:base few:base")
  expected=$'more base +10.0\nless base -20.0\nbase more -9.1\napart base n/a\nfew base n/a'
  if [ "$got" != "$expected" ]; then
    printf 'BD-rate self-test failed\n got:\n%s\n expected:\n%s\n' "$got" "$expected" >&2
    return 1
  fi
}
