// math.h against the host's 32-bit libm: every function, double and float,
// on random arguments over its whole domain and on the special values: the
// exact ones bit for bit, the others within one unit in the last place of
// the host's result (both are meant to be within about half a unit of the
// true value); errno as the host sets it for domain errors, poles and
// overflows (underflow is left to each library). What the host's libm is
// not asked for is a table of special cases.
#include <cfloat>
#include <cmath>
#include <random>

#include "runtime_test.h"
#include "../../runtime/math.h"

namespace {

int& host_errno() { return *__errno_location(); }

// The distance from a to b in units in the last place of T; NaNs are equal
// to each other, and nothing else to them.
template <class T>
double ulps(T a, T b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : INFINITY;
  if (a == b) return std::signbit(a) == std::signbit(b) ? 0 : INFINITY;
  if (std::isinf(a) || std::isinf(b)) return INFINITY;
  T unit = std::nextafter(std::fabs(b), T(INFINITY)) - std::fabs(b);
  return std::fabs(double(a) - double(b)) / unit;
}

template <class T>
T draw(std::mt19937_64& rng, double lo, double hi, int i) {
  static const T specials[] = {0, -T(0), 1, -1, 0.5, T(INFINITY), -T(INFINITY), T(NAN), std::numeric_limits<T>::min(),
                               std::numeric_limits<T>::denorm_min(), -std::numeric_limits<T>::max(), T(1e-30), T(M_PI / 2),
                               T(-M_PI), T(88.7), T(709.8), T(-745.2), T(1e22), T(0x1.2p60)};
  if (i < int(sizeof specials / sizeof *specials)) return specials[i];
  if (i % 3 == 0) {  // any bit pattern
    double d;
    uint64_t b = rng();
    if (sizeof(T) == 4) return [&] { float f; uint32_t w = uint32_t(b); std::memcpy(&f, &w, 4); return T(f); }();
    return std::memcpy(&d, &b, 8), T(d);
  }
  return T(lo + (hi - lo) * std::uniform_real_distribution<double>(0, 1)(rng));
}

struct Unary {
  const char* name;
  double (*ours)(double), (*host)(double);
  float (*ours_f)(float), (*host_f)(float);
  double lo, hi, tolerance;
};
#define U(fn, lo, hi, tol) {#fn, ridid::fn, ::fn, ridid::fn##f, ::fn##f, lo, hi, tol}
const Unary kUnary[] = {
    U(fabs, -1e300, 1e300, 0), U(sqrt, 0, 1e10, 0), U(floor, -1e6, 1e6, 0), U(ceil, -1e6, 1e6, 0), U(trunc, -1e6, 1e6, 0),
    U(round, -1e3, 1e3, 0), U(exp, -750, 750, 1), U(log, 0, 1e5, 1), U(log2, 0, 4, 1), U(log10, 0, 1e30, 1),
    U(sin, -1e4, 1e4, 1), U(cos, -10, 10, 1), U(tan, -2e3, 2e3, 1), U(asin, -1, 1, 1), U(acos, -1, 1, 1),
    U(atan, -50, 50, 1), U(sinh, -720, 720, 1), U(cosh, -720, 720, 1), U(tanh, -25, 25, 1)};
#undef U

template <class T, class Host, class... A>
void check(const char* name, T (*ours)(A...), Host host, double tolerance, A... x) {
  host_errno() = 0, ridid::errno = 0;
  T got = ours(x...), want = host(x...);
  int got_errno = ridid::errno, want_errno = host_errno();
  bool underflow = std::fabs(want) < std::numeric_limits<T>::min();
  EXPECT_TRUE(ulps(got, want) <= tolerance && (underflow || got_errno == want_errno))
      << name << (sizeof(T) == 4 ? "f" : "") << testing::PrintToString(std::make_tuple(x...)) << ": " << got << " errno " << got_errno
      << ", host " << want << " errno " << want_errno;
}

TEST(MathDiffTest, OneArgumentAsTheHost) {
  std::mt19937_64 rng(42);
  for (const Unary& u : kUnary) {
    for (int i = 0; i < 6000; ++i) {
      check(u.name, u.ours, u.host, u.tolerance, draw<double>(rng, u.lo, u.hi, i));
      check(u.name, u.ours_f, u.host_f, u.tolerance, draw<float>(rng, u.lo, u.hi, i));
    }
  }
}

TEST(MathDiffTest, TwoArgumentsAsTheHost) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    double x = draw<double>(rng, -4, 40, i % 40), y = draw<double>(rng, -300, 300, i / 40 % 40);
    float xf = draw<float>(rng, -4, 40, i % 40), yf = draw<float>(rng, -40, 40, i / 40 % 40);
    check("pow", ridid::pow, ::pow, 1, x, y), check("pow", ridid::powf, ::powf, 1, xf, yf);
    check("atan2", ridid::atan2, ::atan2, 1, x, y), check("atan2", ridid::atan2f, ::atan2f, 1, xf, yf);
    check("hypot", ridid::hypot, ::hypot, 1, x, y), check("hypot", ridid::hypotf, ::hypotf, 1, xf, yf);
    check("fmod", ridid::fmod, ::fmod, 0, x, y), check("fmod", ridid::fmodf, ::fmodf, 0, xf, yf);
    int e = int(rng() % 2300) - 1150, got_e = 7, want_e = 9;
    check("ldexp", ridid::ldexp, ::ldexp, 0, x, e), check("ldexp", ridid::ldexpf, ::ldexpf, 0, xf, e / 8);
    EXPECT_TRUE(ulps(ridid::frexp(x, &got_e), std::frexp(x, &want_e)) == 0 && (got_e == want_e || !std::isfinite(x))) << x;
    double whole = 0, host_whole = 0;
    EXPECT_TRUE(ulps(ridid::modf(x, &whole), std::modf(x, &host_whole)) == 0 && ulps(whole, host_whole) == 0) << x;
  }
}

}  // namespace
