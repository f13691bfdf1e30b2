// The conversions on the real i386 build, under the emulator's x87 unit:
// strtod against the compiler's own correctly rounded literals.
#include <stdlib.h>
#include <string.h>

#include "harness.h"

namespace {

struct Case {
  const char* text;
  double value;
};
#define T(x) {#x, x}
const Case kCases[] = {
    T(0.1), T(0.2), T(0.3), T(1.5), T(3.1415926535897932), T(2.718281828459045), T(1e10), T(1e22),
    T(1e23), T(123456789012345678.0), T(9007199254740993.0), T(1.7976931348623157e308),
    T(2.2250738585072014e-308), T(4.9406564584124654e-324), T(1e-300), T(6.02214076e23),
    T(1.602176634e-19), T(0x1.fffffffffffffp1023), T(0x1p-1022), T(0x1.8p1), T(0xA.8p0),
    T(0.000001234), T(98765.4321e-3), T(5e-324), T(0x1p-1074), T(1e308), T(123.456e-7),
};

// The distance between a and b in units in the last place of b.
double ulps(double a, double b) {
  if (a == b) return 0;
  unsigned long long ua, ub;
  memcpy(&ua, &a, 8);
  memcpy(&ub, &b, 8);
  return ua > ub ? static_cast<double>(ua - ub) : static_cast<double>(ub - ua);
}

void strtod_matches_literals() {
  for (const Case& c : kCases) {
    char* end = 0;
    double v = strtod(c.text, &end);
    if (ulps(v, c.value) > 1) {
      harness::out(c.text);
      harness::out(": more than one ulp away\n");
    }
    CHECK(ulps(v, c.value) <= 1);
    CHECK(end == c.text + strlen(c.text));
  }
  // The unit works at full extended precision: all 64 significant bits.
  CHECK(strtold("18446744073709551615", 0) == 18446744073709551615.0L);
  CHECK(strtold("0x1.0000000000000002p0", 0) > 1.0L);
  // Exponents past 1024 steps, and long fractions.
  CHECK(strtold("1e5000", 0) > 1.18e4932L);
  CHECK(strtod("0x1p-1074", 0) == 4.9406564584124654e-324);
  long double tiny = strtold("1e-2000", 0);
  CHECK(tiny > 0.9999999999e-2000L && tiny < 1.0000000001e-2000L);
  char text[1600] = "0.";
  memset(text + 2, '3', 1500);
  text[1502] = 0;
  CHECK(strtod(text, 0) == 1.0 / 3.0);
  memset(text + 2, '0', 1500);
  strcpy(text + 1502, "1e1501");
  CHECK(strtold(text, 0) == 1.0L);
  // Integer parts too long to add up: "1", 4933 zeros, "e-4933"; then "1",
  // 3999 zeros, ".", 1000 zeros.
  static char big[5002];
  memset(big, '0', 5001);
  big[0] = '1';
  strcpy(big + 4934, "e-4933");
  CHECK(strtod(big, 0) == 1.0);
  memset(big + 4934, '0', 7);
  big[4000] = '.';
  CHECK(strtold(big, 0) == strtold("1e3999", 0));
  char* end = 0;
  CHECK(strtod("-0", &end) == 0.0);
  CHECK(end != 0 && *end == 0);
}

void integers() {
  char* end = 0;
  const char* t = "  0x1F";
  CHECK_EQ(strtoul(t, &end, 0), 31);
  CHECK(end == t + 6);
  CHECK_EQ(strtoul("4294967297", 0, 10), 1);
  CHECK_EQ(strtol("4294967295", 0, 10), -1);
  CHECK_EQ(strtol("-5", &end, 10), 0);
  CHECK_EQ(atoi(" -42x"), -42);
  CHECK_EQ(atoi("\r5"), 0);
  CHECK_EQ(atoi("2147483648"), -2147483647 - 1);
  CHECK_EQ(abs(-2147483647 - 1), -2147483647 - 1);
  CHECK_EQ(labs(-7), 7);
}

}  // namespace

int main() {
  strtod_matches_literals();
  integers();
  return harness::finish();
}
