// Integer conversions: strtoul/strtol bases, prefixes, end positions and
// wrapping; atoi's blanks and signs; abs.
#include "runtime_test.h"

namespace {

class ConvertStrtoul : public RuntimeTest {};

// Value and end offset of strtoul(text, base).
std::pair<unsigned long, long> ul(const char* text, int base) {
  char* end = nullptr;
  unsigned long v = ridid::strtoul(text, &end, base);
  return {v, end == nullptr ? -1 : end - text};
}

TEST_F(ConvertStrtoul, PrefixesAndBases) {
  EXPECT_EQ(ul("  0x1F", 16), std::make_pair(31ul, 6l));
  EXPECT_EQ(ul("  0x1F", 0), std::make_pair(31ul, 6l));
  EXPECT_EQ(ul("  0x1F", 10), std::make_pair(0ul, 3l));
  EXPECT_EQ(ul("0X1f", 16), std::make_pair(31ul, 4l));
  EXPECT_EQ(ul("0755", 0), std::make_pair(493ul, 4l));
  EXPECT_EQ(ul("0", 0), std::make_pair(0ul, 1l));
  EXPECT_EQ(ul("08", 0), std::make_pair(0ul, 1l));
  EXPECT_EQ(ul("0x", 0), std::make_pair(0ul, 2l));  // past the prefix
  EXPECT_EQ(ul("0xg", 16), std::make_pair(0ul, 2l));
  EXPECT_EQ(ul("0x10", 8), std::make_pair(0ul, 1l));  // no prefix in base 8
  EXPECT_EQ(ul("123", 0), std::make_pair(123ul, 3l));
  EXPECT_EQ(ul("1011012", 2), std::make_pair(45ul, 6l));
  EXPECT_EQ(ul("zz", 36), std::make_pair(0ul, 0l));
  EXPECT_EQ(ul("ff", 36), std::make_pair(555ul, 2l));
  EXPECT_EQ(ul("000", 1), std::make_pair(0ul, 3l));
  EXPECT_EQ(ul("01", 1), std::make_pair(0ul, 1l));
  EXPECT_EQ(ul("123", -1), std::make_pair(0ul, 0l));
  EXPECT_EQ(ul("777", 7), std::make_pair(0ul, 0l));
}

TEST_F(ConvertStrtoul, BlanksSignsAndEndPositions) {
  EXPECT_EQ(ul("  abc", 10), std::make_pair(0ul, 2l));  // past the blanks
  EXPECT_EQ(ul("-1", 10), std::make_pair(0ul, 0l));
  EXPECT_EQ(ul("+1", 10), std::make_pair(0ul, 0l));
  EXPECT_EQ(ul("\r\n\t 12", 10), std::make_pair(12ul, 6l));
  EXPECT_EQ(ul("\v12", 10), std::make_pair(0ul, 0l));
  EXPECT_EQ(ul("\f12", 10), std::make_pair(0ul, 0l));
  EXPECT_EQ(ul("", 10), std::make_pair(0ul, 0l));

  char* end = reinterpret_cast<char*>(1);
  EXPECT_EQ(ridid::strtoul(nullptr, &end, 10), 0ul);
  EXPECT_EQ(end, nullptr);
  EXPECT_EQ(ridid::strtoul("42", nullptr, 10), 42ul);
  EXPECT_EQ(ridid::strtoul(nullptr, nullptr, 10), 0ul);

  // strtol is the same conversion read as signed: no sign is taken.
  end = nullptr;
  const char* t = "-5";
  EXPECT_EQ(ridid::strtol(t, &end, 10), 0l);
  EXPECT_EQ(end, t);
  EXPECT_EQ(ridid::strtol("4294967295", nullptr, 10), -1l);
  EXPECT_EQ(ridid::strtol("0x80000000", nullptr, 0), INT32_MIN);
  end = reinterpret_cast<char*>(1);
  EXPECT_EQ(ridid::strtol(nullptr, &end, 0), 0l);
  EXPECT_EQ(end, nullptr);
}

TEST_F(ConvertStrtoul, WrapsModulo2To32) {
  EXPECT_EQ(ul("4294967295", 10), std::make_pair(4294967295ul, 10l));
  EXPECT_EQ(ul("4294967296", 10), std::make_pair(0ul, 10l));
  EXPECT_EQ(ul("4294967297", 10), std::make_pair(1ul, 10l));
  EXPECT_EQ(ul("123456789abcdef01", 16), std::make_pair(0xabcdef01ul, 17l));
  // A long run of digits keeps wrapping and is consumed whole.
  std::string nines(1000, '9');
  unsigned int want = 0;
  for (size_t i = 0; i < nines.size(); ++i) want = want * 10u + 9u;
  EXPECT_EQ(ul(nines.c_str(), 10), std::make_pair(static_cast<unsigned long>(want), 1000l));
}

class ConvertAtoi : public RuntimeTest {};

TEST_F(ConvertAtoi, BlanksSignsAndWrapping) {
  EXPECT_EQ(ridid::atoi(" -42x"), -42);
  EXPECT_EQ(ridid::atoi("+7"), 7);
  EXPECT_EQ(ridid::atoi("+-1"), 0);
  EXPECT_EQ(ridid::atoi("- 1"), 0);
  EXPECT_EQ(ridid::atoi("-"), 0);
  EXPECT_EQ(ridid::atoi(""), 0);
  EXPECT_EQ(ridid::atoi("x1"), 0);
  EXPECT_EQ(ridid::atoi(nullptr), 0);
  EXPECT_EQ(ridid::atoi("\r5"), 0);  // a carriage return is not skipped
  EXPECT_EQ(ridid::atoi("\v5"), 0);
  EXPECT_EQ(ridid::atoi("\n\t 5"), 5);
  EXPECT_EQ(ridid::atoi("2147483648"), INT32_MIN);
  EXPECT_EQ(ridid::atoi("4294967296"), 0);
  EXPECT_EQ(ridid::atoi("4294967301"), 5);
  EXPECT_EQ(ridid::atoi("-2147483648"), INT32_MIN);
  EXPECT_EQ(ridid::atoi("-4294967295"), 1);
  EXPECT_EQ(ridid::atoi("0x10"), 0);
  EXPECT_EQ(ridid::atoi("0010"), 10);
  for (const char* t : {" -42x", "+7", "\r5", "2147483648", "-0", "99999999999", "", "x"}) {
    EXPECT_EQ(ridid::atol(t), ridid::atoi(t)) << t;
  }
}

TEST_F(ConvertAtoi, AbsoluteValues) {
  EXPECT_EQ(ridid::abs(-5), 5);
  EXPECT_EQ(ridid::abs(5), 5);
  EXPECT_EQ(ridid::abs(0), 0);
  EXPECT_EQ(ridid::abs(INT32_MIN), INT32_MIN);
  EXPECT_EQ(ridid::abs(INT32_MIN + 1), INT32_MAX);
  for (long x : {-5l, 0l, 7l, static_cast<long>(INT32_MIN), -1l}) EXPECT_EQ(ridid::labs(x), ridid::abs(x));
}

}  // namespace
