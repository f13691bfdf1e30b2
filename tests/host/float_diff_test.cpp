// strtod against the host C library, whose result is correctly rounded:
// decimal and hexadecimal texts within the double range must come within
// one unit in the last place, and end at the same byte.
#include "runtime_test.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

class FloatDifferential : public RuntimeTest {
 protected:
  std::mt19937 rng{1074};
  int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
  std::string digits(int n, const char* set) {
    std::string s;
    for (int i = 0; i < n; ++i) s += set[pick(static_cast<int>(std::strlen(set)))];
    return s;
  }

  std::string decimal_text() {
    std::string t = pick(3) == 0 ? "-" : (pick(5) == 0 ? "+" : "");
    int int_digits = pick(21);
    int frac_digits = pick(int_digits == 0 ? 20 : 21) + (int_digits == 0);
    t += digits(int_digits, "0123456789");
    if (frac_digits > 0 || pick(2)) t += "." + digits(frac_digits, "0123456789");
    if (pick(4) != 0) t += std::string(pick(2) ? "e" : "E") + std::to_string(pick(600) - 300);
    return t;
  }
  std::string hex_text() {
    std::string t = pick(2) ? "-0x" : "0X";
    int int_digits = pick(17);
    int frac_digits = pick(int_digits == 0 ? 14 : 15) + (int_digits == 0);
    t += digits(int_digits, "0123456789abcdefABCDEF");
    if (frac_digits > 0 || pick(2)) t += "." + digits(frac_digits, "0123456789abcdefABCDEF");
    if (pick(4) != 0) t += "p" + std::to_string(pick(1900) - 950);
    return t;
  }
};

TEST_F(FloatDifferential, StrtodWithinOneUlpOfHost) {
  const int kCases = 100000;
  int mismatches = 0, tried = 0, off = 0;
  double largest = 0.0;
  std::string largest_text;
  while (tried < kCases) {
    std::string text = (tried % 2 ? hex_text() : decimal_text()) + (pick(4) == 0 ? "x" : "");
    char* want_end = nullptr;
    double want = std::strtod(text.c_str(), &want_end);
    // Only values well inside the normal double range.
    if (want != 0.0 && (std::fabs(want) < DBL_MIN || std::isinf(want))) continue;
    ++tried;
    char* got_end = nullptr;
    double got = ridid::strtod(text.c_str(), &got_end);
    double ulp = want == 0.0 ? DBL_TRUE_MIN : std::nextafter(std::fabs(want), HUGE_VAL) - std::fabs(want);
    double diff = std::fabs(got - want) / ulp;
    off += diff != 0.0;
    if (diff > largest) {
      largest = diff;
      largest_text = text;
    }
    if ((diff > 1.0 || got_end != want_end || std::signbit(got) != std::signbit(want)) && ++mismatches <= 5) {
      ADD_FAILURE() << "[" << text << "] " << got << " vs host " << want << " (" << diff << " ulp)";
    }
  }
  EXPECT_EQ(mismatches, 0);
  std::printf("strtod differential: %d cases, %d mismatches, %d not correctly rounded, largest difference %.3g ulp (%s)\n",
              kCases, mismatches, off, largest, largest_text.c_str());
}

}  // namespace
