// strtold and strtod: both forms, the no-number cases, signs, exponent
// markers that are not taken, and the long-exponent and long-fraction paths.
#include "runtime_test.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace {

class FloatParse : public RuntimeTest {};

struct Parsed {
  long double v;
  long end;
};

Parsed ld(const char* text) {
  char* end = nullptr;
  long double v = ridid::strtold(text, &end);
  return {v, end == nullptr ? -1 : end - text};
}

// The value written out step by step the plain way: digits accumulated,
// the fraction divided out one place at a time, then the exponent.
long double plain_decimal(const std::string& intpart, const std::string& frac, int exp10) {
  long double v = 0.0L;
  for (char c : intpart) { v = v * 10.0L; v = v + (c - '0'); }
  for (char c : frac) { v = v * 10.0L; v = v + (c - '0'); }
  for (size_t i = 0; i < frac.size(); ++i) v = v / 10.0L;
  for (int i = 0; i < exp10; ++i) v = v * 10.0L;
  for (int i = 0; i > exp10; --i) v = v / 10.0L;
  return v;
}

bool near(long double got, long double want, long double rel) {
  return std::fabs(got - want) <= std::fabs(want) * rel;
}

TEST_F(FloatParse, DecimalForms) {
  Parsed p = ld("  -12.5e+2xyz");
  EXPECT_EQ(p.v, -1250.0L);
  EXPECT_EQ(p.end, 10);
  EXPECT_EQ(ld("5.").v, 5.0L);
  EXPECT_EQ(ld("5.").end, 2);
  EXPECT_EQ(ld("1.e2").v, 100.0L);
  EXPECT_EQ(ld(".5").v, 0.5L);
  EXPECT_EQ(ld("-.5").v, -0.5L);
  EXPECT_EQ(ld("1e0010").v, 1e10L);
  EXPECT_EQ(ld("1e-0").v, 1.0L);
  EXPECT_EQ(ld("1E3").v, 1000.0L);
  EXPECT_EQ(ld("\v\f 7").v, 7.0L);
  EXPECT_EQ(ld("\t\n\r7").end, 4);
  EXPECT_EQ(ld("00x1").v, 0.0L);
  EXPECT_EQ(ld("00x1").end, 2);
  EXPECT_EQ(ld("1p3").v, 1.0L);  // a binary exponent belongs to hex only
  EXPECT_EQ(ld("1p3").end, 1);
  EXPECT_EQ(ld("0.1").v, plain_decimal("0", "1", 0));
  EXPECT_EQ(ld("123.456e-7").v, plain_decimal("123", "456", -7));
  EXPECT_EQ(ld("98765432109876543210.0123456789e300").v,
            plain_decimal("98765432109876543210", "0123456789", 300));
}

TEST_F(FloatParse, HexForms) {
  EXPECT_EQ(ld("0x1.8p1").v, 3.0L);
  EXPECT_EQ(ld("0x.8p-1").v, 0.25L);
  EXPECT_EQ(ld("0xA.8").v, 10.5L);
  EXPECT_EQ(ld("0X1F").v, 31.0L);
  Parsed p = ld("0x1e3");  // the e is a digit
  EXPECT_EQ(p.v, 483.0L);
  EXPECT_EQ(p.end, 5);
  EXPECT_EQ(ld("0xffffffffffffffff").v, 18446744073709551615.0L);
  EXPECT_EQ(ld("-0x1P+4").v, -16.0L);
  EXPECT_EQ(ld("0x1.").end, 4);
}

