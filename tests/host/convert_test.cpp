// Text to values: sscanf, strtoul and strtod against the host on generated
// text where they agree (strtod within one unit in the last place of the
// host's correctly rounded value); then where the runtime departs from
// standard C (no sign in strtoul and strtol, wrapping, unchecked bases, its
// own blanks, sscanf's own grammar, no infinity) and floating-point texts
// the generator does not make.
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

TEST(ConvertDiffTest, StrtoulAgreesWithHost) {
  std::mt19937 rng(5);
  int mismatches = 0;
  for (int n = 0; n < 100000; ++n) {
    unsigned base = 2 + rng() % 15, value = unsigned(rng()) >> (rng() % 32);
    std::string text, digits;
    for (unsigned k = rng() % 4; k > 0; --k) text += " \t\n\r"[rng() % 4];
    if (base == 16 && rng() % 3 == 0) text += rng() % 2 ? "0x" : "0X";
    for (text += std::string(rng() % 3, '0'); digits.empty() || value != 0; value /= base) {
      digits.insert(digits.begin(), char(value % base < 10 ? '0' + value % base : (rng() % 2 ? 'a' : 'A') + value % base - 10));
    }
    const std::string tails[] = {"", std::string(1, "-+ .z"[rng() % 5]), std::string(1, "0123456789abcdefg"[base]), "G9"};
    text += digits + tails[rng() % 4];  // a tail that is no digit in this base
    char *got_end = nullptr, *want_end = nullptr;
    unsigned long got = ridid::strtoul(text.c_str(), &got_end, int(base)), want = std::strtoul(text.c_str(), &want_end, int(base));
    if ((got != want || got_end != want_end) && ++mismatches <= 5) {
      ADD_FAILURE() << testing::PrintToString(text) << " base " << base << ": " << got << ", host " << want;
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

template <class F>
std::string conv(F f, const char* text, int base) {  // value@end
  char* end = low(1);
  auto v = f(text, &end, base);
  return std::to_string(v) + "@" + (end ? std::to_string(end - text) : "null");
}
std::string ul(const char* text, int base) { return conv(strtoul, text, base); }

TEST(ConvertTest, Integers) {
  EXPECT_EQ((R{ul("0x1F", 0), ul("0755", 0), ul("0", 0), ul("08", 0), ul("123", 0), ul("0x", 0), ul("0xg", 16), ul("  abc", 10),
               ul("-1", 10), ul("+1", 10), ul("\v12", 10), ul("\f12", 10), ul("\r\n\t 12", 10), ul("zz", 36), ul("ff", 36),
               ul("000", 1), ul("01", 1), ul("123", -1), ul("4294967297", 10), ul("123456789abcdef01", 16), ul(nullptr, 10),
               ul(("1" + std::string(999, '0')).c_str(), 10), conv(strtol, "-5", 10), conv(strtol, "4294967295", 10),
               conv(strtol, "0x80000000", 0), conv(strtol, nullptr, 0), strtoul("42", nullptr, 10), strtol(nullptr, nullptr, 0)}.s),
            "31@4 493@4 0@1 0@1 123@3 0@2 0@2 0@2 0@0 0@0 0@0 0@0 12@6 0@0 555@2 0@3 0@1 0@0 1@10 2882400001@17 0@null "
            "0@1000 0@0 -1@10 -2147483648@10 0@null 42 0");  // a long run wraps on and is consumed whole
  std::string i, l;
  for (const char* t : {" -42x", "+7", "+-1", "- 1", "-", "", "x1", "\r5", "\v5", "\n\t 5", "0x10", "0010", "2147483648",
                        "4294967301", "-4294967295", "-2147483648", static_cast<const char*>(nullptr)}) {
    i += R{atoi(t)}.s + " ", l += R{atol(t)}.s + " ";
  }
  EXPECT_EQ(i, "-42 7 0 0 0 0 0 0 0 5 0 10 -2147483648 5 1 -2147483648 0 ");
  EXPECT_EQ(l, i);
  EXPECT_EQ((R{abs(-5), abs(0), abs(INT32_MIN), abs(INT32_MIN + 1), labs(-5), labs(INT32_MIN)}.s),
            "5 0 -2147483648 2147483647 5 -2147483648");
}

// sscanf into four 40-byte slots, each shown as text: a number in decimal, a
// byte, a word ("!" when the byte after its NUL was written too), "-" when
// nothing was stored. Then the count.
std::string scanned(const char* input, const char* format) {
  alignas(4) char slot[4][40];
  std::memset(slot, 0xA5, sizeof slot);
  int count = sscanf(input, format, slot[0], slot[1], slot[2], slot[3]), n = 0;
  std::string out;
  for (const char* f = format; (f = std::strchr(f, '%')) != nullptr && n < 4;) {
    bool suppressed = *++f == '*';
    for (f += suppressed; *f >= '0' && *f <= '9';) ++f;
    char conversion = *f, *s = slot[n];
    if ((f += conversion != 0, suppressed || conversion == '%')) continue;
    out += std::string(n++ ? "|" : "") + (s[0] == '\xa5'        ? "-"
                                          : conversion == 's' ? s + std::string(s[std::strlen(s) + 1] == '\xa5' ? "" : "!")
                                          : conversion == 'c' ? std::string(1, s[0])
                                                              : std::to_string(*reinterpret_cast<int*>(s)));
  }
  return out + " " + std::to_string(count);
}

TEST(ConvertTest, ScanRows) {
  const char* rows[][3] = {
      {"\n7", "%d", "- 0"}, {"\n7", " %d", "7 1"}, {"\n \t\n8", "\t\n %d", "8 1"},  // a newline is white, not a blank
      {"- 5", "%d", "- 0"}, {"+-1", "%d", "- 0"}, {"-", "%d", "- 0"}, {"", "%d", "- 0"}, {"", "%c", "- 0"},
      {" q", "%c", "  1"}, {"\n", "%c", "\n 1"}, {"abc", "%5c", "a 1"}, {"12345", "%3d", "12345 1"},  // widths bound s only
      {"x\ny", "%s%s", "x| 2"}, {"\rword\v\f!", "%s", "\rword\v\f! 1"}, {"  \t", "%s", "- 0"}, {"12ab", "%d%c", "12|a 2"},
      {"\r5", "\r%d", "5 1"}, {"5", "\r%d", "- 0"}, {"-0x1A", "%i", "-26 1"}, {"+0X7f", "%i", "127 1"}, {"09", "%i%c", "0|9 2"},
      {"0x", "%i", "- 0"}, {"0xg", "%i", "- 0"}, {"0x1f", "%x%c", "0|x 2"}, {"-5", "%u", "- 0"}, {"4294967296", "%u", "0 1"},
      {"4294967295", "%d", "-1 1"}, {"99999999999", "%d", "1215752191 1"}, {"-2147483648", "%i", "-2147483648 1"},
      {"100 %5", "%d%%%d", "100|- 1"}, {"100%5", "%d%%%d", "100|5 2"}, {"%%7", "%*%%3%%d", "7 1"},
      {"abcdef", "%3s%s", "abc|def 2"}, {"abcdef", "%*2s%c", "c 1"}, {"ab12", "%2s%d", "ab|12 2"},
      {"abc", "%99999999999999s", "abc 1"}, {"abcdefghijklmnop", "%0s", "abcdefghijklmnop 1"},
      // Length modifiers and conversions other than c d i s u x X end the scan.
      {"1 2", "%d %ld", "1|- 1"}, {"1 2", "%d %hd", "1|- 1"}, {"1 2", "%d %n", "1|- 1"}, {"1 2", "%d %p", "1|- 1"},
      {"1 2", "%d %o", "1|- 1"}, {"1 2", "%d %f", "1|- 1"}, {"1 2", "%d %[0]", "1|- 1"}, {"1 2", "%d %", "1|- 1"}, {"1 2", "%d %*", "1 1"},
  };
  for (const auto& r : rows) EXPECT_EQ(scanned(r[0], r[1]), r[2]) << testing::PrintToString(r[0]) << " " << r[1];
  // A null word destination: the word is stepped over (not at a newline), nothing counted.
  char c[4] = {};
  EXPECT_EQ((R{sscanf("ab", "%s", low(0)), sscanf("ab c", "%s%c", low(0), c), sscanf("abcdef", "%4s%c", low(0), c + 1),
               sscanf("\nz", "%s%c", low(0), c + 2), c}.s), "0 1 1 1  e\n");
}

TEST(ConvertTest, NoFloatingNumberIsPositiveZeroAtTheStart) {
  for (const char* t : {".", "-", "+-1", "- 1", "inf", "nan", "infinity", "0x", "0x.", "0xg", "-0x", "  .e5", "", "e5", "\v-x",
                        ".p1", "0x.p1"}) {
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
