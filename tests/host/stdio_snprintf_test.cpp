// The string formatting engine (vsnprintf and its front ends) on the host.
#include "runtime_test.h"

#include <algorithm>
#include <cstdarg>
#include <vector>

namespace {

// The result and the bytes stored (up to the terminator the engine wrote),
// formatted into a 64-byte buffer.
struct Formatted {
  int result;
  std::string text;
};

template <typename... Args>
Formatted fmt64(const char* format, Args... args) {
  char buf[64];
  std::memset(buf, '#', sizeof buf);
  int r = ridid::snprintf(buf, sizeof buf, format, args...);
  size_t stored = r < 0 ? 0 : std::min<size_t>(static_cast<size_t>(r), sizeof buf - 1);
  EXPECT_EQ(buf[stored], '\0') << "terminator after the stored bytes of " << format;
  return {r, std::string(buf, stored)};
}

template <typename... Args>
std::string f(const char* format, Args... args) {
  return fmt64(format, args...).text;
}

// The va_list front end, as a program would call it.
int via_vsprintf(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = ridid::vsprintf(buffer, format, args);
  va_end(args);
  return n;
}

}  // namespace

class SnprintfTest : public RuntimeTest {};

TEST_F(SnprintfTest, StoreRuleCutsAndTerminates) {
  char buf[16];
  auto fill = [&] { std::memset(buf, '#', sizeof buf); };

  fill();
  EXPECT_EQ(ridid::snprintf(buf, 0, "hello"), 5);
  EXPECT_EQ(buf[0], '#');  // size 0 stores nothing, not even the terminator

  fill();
  EXPECT_EQ(ridid::snprintf(buf, 1, "hello"), 5);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], '#');

  fill();
  EXPECT_EQ(ridid::snprintf(buf, 3, "hello"), 5);
  EXPECT_EQ(std::string(buf, 4), std::string("he\0#", 4));

  fill();
  EXPECT_EQ(ridid::snprintf(buf, 6, "hello"), 5);
  EXPECT_EQ(std::string(buf, 7), std::string("hello\0#", 7));

  fill();
  EXPECT_EQ(ridid::snprintf(buf, 5, "hello"), 5);  // one short: the o is cut
  EXPECT_EQ(std::string(buf, 6), std::string("hell\0#", 6));

  // Padding passes the rule byte by byte too.
  fill();
  EXPECT_EQ(ridid::snprintf(buf, 4, "%5d", 42), 5);
  EXPECT_EQ(std::string(buf, 5), std::string("   \0#", 5));

  fill();
  EXPECT_EQ(ridid::snprintf(buf, 2, "%q"), 2);
  EXPECT_EQ(std::string(buf, 3), std::string("%\0#", 3));

  fill();
  EXPECT_EQ(ridid::snprintf(buf, 3, "%p", reinterpret_cast<void*>(0xab)), 4);
  EXPECT_EQ(std::string(buf, 4), std::string("0x\0#", 4));

  // A null buffer is only measured, whatever the size.
  EXPECT_EQ(ridid::snprintf(nullptr, 0, "abc"), 3);
  EXPECT_EQ(ridid::snprintf(nullptr, 100, "abc%d", 12345), 8);

  // Null and empty formats: terminator only, result 0, no argument read.
  fill();
  EXPECT_EQ(ridid::snprintf(buf, sizeof buf, nullptr), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], '#');
  fill();
  EXPECT_EQ(ridid::snprintf(buf, sizeof buf, ""), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(ridid::snprintf(nullptr, 5, nullptr), 0);
  fill();
  EXPECT_EQ(ridid::snprintf(buf, 0, nullptr), 0);
  EXPECT_EQ(buf[0], '#');

  // The engine never calls into the kernel.
  EXPECT_TRUE(kdouble::traps().empty());
}

