// Exponentials, logarithms, powers and the hyperbolic functions, and hypot.
//
// exp reduces x to r = x - k ln 2 with |r| <= ln 2 / 2 (ln 2 in two parts, so
// r is exact to the last bit) and sums e^r's Taylor series to r^15. The
// logarithms split x into 2^e * m with m in [1/sqrt 2, sqrt 2) and sum the
// series of ln m = 2 atanh((m - 1) / (m + 1)). pow carries log2 |x| in two
// parts and multiplies y into it exactly, so that the exponent's error stays
// far below the result's last place even where the result nears overflow.
#include "math_core.h"

namespace ridid {

namespace {

// 1/15!, 1/14!, ..., 1/1!, 1/0!.
constexpr ext kExp[] = {1.0L / 1307674368000, 1.0L / 87178291200, 1.0L / 6227020800, 1.0L / 479001600, 1.0L / 39916800,
                        1.0L / 3628800, 1.0L / 362880, 1.0L / 40320, 1.0L / 5040, 1.0L / 720, 1.0L / 120, 1.0L / 24,
                        1.0L / 6, 1.0L / 2, 1, 1};

// 1/27, 1/25, ..., 1/5, 1/3: the odd series of atanh after its first term.
constexpr ext kAtanh[] = {1.0L / 27, 1.0L / 25, 1.0L / 23, 1.0L / 21, 1.0L / 19, 1.0L / 17, 1.0L / 15,
                          1.0L / 13, 1.0L / 11, 1.0L / 9, 1.0L / 7, 1.0L / 5, 1.0L / 3};

// 1/23!, 1/21!, ..., 1/5!, 1/3!: the odd series of sinh after its first term.
constexpr ext kSinh[] = {1.0L / 25852016738884976640000.0L, 1.0L / 51090942171709440000.0L, 1.0L / 121645100408832000.0L,
                         1.0L / 355687428096000.0L, 1.0L / 1307674368000.0L, 1.0L / 6227020800.0L, 1.0L / 39916800.0L,
                         1.0L / 362880.0L, 1.0L / 5040.0L, 1.0L / 120.0L, 1.0L / 6.0L};

constexpr ext SQRT2 = 1.41421356237309504880168872420969807857L;

// x = 2^e * m with m in [1/sqrt 2, sqrt 2): m, and e in *e. x finite, > 0.
ext split_log(ext x, int* e) {
  *e = exponent_of(x);
  ext m = times_power_of_two(x, -*e);
  if (m > SQRT2) m *= 0.5L, ++*e;
  return m;
}

// 2 atanh(f) - 2f, for |f| <= 0.172.
ext atanh_tail(ext f) {
  ext s = f * f;
  return 2 * f * s * horner(s, kAtanh);
}

ext sinh_small(ext x) { return x + x * (x * x) * horner(x * x, kSinh); }

bool is_odd_integer(ext y) {
  if (abs_ext(y) >= 0x1p63L || round_int(y) != y) return false;
  return ((long long)y & 1) != 0;
}

}  // namespace

ext exp_ext(ext x) {
  if (is_nan(x) || is_inf(x)) return x < 0 ? 0 : x;
  if (abs_ext(x) > 11350) return x < 0 ? TINY_EXT : HUGE_EXT;
  ext k = round_int(x * (LOG2E_HI + LOG2E_LO));
  ext r = (x - k * LN2_HI) - k * LN2_LO;
  return times_power_of_two(horner(r, kExp), (int)k);
}

ext log_ext(ext x) {
  int e;
  ext m = split_log(x, &e);
  ext f = (m - 1) / (m + 1);
  return e * LN2_HI + (e * LN2_LO + (2 * f + atanh_tail(f)));
}

// The checks every logarithm makes first: NaN and +infinity are their own
// result, a negative x is a domain error, zero a pole. False when x is
// ordinary, with *result untouched.
static bool log_special(ext x, ext* result) {
  if (is_nan(x) || x == inf_ext()) return *result = x, true;
  if (x < 0) return *result = domain_error(), true;
  if (x == 0) return errno = ERANGE, *result = -inf_ext(), true;
  return false;
}

static ext log_any(ext x) {
  ext r;
  return log_special(x, &r) ? r : log_ext(x);
}

static ext log2_any(ext x) {
  ext r;
  if (log_special(x, &r)) return r;
  int e;
  ext m = split_log(x, &e);
  ext f = (m - 1) / (m + 1);
  return e + (2 * f + atanh_tail(f)) * (LOG2E_HI + LOG2E_LO);
}

static ext log10_any(ext x) {
  ext r;
  return log_special(x, &r) ? r : log_ext(x) * LOG10E;
}

// x^y for x > 0 finite, y finite: 2^(y log2 x), with log2 x = e + log2 m in
// two parts and y times it in three, the integer part split off exactly.
static ext pow_positive(ext x, ext y) {
  int e;
  ext m = split_log(x, &e);
  // f = (m - 1) / (m + 1) as f_hi + f_lo: m + 1 is exact for a double's m.
  ext u = m - 1, v = m + 1, f_hi = u / v, p_lo, p = product(f_hi, v, &p_lo);
  ext f_lo = ((u - p) - p_lo) / v;
  // ln m = 2 f_hi + (2 f_lo + tail), then log2 m = ln m * log2(e), in two parts.
  ext ln_hi = 2 * f_hi, ln_lo = 2 * f_lo + atanh_tail(f_hi);
  ext l_lo, l_hi = product(ln_hi, LOG2E_HI, &l_lo);
  l_lo += ln_hi * LOG2E_LO + ln_lo * LOG2E_HI;
  // y * log2 x = y * e (exact: 53 by 11 bits) + y * l_hi + y * l_lo.
  ext whole = y * e, w_lo, w = product(y, l_hi, &w_lo);
  w_lo += y * l_lo;
  ext approx = whole + w;
  if (approx > 16383) return HUGE_EXT;
  if (approx < -16440) return TINY_EXT;
  ext n = round_int(approx);
  ext fraction = ((whole - n) + w) + w_lo;
  ext r = exp_ext(fraction * LN2);
  // 2^n in two steps, so that each stays in the extended range.
  int half = (int)n / 2;
  return times_power_of_two(times_power_of_two(r, half), (int)n - half);
}

static ext pow_any(ext x, ext y) {
  if (y == 0 || x == 1) return 1;
  if (is_nan(x) || is_nan(y)) return x + y;
  bool odd = is_odd_integer(y);
  ext ax = abs_ext(x);
  if (x == 0) {
    if (y < 0 && !is_inf(y)) errno = ERANGE;  // a pole
    ext r = y < 0 ? inf_ext() : 0;
    return odd ? __builtin_copysignl(r, x) : r;
  }
  if (is_inf(y)) {
    if (ax == 1) return 1;
    return (ax > 1) == (y > 0) ? inf_ext() : 0;
  }
  if (is_inf(x)) {
    ext r = y < 0 ? 0 : inf_ext();
    return odd && x < 0 ? -r : r;
  }
  if (x < 0 && round_int(y) != y) return domain_error();
  ext r = pow_positive(ax, y);
  return odd && x < 0 ? -r : r;
}

static ext sinh_any(ext x) {
  if (abs_ext(x) < 1) return sinh_small(x);
  ext e = exp_ext(abs_ext(x));
  return __builtin_copysignl((e - 1 / e) / 2, x);
}

static ext cosh_any(ext x) {
  ext e = exp_ext(abs_ext(x));
  return (e + 1 / e) / 2;
}

static ext tanh_any(ext x) {
  ext a = abs_ext(x), r;
  if (a < 1) {
    ext e = exp_ext(a);
    r = sinh_small(a) / ((e + 1 / e) / 2);
  } else {
    r = 1 - 2 / (exp_ext(2 * a) + 1);
  }
  return __builtin_copysignl(r, x);
}

static ext hypot_any(ext x, ext y) {
  if (is_inf(x) || is_inf(y)) return inf_ext();
  if (is_nan(x) || is_nan(y)) return x + y;
  return sqrt_rounded(x * x + y * y, PRECISION_EXTENDED);
}

double exp(double x) { return to_double(exp_ext(x)); }
double log(double x) { return to_double(log_any(x)); }
double log2(double x) { return to_double(log2_any(x)); }
double log10(double x) { return to_double(log10_any(x)); }
double pow(double x, double y) { return to_double(pow_any(x, y)); }
double sinh(double x) { return to_double(sinh_any(x)); }
double cosh(double x) { return to_double(cosh_any(x)); }
double tanh(double x) { return to_double(tanh_any(x)); }
double hypot(double x, double y) { return to_double(hypot_any(x, y)); }
float expf(float x) { return to_float(exp_ext(x)); }
float logf(float x) { return to_float(log_any(x)); }
float log2f(float x) { return to_float(log2_any(x)); }
float log10f(float x) { return to_float(log10_any(x)); }
float powf(float x, float y) { return to_float(pow_any(x, y)); }
float sinhf(float x) { return to_float(sinh_any(x)); }
float coshf(float x) { return to_float(cosh_any(x)); }
float tanhf(float x) { return to_float(tanh_any(x)); }
float hypotf(float x, float y) { return to_float(hypot_any(x, y)); }

}  // namespace ridid
