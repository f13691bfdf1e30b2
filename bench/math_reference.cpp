// Math accuracy benchmark, the host side: reads math_bench's lines (name,
// arguments, result as bit patterns) and prints, per function, the worst
// error in units in the last place of the result's type and where it
// happened. The reference is the host's x86-64 long double function (64-bit
// precision, so its own error is far below what is measured); for the exact
// functions it is the host's double or float function, which is correctly
// rounded, and the error is the distance in representable values.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>

namespace {

long double ref1(const std::string& f, long double x) {
  static const std::map<std::string, long double (*)(long double)> fns = {
      {"exp", expl}, {"log", logl}, {"log2", log2l}, {"log10", log10l}, {"sin", sinl}, {"cos", cosl}, {"tan", tanl},
      {"asin", asinl}, {"acos", acosl}, {"atan", atanl}, {"sinh", sinhl}, {"cosh", coshl}, {"tanh", tanhl}};
  return fns.at(f)(x);
}
long double ref2(const std::string& f, long double x, long double y) {
  if (f == "pow") return powl(x, y);
  if (f == "atan2") return atan2l(x, y);
  return hypotl(x, y);
}
bool exact(const std::string& f) {
  return f == "fabs" || f == "sqrt" || f == "floor" || f == "ceil" || f == "trunc" || f == "round" || f == "fmod" ||
         f == "ldexp" || f == "frexp" || f == "modf";
}
template <class T>
T exact1(const std::string& f, T x) {
  if (f == "fabs") return std::fabs(x);
  if (f == "sqrt") return std::sqrt(x);
  if (f == "floor") return std::floor(x);
  if (f == "ceil") return std::ceil(x);
  if (f == "trunc") return std::trunc(x);
  return std::round(x);
}

template <class T>
double ulps_from(T ours, long double ref) {  // error against a long double reference
  T rounded = (T)ref;
  if (std::isnan(ours) || std::isnan(rounded)) return std::isnan(ours) && std::isnan(rounded) ? 0 : INFINITY;
  if (std::isinf(ours) || std::isinf(rounded)) return ours == rounded ? 0 : INFINITY;
  long double unit = std::fabs(ref) < std::numeric_limits<T>::min()
                         ? (long double)std::numeric_limits<T>::denorm_min()
                         : std::ldexp(1.0L, std::ilogb(ref) - std::numeric_limits<T>::digits + 1);
  return double(std::fabs((long double)ours - ref) / unit);
}
template <class T>
double steps(T ours, T want) {  // distance in representable values
  if (std::isnan(ours) || std::isnan(want)) return std::isnan(ours) && std::isnan(want) ? 0 : INFINITY;
  if (ours == want) return std::signbit(ours) == std::signbit(want) ? 0 : 1;
  double n = 0;
  for (T v = ours; v != want && n < 4; ++n) v = std::nextafter(v, want);
  return n;
}

struct Worst { double ulps = -1; std::string where; long count = 0; };

template <class T, class Bits>
T from_hex(const char* s) {
  Bits b = (Bits)strtoull(s, nullptr, 16);
  T v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

}  // namespace

int main() {
  std::map<std::string, Worst> worst;
  char name[16], a[32], b[32], c[32], d[32];
  char line[256];
  while (std::fgets(line, sizeof line, stdin)) {
    int n = std::sscanf(line, "%15s %31s %31s %31s %31s", name, a, b, c, d);
    std::string f = name;
    bool is_float = f.size() > 1 && f.back() == 'f' && f != "modf" && f != "frexp";
    std::string base = is_float ? f.substr(0, f.size() - 1) : f;
    double err;
    char where[200];
    if (base == "ldexp") {
      double x = from_hex<double, unsigned long long>(a), r = from_hex<double, unsigned long long>(c);
      int e = (int)strtoul(b, nullptr, 16);
      err = steps(r, std::ldexp(x, e));
      std::snprintf(where, sizeof where, "ldexp(%a, %d)", x, e);
    } else if (base == "frexp") {
      double x = from_hex<double, unsigned long long>(a), m = from_hex<double, unsigned long long>(b);
      int e, ours_e = (int)strtoul(c, nullptr, 16);
      double want = std::frexp(x, &e);
      err = steps(m, want) + (std::isfinite(x) && e != ours_e ? 1000 : 0);
      std::snprintf(where, sizeof where, "frexp(%a)", x);
    } else if (base == "modf") {
      double x = from_hex<double, unsigned long long>(a), whole;
      double frac = std::modf(x, &whole);
      err = steps(from_hex<double, unsigned long long>(b), frac) + steps(from_hex<double, unsigned long long>(c), whole);
      std::snprintf(where, sizeof where, "modf(%a)", x);
    } else if (n == 4) {  // two arguments
      if (is_float) {
        float x = from_hex<float, unsigned>(a), y = from_hex<float, unsigned>(b), r = from_hex<float, unsigned>(c);
        err = base == "fmod" ? steps(r, std::fmod(x, y)) : ulps_from(r, ref2(base, x, y));
        std::snprintf(where, sizeof where, "%s(%a, %a)", f.c_str(), x, y);
      } else {
        double x = from_hex<double, unsigned long long>(a), y = from_hex<double, unsigned long long>(b),
               r = from_hex<double, unsigned long long>(c);
        err = base == "fmod" ? steps(r, std::fmod(x, y)) : ulps_from(r, ref2(base, x, y));
        std::snprintf(where, sizeof where, "%s(%a, %a)", f.c_str(), x, y);
      }
    } else if (is_float) {
      float x = from_hex<float, unsigned>(a), r = from_hex<float, unsigned>(b);
      err = exact(base) ? steps(r, exact1(base, x)) : ulps_from(r, ref1(base, x));
      std::snprintf(where, sizeof where, "%s(%a)", f.c_str(), x);
    } else {
      double x = from_hex<double, unsigned long long>(a), r = from_hex<double, unsigned long long>(b);
      err = exact(base) ? steps(r, exact1(base, x)) : ulps_from(r, ref1(base, x));
      std::snprintf(where, sizeof where, "%s(%a)", f.c_str(), x);
    }
    Worst& w = worst[f];
    ++w.count;
    if (err > w.ulps) w.ulps = err, w.where = where;
  }
  std::printf("%-8s %8s %10s  %s\n", "function", "calls", "worst ulp", "where");
  for (const auto& [f, w] : worst) {
    bool ex = exact(f.back() == 'f' && f != "modf" && f != "frexp" ? f.substr(0, f.size() - 1) : f);
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.4f", w.ulps);
    if (ex) std::printf("%-8s %8ld %10s  %s\n", f.c_str(), w.count, w.ulps == 0 ? "exact" : "NOT EXACT", w.ulps == 0 ? "" : w.where.c_str());
    else std::printf("%-8s %8ld %10s  %s\n", f.c_str(), w.count, figure, w.where.c_str());
  }
}
