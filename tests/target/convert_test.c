/* The conversions on the real i386 build, on the emulator's x87 unit: strtod
 * against the compiler's own correctly rounded values, all 64 bits of strtold,
 * exponents and fractions past 1024 steps. In C: every header compiles as C,
 * and the functions link under their standard names. */
#include <assert.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "harness.h"

#define T(x) {#x, x}
static const struct { const char* text; double value; } kCases[] = { /* texts with the compiler's own correctly rounded values */
    T(0.1), T(0.2), T(0.3), T(1.5), T(3.1415926535897932), T(2.718281828459045), T(1e10), T(1e22), T(1e23),
    T(123456789012345678.0), T(9007199254740993.0), T(1.7976931348623157e308), T(2.2250738585072014e-308),
    T(4.9406564584124654e-324), T(1e-300), T(6.02214076e23), T(1.602176634e-19), T(0x1.fffffffffffffp1023),
    T(0x1p-1022), T(0x1.8p1), T(0xA.8p0), T(0.000001234), T(98765.4321e-3), T(5e-324), T(0x1p-1074), T(1e308),
    T(123.456e-7), T(0x1.0000000000001p-1075), T(0x1.fffffffffffff8p0), T(0x1p-1000),
};
#undef T

static_assert(sizeof(long double) == 12, "x87 extended precision in 12 bytes");

static double ulps(double a, double b) { /* the distance from a to b in units in the last place */
  unsigned long long x, y;
  return memcpy(&x, &a, 8), memcpy(&y, &b, 8), x > y ? (double)(x - y) : (double)(y - x);
}

static char g_text[5010];

int main(int argc, char** argv) {
  for (unsigned i = 0; i < sizeof kCases / sizeof *kCases; ++i) {
    char* end = 0;
    const char* t = kCases[i].text;
    if (!(CHECK_CMP(ulps(strtod(t, &end), kCases[i].value), <=, 1) && CHECK_CMP(end - t, ==, (long)strlen(t)))) say(t), say("\n");
  }
  long double tiny = strtold("1e-2000", 0);
  CHECK(strtold("18446744073709551615", 0) == 18446744073709551615.0L && strtold("0x1.0000000000000002p0", 0) > 1.0L);
  CHECK(strtold("1e5000", 0) > 1.18e4932L && tiny > 0.9999999999e-2000L && tiny < 1.0000000001e-2000L);
  CHECK((memset(strcpy(g_text, "0.") + 2, '3', 1500), strtod(g_text, 0)) == 1.0 / 3.0);
  CHECK((memset(g_text + 2, '0', 1500), strcpy(g_text + 1502, "1e1501"), strtold(g_text, 0)) == 1.0L);
  CHECK((memset(g_text, '0', 5001), g_text[0] = '1', strcpy(g_text + 4934, "e-4933"), strtod(g_text, 0)) == 1.0); /* 1, 4933 zeros */
  CHECK(argc == 2 && strcmp(argv[1], "c-arg") == 0 && malloc(2000000) == NULL && errno == ENOMEM && atoi(" -42x") == -42);
  CHECK(open("/missing", O_RDONLY) < 0 && strcmp(strerror(ENOENT), "no such file") == 0 && snprintf(0, 0, "%d", 100) == 3);
  return finish();
}
