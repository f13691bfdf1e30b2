// Where the formatting engines depart from standard C (the fuzz targets check
// them against the host's snprintf where C agrees): the shared case table, the
// string engine's store limits, the stream engine's console packet, write
// pieces and failures as the kernel sees them.
#include <cstdarg>

#include "runtime_test.h"

namespace ridid {
#include "format_cases.h"

TEST(FormatTest, CaseTable) {
  reset_runtime();
  run_format_cases([](const FormatCase& c, int engine, const char* out, int n) {
    ADD_FAILURE() << testing::PrintToString(c.format) << " engine " << engine << ": " << n << " " << testing::PrintToString(out);
  });
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
  EXPECT_WORDS((R{snprintf(nullptr, 100, "abc%d", 12345), snprintf(nullptr, 5, nullptr), (std::memset(b, '#', sizeof b), snprintf(b, 0, 0)),
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
    EXPECT_WORDS((R{printf(c.format, c.w[0], c.w[1], c.w[2], c.w[3]), kdouble::trace()}.s), (R{c.result, c.trace}.s)) << c.format;
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
  EXPECT_WORDS((R{fprintf(stderr, "%c%c", 7, 8, 9, 'z'), fprintf(stdin, "%c", 1, 2, 3), fprintf(nullptr, "x"), fprintf(stdout, nullptr),
               (stdout = open_memstream(&buf, &len), printf("%cq", 'p', 2, 3)), std::string(buf, len),
               (g_heap_used = HEAP_SIZE - 300, printf("%s%300d", "kept", 1)), len, errno}.s),  // the heap runs out in the middle
            "1 -1 -1 -1 2 pq -1 255 12");
  EXPECT_EQ(std::string(buf, len) + kdouble::trace(), "pqkept" + std::string(249, ' ') + "w(\\xff\\x07\\x08\\x09) w(z)");
}

}  // namespace ridid
