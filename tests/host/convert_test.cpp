// Text to values: sscanf and strtod against the host on generated text where
// they agree (strtod within one unit in the last place of the host's
// correctly rounded value), floating-point texts the generator does not make,
// and what the fuzz targets' models of the departures from standard C never
// get (null texts, infinities and NaNs).
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

TEST(ConvertDiffTest, SscanfAgreesWithHost) {
  Text t{std::mt19937(20261206)};
  int mismatches = 0;
  for (int n = 0; n < 100000; ++n) {
    std::string format, in;
    auto blanks = [&](int least) { return t.run(least + t.pick(3), " \t"); };  // two numbers never run together
    auto sign = [&](int one_in) { return t.pick(one_in) == 0 ? std::string(1, t.from("+-")) : ""; };
    for (int d = 1 + t.pick(4); d > 0; --d) {
      int what = t.pick(10);
      std::string pct = t.pick(5) == 0 ? "%*" : "%";
      if (t.pick(3) == 0) format += t.from(" \t\n"), in += blanks(0);
      // Words hold no digit, sign or x: what a width leaves of one is no number.
      if (what <= 1) format += pct + "d", in += blanks(1) + sign(3) + t.run(1 + t.pick(9), "0123456789");
      if (what == 2) format += pct + "u", in += blanks(1) + t.run(1 + t.pick(9), "0123456789");
      if (what == 3) format += pct + (t.pick(2) ? "x" : "X"), in += blanks(1) + sign(4) + t.run(1 + t.pick(7), "0123456789abcdefABCDEF");
      if (what == 4) {
        std::string octal = "0" + t.run(1 + t.pick(8), "01234567"), decimal = t.from("123456789") + t.run(1 + t.pick(8), "0123456789");
        in += blanks(1) + sign(4) + (t.pick(2) ? octal : decimal);
        format += pct + "i";
      }
      if (what == 5 || what == 6) {
        format += pct + (t.pick(2) ? std::to_string(1 + t.pick(6)) : "") + "s", in += blanks(1) + t.run(1 + t.pick(12), "gqrYZ_.!\x80\xff");
      }
      if (what == 7) format += pct + "c", in += t.from(",;#!g");
      if (what >= 8) format += t.from(",:=;#"), in += format.back();
      if (t.pick(8) == 0) in += t.run(1 + t.pick(3), "gz,:;=#G@._\xe9");  // now and then something unexpected
    }
    if (t.pick(10) == 0 && !in.empty()) in.resize(size_t(t.pick(int(in.size()))));
    alignas(4) char ours[6][64], host[6][64];
    std::memset(ours, 0xA5, sizeof ours), std::memset(host, 0xA5, sizeof host);
    int got = ridid::sscanf(in.c_str(), format.c_str(), ours[0], ours[1], ours[2], ours[3], ours[4], ours[5]);
    int want = std::max(0, std::sscanf(in.c_str(), format.c_str(), host[0], host[1], host[2], host[3], host[4], host[5]));
    if ((got != want || std::memcmp(ours, host, sizeof ours) != 0) && ++mismatches <= 5) {
      ADD_FAILURE() << testing::PrintToString(in) << " " << testing::PrintToString(format) << ": " << got << ", host " << want;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

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
TEST(ConvertTest, NullTextsAndAbs) {
  char *end = low(1), *lend = low(1);
  EXPECT_EQ((R{strtoul(nullptr, &end, 10), end == nullptr, strtol(nullptr, &lend, 0), lend == nullptr, atoi(nullptr), atol(nullptr),
               strtoul("42", nullptr, 10)}.s), "0 1 0 1 0 0 42");
  EXPECT_EQ((R{abs(-5), abs(0), abs(INT32_MIN), abs(INT32_MIN + 1), labs(-5), labs(INT32_MIN)}.s),
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
