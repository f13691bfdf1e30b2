// String and memory functions: the null and low-address rules, unsigned
// comparison, case folding, strtok's continuation, overlapping moves, the
// block fills, and the word-at-a-time reads at every alignment up to a page end.
#include "runtime_test.h"

#include <sys/mman.h>

#include <algorithm>
#include <vector>

namespace {

class StringTest : public RuntimeTest {};

// A pointer into the first page; never read through.
template <typename T = char>
T* low(uintptr_t v) { return reinterpret_cast<T*>(v); }

TEST_F(StringTest, LengthsOfAbsentStrings) {
  for (uintptr_t v : {uintptr_t{0}, uintptr_t{1}, uintptr_t{16}, uintptr_t{4095}}) {
    EXPECT_EQ(ridid::strlen(low(v)), 0u) << v;
    EXPECT_EQ(ridid::strnlen(low(v), 10), 0u) << v;
  }
  EXPECT_EQ(ridid::strlen("hello"), 5u);
  EXPECT_EQ(ridid::strnlen("hello", 0), 0u);
  EXPECT_EQ(ridid::strnlen("hello", 3), 3u);
  EXPECT_EQ(ridid::strnlen("hello", 5), 5u);
  EXPECT_EQ(ridid::strnlen("hello", 0xffffffffu), 5u);
  // strnlen stops at the maximum without looking further.
  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(ridid::strnlen(unterminated, 4), 4u);
}

TEST_F(StringTest, ComparisonsAreUnsignedDifferences) {
  EXPECT_EQ(ridid::strcmp(nullptr, nullptr), 0);
  EXPECT_EQ(ridid::strcmp(nullptr, "a"), -1);
  EXPECT_EQ(ridid::strcmp("a", nullptr), 1);
  EXPECT_EQ(ridid::strcmp(low(16), low(17)), -1);  // first low wins
  EXPECT_EQ(ridid::strcmp(low(16), low(16)), 0);
  EXPECT_EQ(ridid::strcmp("", low(4095)), 1);
  EXPECT_EQ(ridid::strcmp("abc", "ab"), 99);
  EXPECT_EQ(ridid::strcmp("ab", "abc"), -99);
  EXPECT_EQ(ridid::strcmp("\x80", "a"), 0x80 - 'a');
  EXPECT_EQ(ridid::strcmp("\xff", ""), 255);
  EXPECT_EQ(ridid::strcmp("", "\xff"), -255);
  EXPECT_EQ(ridid::strcmp("same", std::string("same").c_str()), 0);

  EXPECT_EQ(ridid::strncmp(nullptr, "a", 0), 0);
  EXPECT_EQ(ridid::strncmp(low(5), low(9), 0), 0);
  EXPECT_EQ(ridid::strncmp(low(5), "a", 1), -1);
  EXPECT_EQ(ridid::strncmp("a", low(5), 1), 1);
  EXPECT_EQ(ridid::strncmp("abcx", "abcy", 3), 0);
  EXPECT_EQ(ridid::strncmp("abcx", "abcy", 4), 'x' - 'y');
  // Stops after a common NUL: what follows it does not count.
  EXPECT_EQ(ridid::strncmp("ab\0x", "ab\0y", 4), 0);
  EXPECT_EQ(ridid::strncmp("a\xfe", "a\x01", 2), 0xfe - 1);

  EXPECT_EQ(ridid::memcmp("abc", "abd", 0), 0);
  EXPECT_EQ(ridid::memcmp("ab\0x", "ab\0y", 4), 'x' - 'y');  // NUL is just a byte
  EXPECT_EQ(ridid::memcmp("\x01", "\xff", 1), 1 - 255);
  EXPECT_EQ(ridid::memcmp(nullptr, nullptr, 0), 0);
}

// Two read-write pages, each followed by a PROT_NONE one. at_end puts bytes
// so that the last is the last of page 0 or 1: a read past it faults.
class PageEndTest : public RuntimeTest {
 protected:
  static constexpr size_t kPage = 4096;
  char* base_ = nullptr;
  void SetUp() override {
    RuntimeTest::SetUp();
    base_ = static_cast<char*>(mmap(nullptr, 4 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base_, MAP_FAILED);
    ASSERT_EQ(mprotect(base_ + kPage, kPage, PROT_NONE) | mprotect(base_ + 3 * kPage, kPage, PROT_NONE), 0);
  }
  void TearDown() override { munmap(base_, 4 * kPage); }
  char* at_end(int page, const std::string& bytes) {
    char* p = base_ + (2 * page + 1) * kPage - bytes.size();
    std::memcpy(p, bytes.data(), bytes.size());
    return p;
  }
};

// The first differing byte pair's difference, up to n bytes or a common NUL.
int model_compare(const char* a, const char* b, size_t n, bool stop_at_nul) {
  for (size_t i = 0; i < n; ++i) {
    int d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    if (d != 0 || (stop_at_nul && a[i] == 0)) return d;
  }
  return 0;
}

const std::string kText = "abcdefghij\x80klmnopqrst\xffuvwxyz0123456789";

// Every length from 0 and 0..3 junk bytes after the terminator put the
// string at every alignment, its terminator at the page end included.
TEST_F(PageEndTest, LengthsAndStrchrAgreeWithTheHost) {
  for (size_t len = 0; len <= kText.size(); ++len) {
    for (size_t junk = 0; junk < 4; ++junk) {
      SCOPED_TRACE(testing::Message() << "length " << len << " junk " << junk);
      char* s = at_end(0, kText.substr(0, len) + '\0' + std::string(junk, 'x'));
      EXPECT_EQ(ridid::strlen(s), len);
      for (size_t max : {size_t{0}, len / 2, len, len + 1, len + junk + 1, SIZE_MAX}) {
        EXPECT_EQ(ridid::strnlen(s, max), std::min(max, len)) << max;
      }
      for (int c : std::initializer_list<int>{0, 'a', 'x', '#', 0x80, 0x1ff, 'A' + 0x100, kText[len / 2]}) {
        EXPECT_EQ(ridid::strchr(s, c), std::strchr(s, c)) << c;
      }
      char* unterminated = at_end(1, kText.substr(0, len));
      EXPECT_EQ(ridid::strnlen(unterminated, len), len);
    }
  }
}

// Each row at every pair of alignments, with different junk after the two
// terminators.
TEST_F(PageEndTest, ComparisonsAtEveryAlignment) {
  std::string changed = kText, high = kText, zero = kText;
  changed[30] = 'A';
  high[3] = '\xfe';
  zero[17] = 0;
  const std::string rows[][2] = {{"", ""},      {"a", ""},     {kText, kText}, {kText, changed},
                                 {high, kText}, {zero, kText}, {"\x80", "\x7f"}, {kText, kText.substr(0, 21)}};
  for (const auto& row : rows) {
    for (size_t junk = 0; junk < 16; ++junk) {
      SCOPED_TRACE(testing::Message() << "row " << (&row - rows) << " junk " << junk % 4 << "," << junk / 4);
      std::string sa = row[0] + '\0' + std::string(junk % 4, 'x'), sb = row[1] + '\0' + std::string(junk / 4, 'y');
      char* a = at_end(0, sa);
      char* b = at_end(1, sb);
      EXPECT_EQ(ridid::strcmp(a, b), model_compare(a, b, SIZE_MAX, true));
      EXPECT_EQ(ridid::strncmp(a, b, SIZE_MAX), model_compare(a, b, SIZE_MAX, true));
      for (size_t n = 0; n <= std::min(sa.size(), sb.size()); ++n) {
        EXPECT_EQ(ridid::strncmp(a, b, n), model_compare(a, b, n, true)) << n;
        const char *ea = a + sa.size() - n, *eb = b + sb.size() - n;  // blocks ending at the page ends
        EXPECT_EQ(ridid::memcmp(ea, eb, n), model_compare(ea, eb, n, false)) << n;
      }
    }
  }
}

TEST_F(StringTest, CaseFoldingGoesToLowerCase) {
  EXPECT_EQ(ridid::strcasecmp("ABC", "abd"), -1);
  EXPECT_EQ(ridid::strcasecmp("_", "A"), '_' - 'a');
  EXPECT_EQ(ridid::strcasecmp("HeLLo", "hEllO"), 0);
  EXPECT_EQ(ridid::strcasecmp("ab", "ABC"), -'c');
  EXPECT_EQ(ridid::strcasecmp("[", "z"), '[' - 'z');  // [ is not folded
  EXPECT_EQ(ridid::strcasecmp("\xc4", "\xe4"), 0xc4 - 0xe4);  // no byte above 0x7f is folded
  EXPECT_EQ(ridid::strcasecmp(nullptr, nullptr), 0);
  EXPECT_EQ(ridid::strcasecmp(nullptr, ""), -1);
  EXPECT_EQ(ridid::strcasecmp("", nullptr), 1);

  EXPECT_EQ(ridid::strncasecmp(nullptr, "x", 0), 0);
  EXPECT_EQ(ridid::strncasecmp(nullptr, "x", 1), -1);
  EXPECT_EQ(ridid::strncasecmp("x", nullptr, 1), 1);
  EXPECT_EQ(ridid::strncasecmp("ABCx", "abcY", 3), 0);
  EXPECT_EQ(ridid::strncasecmp("ABCx", "abcY", 4), 'x' - 'y');
  EXPECT_EQ(ridid::strncasecmp("A\0B", "a\0c", 3), 0);
}

TEST_F(StringTest, CopiesAndNullSources) {
  char d[16];
  std::memset(d, 'z', sizeof d);
  EXPECT_EQ(ridid::strcpy(nullptr, "a"), nullptr);
  EXPECT_EQ(ridid::strcpy(d, nullptr), d);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 'z');
  EXPECT_EQ(ridid::strcpy(d, "hey"), d);
  EXPECT_EQ(std::memcmp(d, "hey\0z", 5), 0);