TEST_F(SnprintfTest, SprintfPairStopsAt65536) {
  std::vector<char> buf(70010, '#');
  EXPECT_EQ(ridid::sprintf(buf.data(), "%70000d", 7), 70000);
  EXPECT_EQ(buf[0], ' ');
  EXPECT_EQ(buf[65534], ' ');
  EXPECT_EQ(buf[65535], '\0');
  EXPECT_EQ(buf[65536], '#');
  EXPECT_EQ(buf[69999], '#');

  // Exactly 65535 bytes fit whole.
  std::fill(buf.begin(), buf.end(), '#');
  EXPECT_EQ(ridid::sprintf(buf.data(), "%65534dZ", 1), 65535);
  EXPECT_EQ(buf[65533], '1');
  EXPECT_EQ(buf[65534], 'Z');
  EXPECT_EQ(buf[65535], '\0');

  char small[16];
  EXPECT_EQ(ridid::sprintf(small, "%s-%d", "ab", -3), 5);
  EXPECT_STREQ(small, "ab--3");

  // vsprintf has the same limit.
  std::fill(buf.begin(), buf.end(), '#');
  EXPECT_EQ(via_vsprintf(buf.data(), "%65534dZ%s", 1, "tail"), 65539);
  EXPECT_EQ(buf[65534], 'Z');
  EXPECT_EQ(buf[65535], '\0');
  EXPECT_EQ(buf[65536], '#');
}

TEST_F(SnprintfTest, NumbersWithFlagsWidthAndPrecision) {
  EXPECT_EQ(f("%d", 0), "0");
  EXPECT_EQ(f("%d", -1), "-1");
  Formatted most_negative = fmt64("%d", INT32_MIN);
  EXPECT_EQ(most_negative.text, "-2147483648");
  EXPECT_EQ(most_negative.result, 11);
  EXPECT_EQ(f("%i", -77), "-77");
  EXPECT_EQ(f("%u", -1), "4294967295");
  EXPECT_EQ(f("%x", -1), "ffffffff");
  EXPECT_EQ(f("%x", 0xabc), "abc");
  EXPECT_EQ(f("%X", 0xabc), "ABC");
  EXPECT_EQ(f("%x", 0), "0");

  EXPECT_EQ(f("%5d", 42), "   42");
  EXPECT_EQ(f("%-5d", 42), "42   ");
  EXPECT_EQ(f("%05d", 42), "00042");
  EXPECT_EQ(f("%05d", -42), "-0042");
  EXPECT_EQ(f("%-05d", 42), "42   ");
  EXPECT_EQ(f("%00005d", 42), "00042");  // 0 after the % is always a flag
  EXPECT_EQ(f("%0-+5d", 42), "+42  ");
  EXPECT_EQ(f("%2d", 12345), "12345");   // width smaller than the number

  EXPECT_EQ(f("%+d", 42), "+42");
  EXPECT_EQ(f("%+d", 0), "+0");
  EXPECT_EQ(f("%+d", -42), "-42");
  EXPECT_EQ(f("%+05d", 42), "+0042");
  EXPECT_EQ(f("%+u", 42), "42");
  EXPECT_EQ(f("%+x", 255), "ff");
  EXPECT_EQ(f("%+-6i", 9), "+9    ");

  EXPECT_EQ(f("%.3d", 7), "007");
  EXPECT_EQ(f("%.3d", -7), "-007");
  EXPECT_EQ(f("%5.3d", 7), "  007");
  EXPECT_EQ(f("%05.3d", 7), "  007");
  EXPECT_EQ(f("%08.3d", -7), "    -007");
  EXPECT_EQ(f("%-8.3d", -7), "-007    ");
  EXPECT_EQ(f("%.0d", 0), "0");
  EXPECT_EQ(f("%.d", 0), "0");
  EXPECT_EQ(f("%.2d", 0), "00");
  EXPECT_EQ(f("%.3d", 12345), "12345");
  EXPECT_EQ(f("%.10X", 0xbeef), "000000BEEF");

  // Digit runs wrap in 32 bits: 4294967298 is a width of 2, and a precision
  // that wraps negative is no precision at all.
  EXPECT_EQ(f("%4294967298d", 5), " 5");
  EXPECT_EQ(f("%.4294967295d", 5), "5");
  EXPECT_EQ(f("%.4294967295s", "hello"), "hello");
}