TEST_F(FloatParse, NoNumberGivesPositiveZeroAtTheStart) {
  for (const char* t : {".", "-", "+-1", "- 1", "+ 1", "inf", "nan", "infinity", "0x", "0x.", "0xg",
                        "-0x", "  .e5", "", "  ", "e5", "\v-x", ".p1", "0x.p1"}) {
    Parsed p = ld(t);
    EXPECT_EQ(p.v, 0.0L) << t;
    EXPECT_FALSE(std::signbit(p.v)) << t;
    EXPECT_EQ(p.end, 0) << t;
  }
  char* end = reinterpret_cast<char*>(1);
  EXPECT_EQ(ridid::strtold(nullptr, &end), 0.0L);
  EXPECT_EQ(end, nullptr);
  end = reinterpret_cast<char*>(1);
  EXPECT_EQ(ridid::strtod(nullptr, &end), 0.0);
  EXPECT_EQ(end, nullptr);
  EXPECT_EQ(ridid::strtold("2.5", nullptr), 2.5L);
}

TEST_F(FloatParse, NegativeZeroAndSigns) {
  Parsed p = ld("-0");
  EXPECT_EQ(p.v, 0.0L);
  EXPECT_TRUE(std::signbit(p.v));
  EXPECT_EQ(p.end, 2);
  EXPECT_TRUE(std::signbit(ld("-0x0p5").v));
  EXPECT_TRUE(std::signbit(ridid::strtod("-0.000", nullptr)));
  EXPECT_TRUE(std::signbit(ld("-1e-99999").v));
  EXPECT_FALSE(std::signbit(ld("+0").v));
  EXPECT_EQ(ld("+2").v, 2.0L);
}

TEST_F(FloatParse, UnusedExponentMarkerEndsTheNumber) {
  EXPECT_EQ(ld("1e").v, 1.0L);
  EXPECT_EQ(ld("1e").end, 1);
  EXPECT_EQ(ld("1e+").end, 1);
  EXPECT_EQ(ld("1E-x").v, 1.0L);
  EXPECT_EQ(ld("1E-x").end, 1);
  EXPECT_EQ(ld("1e+-2").end, 1);
  EXPECT_EQ(ld("0x1p").v, 1.0L);
  EXPECT_EQ(ld("0x1p").end, 3);
  EXPECT_EQ(ld("0x1p-").end, 3);
  EXPECT_EQ(ld("5.e").end, 2);  // the point is taken, the marker is not
}

TEST_F(FloatParse, DoubleRounding) {
  char* end = nullptr;
  const char* t = "1e5000";
  EXPECT_EQ(ridid::strtod(t, &end), HUGE_VAL);
  EXPECT_EQ(end, t + 6);
  EXPECT_EQ(ridid::strtod("-1e400", nullptr), -HUGE_VAL);
  EXPECT_EQ(ridid::strtod("0x1p-1000", nullptr), std::ldexp(1.0, -1000));
  EXPECT_EQ(ridid::strtod("1e-400", nullptr), 0.0);
  // 2^-1075 is halfway to the smallest subnormal and rounds to even (zero);
  // a hair above it rounds up.
  EXPECT_EQ(ridid::strtod("0x1p-1075", nullptr), 0.0);
  EXPECT_EQ(ridid::strtod("0x1.0000000000001p-1075", nullptr), std::ldexp(1.0, -1074));
  EXPECT_EQ(ridid::strtod("0.1", nullptr), 0.1);
  EXPECT_EQ(ridid::strtod("0x1.fffffffffffff8p0", nullptr), 2.0);  // ties to even
}

