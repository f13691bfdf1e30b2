// Both formatting engines: against the host's snprintf over generated formats
// where the three are meant to agree (no negative widths, no zero value under
// a zero precision, strings without '-' and never null, c without a width);
// then where they depart from standard C: the shared case table, the string
// engine's store limits, the stream engine's console packet, write pieces and
// failures as the kernel sees them.
#include <cstdarg>
#include <cstdio>
#include <random>

#include "runtime_test.h"

namespace {

const char* const kStrings[] = {"", "a", "hello", "with space", "0123456789abcdefghij", "\x80\xff~"};

struct Case { std::string format; uint32_t w[24] = {}, used = 0; };  // a format and the argument words it takes

// stream: the stream engine's grammar (no flags, no X or z; ll is 64-bit).
Case generate(std::mt19937& rng, bool stream) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Case c;
  auto push = [&](uint32_t v) { c.w[c.used++] = v; };
  for (int piece = pick(0, 6); piece > 0; --piece) {
    if (pick(0, 2) == 0) {  // literal bytes, never %
      for (int i = pick(1, 4); i > 0; --i) c.format += [](char ch) { return ch == '%' ? 'q' : ch; }(char(pick(1, 255)));
      continue;
    }
    char conv = (stream ? "diuxsc%" : "diuxXsc%")[pick(0, stream ? 6 : 7)];
    std::string d = "%";
    if (conv == 'c') push(pick(0, 0x1ff));
    if (conv == '%' || conv == 'c') { c.format += d + conv; continue; }
    for (int i = stream || conv == 's' ? 0 : pick(0, 3); i > 0; --i) d += "-0+"[pick(0, 2)];
    int width = pick(0, 2);  // none, digits, or * with 0 or more
    if (width == 1) d += std::to_string(pick(1, 24));
    if (width == 2) d += '*', push(pick(0, 24));
    int kind = pick(0, 3), prec = kind == 1 ? pick(0, 14) : kind == 2 ? 0 : kind == 3 ? pick(-3, 14) : -1;
    d += kind == 1 ? "." + std::to_string(prec) : kind == 2 ? "." : kind == 3 ? ".*" : "";
    if (kind == 3) push(uint32_t(prec));
    if (conv == 's') { c.format += d + 's', push(addr(kStrings[pick(0, 5)])); continue; }
    int length = pick(0, 3);
    bool wide = stream && length == 2;
    c.format += d + (length == 1 ? "l" : length != 2 ? "" : stream ? "ll" : "z") + conv;
    for (int word = 0; word <= wide; ++word) {
      static const uint32_t special[] = {0, 1, 0xffffffffu, 0x80000000u, 0x7fffffffu, 9, 10, 15, 16, 255, 1000000000u};
      push(pick(0, 3) == 0 ? special[pick(0, 10)] : uint32_t(rng()) >> pick(0, 31));
    }
    if (prec == 0 && c.w[c.used - 1] == 0 && c.w[c.used - 1 - wide] == 0) c.w[c.used - 1 - wide] = 1;  // C prints nothing
  }
  return c;
}

#define WORDS(w) w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13], \
                 w[14], w[15], w[16], w[17], w[18], w[19], w[20], w[21], w[22], w[23]

