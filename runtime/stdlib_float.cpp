// Text to floating point by plain long double arithmetic (the x87 extended
// format): the digits are accumulated into one value, the fraction is scaled
// next and the exponent last, every step rounded on its own. The result is
// what that sequence gives, not necessarily the correctly rounded value.
// Digits too many to add up within the format's range keep only their
// leading significant ones; the rest count as a power of the base.
#include "byte_sets.h"
#include "stdlib.h"

namespace ridid {

namespace {

// Fraction digits scaled one step each, exactly as written; a longer
// fraction takes the careful path of read_long_fraction.
enum { FRACTION_STEPS = 1024 };
// Significant digits of a long fraction or integer part that still reach
// the result.
enum { KEPT_DIGITS = 40 };
// An exponent's magnitude stops growing here while its digits are read. Any
// exponent past about 33,000 already turns every finite non-zero value into
// zero or infinity; the cap sits far above that and above the length of any
// fraction a ridid process can hold, and E * 10 + 9 still fits 32 bits.
enum { EXPONENT_CAP = 400000000 };

// The digit c stands for in base 16 (hex) or 10; -1 for any other byte.
int digit(char c, int hex) {
  if (is_decimal(c)) return c - '0';
  int d = digit_value(c);
  return hex && d < 16 ? d : -1;
}

// Zero and infinity are where repeated scaling changes nothing any more.
int scaled_out(long double v) { return v == 0.0L || v > __LDBL_MAX__; }

// v times ten to the power steps, one rounded step at a time. It stops once
// v is zero or infinite, so it ends within about 10,000 steps for any count.
long double scale_decimal(long double v, long long steps) {
  for (; steps > 0 && !scaled_out(v); --steps) v = v * 10.0L;
  for (; steps < 0 && !scaled_out(v); ++steps) v = v / 10.0L;
  return v;
}

// v times two to the power steps: doubling by addition, halving by 0.5.
// Ends within about 33,000 steps for any count.
long double scale_binary(long double v, long long steps) {
  for (; steps > 0 && !scaled_out(v); --steps) v = v + v;
  for (; steps < 0 && !scaled_out(v); ++steps) v = v * 0.5L;
  return v;
}

// A fraction of more than FRACTION_STEPS digits. Accumulating all of them
// would pass the format's range and scaling back would then leave infinity,
// so only the first significant digits are taken; the rest cannot reach
// the result, and neither can zeros at the end of those. *places gets the count of places those digits reach (the
// leading zeros included), each worth one step (four for hex).
const char* read_long_fraction(const char* p, int hex, long double* f, long long* places) {
  long double weight = hex ? 16.0L : 10.0L;
  long double v = 0.0L;
  long long n = 0;
  int taken = 0;
  int zeros = 0;  // zeros taken but not applied: at the end they add nothing
  for (; *p == '0'; ++p) ++n;
  for (int d; (d = digit(*p, hex)) >= 0; ++p) {
    if (taken == KEPT_DIGITS) continue;
    ++taken;
    if (d == 0) {
      ++zeros;
      continue;
    }
    for (; zeros > 0; --zeros, ++n) v = v * weight;
    v = v * weight;
    v = v + d;
    ++n;
  }
  *f = v;
  *places = n;
  return p;
}

// An integer part whose digits, added up (with a fraction of up to
// FRACTION_STEPS digits), pass the format's range: thousands of significant
// digits, so the fraction after them cannot reach the result and is passed
// over. Only the first significant digits are taken, into *v_out; as with
// read_long_fraction the value is *v_out times the base to the power
// -*places, so *places gets minus the count of the digits left out (zeros
// at the end of the taken ones included). Returns the position after the
// last digit. Kept out of line: inlined, it slows read_number down for
// every ordinary number.
__attribute__((noinline)) const char* read_long_integer(const char* p, int hex, long double* v_out,
                                                        long long* places) {
  long double weight = hex ? 16.0L : 10.0L;
  long double v = 0.0L;
  long long n = 0;  // places not applied (yet): zeros wait for a digit after them
  for (; *p == '0'; ++p) {
  }
  long long i = 0;
  for (int d; (d = digit(*p, hex)) >= 0; ++p, ++i) {
    if (i >= KEPT_DIGITS || d == 0) {
      ++n;
      continue;
    }
    for (; n > 0; --n) v = v * weight;
    v = v * weight;
    v = v + d;
  }
  if (*p == '.') {
    for (++p; digit(*p, hex) >= 0; ++p) {
    }
  }
  *v_out = v;
  *places = -n;
  return p;
}

// The decimal or hexadecimal form, after the sign and any "0x". Returns
// the position after the last byte taken, or null when there is no digit.
const char* read_number(const char* p, int hex, long double* out) {
  const char* digits = p;
  long double weight = hex ? 16.0L : 10.0L;
  long double v = 0.0L;
  int any = 0;
  for (int d; (d = digit(*p, hex)) >= 0; ++p) {
    v = v * weight;
    v = v + d;
    any = 1;
  }

  int long_fraction = 0;
  long double fraction = 0.0L;
  long long places = 0;
  if (*p == '.') {
    ++p;
    int n = 0;
    while (n <= FRACTION_STEPS && digit(p[n], hex) >= 0) ++n;
    if (n > FRACTION_STEPS) {
      p = read_long_fraction(p, hex, &fraction, &places);
      long_fraction = 1;
      any = 1;
    } else {
      for (int d; (d = digit(*p, hex)) >= 0; ++p) {
        v = v * weight;
        v = v + d;
        any = 1;
      }
      for (int i = 0; i < n; ++i) v = hex ? v * 0.0625L : v / 10.0L;
    }
  }
  if (!any) return 0;
  if (v > __LDBL_MAX__) {
    // Only digits that passed the range while being added up leave infinity
    // here. Read again the careful way, they scale with the exponent as a
    // long fraction with nothing before the point does.
    p = read_long_integer(digits, hex, &fraction, &places);
    v = 0.0L;
    long_fraction = 1;
  }

  // The exponent is taken only with at least one digit after the marker
  // and its sign; otherwise the number ends at the marker.
  long long exponent = 0;
  char marker = hex ? 'p' : 'e';
  if (*p == marker || *p == marker - 32) {
    const char* q = p + 1;
    int negative = 0;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    if (is_decimal(*q)) {
      unsigned int e = 0;
      for (; is_decimal(*q); ++q) {
        e = e * 10u + static_cast<unsigned int>(*q - '0');
        if (e > EXPONENT_CAP) e = EXPONENT_CAP;
      }
      exponent = negative ? -static_cast<long long>(e) : static_cast<long long>(e);
      p = q;
    }
  }

  long long unit = hex ? 4 : 1;  // exponent steps per fraction place
  if (long_fraction && v == 0.0L) {
    // Nothing before the point: fraction and exponent scale together, so
    // 0.000...1e2001 comes back to its value instead of passing zero first.
    v = fraction;
    exponent -= places * unit;
  } else if (long_fraction) {
    v = v + (hex ? scale_binary(fraction, -places * unit) : scale_decimal(fraction, -places));
  }
  *out = hex ? scale_binary(v, exponent) : scale_decimal(v, exponent);
  return p;
}

}  // namespace

long double strtold(const char* s, char** end) {
  if (s == 0) {
    if (end != 0) *end = 0;
    return 0.0L;
  }
  const char* p = s;
  while (is_space(*p)) ++p;
  int sign = 1;
  if (*p == '+') {
    ++p;
  } else if (*p == '-') {
    sign = -1;
    ++p;
  }

  long double v = 0.0L;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p = read_number(p + 2, 1, &v);
  } else if (is_decimal(p[0]) || (p[0] == '.' && is_decimal(p[1]))) {
    p = read_number(p, 0, &v);
  } else {
    p = 0;
  }

  // No number: the end goes back to the very start, blanks and sign included.
  if (p == 0) {
    if (end != 0) *end = const_cast<char*>(s);
    return 0.0L;
  }
  if (end != 0) *end = const_cast<char*>(p);
  return v * sign;
}

double strtod(const char* s, char** end) { return static_cast<double>(strtold(s, end)); }

}  // namespace ridid