// Exponents beyond 1024 steps scale on until the value is infinite or zero;
// shorter ones give exactly the plain sequence.
TEST_F(FloatParse, LongExponentsScaleAcrossTheWholeRange) {
  EXPECT_EQ(ld("1e5000").v, HUGE_VALL);
  EXPECT_EQ(ld("-1e5000").v, -HUGE_VALL);
  EXPECT_EQ(ridid::strtod("0x1p-1074", nullptr), DBL_TRUE_MIN);
  EXPECT_TRUE(near(ld("1e-2000").v, std::strtold("1e-2000", nullptr), 1e-16L));
  EXPECT_TRUE(near(ld("1e1025").v, std::strtold("1e1025", nullptr), 1e-16L));
  EXPECT_TRUE(near(ld("1e4932").v, std::strtold("1e4932", nullptr), 1e-15L));
  EXPECT_EQ(ld("1e4933").v, HUGE_VALL);
  EXPECT_EQ(ld("0x1p16383").v, std::ldexp(1.0L, 16383));
  EXPECT_EQ(ld("0x1p16384").v, HUGE_VALL);
  EXPECT_EQ(ld("0x1p-16445").v, std::ldexp(1.0L, -16445));  // smallest extended subnormal
  EXPECT_EQ(ld("0x1p-16446").v, 0.0L);
  EXPECT_EQ(ld("0x1p-2000").v, std::ldexp(1.0L, -2000));
  EXPECT_EQ(ld("1e-5000").v, 0.0L);
  EXPECT_EQ(ld("0e99999").v, 0.0L);
  // An enormous exponent is consumed whole and ends at once.
  std::string huge = "3e" + std::string(5000, '9') + "!";
  Parsed p = ld(huge.c_str());
  EXPECT_EQ(p.v, HUGE_VALL);
  EXPECT_EQ(p.end, static_cast<long>(huge.size()) - 1);
  std::string tiny = "3e-" + std::string(5000, '9');
  EXPECT_EQ(ld(tiny.c_str()).v, 0.0L);
  // Up to 1024 steps: the plain sequence, bit for bit.
  EXPECT_EQ(ld("1e-1024").v, plain_decimal("1", "", -1024));
  EXPECT_EQ(ld("7.25e1024").v, plain_decimal("7", "25", 1024));
  EXPECT_EQ(ld("0.3e-999").v, plain_decimal("0", "3", -999));
}

// Fractions of more than 1024 digits: the value the text denotes, never an
// infinity or an extra factor of ten per digit.
TEST_F(FloatParse, LongFractionsKeepTheirValue) {
  std::string zeros = "0." + std::string(2000, '0') + "1";
  EXPECT_TRUE(near(ld(zeros.c_str()).v, std::strtold("1e-2001", nullptr), 1e-16L));
  EXPECT_EQ(ld(zeros.c_str()).end, static_cast<long>(zeros.size()));

  std::string threes = "0." + std::string(1500, '3');
  EXPECT_TRUE(near(ld(threes.c_str()).v, 1.0L / 3.0L, 1e-18L));
  EXPECT_EQ(ridid::strtod(threes.c_str(), nullptr), 1.0 / 3.0);
  std::string many = "." + std::string(6000, '9');
  EXPECT_EQ(ridid::strtod(many.c_str(), nullptr), 1.0);

  std::string mixed = "1." + std::string(1500, '5') + "e-3";
  EXPECT_TRUE(near(ld(mixed.c_str()).v, 1.5555555555555555555556e-3L, 1e-18L));
  // Fraction and exponent meet: the value, not zero after an underflow.
  std::string back = "0." + std::string(5000, '0') + "1e5001";
  EXPECT_EQ(ld(back.c_str()).v, 1.0L);
  std::string five = "-0." + std::string(1100, '0') + "5e1101";
  EXPECT_EQ(ld(five.c_str()).v, -5.0L);
  // Zeros at the end of a long fraction add nothing, not even rounding.
  EXPECT_EQ(ld(("0.5" + std::string(2000, '0')).c_str()).v, 0.5L);
  EXPECT_EQ(ld(("3.25" + std::string(1100, '0') + "e2").c_str()).v, 325.0L);
  EXPECT_EQ(ld(("0x0.8" + std::string(1100, '0')).c_str()).v, 0.5L);
  std::string small = "2." + std::string(1100, '0') + "1e-10";
  EXPECT_TRUE(near(ld(small.c_str()).v, 2e-10L, 1e-18L));

  // Hexadecimal, the same way.
  std::string fs = "0x." + std::string(1500, 'f');
  EXPECT_EQ(ridid::strtod(fs.c_str(), nullptr), 1.0);
  std::string hz = "0x0." + std::string(1100, '0') + "8p4401";
  EXPECT_EQ(ld(hz.c_str()).v, 1.0L);
  std::string h1 = "0x1." + std::string(1100, '0') + "1";
  EXPECT_EQ(ld(h1.c_str()).v, 1.0L);

  // Exactly 1024 digits: the plain sequence.
  std::string frac1024(1024, '0');
  for (size_t i = 0; i < frac1024.size(); ++i) frac1024[i] = static_cast<char>('0' + (i * 7) % 10);
  EXPECT_EQ(ld(("0." + frac1024).c_str()).v, plain_decimal("0", frac1024, 0));
  EXPECT_EQ(ld(("12." + frac1024 + "e-5").c_str()).v, plain_decimal("12", frac1024, -5));
  // 1025 digits give the value too.
  std::string frac1025 = frac1024 + "7";
  EXPECT_TRUE(near(ld(("0." + frac1025).c_str()).v, plain_decimal("0", frac1024, 0), 1e-18L));

  // Long only in its digits: zeros and no significant digit at all.
  std::string allzero = "0." + std::string(3000, '0');
  EXPECT_EQ(ld(allzero.c_str()).v, 0.0L);
  std::string allzero_exp = "-." + std::string(3000, '0') + "e999999";
  EXPECT_EQ(ld(allzero_exp.c_str()).v, 0.0L);
  EXPECT_TRUE(std::signbit(ld(allzero_exp.c_str()).v));
}

