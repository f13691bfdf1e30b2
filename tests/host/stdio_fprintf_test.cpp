// The stream formatting engine (vfprintf, fprintf, printf) on the host.
#include "runtime_test.h"

#include <memory>
#include <vector>

namespace {

struct Written {
  int result;
  std::string bytes;
};

// Formats onto a fresh memory stream: no packet, no kernel.
template <typename... Args>
Written mem(const char* format, Args... args) {
  char* buf = nullptr;
  size_t len = 0;
  ridid::FILE* f = ridid::open_memstream(&buf, &len);
  EXPECT_NE(f, nullptr);
  int r = ridid::fprintf(f, format, args...);
  std::string bytes = buf != nullptr ? std::string(buf, len) : std::string();
  ridid::fclose(f);
  return {r, bytes};
}

template <typename... Args>
std::string m(const char* format, Args... args) {
  return mem(format, args...).bytes;
}

// The byte counts of the console writes, in order.
std::vector<uint32_t> write_sizes() {
  std::vector<uint32_t> sizes;
  for (const kdouble::Trap& t : kdouble::traps()) {
    if (t.nr == ridid::SYS_WRITE) sizes.push_back(t.edx);
  }
  return sizes;
}

// The console as the kernel saw it. The engine writes single bytes from
// its own stack, so the bytes are copied while the trap is being served.
std::string g_console;

void take(const kdouble::Trap& t) {
  g_console.append(reinterpret_cast<const char*>(static_cast<uintptr_t>(t.ecx)), t.edx);
}

// Every write is accepted whole.
void accept_writes() {
  g_console.clear();
  kdouble::script([](const kdouble::Trap& t) -> int32_t {
    if (t.nr != ridid::SYS_WRITE) return 0;
    take(t);
    return static_cast<int32_t>(t.edx);
  });
}

// Makes the kernel refuse the n-th write (counting from 1) and every later one.
void fail_writes_from(int n) {
  g_console.clear();
  auto seen = std::make_shared<int>(0);
  kdouble::script([seen, n](const kdouble::Trap& t) -> int32_t {
    if (t.nr != ridid::SYS_WRITE) return 0;
    if (++*seen >= n) return -1;
    take(t);
    return static_cast<int32_t>(t.edx);
  });
}

}  // namespace

class FprintfTest : public RuntimeTest {};

TEST_F(FprintfTest, NumbersOnAMemoryStream) {
  Written w = mem("%d", -5);
  EXPECT_EQ(w.bytes, "-5");
  EXPECT_EQ(w.result, 2);
  EXPECT_EQ(m("%d", INT32_MIN), "-2147483648");
  EXPECT_EQ(m("%i", 0), "0");
  EXPECT_EQ(m("%u", -1), "4294967295");
  EXPECT_EQ(m("%x", 255), "ff");
  EXPECT_EQ(m("%x", 0xDEADBEEF), "deadbeef");

  EXPECT_EQ(m("%5d", 42), "   42");
  EXPECT_EQ(m("%05d", 42), "   42");  // no flags: the 0 starts the width
  EXPECT_EQ(m("%1d", -42), "-42");
  EXPECT_EQ(m("%.3d", 5), "005");
  EXPECT_EQ(m("%8.3d", -5), "    -005");
  EXPECT_EQ(m("%.0d", 0), "0");
  EXPECT_EQ(m("%.d", 0), "0");
  EXPECT_EQ(m("%.3d", 0), "000");
  EXPECT_EQ(m("%.2d", 12345), "12345");
  EXPECT_EQ(m("%*d", 5, 42), "   42");
  EXPECT_EQ(m("%*d", -5, 42), "42");
  EXPECT_EQ(m("%.*d", -1, 5), "5");
  EXPECT_EQ(m("%*.*x|%d", 6, 4, 0xab, 9), "  00ab|9");
  EXPECT_EQ(m("%4294967298d", 5), " 5");  // width digits wrap in 32 bits

  EXPECT_EQ(m("%p", static_cast<void*>(nullptr)), "0x0");
  EXPECT_EQ(m("%10.6p", reinterpret_cast<void*>(0xabc)), "  0x000abc");
  EXPECT_EQ(m("%5p", reinterpret_cast<void*>(0xabc)), "0xabc");
  EXPECT_EQ(m("%6p", reinterpret_cast<void*>(0xabc)), " 0xabc");
}