  std::memset(d, 'z', sizeof d);
  EXPECT_EQ(ridid::strncpy(d, nullptr, 5), d);
  EXPECT_EQ(std::memcmp(d, "\0\0\0\0\0z", 6), 0);
  std::memset(d, 'z', sizeof d);
  ridid::strncpy(d, "abc", 2);
  EXPECT_EQ(std::memcmp(d, "abz", 3), 0);  // unterminated
  std::memset(d, 'z', sizeof d);
  ridid::strncpy(d, "abc", 3);
  EXPECT_EQ(std::memcmp(d, "abcz", 4), 0);
  EXPECT_EQ(ridid::strncpy(nullptr, "abc", 3), nullptr);
  EXPECT_EQ(ridid::strncpy(d, "abc", 0), d);
  EXPECT_EQ(d[0], 'a');
}

// strncpy's NUL fill reaches exactly the count, through the block path and
// the single bytes, from any alignment.
TEST_F(StringTest, StrncpyFillsToTheCountExactly) {
  for (size_t offset = 0; offset < 4; ++offset) {
    for (size_t n : {1u, 15u, 16u, 17u, 19u, 32u, 33u, 100u}) {
      std::vector<char> d(n + 24, 'z');
      char* dst = d.data() + offset;
      ridid::strncpy(dst, "ab", n);
      size_t copied = n < 2 ? n : 2;
      EXPECT_EQ(std::string(dst, copied), std::string("ab", copied));
      for (size_t i = copied; i < n; ++i) ASSERT_EQ(dst[i], 0) << n << " at " << i;
      for (size_t i = n; i < n + 24 - offset; ++i) ASSERT_EQ(dst[i], 'z') << n << " past " << i;
    }
  }
}

TEST_F(StringTest, AppendsAndLowDestinations) {
  char d[16] = "ab";
  EXPECT_EQ(ridid::strcat(d, nullptr), d);
  EXPECT_STREQ(d, "ab");
  EXPECT_EQ(ridid::strcat(d, "cd"), d);
  EXPECT_STREQ(d, "abcd");
  EXPECT_EQ(ridid::strcat(nullptr, "x"), nullptr);
  EXPECT_EQ(ridid::strncat(nullptr, "x", 1), nullptr);

  char e[8] = {'a', 'b', 0, 'q', 'q', 'q', 'q', 'q'};
  ridid::strncat(e, "xyz", 2);
  EXPECT_EQ(std::memcmp(e, "abxy\0qqq", 8), 0);
  ridid::strncat(e, "xyz", 0);
  ridid::strncat(e, nullptr, 3);
  EXPECT_EQ(std::memcmp(e, "abxy\0qqq", 8), 0);
  // Stopping at the source's NUL still writes one terminator only.
  char f[8] = {'a', 0, 'q', 'q', 'q', 'q', 'q', 'q'};
  ridid::strncat(f, "b", 5);
  EXPECT_EQ(std::memcmp(f, "ab\0qqqqq", 8), 0);

  // A low destination other than null is left alone and handed back (a
  // write there would fault, which ASan would report here).
  for (uintptr_t v : {uintptr_t{1}, uintptr_t{16}, uintptr_t{4095}}) {
    EXPECT_EQ(ridid::strcat(low(v), "abc"), low(v));
    EXPECT_EQ(ridid::strncat(low(v), "abc", 3), low(v));
  }
}

TEST_F(StringTest, Searches) {
  const char* s = "abcabc";
  EXPECT_EQ(ridid::strchr(s, 'b'), s + 1);
  EXPECT_EQ(ridid::strchr(s, 0), s + 6);
  EXPECT_EQ(ridid::strchr(s, 0x161), s);  // compared by the low 8 bits
  EXPECT_EQ(ridid::strchr(s, 'x'), nullptr);
  EXPECT_EQ(ridid::strchr(nullptr, 'a'), nullptr);
  const char* hi = "t\xe9";
  EXPECT_EQ(ridid::strchr(hi, 0xe9), hi + 1);
  EXPECT_EQ(ridid::strchr(hi, -23), hi + 1);  // -23 is 0xe9 in its low byte
  EXPECT_EQ(ridid::strrchr(s, 'b'), s + 4);
  EXPECT_EQ(ridid::strrchr(s, 0), s + 6);
  EXPECT_EQ(ridid::strrchr(s, 'x'), nullptr);
  EXPECT_EQ(ridid::strrchr(nullptr, 'a'), nullptr);

  const char* h = "aab";
  EXPECT_EQ(ridid::strstr(h, "ab"), h + 1);
  EXPECT_EQ(ridid::strstr(h, ""), h);
  const char* none = "";
  EXPECT_EQ(ridid::strstr(none, ""), none);
  EXPECT_EQ(ridid::strstr(h, "abc"), nullptr);
  EXPECT_EQ(ridid::strstr(h, "b"), h + 2);
  EXPECT_EQ(ridid::strstr(nullptr, "a"), nullptr);
  EXPECT_EQ(ridid::strstr(h, nullptr), nullptr);
  EXPECT_EQ(ridid::strstr("", "a"), nullptr);
}

TEST_F(StringTest, StrtokContinuesAndStops) {
  // A first call ever without a string finds nothing to continue.
  EXPECT_EQ(ridid::strtok(nullptr, ","), nullptr);

  char text[] = ",,a,,b,";
  char* t = ridid::strtok(text, ",");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "a");
  EXPECT_EQ(t, text + 2);
  t = ridid::strtok(nullptr, ",");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "b");
  EXPECT_EQ(ridid::strtok(nullptr, ","), nullptr);
  EXPECT_EQ(ridid::strtok(nullptr, ","), nullptr);

  char two[] = "x y;z";
  EXPECT_STREQ(ridid::strtok(two, " ;"), "x");
  EXPECT_STREQ(ridid::strtok(nullptr, ";"), "y");  // the set may change
  EXPECT_STREQ(ridid::strtok(nullptr, ";"), "z");
  EXPECT_EQ(ridid::strtok(nullptr, ";"), nullptr);

  // A null set makes the rest one token and ends the scan.
  char rest[] = "a,b c";
  EXPECT_STREQ(ridid::strtok(rest, ","), "a");
  EXPECT_STREQ(ridid::strtok(nullptr, nullptr), "b c");
  EXPECT_EQ(ridid::strtok(nullptr, ","), nullptr);

  // An empty set skips nothing; only delimiters means no token.
  char whole[] = ",a,";
  EXPECT_STREQ(ridid::strtok(whole, ""), ",a,");
  EXPECT_EQ(ridid::strtok(nullptr, ""), nullptr);
  char none[] = ",,,";
  EXPECT_EQ(ridid::strtok(none, ","), nullptr);
  EXPECT_EQ(ridid::strtok(nullptr, ","), nullptr);
  char empty[] = "";
  EXPECT_EQ(ridid::strtok(empty, nullptr), nullptr);
}