// The string engine into a buffer of any size up to past the whole output;
// the stream engine onto a memory stream, in a fresh arena each time.
void compare(bool stream, uint32_t seed) {
  std::mt19937 rng(seed), sizes(7);
  int mismatches = 0;
  for (int i = 0; i < 120000; ++i) {
    Case c = generate(rng, stream);
    const char* f = c.format.c_str();
    int want_n = std::snprintf(nullptr, 0, f, WORDS(c.w)), got_n;
    std::string want(want_n + 1, '\0'), got;
    std::snprintf(&want[0], want.size(), f, WORDS(c.w));
    if (stream) {
      char* buf = nullptr;
      size_t len = 0;
      got_n = (ridid::g_heap_used = 0, ridid::fprintf(ridid::open_memstream(&buf, &len), f, WORDS(c.w)));
      got = std::string(buf ? buf : "", len), want.pop_back();
    } else {
      size_t size = std::uniform_int_distribution<size_t>(0, want_n + 3)(sizes);
      std::string ours(size + 8, '#'), host(size + 8, '#');
      got_n = ridid::snprintf(&ours[0], size, f, WORDS(c.w)), std::snprintf(&host[0], size, f, WORDS(c.w));
      got = ours, want = host;
    }
    if ((got_n != want_n || got != want) && ++mismatches <= 10) {
      ADD_FAILURE() << testing::PrintToString(c.format) << ": got " << got_n << " " << testing::PrintToString(got)
                    << ", want " << want_n << " " << testing::PrintToString(want);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(FormatDiffTest, StringEngineMatchesHostSnprintf) { compare(false, 20261206); }
TEST(FormatDiffTest, StreamEngineMatchesHostSnprintf) { compare(true, 4242); }

}  // namespace

namespace ridid {
#include "format_cases.h"

TEST(FormatTest, CaseTable) {
  reset_runtime();
  for (const FormatCase& c : kFormatCases) {
    for (int engine : {SN, FP}) {
      char out[64];
      if (c.engines & engine) {
        int n = (std::memset(out, '#', sizeof out), format_case(c, engine, out, sizeof out));
        std::string want = bytes(c.want, c.len) + (engine == SN ? '\0' : '#');
        EXPECT_EQ((R{n, bytes(out, c.len + 1)}.s), (R{c.len, want}.s)) << c.format << " engine " << engine;
      }
    }
  }
  EXPECT_EQ(kdouble::trace(), "");
}

int via_vsprintf(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsprintf(buffer, format, args);
  return va_end(args), n;
}

// A null buffer is only measured; a null format stores an empty string;
// sprintf and vsprintf store at most 65535 bytes and the terminator.
TEST(FormatTest, StringEngineStoreLimits) {
  static char b[70010];
  EXPECT_EQ((R{snprintf(nullptr, 100, "abc%d", 12345), snprintf(nullptr, 5, nullptr), (std::memset(b, '#', sizeof b), snprintf(b, 0, 0)),
               b[0], snprintf(b, 8, nullptr), bytes(b, 2) == bytes("\0#", 2), sprintf(b, "%70000d", 7),
               bytes(b + 65534, 3) == bytes(" \0#", 3), via_vsprintf(b, "%65533d%s", 1, "Zt"), bytes(b + 65532, 4) == bytes("1Zt", 4),
               via_vsprintf(b, "%65534dZ%s", 1, "tail"), bytes(b + 65533, 4) == bytes("1Z\0#", 4)}.s),
            "8 0 0 35 0 1 70000 1 65535 1 65539 1");
}

// printf on the console: the result and the writes; then refused at each
// write in turn: -1, and no write after the refused one.
const struct { const char* format; uint32_t w[4]; int result; const char* trace; } kConsole[] = {
    {"%c", {1, 2, 3}, 0, "w(\\xff\\x01\\x02\\x03)"},  // the packet, not counted
    {"%cAB%d", {0x101, 0x202, 0x303, 77}, 4, "w(\\xff\\x01\\x02\\x03) w(A) w(B) w(77)"},
    {"x%c", {'A'}, 2, "w(x) w(A)"},  // only the very start makes a packet
    {"%5c", {1}, 1, "w(\\x01)"},
    {"%8.5d", {uint32_t(-123)}, 8, "w( )*2 w(-) w(0)*2 w(123)"},  // pads, sign, zeros: a byte each
    {"%10.6p", {0xabc}, 10, "w( )*2 w(0) w(x) w(0)*3 w(abc)"},
    {"%5s%%%q|%.3u", {addr("abc"), 7}, 12, "w( )*2 w(abc) w(%)*2 w(q) w(|) w(0)*2 w(7)"},
};

TEST(FormatTest, ConsolePacketAndWrites) {
  auto words = [] {
    std::vector<std::string> w;
    for (const kdouble::Trap& t : kdouble::traps()) w.push_back(t.word);
    return w;
  };
  for (const auto& c : kConsole) {
    reset_runtime();
    EXPECT_EQ((R{printf(c.format, c.w[0], c.w[1], c.w[2], c.w[3]), kdouble::trace()}.s), (R{c.result, c.trace}.s));
    std::vector<std::string> all = words();
    for (size_t n = 1; n <= all.size(); ++n) {
      reset_runtime(), kdouble::refuse_writes_from(int(n));
      EXPECT_EQ(printf(c.format, c.w[0], c.w[1], c.w[2], c.w[3]), -1) << c.format << " refused at write " << n;
      EXPECT_EQ(words(), std::vector<std::string>(all.begin(), all.begin() + n)) << c.format;
    }
  }
  char* buf = nullptr;
  size_t len = 0;
  reset_runtime();  // stderr is descriptor 1 too; descriptor 0 takes nothing, not even a packet; a memory stream no packet
  EXPECT_EQ((R{fprintf(stderr, "%c%c", 7, 8, 9, 'z'), fprintf(stdin, "%c", 1, 2, 3), fprintf(nullptr, "x"), fprintf(stdout, nullptr),
               (stdout = open_memstream(&buf, &len), printf("%cq", 'p', 2, 3)), std::string(buf, len),
               (g_heap_used = HEAP_SIZE - 300, printf("%s%300d", "kept", 1)), len, errno}.s),  // the heap runs out in the middle
            "1 -1 -1 -1 2 pq -1 255 12");
  EXPECT_EQ(std::string(buf, len) + kdouble::trace(), "pqkept" + std::string(249, ' ') + "w(\\xff\\x07\\x08\\x09) w(z)");
}

}  // namespace ridid
