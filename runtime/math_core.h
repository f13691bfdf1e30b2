/* What the math sources share: extended-precision helpers, the constants
 * they need in two parts, and the rounding of a result to double or float
 * with errno. Private to the library.
 *
 * Everything is worked in the x87 unit's extended precision with its exact
 * operations (add, multiply, divide, square root, conversions); the unit's
 * transcendental instructions are not used, because their results differ
 * from one processor or emulator to the next and their own argument
 * reduction is poor for large arguments. */
#ifndef RIDID_MATH_CORE_H
#define RIDID_MATH_CORE_H

#include "errno.h"
#include "math.h"

namespace ridid {

typedef long double ext;

// Constants as a high part and the rest. LN2_HI has 48 bits, so k * LN2_HI
// is exact for any exponent k of the extended range.
constexpr ext LN2_HI = 0xb17217f7d1cf0000p-64L, LN2_LO = 0xf35793c7673007e6p-113L;
constexpr ext LN2 = LN2_HI + LN2_LO;
constexpr ext LOG2E_HI = 0xb8aa3b295c17f0bcp-63L, LOG2E_LO = -0x82f0025f2dc582eep-128L;
constexpr ext PIO2_HI = 0xc90fdaa22168c235p-63L, PIO2_LO = -0xece675d1fc8f8cbbp-129L;
constexpr ext LOG10E = 0xde5bd8a937287195p-65L;

// Stand-ins for results beyond the extended range: finite, so that rounding
// them to double or float overflows or underflows and reports it.
constexpr ext HUGE_EXT = 0x1p16383L, TINY_EXT = 0x1p-16440L;

inline bool is_nan(ext x) { return __builtin_isnan(x); }
inline bool is_inf(ext x) { return __builtin_isinf(x); }
inline ext abs_ext(ext x) { return __builtin_fabsl(x); }
inline ext nan_ext() { return __builtin_nanl(""); }
inline ext inf_ext() { return __builtin_huge_vall(); }

// The unit's round to the nearest integer (ties to even).
inline ext round_int(ext x) {
  ext r;
  __asm__("frndint" : "=t"(r) : "0"(x));
  return r;
}

// x * 2^n for n within the extended range of exponents (-16382 to 16383).
inline ext times_power_of_two(ext x, int n) {
  union { ext value; struct { unsigned long long mantissa; unsigned short exponent; } bits; } p;
  p.bits.mantissa = 1ull << 63;
  p.bits.exponent = (unsigned short)(16383 + n);
  return x * p.value;
}

// x = m * 2^e with m in [1, 2): e; x finite and not zero.
inline int exponent_of(ext x) {
  union { ext value; struct { unsigned long long mantissa; unsigned short exponent; } bits; } p;
  p.value = x;
  int e = (p.bits.exponent & 0x7fff) - 16383;
  if ((p.bits.exponent & 0x7fff) == 0) e = -16382 - __builtin_clzll(p.bits.mantissa);  // subnormal
  return e;
}

// Square root rounded once to the precision the control word's bits 8-9 ask
// for: PRECISION_FLOAT, PRECISION_DOUBLE or PRECISION_EXTENDED.
enum { PRECISION_FLOAT = 0x000, PRECISION_DOUBLE = 0x200, PRECISION_EXTENDED = 0x300 };
inline ext sqrt_rounded(ext x, unsigned short precision) {
  unsigned short saved, control;
  __asm__ volatile("fnstcw %0" : "=m"(saved));
  control = (unsigned short)((saved & ~0x300) | precision);
  ext r;
  __asm__ volatile("fldcw %1\n\tfsqrt\n\tfldcw %2" : "=t"(r) : "m"(control), "m"(saved), "0"(x));
  return r;
}

// The exact product a * b as hi + *lo (Dekker's, halves of 32 bits).
inline ext product(ext a, ext b, ext* lo) {
  const ext split = 4294967297.0L;  // 2^32 + 1
  ext ca = a * split, cb = b * split;
  ext a_hi = ca - (ca - a), a_lo = a - a_hi, b_hi = cb - (cb - b), b_lo = b - b_hi;
  ext hi = a * b;
  *lo = ((a_hi * b_hi - hi) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo;
  return hi;
}

// Horner's rule over coefficients from the highest power down.
template <int N>
inline ext horner(ext x, const ext (&c)[N]) {
  ext p = c[0];
  for (int i = 1; i < N; ++i) p = p * x + c[i];
  return p;
}

// e^x for any x; relative error about 2^-63.
ext exp_ext(ext x);
// ln(x) for x > 0 finite; relative error about 2^-63.
ext log_ext(ext x);
// atan(x) for any x but NaN.
ext atan_ext(ext x);

// The nearest double or float, with errno ERANGE when v, finite, overflows,
// or underflows to a value that is not v exactly.
template <class T>
T finish(ext v, T smallest_normal) {
  T r = (T)v;
  if (__builtin_isinf(r) && !is_inf(v)) errno = ERANGE;
  if (v != 0 && abs_ext(r) < smallest_normal && (ext)r != v) errno = ERANGE;
  return r;
}
inline double to_double(ext v) { return finish<double>(v, 0x1p-1022); }
inline float to_float(ext v) { return finish<float>(v, 0x1p-126f); }

// NaN, with errno EDOM: an argument outside the function's domain.
inline ext domain_error() {
  errno = EDOM;
  return nan_ext();
}

}  // namespace ridid

#endif
