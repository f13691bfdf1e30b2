// Text to values: strtod against the host on generated text (within one unit
// in the last place of the host's correctly rounded value) and on texts the
// generator does not make; then what the fuzz targets' models of sscanf and
// the integer conversions never get (null texts, infinities and NaNs).
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "runtime_test.h"

namespace {

struct Text {
  std::mt19937 rng;
  int pick(int n) { return int(rng() % unsigned(n)); }
  char from(const char* set) { return set[pick(int(std::strlen(set)))]; }
  std::string run(int n, const char* set) { return n > 0 ? from(set) + run(n - 1, set) : ""; }
};

TEST(ConvertDiffTest, StrtodWithinOneUlpOfHost) {
  Text t{std::mt19937(1074)};
  int mismatches = 0;
  for (int tried = 0; tried < 100000;) {
    // Blanks, a sign, digits with or without a point, an exponent, and a tail
    // that may be an exponent marker left without digits.
    bool hex = tried % 2 != 0;
    std::string s = t.run(t.pick(3), " \t\n\v\f\r") + (t.pick(3) == 0 ? "-" : t.pick(5) == 0 ? "+" : "") +
                    (hex ? t.pick(2) ? "0x" : "0X" : "");
    const char* set = hex ? "0123456789abcdefABCDEF" : "0123456789";
    int whole = t.pick(hex ? 17 : 21), frac = t.pick(whole == 0 ? (hex ? 14 : 20) : (hex ? 15 : 21)) + (whole == 0);
    s += t.run(whole, set);
    if (frac > 0 || t.pick(2)) s += "." + t.run(frac, set);
    if (t.pick(4) != 0) s += (hex ? "p" : t.pick(2) ? "e" : "E") + std::to_string(hex ? t.pick(1900) - 950 : t.pick(600) - 300);
    const char* tails[] = {"", "", "", "", "z", "e", "e+", "E-z", "p", "p-", "p3"};
    s += tails[t.pick(11)];
    char *want_end = nullptr, *got_end = nullptr;
    double want = std::strtod(s.c_str(), &want_end);
    if (want != 0.0 && (std::fabs(want) < DBL_MIN || std::isinf(want))) continue;  // the normal range only
    double got = (++tried, ridid::strtod(s.c_str(), &got_end));
    double ulp = want == 0.0 ? DBL_TRUE_MIN : std::nextafter(std::fabs(want), HUGE_VAL) - std::fabs(want);
    if ((std::fabs(got - want) > ulp || got_end != want_end || std::signbit(got) != std::signbit(want)) && ++mismatches <= 5) {
      ADD_FAILURE() << testing::PrintToString(s) << ": " << got << ", host " << want;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace

namespace ridid {
namespace {

// Null texts, which the fuzz target's models never get, and abs.
TEST(ConvertTest, NullTextsPrefixesAndAbs) {
  char *end = low(1), *lend = low(1);
  EXPECT_WORDS((R{strtoul(nullptr, &end, 10), end == nullptr, strtol(nullptr, &lend, 0), lend == nullptr, atoi(nullptr), atol(nullptr),
               strtoul("42", nullptr, 10)}.s), "0 1 0 1 0 0 42");
  // Base prefixes: 0x for base 0 and 16, 0 for base 0; "0x" alone ends past
  // the x in strtoul, and before it in strtoull, which reads a prefix only
  // when a hex digit follows.
  char *past = nullptr, *past64 = nullptr;
  const char* bare = "0xg";
  EXPECT_WORDS((R{strtoul("0x1f", nullptr, 0), strtoul(" 0X1F", nullptr, 16), strtoul("017", nullptr, 0), strtoul("0x1f", nullptr, 10),
               strtoul(bare, &past, 0), past == bare + 2, strtoull(bare, &past64, 16), past64 - bare,
               strtoull("0XF", nullptr, 16)}.s), "31 31 15 0 0 1 0 1 15");
  EXPECT_WORDS((R{abs(-5), abs(0), abs(INT32_MIN), abs(INT32_MIN + 1), labs(-5), labs(INT32_MIN)}.s),
            "5 0 -2147483648 2147483647 5 -2147483648");
}

TEST(ConvertTest, NoFloatingNumberIsPositiveZeroAtTheStart) {
  for (const char* t : {"inf", "nan", "infinity", "-INF", "NaN(1)"}) {  // the rest is the fuzz target's model
    char* end = low(1);
    long double v = strtold(t, &end);
    EXPECT_TRUE(v == 0 && !std::signbit(v) && end == t) << testing::PrintToString(t);
  }
  char *end = low(1), *end_d = low(1);
  EXPECT_TRUE(strtold(nullptr, &end) == 0 && end == nullptr && strtod(nullptr, &end_d) == 0 && end_d == nullptr);
}

// Extremes, signed zeros, long digit runs and huge exponents: within 1e-15 of
// the host in extended precision and one unit in the last place as a double,
// ending at the same byte.
TEST(ConvertTest, FloatingTextsAgainstTheHost) {
  auto rep = [](char c, size_t n) { return std::string(n, c); };
  std::string p;  // 1025 digits, zeros among them
  for (int i = 0; i < 1025; ++i) p += char('0' + (i * 7) % 10);
  const std::string texts[] = {
      "-0", "-0x0p5", "-0.000", "-1e-99999", "+0", "00x1", "0x1p-1075", "0x1.0000000000001p-1075", "0x1.fffffffffffff8p0", "0x1p-1074",
      "0xffffffffffffffff", "18446744073709551615", "0x1.0000000000000002p0", "1e5000", "-1e400", "1e-400", "1e-5000", "0e99999",
      "1e-2000", "1e1025", "1e4932", "1e4933", "0x1p16383", "0x1p16384", "0x1p-16445", "0x1p-16446", "0x1p-2000", "3e" + rep('9', 5000),
      "3e-" + rep('9', 5000), "0." + rep('0', 2000) + "1", "0." + rep('3', 1500), "." + rep('9', 6000), "1." + rep('5', 1500) + "e-3",
      "0." + rep('0', 5000) + "1e5001", "-0." + rep('0', 1100) + "5e1101", "0.5" + rep('0', 2000), "3.25" + rep('0', 1100) + "e2",
      "0x0.8" + rep('0', 1100), "2." + rep('0', 1100) + "1e-10", "0x." + rep('f', 1500), "0x0." + rep('0', 1100) + "8p4401",
      "0x1." + rep('0', 1100) + "1", "0." + p, "12." + p.substr(1) + "e-5", "-." + rep('0', 3000) + "e999999", rep('1', 5000),
      rep('1', 5000) + "." + rep('7', 1500), rep('1', 4000) + "." + rep('7', 1500), "0x" + rep('f', 4100) + "." + rep('f', 1100),
      "1" + rep('0', 4933) + "e-4933", "1" + rep('0', 3999) + "." + rep('0', 1000), "1" + rep('0', 4932) + ".0",
      "0x1" + rep('0', 4096) + "p-16384", "-" + rep('1', 5000) + "." + rep('7', 1500) + "e-99999", "2" + rep('0', 4932), p + p + "e-2040"};
  for (const std::string& t : texts) {
    char *end = nullptr, *want_end = nullptr;
    long double got = strtold(t.c_str(), &end), want = std::strtold(t.c_str(), &want_end);
    double d = strtod(t.c_str(), nullptr), want_d = std::strtod(t.c_str(), nullptr);
    EXPECT_TRUE((got == want || std::fabs(got - want) <= std::fabs(want) * 1e-15L) && std::signbit(got) == std::signbit(want) &&
                end == want_end && (d == want_d || std::nextafter(want_d, d) == d))
        << t.substr(0, 12) << "... (" << t.size() << " bytes): " << got << " vs " << want << ", " << d << " vs " << want_d;
  }
}

}  // namespace
}  // namespace ridid
