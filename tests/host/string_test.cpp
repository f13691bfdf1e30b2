// The string functions where they depart from standard C (absent strings
// below 4096, byte differences, null arguments, strtok's one position), and
// the word-at-a-time reads at every alignment up to a page end, the searches
// there against the host.
#include <sys/mman.h>

#include <algorithm>

#include "runtime_test.h"

namespace ridid {
namespace {

const Scenario kStrings[] = {
    ROW([] { return R{strcmp(nullptr, nullptr), strcmp(nullptr, "a"), strcmp("a", nullptr), strcmp(low(16), low(17)),
                      strcmp(low(16), low(16)), strcmp("", low(4095)), strcmp("abc", "ab"), strcmp("ab", "abc"), strcmp("\x80", "a"),
                      strcmp("\xff", ""), strncmp(nullptr, "a", 0), strncmp(low(5), low(9), 0), strncmp(low(5), low(5), 3),
                      strncmp(low(5), "a", 1), strncmp("a", low(5), 1), strncmp("abcx", "abcy", 3), strncmp("ab\0x", "ab\0y", 4),
                      strncmp("a\xfe", "a\x01", 2), memcmp("abc", "abd", 0), memcmp("ab\0x", "ab\0y", 4), memcmp("\x01", "\xff", 1)}; },
        "0 -1 1 -1 0 1 99 -99 31 255 0 0 0 -1 1 0 0 253 0 -1 -254", ""),
    ROW([] { return R{strcasecmp("ABC", "abd"), strcasecmp("_", "A"), strcasecmp("HeLLo", "hEllO"), strcasecmp("ab", "ABC"),
                      strcasecmp("[", "z"), strcasecmp("@", "`"), strcasecmp("\xc4", "\xe4"), strcasecmp(nullptr, nullptr),
                      strcasecmp(nullptr, ""), strcasecmp("", nullptr), strncasecmp(nullptr, "x", 0), strncasecmp(nullptr, "x", 1),
                      strncasecmp("x", nullptr, 1), strncasecmp("ABCx", "abcY", 3), strncasecmp("ABCx", "abcY", 4),
                      strncasecmp("A\0B", "a\0c", 3), strncasecmp("Z", "z", 1)}; },  // folded to lower case, A-Z only
        "-1 -2 0 -99 -31 -32 -32 0 -1 1 0 -1 1 0 -1 0 0", ""),
    ROW([] { char d[16] = "zzzzzzzzzzzzzzz";  // strncpy leaves the destination unterminated at its count
             return R{strlen(low(0)) + strlen(low(4095)) + strnlen(low(16), 10), strcpy(nullptr, "a") == nullptr, strcpy(d, nullptr) == d,
                      bytes(d, 2) == bytes("\0z", 2), strncpy(d, nullptr, 5) == d, bytes(d, 6) == bytes("\0\0\0\0\0z", 6),
                      !strncpy(nullptr, "a", 3), (std::memset(d, 'z', 15), strncpy(d, "abc", 2), strncpy(d + 2, "qr", 1), strncpy(d, "x", 0)) == d, bytes(d, 3)}; },
        "0 1 1 1 1 1 1 1 abq", ""),
    ROW([] { char e[10] = "ab\0qqqqqq";  // strncat writes one terminator after what it appends, nothing for a count of 0
             return R{strncat(e, "xyz", 2) == e, strncat(e, "xyz", 0) == e, strncat(e, nullptr, 3) == e, bytes(e, 6) == bytes("abxy\0q", 6),
                      (strncat(e, "c", 5), bytes(e, 7) == bytes("abxyc\0q", 7)), strcat(e, nullptr) == e, strcat(e, "de") == e,
                      std::string(e), (strncat(e, "fg", 1), std::string(e)), strcat(nullptr, "x") == nullptr, strncat(nullptr, "x", 1) == nullptr, strcat(low(1), "a") == low(1),
                      strcat(low(4095), "a") == low(4095), strncat(low(16), "a", 1) == low(16)}; },  // low destinations are left alone
        "1 1 1 1 1 1 1 abxycde abxycdef 1 1 1 1 1", ""),
    ROW([] { char* e[3];  // null: null, nothing taken; absent or cut strings: fresh empty ones; a copy takes its bytes and a NUL
             return R{!strdup(nullptr) && !strndup(nullptr, 3), g_heap_used, strdup("hello"), strndup("hello", 3), g_heap_used,
                      strndup("hi", 10), (e[0] = strdup(low(16)), e[1] = strndup(low(16), 5), e[2] = strndup("hi", 0), *e[0] + *e[1] + *e[2]),
                      e[0] != e[1] && e[1] != e[2], (g_heap_used = HEAP_SIZE, strdup("x") == nullptr && strndup("x", 1) == nullptr), errno}; },
        "1 0 hello hel 24 hi 0 1 1 12", ""),
    ROW([] { const char *s = "abcabc", *hi = "t\xe9";  // characters are compared by their low 8 bits
             return R{strchr(s, 0x161) - s, strchr(hi, -23) - hi, strchr(nullptr, 'a') == strrchr(nullptr, 'a'), strrchr(s, 'b' + 0x300) - s,
                      strrchr(s, 0) - s, strrchr(s, 'x') == nullptr, strstr(nullptr, "a") == strstr(s, nullptr), strstr(s, "") - s,
                      strstr("", "") != nullptr, strstr(s, "cab") - s, strstr(s, "abd") == nullptr, strstr("ab", "abc") == nullptr,
                      strstr(s, "xbc") == nullptr}; },
        "0 1 1 4 6 1 1 0 1 2 1 1 1", ""),
    ROW([] { char text[] = ",,a,,b,", two[] = "x y;z", rest[] = "a,b c", whole[] = ",a,", none[] = ",,,", empty[] = "";
             return R{strtok(nullptr, ","), strtok(text, ","), strtok(nullptr, ","), strtok(nullptr, ","), strtok(nullptr, ","),
                      bytes(text, 4) == bytes(",,a", 4), strtok(two, " ;"), strtok(nullptr, ";"), strtok(nullptr, ";"),  // the set may change
                      strtok(nullptr, ";"), strtok(rest, ","), strtok(nullptr, nullptr), strtok(nullptr, ","),  // no set: the rest is a token
                      strtok(whole, ""), strtok(nullptr, ""), strtok(none, ","), strtok(nullptr, ","), strtok(empty, nullptr)}; },
        "(null) a b (null) (null) 1 x y z (null) a b c (null) ,a, (null) (null) (null) (null)", ""),
    ROW([] { const char* s = "abcab";  // absent strings and sets are empty; memchr's count is all it looks at
             return R{strspn(low(16), "a"), strspn(s, low(16)), strspn(s, ""), strcspn(low(1), "a"), strcspn(s, nullptr), strcspn(s, ""),
                      strpbrk(low(9), "a") == nullptr, strpbrk(s, low(9)) == nullptr, strpbrk(s, "") == nullptr, strpbrk(s, "\x80" "b") - s,
                      memchr(s, 'a' + 0x100, 5) == s, memchr(s, 'b', 1) == nullptr, memchr(nullptr, 'a', 0) == memrchr(nullptr, 'a', 0),
                      (char*)memrchr(s, 0x161, 5) - s, (char*)memchr(s, 0, SIZE_MAX) - s}; },
        "0 0 0 0 5 5 1 1 1 1 1 1 1 3 5", ""),
    ROW([] { char d[8] = "abcdefg", e[8] = "ab\0zzzz";  // the result is always the length they tried to make
             return R{strlcpy(d, "hello", 3), std::string(d), strlcpy(d, "xy", 0), d[0], strlcpy(nullptr, "abc", 5), strlcpy(low(9), "abc", 5),
                      strlcpy(d, nullptr, 4), bytes(d, 2) == bytes("\0e", 2), strlcpy(d, "seven..", 8), std::string(d),
                      strlcat(e, "cdef", 5), bytes(e, 6) == bytes("abcd\0z", 6), strlcat(e, "xyz", 4), strlcat(e, "x", 0), std::string(e),
                      strlcat(low(16), "abc", 4), strlcat(e, nullptr, 8), strlcat(e, "ef", 7), std::string(e), strlcat(e, "", 7)}; },
        "5 he 2 104 3 3 0 1 7 seven.. 6 1 7 1 abcd 3 4 6 abcdef 6", ""),
};

TEST(StringTest, Departures) { run_scenarios(kStrings); }

// memmove over every overlap against the host, and memcpy front to back
// one byte at a time (onto an overlapping destination too), through the
// eight-byte turns and the single bytes; memset's value is its low 8 bits;
// memset and strncpy's NUL fill meet their count, through the 16-byte
// blocks and the single bytes, at an odd address.
TEST(StringTest, MovesAndFills) {
  for (size_t to = 0; to < 12 * 12 * 21; ++to) {
    const size_t d = to % 12, s = to / 12 % 12, n = to / 144;
    char ours[33] = "0123456789abcdefghijklmnopqrstu", host[33], copied[33], model[33];
    std::memcpy(host, ours, 33), std::memcpy(copied, ours, 33), std::memcpy(model, ours, 33);
    EXPECT_EQ(memmove(ours + d, ours + s, n), ours + d);
    std::memmove(host + d, host + s, n);
    EXPECT_EQ(bytes(ours, 33), bytes(host, 33)) << "memmove " << d << " " << s << " " << n;
    EXPECT_EQ(memcpy(copied + d, copied + s, n), copied + d);
    for (size_t i = 0; i < n; ++i) model[d + i] = model[s + i];
    EXPECT_EQ(bytes(copied, 33), bytes(model, 33)) << "memcpy " << d << " " << s << " " << n;
  }
  char a[48], b[48];
  std::memset(a, 'z', 48), std::memset(b, 'z', 48);
  EXPECT_WORDS((R{memcpy(0, 0, 0) == memmove(0, 0, 0), memset(a + 1, 0x1fe, 35) == a + 1, strncpy(b + 1, "ab", 37) == b + 1,
               bytes(a, 48) == "z" + std::string(35, '\xfe') + std::string(12, 'z'),
               bytes(b, 48) == "zab" + std::string(35, '\0') + std::string(10, 'z')}.s),
            "1 1 1 1 1");
}

// The first differing byte pair's difference, up to n bytes or a common NUL.
int model_compare(const char* a, const char* b, size_t n, bool stop_at_nul) {
  for (size_t i = 0; i < n; ++i) {
    int d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    if (d != 0 || (stop_at_nul && a[i] == 0)) return d;
  }
  return 0;
}

// Each pair of strings ends at the end of a page followed by an inaccessible
// one (a read past the end faults), with 0 to 3 other bytes after either
// terminator: every pair of alignments.
TEST(StringTest, WordReadsAtEveryAlignmentUpToAPageEnd) {
  const size_t page = 4096;
  char* base = static_cast<char*>(mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_EQ(mprotect(base + page, page, PROT_NONE) | mprotect(base + 3 * page, page, PROT_NONE), 0);
  auto at_end = [&](int p, const std::string& s) {
    return static_cast<char*>(std::memcpy(base + (2 * p + 1) * page - s.size(), s.data(), s.size()));
  };
  const std::string text = "abcdefghij\x80klmnopqrst\xffuvwxyz0123456789";
  std::string changed = text, high = text, zero = text;
  changed[30] = 'A', high[3] = '\xfe', zero[17] = 0;
  std::vector<std::pair<std::string, std::string>> pairs = {{"a", ""}, {text, changed}, {high, text}, {zero, text}, {"\x80", "\x7f"}};
  for (size_t len = 0; len <= text.size(); ++len) pairs.push_back({text.substr(0, len), text.substr(0, len + len % 3 - 1)});
  for (const auto& [x, y] : pairs) {
    for (size_t junk = 0; junk < 16; ++junk) {
      std::string sa = x + '\0' + std::string(junk % 4, 'x'), sb = y + '\0' + std::string(junk / 4, 'y');
      char *a = at_end(0, sa), *b = at_end(1, sb);
      SCOPED_TRACE(testing::PrintToString(sa) + " " + testing::PrintToString(sb));
      size_t len = std::strlen(x.c_str());
      EXPECT_EQ(strlen(a), len);
      for (size_t max : {size_t{0}, len / 2, len, len + 1, SIZE_MAX}) EXPECT_EQ(strnlen(a, max), std::min(max, len));
      for (int c : {0, 'a' + 0, 'x' + 0, 0x80, 0x1ff, 'A' + 0x100, x.empty() ? 1 : x[x.size() / 2] + 0}) {
        EXPECT_EQ(strchr(a, c), std::strchr(a, c)) << c;
        EXPECT_EQ(memchr(a, c, sa.size()), std::memchr(a, c, sa.size())) << c;  // blocks up to the page end
        EXPECT_EQ(memrchr(b, c, sb.size()), ::memrchr(b, c, sb.size())) << c;
        if (std::strchr(a, c)) EXPECT_EQ(memchr(a, c, SIZE_MAX), std::strchr(a, c)) << c;  // found before the count ends
      }
      for (const char* set : {"", "a", "abcdefghij", "\x80\xff\x7fzyx", "0123456789abcdefghijklmnopqrstuvwxyz"}) {
        EXPECT_EQ(strspn(a, set), std::strspn(a, set)) << set;
        EXPECT_EQ(strcspn(a, set), std::strcspn(a, set)) << set;
        EXPECT_EQ(strpbrk(a, set), std::strpbrk(a, set)) << set;
      }
      EXPECT_EQ(strcmp(a, b), model_compare(a, b, SIZE_MAX, true));
      EXPECT_EQ(strncmp(a, b, SIZE_MAX), model_compare(a, b, SIZE_MAX, true));
      for (size_t n = 0; n <= std::min(sa.size(), sb.size()); ++n) {
        const char *ea = a + sa.size() - n, *eb = b + sb.size() - n;  // blocks ending at the page ends
        EXPECT_EQ(strncmp(a, b, n), model_compare(a, b, n, true)) << n;
        EXPECT_EQ(memcmp(ea, eb, n), model_compare(ea, eb, n, false)) << n;
      }
      EXPECT_EQ(strnlen(at_end(0, x), x.size()), len);  // no terminator after x
    }
  }
  munmap(base, 4 * page);
}

}  // namespace
}  // namespace ridid