TEST_F(FprintfTest, LongLongReadsTwoWords) {
  Written w = mem("%lld", INT64_MIN);
  EXPECT_EQ(w.bytes, "-9223372036854775808");
  EXPECT_EQ(w.result, 20);
  EXPECT_EQ(m("%llu", UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(m("%llx", UINT64_MAX), "ffffffffffffffff");
  EXPECT_EQ(m("%lli", -1LL), "-1");
  EXPECT_EQ(m("%lld", 4294967296LL), "4294967296");
  EXPECT_EQ(m("%llx", 0x100000000ULL), "100000000");
  EXPECT_EQ(m("%llu", 10000000000000000000ULL), "10000000000000000000");
  EXPECT_EQ(m("%25.22lld", -123456789012LL), "  -0000000000123456789012");
  EXPECT_EQ(m("%lld|%d", 5LL, 7), "5|7");
  EXPECT_EQ(m("%llp|%d", 0x0000000100000abcULL, 3), "0x100000abc|3");
  // l alone is one word: %ld then %d read two separate ints.
  EXPECT_EQ(m("%ld|%lu|%d", -1, -1, 8), "-1|4294967295|8");
  // lll is ll followed by the conversion byte l.
  EXPECT_EQ(m("%lll|%d", 6), "%l|6");
}

TEST_F(FprintfTest, StringsCharactersAndPercent) {
  EXPECT_EQ(m("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(m("%.3s", static_cast<const char*>(nullptr)), "(nu");
  EXPECT_EQ(m("%8s", static_cast<const char*>(nullptr)), "  (null)");
  EXPECT_EQ(m("%5.2s", "abc"), "   ab");
  EXPECT_EQ(m("%.0s", "abc"), "");
  EXPECT_EQ(m("%.*s", -3, "abc"), "abc");
  EXPECT_EQ(m("%*s", -8, "abc"), "abc");
  // Lengths come from strlen, for which a low pointer is an empty string.
  Written low = mem("%s", reinterpret_cast<const char*>(16));
  EXPECT_EQ(low.bytes, "");
  EXPECT_EQ(low.result, 0);
  EXPECT_EQ(m("%3s|", reinterpret_cast<const char*>(4095)), "   |");

  EXPECT_EQ(m("%5c", 0x41), "A");
  EXPECT_EQ(m("%c", 0x141), "A");
  Written zero = mem("a%cb", 0);
  EXPECT_EQ(zero.bytes, std::string("a\0b", 3));
  EXPECT_EQ(zero.result, 3);
  EXPECT_EQ(m("%%"), "%");
  EXPECT_EQ(m("%5%"), "%");
}

TEST_F(FprintfTest, BytesOutsideTheGrammarAndIncompleteSpecs) {
  Written flag = mem("%-5d|%d", 42);
  EXPECT_EQ(flag.bytes, "%-5d|42");
  EXPECT_EQ(flag.result, 7);
  EXPECT_EQ(m("%+d|%d", 1), "%+d|1");
  EXPECT_EQ(m("% d|%d", 1), "% d|1");
  EXPECT_EQ(m("%#x|%d", 1), "%#x|1");
  for (const char* format : {"%X", "%o", "%f", "%n", "%5q", "%z", "%h", "%\xff"}) {
    Written w = mem(format, 1);
    EXPECT_EQ(w.result, 2) << format;
    EXPECT_EQ(w.bytes, std::string("%") + format[std::strlen(format) - 1]) << format;
  }
  EXPECT_EQ(m("%*.*q%d", 1, 2, 6), "%q6");  // * arguments stay taken

  for (const char* format : {"ab%", "ab%5", "ab%l", "ab%.", "ab%ll", "ab%.*", "ab%*"}) {
    Written w = mem(format, 1, 1);
    EXPECT_EQ(w.bytes, "ab") << format;
    EXPECT_EQ(w.result, 2) << format;
  }

  Written empty = mem("");
  EXPECT_EQ(empty.result, 0);
  EXPECT_EQ(empty.bytes, "");
  EXPECT_EQ(ridid::fprintf(nullptr, "x"), -1);
  EXPECT_EQ(ridid::fprintf(ridid::stdout, nullptr), -1);
  EXPECT_TRUE(kdouble::traps().empty());
}

TEST_F(FprintfTest, ConsolePacketOnDescriptorOne) {
  accept_writes();
  EXPECT_EQ(ridid::printf("%c", 1, 2, 3), 0);
  EXPECT_EQ(g_console, std::string("\xff\x01\x02\x03", 4));
  EXPECT_EQ(write_sizes(), std::vector<uint32_t>{4});

  kdouble::reset();
  accept_writes();
  EXPECT_EQ(ridid::printf("%cAB%d", 0x101, 0x202, 0x303, 77), 4);
  EXPECT_EQ(g_console, std::string("\xff\x01\x02\x03" "AB77", 8));
  EXPECT_EQ(write_sizes(), (std::vector<uint32_t>{4, 1, 1, 2}));

  // Only the very start counts.
  kdouble::reset();
  accept_writes();
  EXPECT_EQ(ridid::printf("x%c", 0x41), 2);
  EXPECT_EQ(g_console, "xA");
  kdouble::reset();
  accept_writes();
  EXPECT_EQ(ridid::printf("%5c", 1), 1);
  EXPECT_EQ(g_console, std::string("\x01", 1));

  // Standard error shares descriptor 1 and gets the packet too.
  kdouble::reset();
  accept_writes();
  EXPECT_EQ(ridid::fprintf(ridid::stderr, "%c%c", 7, 8, 9, 'z'), 1);
  EXPECT_EQ(g_console, std::string("\xff\x07\x08\x09z", 5));

  // No packet on a memory stream, even one standing in for stdout.
  Written w = mem("%c", 1, 2, 3);
  EXPECT_EQ(w.bytes, std::string("\x01", 1));
  EXPECT_EQ(w.result, 1);
  char* buf = nullptr;
  size_t len = 0;
  ridid::stdout = ridid::open_memstream(&buf, &len);
  kdouble::reset();
  EXPECT_EQ(ridid::printf("%cq", 'p', 2, 3), 2);
  EXPECT_EQ(std::string(buf, len), "pq");
  EXPECT_TRUE(kdouble::traps().empty());

  // Descriptor 0 takes no output: no packet, and the first write fails.
  EXPECT_EQ(ridid::fprintf(ridid::stdin, "%c", 1, 2, 3), -1);
  EXPECT_TRUE(kdouble::traps().empty());
}

TEST_F(FprintfTest, OnePieceForEachWrite) {
  accept_writes();
  EXPECT_EQ(ridid::printf("ab"), 2);
  EXPECT_EQ(write_sizes(), (std::vector<uint32_t>{1, 1}));

  // Pads, sign, leading zeros one byte each; the digits in one call.
  kdouble::reset();
  accept_writes();
  EXPECT_EQ(ridid::printf("%8.5d", -123), 8);
  EXPECT_EQ(g_console, "  -00123");
  EXPECT_EQ(write_sizes(), (std::vector<uint32_t>{1, 1, 1, 1, 1, 3}));

  kdouble::reset();
  accept_writes();
  EXPECT_EQ(ridid::printf("%10.6p", reinterpret_cast<void*>(0xabc)), 10);
  EXPECT_EQ(g_console, "  0x000abc");
  EXPECT_EQ(write_sizes(), (std::vector<uint32_t>{1, 1, 1, 1, 1, 1, 1, 3}));

  kdouble::reset();
  accept_writes();
  EXPECT_EQ(ridid::printf("%5s%%%q", "abc"), 8);
  EXPECT_EQ(g_console, "  abc%%q");
  EXPECT_EQ(write_sizes(), (std::vector<uint32_t>{1, 1, 3, 1, 1, 1}));

  // A short kernel write is completed by the sink, not repeated by the engine.
  kdouble::reset();
  g_console.clear();
  kdouble::script([](const kdouble::Trap& t) -> int32_t {
    if (t.nr != ridid::SYS_WRITE) return 0;
    g_console += *reinterpret_cast<const char*>(static_cast<uintptr_t>(t.ecx));
    return 1;
  });
  EXPECT_EQ(ridid::printf("%llu", 12345ULL), 5);
  EXPECT_EQ(g_console, "12345");
}

TEST_F(FprintfTest, FailedWriteEndsWithMinusOne) {
  fail_writes_from(1);
  EXPECT_EQ(ridid::printf("abc"), -1);
  EXPECT_EQ(write_sizes().size(), 1u);  // stopped at the first refusal

  // Three pad spaces go out, then the digits are refused.
  kdouble::reset();
  fail_writes_from(4);
  EXPECT_EQ(ridid::printf("%5d", 42), -1);
  EXPECT_EQ(g_console.substr(0, 3), "   ");
  EXPECT_EQ(write_sizes().size(), 4u);

  // Refused at every write of a few formats in turn (the packet of %cz
  // first): -1, no write after the refused one, and the bytes before it stay
  // written.
  struct Case {
    const char* format;
    uintptr_t arg;
  };
  const Case cases[] = {{"x%3s", reinterpret_cast<uintptr_t>("ab")}, {"x%5d", 0xFFFFFFF7u}, {"%4p", 0xab},
                        {"x%%", 0},  {"x%q", 0}, {"%.3u", 7}, {"%cz", 1}};
  for (const Case& c : cases) {
    kdouble::reset();
    accept_writes();
    int whole = ridid::printf(c.format, c.arg, c.arg, c.arg);
    ASSERT_GT(whole, 0) << c.format;
    std::string all = g_console;
    size_t writes = write_sizes().size();
    for (size_t n = 1; n <= writes; ++n) {
      kdouble::reset();
      fail_writes_from(static_cast<int>(n));
      EXPECT_EQ(ridid::printf(c.format, c.arg, c.arg, c.arg), -1) << c.format << " refused at write " << n;
      std::vector<uint32_t> sizes = write_sizes();
      EXPECT_EQ(sizes.size(), n) << c.format;
      size_t before = 0;
      for (size_t i = 0; i + 1 < sizes.size(); ++i) before += sizes[i];
      EXPECT_EQ(g_console, all.substr(0, before)) << c.format;
    }
  }

  // On a memory stream, what went before stays in the buffer when the heap
  // runs out in the middle of the output.
  char* buf = nullptr;
  size_t len = 0;
  ridid::FILE* f = ridid::open_memstream(&buf, &len);
  ASSERT_NE(f, nullptr);
  ridid::g_heap_used = ridid::HEAP_SIZE - 300;  // room for a 256-byte buffer only
  EXPECT_EQ(ridid::fprintf(f, "%s%300d", "kept", 1), -1);
  EXPECT_EQ(len, 255u);
  EXPECT_EQ(std::string(buf, 4), "kept");
  EXPECT_EQ(std::string(buf + 4, len - 4), std::string(251, ' '));
  EXPECT_EQ(ridid::errno, 12);
}