// Integer parts whose value is past the format's range become infinity,
// and a long fraction after them changes nothing: never a NaN.
TEST_F(FloatParse, HugeIntegerParts) {
  std::string ints(5000, '1');
  EXPECT_EQ(ld(ints.c_str()).v, HUGE_VALL);
  EXPECT_EQ(ld((ints + "." + std::string(1500, '7')).c_str()).v, HUGE_VALL);
  EXPECT_EQ(ld((ints + ".5").c_str()).v, HUGE_VALL);
  std::string big = std::string(4000, '1') + "." + std::string(1500, '7');
  EXPECT_TRUE(near(ld(big.c_str()).v, std::strtold(big.c_str(), nullptr), 1e-15L));
  std::string bighex = "0x" + std::string(4100, 'f') + "." + std::string(1100, 'f');
  EXPECT_EQ(ld(bighex.c_str()).v, HUGE_VALL);
}

// Integer parts too long to add up within the range keep their leading
// digits and a power of ten, so an exponent or the value itself can bring
// them back; those that still add up keep the plain sequence, bit for bit.
TEST_F(FloatParse, LongIntegerPartsKeepTheirValue) {
  std::string z(4932, '0');
  const struct {
    std::string text;
    long double want;
  } rows[] = {
      {"1" + z + "0e-4933", 1.0L},
      {"1" + z.substr(0, 3999) + "." + std::string(1000, '0'), ld("1e3999").v},
      {"1" + z + ".0", ld("1e4932").v},
      {"0x1" + std::string(4096, '0') + "p-16384", 1.0L},
      {"-" + std::string(5000, '1') + "." + std::string(1500, '7') + "e-99999", -0.0L},
      {"2" + z, HUGE_VALL},
      {"1" + z + "e-4932", plain_decimal("1" + z, "", -4932)},
  };
  for (const auto& r : rows) {
    Parsed p = ld(r.text.c_str());
    EXPECT_EQ(p.v, r.want) << r.text.substr(0, 8) << "... (" << r.text.size() << " bytes)";
    EXPECT_EQ(std::signbit(p.v), std::signbit(r.want)) << r.text.size();
    EXPECT_EQ(p.end, static_cast<long>(r.text.size()));
  }
  EXPECT_EQ(ridid::strtod(rows[0].text.c_str(), nullptr), 1.0);
  std::string digits;
  for (int i = 0; i < 5000; ++i) digits += static_cast<char>('0' + (i * 7 + 3) % 10);
  digits += "e-4990";
  EXPECT_TRUE(near(ld(digits.c_str()).v, std::strtold(digits.c_str(), nullptr), 1e-15L));
}

}  // namespace