TEST_F(StringTest, MovesSurviveOverlap) {
  char up[] = "abcdefgh";
  EXPECT_EQ(ridid::memmove(up + 1, up, 7), up + 1);
  EXPECT_STREQ(up, "aabcdefg");
  char down[] = "abcdefgh";
  EXPECT_EQ(ridid::memmove(down, down + 1, 7), down);
  EXPECT_STREQ(down, "bcdefghh");
  char far[] = "0123456789";
  ridid::memmove(far + 3, far, 7);
  EXPECT_STREQ(far, "0120123456");
  char same[] = "xy";
  EXPECT_EQ(ridid::memmove(same, same, 2), same);
  EXPECT_EQ(ridid::memmove(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(ridid::memcpy(nullptr, nullptr, 0), nullptr);

  char c[6] = "zzzzz";
  EXPECT_EQ(ridid::memcpy(c, "ab\0d", 4), c);
  EXPECT_EQ(std::memcmp(c, "ab\0dz", 5), 0);
}

// The fill byte is the value's low 8 bits; the count is met exactly at every
// alignment, across the 16-byte block boundary.
TEST_F(StringTest, MemsetFillsExactly) {
  unsigned char buf[96];
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t n = 0; n <= 70; ++n) {
      std::memset(buf, 0x11, sizeof buf);
      EXPECT_EQ(ridid::memset(buf + offset, 0x1ff, n), buf + offset);
      for (size_t i = 0; i < sizeof buf; ++i) {
        bool inside = i >= offset && i < offset + n;
        ASSERT_EQ(buf[i], inside ? 0xff : 0x11) << "offset " << offset << " n " << n << " i " << i;
      }
    }
  }
  std::memset(buf, 0, sizeof buf);
  ridid::memset(buf, -2, 20);
  EXPECT_EQ(buf[19], 0xfe);
  EXPECT_EQ(buf[20], 0);
  EXPECT_EQ(ridid::memset(nullptr, 1, 0), nullptr);
}

