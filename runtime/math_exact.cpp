// The exact functions: fabs, sqrt, floor, ceil, trunc, round, fmod, frexp,
// ldexp, modf. The roundings work on the bits of the double; sqrt is the
// unit's square root at the precision of the result; fmod divides the
// significands as integers, so its remainder is exact at any distance of
// exponents. The float forms go through the double ones, which is exact.
#include "math_core.h"

namespace ridid {

namespace {

union Double {
  double value;
  unsigned long long bits;
};

inline unsigned long long bits_of(double x) { return Double{x}.bits; }
inline double from_bits(unsigned long long b) {
  Double d;
  d.bits = b;
  return d.value;
}
const unsigned long long SIGN = 1ull << 63, IMPLICIT = 1ull << 52;

// The biased exponent field.
inline int field(unsigned long long b) { return (int)(b >> 52) & 0x7ff; }

// A finite nonzero |x| as m * 2^e with m an integer below 2^53.
unsigned long long significand(unsigned long long b, int* e) {
  unsigned long long m = b & (IMPLICIT - 1);
  int f = field(b);
  if (f == 0) {
    *e = -1074;
    return m;
  }
  *e = f - 1075;
  return m | IMPLICIT;
}

}  // namespace

double fabs(double x) { return from_bits(bits_of(x) & ~SIGN); }

// Rounded once to double: the unit works at double precision for it.
double sqrt(double x) {
  if (x < 0) return (double)domain_error();
  return (double)sqrt_rounded(x, PRECISION_DOUBLE);
}

double trunc(double x) {
  unsigned long long b = bits_of(x);
  int e = field(b) - 1023;
  if (e >= 52) return x;  // whole already, or infinite, or NaN
  if (e < 0) return from_bits(b & SIGN);
  return from_bits(b & ~((IMPLICIT - 1) >> e));
}

double floor(double x) {
  double t = trunc(x);
  return x < t ? t - 1 : t;
}

double ceil(double x) {
  double t = trunc(x);
  return x > t ? t + 1 : t;
}

// Halves away from zero: x - trunc(x) is exact.
double round(double x) {
  double t = trunc(x);
  if (x - t >= 0.5) return t + 1;
  if (t - x >= 0.5) return t - 1;
  return t;
}

double fmod(double x, double y) {
  if (x != x || y != y) return x + y;
  unsigned long long bx = bits_of(x) & ~SIGN, by = bits_of(y) & ~SIGN;
  if (field(bx) == 0x7ff || by == 0) return (double)domain_error();
  if (bx < by) return x;  // |x| < |y|, y infinite included
  int ex, ey;
  unsigned long long mx = significand(bx, &ex), my = significand(by, &ey);
  // The remainder of mx * 2^(ex - ey) by my, eleven bits of the shift at a
  // time so that the shifted remainder stays below 2^64.
  unsigned long long r = mx % my;
  for (int left = ex - ey; left > 0;) {
    int step = left < 11 ? left : 11;
    r = (r << step) % my;
    left -= step;
  }
  double magnitude = (double)times_power_of_two((ext)(long long)r, ey);
  return (bits_of(x) & SIGN) ? -magnitude : magnitude;
}

double frexp(double x, int* exponent) {
  unsigned long long b = bits_of(x);
  *exponent = 0;
  if ((b & ~SIGN) == 0 || field(b) == 0x7ff) return x;
  int e;
  unsigned long long m = significand(b, &e);
  int top = 63 - __builtin_clzll(m);  // m's highest bit
  *exponent = e + top + 1;
  return from_bits((b & SIGN) | (m << (52 - top) & (IMPLICIT - 1)) | (1022ull << 52));
}

double ldexp(double x, int exponent) {
  if (x == 0 || field(bits_of(x)) == 0x7ff) return x;
  if (exponent > 4000) exponent = 4000;
  if (exponent < -4000) exponent = -4000;
  return to_double(times_power_of_two(x, exponent));
}

double modf(double x, double* whole) {
  double t = trunc(x);
  *whole = t;
  if (field(bits_of(x)) == 0x7ff) return x != x ? x : from_bits(bits_of(x) & SIGN);
  return from_bits(bits_of(x - t) | (bits_of(x) & SIGN));
}

float fabsf(float x) { return (float)fabs(x); }
float sqrtf(float x) {
  if (x < 0) return (float)domain_error();
  return (float)sqrt_rounded(x, PRECISION_FLOAT);
}
float floorf(float x) { return (float)floor(x); }
float ceilf(float x) { return (float)ceil(x); }
float truncf(float x) { return (float)trunc(x); }
float roundf(float x) { return (float)round(x); }
float fmodf(float x, float y) { return (float)fmod(x, y); }
float frexpf(float x, int* exponent) { return (float)frexp(x, exponent); }
float ldexpf(float x, int exponent) {
  if (x == 0 || x != x || __builtin_isinf(x)) return x;
  if (exponent > 4000) exponent = 4000;
  if (exponent < -4000) exponent = -4000;
  return to_float(times_power_of_two(x, exponent));
}
float modff(float x, float* whole) {
  double w;
  float f = (float)modf(x, &w);
  *whole = (float)w;
  return f;
}

}  // namespace ridid
