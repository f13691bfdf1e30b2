// The circular functions and their inverses.
//
// sin, cos and tan reduce x to r = x - k pi/2 with |r| <= pi/4 by
// multiplying x's 64-bit significand into the bits of 2/pi (1280 of them, as
// far as a double's exponent can reach) in integers, so r keeps all its bits
// even where x lies within 2^-60 of a multiple of pi/2; then Taylor series to
// r^21. atan halves its argument twice after folding it into [0, 1]
// (atan x = 2 atan(x / (1 + sqrt(1 + x^2)))) and sums its series; asin, acos
// and atan2 are built on it.
#include "math_core.h"

namespace ridid {

namespace {

// The bits of 2/pi after the point, 32 at a time.
const unsigned int kTwoOverPi[] = {
    0xa2f9836e, 0x4e441529, 0xfc2757d1, 0xf534ddc0, 0xdb629599, 0x3c439041, 0xfe5163ab, 0xdebbc561, 0xb7246e3a, 0x424dd2e0,
    0x06492eea, 0x09d1921c, 0xfe1deb1c, 0xb129a73e, 0xe88235f5, 0x2ebb4484, 0xe99c7026, 0xb45f7e41, 0x3991d639, 0x835339f4,
    0x9c845f8b, 0xbdf9283b, 0x1ff897ff, 0xde05980f, 0xef2f118b, 0x5a0a6d1f, 0x6d367ecf, 0x27cb09b7, 0x4f463f66, 0x9e5fea2d,
    0x7527bac7, 0xebe5f17b, 0x3d0739f7, 0x8a5292ea, 0x6bfb5fb1, 0x1f8d5d08, 0x56033046, 0xfc7b6bab, 0xf0cfbc20, 0x9af4361d};
const int kWords = sizeof kTwoOverPi / sizeof kTwoOverPi[0];

// 1/21!, -1/19!, ..., -1/3!: sin r = r + r^3 * this series in r^2.
constexpr ext kSin[] = {1.0L / 51090942171709440000.0L, -1.0L / 121645100408832000.0L, 1.0L / 355687428096000.0L,
                        -1.0L / 1307674368000.0L, 1.0L / 6227020800.0L, -1.0L / 39916800.0L, 1.0L / 362880.0L,
                        -1.0L / 5040.0L, 1.0L / 120.0L, -1.0L / 6.0L};
// -1/22!, 1/20!, ..., -1/2!: cos r = 1 + r^2 * this series in r^2.
constexpr ext kCos[] = {-1.0L / 1124000727777607680000.0L, 1.0L / 2432902008176640000.0L, -1.0L / 6402373705728000.0L,
                        1.0L / 20922789888000.0L, -1.0L / 87178291200.0L, 1.0L / 479001600.0L, -1.0L / 3628800.0L,
                        1.0L / 40320.0L, -1.0L / 720.0L, 1.0L / 24.0L, -1.0L / 2.0L};
// -1/31, 1/29, ..., -1/3: atan t = t + t^3 * this series in t^2.
constexpr ext kAtan[] = {-1.0L / 31, 1.0L / 29, -1.0L / 27, 1.0L / 25, -1.0L / 23, 1.0L / 21, -1.0L / 19, 1.0L / 17,
                         -1.0L / 15, 1.0L / 13, -1.0L / 11, 1.0L / 9, -1.0L / 7, 1.0L / 5, -1.0L / 3};
constexpr ext PI_HI = 2 * PIO2_HI, PI_LO = 2 * PIO2_LO;

// Zero keeps its sign.
ext sin_poly(ext r) { return r == 0 ? r : r + r * (r * r) * horner(r * r, kSin); }
ext cos_poly(ext r) { return 1 + (r * r) * horner(r * r, kCos); }

// A 64-bit integer, exactly.
ext from_u64(unsigned long long v) { return (ext)(unsigned int)(v >> 32) * 0x1p32L + (ext)(unsigned int)v; }

// x (finite, |x| > pi/4) = k pi/2 + r: r, and k mod 4 in *quadrant.
// x = m * 2^e with m the 64-bit significand; x * 2/pi is summed as one wide
// integer from m and the words of 2/pi that reach below the units' place,
// leaving out those that only add multiples of 8.
ext reduce(ext x, int* quadrant) {
  union { ext value; struct { unsigned long long mantissa; unsigned short exponent; } bits; } p;
  p.value = x;
  unsigned long long m = p.bits.mantissa;
  int e = (p.bits.exponent & 0x7fff) - 16383 - 63;  // |x| = m * 2^e
  // Word j of 2/pi weighs 2^(-32 (j + 1)); m times a word before `first`
  // is a multiple of 8.
  int first = e >= 35 ? (e - 35) / 32 : 0;
  const int count = 7;  // at least 157 bits past the point
  // wide = m * words[first, first + count), in 32-bit limbs, lowest first.
  unsigned int wide[count + 2] = {};
  for (int i = 0; i < count; ++i) {
    int j = first + count - 1 - i;
    unsigned long long word = j < kWords ? kTwoOverPi[j] : 0, carry = 0;
    for (int k = i; k < count + 2; ++k) {
      unsigned long long half = k - i < 2 ? (unsigned int)(m >> (32 * (k - i))) : 0;
      unsigned long long t = half * word + wide[k] + carry;
      wide[k] = (unsigned int)t;
      carry = t >> 32;
    }
  }
  // The lowest limb weighs 2^(e - 32 (first + count)), so the units' bit of
  // x * 2/pi is bit `point`.
  int point = 32 * (first + count) - e;
  auto limb = [&](int i) -> unsigned long long { return i >= 0 && i < count + 2 ? wide[i] : 0; };
  auto bit = [&](int b) { return (unsigned int)(limb(b >> 5) >> (b & 31)) & 1; };
  int k = (int)(bit(point) | bit(point + 1) << 1);
  // A fraction from one half up is taken from above: r < 0, k one more.
  bool upper = bit(point - 1) != 0;
  if (upper) k = (k + 1) & 3;
  auto take64 = [&](int top) {  // 64 bits of the fraction from bit `top` down
    int low = top - 63, i = (low + 1024) / 32 - 32, s = low - 32 * i;
    unsigned long long v = limb(i) >> s | limb(i + 1) << (32 - s) | (s ? limb(i + 2) << (64 - s) : 0);
    return upper ? ~v : v;
  };
  int top = point - 1;
  while (take64(top) == 0) top -= 64;
  top -= __builtin_clzll(take64(top));
  ext f = from_u64(take64(top)) * times_power_of_two(1, top - point - 63) +
          from_u64(take64(top - 64)) * times_power_of_two(1, top - point - 127);
  // r = f pi/2, negated when taken from above, and again for a negative x.
  ext r_lo, r = product(f, PIO2_HI, &r_lo);
  r += r_lo + f * PIO2_LO;
  if (upper) r = -r;
  if (x < 0) r = -r, k = (4 - k) & 3;
  *quadrant = k;
  return r;
}

// x = k pi/2 + r, |r| <= pi/4.
ext reduce_any(ext x, int* quadrant) {
  *quadrant = 0;
  return abs_ext(x) <= 0.785398163397448309615L ? x : reduce(x, quadrant);
}

ext sin_any(ext x) {
  if (is_inf(x)) return domain_error();
  if (is_nan(x)) return x;
  int k;
  ext r = reduce_any(x, &k);
  ext v = k & 1 ? cos_poly(r) : sin_poly(r);
  return k & 2 ? -v : v;
}

ext cos_any(ext x) {
  if (is_inf(x)) return domain_error();
  if (is_nan(x)) return x;
  int k;
  ext r = reduce_any(x, &k);
  ext v = k & 1 ? sin_poly(r) : cos_poly(r);
  return (k + 1) & 2 ? -v : v;
}

ext tan_any(ext x) {
  if (is_inf(x)) return domain_error();
  if (is_nan(x)) return x;
  int k;
  ext r = reduce_any(x, &k);
  return k & 1 ? -cos_poly(r) / sin_poly(r) : sin_poly(r) / cos_poly(r);
}

// atan2 for y, x not NaN.
ext atan2_any(ext y, ext x) {
  if (is_nan(x) || is_nan(y)) return x + y;
  ext ax = abs_ext(x), ay = abs_ext(y), r;
  if (ay == 0) {
    r = __builtin_signbit(x) ? PI_HI + PI_LO : 0;
  } else if (ax == 0) {
    r = PIO2_HI + PIO2_LO;
  } else if (is_inf(ax) && is_inf(ay)) {
    r = x > 0 ? (PIO2_HI + PIO2_LO) / 2 : 3 * (PIO2_HI + PIO2_LO) / 2;
  } else {
    r = atan_ext(ay / ax);
    if (x < 0) r = (PI_HI - r) + PI_LO;
  }
  return __builtin_copysignl(r, y);
}

// asin and acos from atan2 with sqrt(1 - x^2), worked as (1 - x)(1 + x).
ext asin_any(ext x) {
  if (abs_ext(x) > 1) return domain_error();
  return atan2_any(x, sqrt_rounded((1 - x) * (1 + x), PRECISION_EXTENDED));
}

ext acos_any(ext x) {
  if (abs_ext(x) > 1) return domain_error();
  return atan2_any(sqrt_rounded((1 - x) * (1 + x), PRECISION_EXTENDED), x);
}

}  // namespace

ext atan_ext(ext x) {
  if (is_nan(x)) return x;
  ext a = abs_ext(x);
  bool inverted = a > 1;
  if (inverted) a = 1 / a;
  // Two halvings bring a to at most tan(pi/16), about 0.199.
  for (int i = 0; i < 2; ++i) a = a / (1 + sqrt_rounded(1 + a * a, PRECISION_EXTENDED));
  ext r = 4 * (a + a * (a * a) * horner(a * a, kAtan));
  if (inverted) r = (PIO2_HI - r) + PIO2_LO;
  return __builtin_copysignl(r, x);
}

double sin(double x) { return to_double(sin_any(x)); }
double cos(double x) { return to_double(cos_any(x)); }
double tan(double x) { return to_double(tan_any(x)); }
double asin(double x) { return to_double(asin_any(x)); }
double acos(double x) { return to_double(acos_any(x)); }
double atan(double x) { return to_double(atan_ext(x)); }
double atan2(double y, double x) { return to_double(atan2_any(y, x)); }
float sinf(float x) { return to_float(sin_any(x)); }
float cosf(float x) { return to_float(cos_any(x)); }
float tanf(float x) { return to_float(tan_any(x)); }
float asinf(float x) { return to_float(asin_any(x)); }
float acosf(float x) { return to_float(acos_any(x)); }
float atanf(float x) { return to_float(atan_ext(x)); }
float atan2f(float y, float x) { return to_float(atan2_any(y, x)); }

}  // namespace ridid