TEST_F(StringTest, DuplicatesTakeFromTheHeap) {
  EXPECT_EQ(ridid::strdup(nullptr), nullptr);
  EXPECT_EQ(ridid::strndup(nullptr, 4), nullptr);
  EXPECT_EQ(ridid::g_heap_used, 0u);

  char* d = ridid::strdup("hello");
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d, "hello");
  EXPECT_EQ(d, reinterpret_cast<char*>(ridid::g_heap + 4));
  EXPECT_EQ(ridid::g_heap_used, 16u);  // 6 bytes: a 16-byte block

  char* n = ridid::strndup("hello", 3);
  EXPECT_STREQ(n, "hel");
  EXPECT_EQ(ridid::g_heap_used, 24u);  // 4 bytes: an 8-byte block
  EXPECT_STREQ(ridid::strndup("hi", 10), "hi");
  EXPECT_EQ(ridid::g_heap_used, 32u);

  size_t before = ridid::g_heap_used;
  char* e = ridid::strndup("hello", 0);
  EXPECT_STREQ(e, "");
  e = ridid::strndup(low(16), 5);
  EXPECT_STREQ(e, "");
  e = ridid::strdup(low(16));
  EXPECT_STREQ(e, "");
  EXPECT_EQ(ridid::g_heap_used, before + 24);  // three 1-byte blocks

  // With the heap full a duplicate is null.
  ridid::g_heap_used = ridid::HEAP_SIZE;
  EXPECT_EQ(ridid::strdup("x"), nullptr);
  EXPECT_EQ(ridid::strndup("x", 1), nullptr);
  EXPECT_EQ(ridid::errno, 12);
}

}  // namespace