TEST_F(SnprintfTest, StarWidthsAndPrecisions) {
  EXPECT_EQ(f("%*d", 5, 42), "   42");
  EXPECT_EQ(f("%*d", -5, 42), "42");  // a negative width pads nothing
  EXPECT_EQ(f("%-*d", -5, 42), "42");
  EXPECT_EQ(f("%.*d", -1, 7), "7");
  EXPECT_EQ(f("%0*.*x", 8, -1, 255), "000000ff");
  EXPECT_EQ(f("%0*.*x", 8, 2, 255), "      ff");
  EXPECT_EQ(f("%*.*d|%d", 6, 4, 3, 9), "  0003|9");
  EXPECT_EQ(f("%*d", INT32_MIN, 1), "1");

  // Arguments taken by * stay taken, even when the conversion ignores them.
  EXPECT_EQ(f("%*%%d", 5, 8), "%8");
  EXPECT_EQ(f("%*p %d", 20, reinterpret_cast<void*>(0x10), 3), "0x10 3");
  EXPECT_EQ(f("%*c%d", 9, 'A', 4), "A4");
  EXPECT_EQ(f("%*.*q%d", 1, 2, 6), "%q6");
}

TEST_F(SnprintfTest, StringsAndNull) {
  EXPECT_EQ(f("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(f("%.3s", static_cast<const char*>(nullptr)), "(nu");
  EXPECT_EQ(f("%8s", static_cast<const char*>(nullptr)), "  (null)");
  EXPECT_EQ(f("%8s", "hello"), "   hello");
  Formatted left = fmt64("%-8s", "hello");
  EXPECT_EQ(left.text, "hello");  // strings never pad on the right
  EXPECT_EQ(left.result, 5);
  EXPECT_EQ(f("%.3s", "hello"), "hel");
  EXPECT_EQ(f("%8.3s", "hello"), "     hel");
  EXPECT_EQ(f("%.0s", "hello"), "");
  EXPECT_EQ(f("%5s", ""), "     ");
  EXPECT_EQ(f("%08s", "hi"), "      hi");
  EXPECT_EQ(f("%+s", "hi"), "hi");
  EXPECT_EQ(f("%*s", -8, "hi"), "hi");
  EXPECT_EQ(f("%-*s", -8, "hi"), "      hi");
  EXPECT_EQ(f("%.*s", -1, "hello"), "hello");
  EXPECT_EQ(f("%.9s", "hello"), "hello");
  // Bytes of 128 and above pass through unchanged.
  static const char bytes[] = {'\xff', '\x80', 'a', '\0'};
  EXPECT_EQ(f("%s", bytes), std::string("\xff\x80" "a"));
}

TEST_F(SnprintfTest, PointersAndCharacters) {
  EXPECT_EQ(f("%p", static_cast<void*>(nullptr)), "0x0");
  EXPECT_EQ(f("%p", reinterpret_cast<void*>(0xffffffffu)), "0xffffffff");
  void* abc = reinterpret_cast<void*>(0xabc);
  EXPECT_EQ(f("%10p", abc), "0xabc");
  EXPECT_EQ(f("%-10p", abc), "0xabc");
  EXPECT_EQ(f("%010p", abc), "0xabc");
  EXPECT_EQ(f("%.8p", abc), "0xabc");
  EXPECT_EQ(f("%+p", abc), "0xabc");

  EXPECT_EQ(f("%c", 0x141), "A");
  EXPECT_EQ(f("%5c", 0x41), "A");
  EXPECT_EQ(f("%-5c|", 0x41), "A|");
  Formatted zero = fmt64("a%cb", 0);
  EXPECT_EQ(zero.result, 3);
  EXPECT_EQ(zero.text, std::string("a\0b", 3));
  EXPECT_EQ(f("%c", 0xff), "\xff");

  EXPECT_EQ(f("%%"), "%");
  EXPECT_EQ(f("%5%"), "%");
  EXPECT_EQ(f("%-05.3%"), "%");
}

TEST_F(SnprintfTest, BytesOutsideTheGrammarAreText) {
  // No argument is taken: the %d after each one gets the first word.
  EXPECT_EQ(f("%hd|%d", 42), "%hd|42");
  EXPECT_EQ(f("%#x|%d", 42), "%#x|42");
  EXPECT_EQ(f("% d|%d", 42), "% d|42");
  EXPECT_EQ(f("%o|%d", 42), "%o|42");
  EXPECT_EQ(f("%n|%d", 42), "%n|42");
  EXPECT_EQ(f("%f|%d", 42), "%f|42");
  EXPECT_EQ(f("%3$d|%d", 42), "%$d|42");
  EXPECT_EQ(f("%5 d", 42), "% d");
  EXPECT_EQ(f("%-+05.2j|%d", 42), "%j|42");
  EXPECT_EQ(f("%L%h%t%q%a%G%E"), "%L%h%t%q%a%G%E");
  EXPECT_EQ(f("%\x80%\xff"), "%\x80%\xff");

  // One length modifier only: the next modifier byte is the conversion.
  EXPECT_EQ(f("%lz|%d", 42), "%z|42");
  EXPECT_EQ(f("%zl|%d", 42), "%l|42");
  EXPECT_EQ(f("%lll|%d", 42), "%l|42");
  EXPECT_EQ(f("%lzd", 42), "%zd");

  // Accepted modifiers change nothing: one word per argument.
  EXPECT_EQ(f("%lx", 255), "ff");
  EXPECT_EQ(f("%zx", 255), "ff");
  EXPECT_EQ(f("%lX", 255), "FF");
  EXPECT_EQ(f("%llX", 255), "FF");
  EXPECT_EQ(f("%lld|%d", 5, 0, 7), "5|0");
  EXPECT_EQ(f("%lls", "x"), "x");
}

TEST_F(SnprintfTest, UnfinishedDirectivesEndTheOutput) {
  for (const char* format : {"a%", "a%-", "a%5", "a%.", "a%l", "a%ll", "a%z", "a%+0-", "a%*", "a%.*", "a%5.3l"}) {
    Formatted r = fmt64(format, 9, 9);
    EXPECT_EQ(r.text, "a") << format;
    EXPECT_EQ(r.result, 1) << format;
  }
  EXPECT_EQ(fmt64("abc%").result, 3);
}

TEST_F(SnprintfTest, DigitRenderer) {
  struct Case {
    unsigned int value;
    unsigned int base;
    int upper;
    const char* digits;
  };
  const Case cases[] = {
      {0, 10, 0, "0"},          {0, 16, 1, "0"},          {9, 10, 0, "9"},
      {10, 10, 0, "10"},        {15, 16, 0, "f"},         {16, 16, 0, "10"},
      {0xabcdef, 16, 1, "ABCDEF"}, {0xabcdef, 16, 0, "abcdef"},
      {4294967295u, 10, 0, "4294967295"}, {4294967295u, 16, 0, "ffffffff"},
      {1000000000u, 10, 0, "1000000000"},
  };
  for (const Case& c : cases) {
    char digits[12];
    std::memset(digits, '#', sizeof digits);
    int count = -1;
    ridid::snbuf_render_unsigned(digits, &count, c.value, c.base, c.upper);
    ASSERT_EQ(count, static_cast<int>(std::strlen(c.digits))) << c.digits;
    EXPECT_EQ(std::string(digits, count), c.digits);
    EXPECT_EQ(digits[count], '#') << "no terminator is written";
  }
}
