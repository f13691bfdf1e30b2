/* math.h on ridid-emu's x87 unit, in C: results against correctly rounded
 * values worked out beforehand (sqrt where rounding twice, to extended and
 * then to double, would be wrong; arguments near a multiple of pi/2; results
 * at the edges of the range), the special values and errno. */
#include <errno.h>
#include <math.h>
#include <string.h>

#include "harness.h"

static double ulps(double a, double b) { /* the distance from a to b in units in the last place */
  long long x, y;
  memcpy(&x, &a, 8), memcpy(&y, &b, 8);
  if ((x < 0) != (y < 0)) return a == b ? 0 : 1e9;
  return x > y ? (double)(x - y) : (double)(y - x);
}

static const struct { const char* name; double (*f)(double); double x, want, tolerance; } kCases[] = {
    {"sqrt", sqrt, 0x1.ce9014cdaa2a1p+1, 0x1.e6a76fb2263b9p+0, 0}, {"sqrt", sqrt, 0x1.975de35d20ebcp+0, 0x1.42eee9e585be9p+0, 0},
    {"sqrt", sqrt, 0x1.bb28dde283846p+1, 0x1.dc567c6235f25p+0, 0}, {"sin", sin, 1e22, -0x1.b453ab76bf397p-1, 1},
    {"cos", cos, 1e22, 0x1.0be2cef01c8f4p-1, 1}, {"tan", tan, 1e22, -0x1.a0f79c1b6b257p+0, 1},
    {"sin", sin, 0x1.6ac5b262ca1ffp+849, 1.0, 1}, {"exp", exp, 0x1.62d999999999ap+9, 0x1.d75ae7a50ee14p+1023, 1},
    {"exp", exp, -745.0, 0x0.0000000000001p-1022, 0}, {"log", log, 0x1.56e1fc2f8f359p-997, -0x1.5963447f87fb5p+9, 1},
    {"log10", log10, 1e22, 22, 0}, {"atan", atan, 1e10, 0x1.921fb543d4de0p+0, 1}, {"asin", asin, 0.999999, 0x1.91c306b2c13adp+0, 1},
    {"acos", acos, -0.75, 0x1.359d26f93b6c3p+1, 1}, {"sinh", sinh, 0x1.0624dd2f1a9fcp-10, 0x1.0624e00c1c9e3p-10, 1},
    {"cosh", cosh, 700, 0x1.d945df4f8ec8ep+1008, 1}, {"tanh", tanh, 0x1.3333333333333p-2, 0x1.2a4dda7d914fap-2, 1},
    {"log2", log2, 0x0.012688b70e62bp-1022, -0x1.01730dabca5f6p+10, 1}, {"floor", floor, -0.5, -1, 0}, {"round", round, -2.5, -3, 0},
    {"trunc", trunc, -0x1.fffffffffffffp+51, -0x1.ffffffffffffep+51, 0}, {"ceil", ceil, 0x1p-1074, 1, 0}};

int main(void) {
  for (unsigned i = 0; i < sizeof kCases / sizeof *kCases; ++i) {
    if (!CHECK_CMP(ulps(kCases[i].f(kCases[i].x), kCases[i].want), <=, kCases[i].tolerance)) say(kCases[i].name), say("\n");
  }
  CHECK(pow(2, 0.5) == 0x1.6a09e667f3bcdp+0 && ulps(pow(0x1.000001ad7f29bp+0, 1e9), 0x1.349445c228792p+144) <= 1);
  CHECK(pow(10, -300) == 0x1.56e1fc2f8f359p-997 && pow(0.5, 1074.5) == 0x1p-1074 && pow(-8, 1.0 / 3) != pow(-8, 1.0 / 3));
  CHECK(fmod(1e300, 7) == 1 && fmod(1e300, 3.3) == 0x1.60f80f052ca58p-1 && fmod(-0x1p-1074, 1) == -0x1p-1074 && fmod(5.5, -2) == 1.5 && sqrtf(2) == 0x1.6a09e6p+0f);
  int e = 0;
  double whole = 0;
  CHECK(frexp(0x1p-1074, &e) == 0.5 && e == -1073 && ldexp(0.75, -1073) == 0x1p-1073 && modf(-3.25, &whole) == -0.25 && whole == -3);
  CHECK(signbit(sin(-0.0)) && isinf(HUGE_VAL) && isnan(NAN) && !isfinite(INFINITY) && M_PI == 3.14159265358979323846);
  errno = 0, CHECK(isnan(sqrt(-1)) && errno == EDOM && (errno = 0, isnan(acosf(2))) && errno == EDOM);
  errno = 0, CHECK(log(0) == -HUGE_VAL && errno == ERANGE && (errno = 0, isinf(pow(0, -3))) && errno == ERANGE);
  errno = 0, CHECK(exp(710) == HUGE_VAL && errno == ERANGE && (errno = 0, expf(89) == HUGE_VALF) && errno == ERANGE);
  errno = 0, CHECK(pow(-2, -1075) == 0 && signbit(pow(-2, -1075)) && errno == ERANGE && (errno = 0, isnan(sin(INFINITY))) && errno == EDOM);
  errno = 0, CHECK(pow(NAN, 0) == 1 && pow(1, NAN) == 1 && atan2(0.0, -0.0) == M_PI && hypot(INFINITY, NAN) == INFINITY && errno == 0);
  return finish();
}
