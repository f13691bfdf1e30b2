// The stdlib additions against the host: the 64-bit conversions (result, end
// and errno) on generated texts, division and llabs, bsearch; qsort against
// std::sort on the inputs that make naive quicksorts quadratic, and against
// an adversary that makes every quicksort so, its comparisons counted; and
// with a comparison that is no order at all.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <random>

#include "runtime_test.h"

namespace {

int& host_errno() { return *__errno_location(); }  // runtime_test.h took the host's errno macro away

TEST(StdlibDiffTest, SixtyFourBitConversionsAsTheHost) {
  std::mt19937 rng(64);
  auto pick = [&](const char* set) { return set[rng() % std::strlen(set)]; };
  for (int i = 0; i < 40000; ++i) {
    std::string s;  // blanks, a sign, a prefix, digits of every base, a tail
    for (int n = rng() % 3; n > 0; --n) s += pick(" \t\n\v\f\rx");
    s += std::string(rng() % 4 == 0 ? "-" : rng() % 4 == 0 ? "+" : "") + (rng() % 3 == 0 ? "0x" : rng() % 3 == 0 ? "0" : "");
    for (int n = rng() % 24; n > 0; --n) s += pick("0123456789abcdefzZAF");
    int base = int(rng() % 40) - 1;
    if (i % 7 == 0) s = std::to_string(rng() % 2 ? LLONG_MAX : LLONG_MIN).substr(0, 19 - rng() % 3) + (i % 2 ? "9" : "8");
    // For a base outside 2 to 36 the host's end position is no answer; here it is the start, as with no digits.
    bool bad = base < 0 || base == 1 || base > 36;
    char *end = nullptr, *host_end = nullptr, *uend = nullptr, *host_uend = nullptr;
    host_errno() = 0, ridid::errno = 0;
    long long got = ridid::strtoll(s.c_str(), &end, base), want = std::strtoll(s.c_str(), &host_end, base);
    int got_errno = ridid::errno, want_errno = host_errno();
    EXPECT_TRUE(got == want && end == (bad ? &s[0] : host_end) && got_errno == want_errno) << testing::PrintToString(s) << " " << base;
    host_errno() = 0, ridid::errno = 0;
    unsigned long long ugot = ridid::strtoull(s.c_str(), &uend, base), uwant = std::strtoull(s.c_str(), &host_uend, base);
    EXPECT_TRUE(ugot == uwant && uend == (bad ? &s[0] : host_uend) && ridid::errno == host_errno()) << testing::PrintToString(s) << " " << base;
    if (base == 10) EXPECT_EQ(ridid::atoll(s.c_str()), std::atoll(s.c_str())) << s;
  }
}

TEST(StdlibDiffTest, DivisionAndAbsoluteValues) {
  for (long long x : {0ll, 7ll, -7ll, 1ll << 40, -(1ll << 40) - 3, LLONG_MAX, LLONG_MIN + 1}) {
    EXPECT_EQ(ridid::llabs(x), std::llabs(x));
    for (long long y : {1ll, 2ll, -2ll, 3ll, -3ll, 1ll << 33, LLONG_MIN}) {
      ridid::lldiv_t d = ridid::lldiv(x, y);
      std::lldiv_t h = std::lldiv(x, y);
      EXPECT_TRUE(d.quot == h.quot && d.rem == h.rem) << x << " / " << y;
      if (x != int(x) || y != int(y)) continue;
      ridid::div_t i = ridid::div(int(x), int(y));
      ridid::ldiv_t l = ridid::ldiv(long(x), long(y));
      EXPECT_TRUE(i.quot == h.quot && i.rem == h.rem && l.quot == h.quot && l.rem == h.rem) << x << " / " << y;
    }
  }
  // Where the processor's division would fault, the quotient wraps.
  ridid::div_t i = ridid::div(INT_MIN, -1);
  ridid::lldiv_t l = ridid::lldiv(LLONG_MIN, -1);
  EXPECT_WORDS((R{i.quot, i.rem, l.quot, l.rem, ridid::ldiv(-9, -1).quot, ridid::llabs(LLONG_MIN)}.s),
            "-2147483648 0 -9223372036854775808 0 9 -9223372036854775808");
}

long g_compares;
int compare_ints(const void* a, const void* b) {
  ++g_compares;
  int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}
int compare_first_byte(const void* a, const void* b) { return ++g_compares, *static_cast<const unsigned char*>(a) - *static_cast<const unsigned char*>(b); }
int no_order(const void*, const void*) { return ++g_compares, int(g_compares * 2654435761u >> 29) - 3; }

// McIlroy's adversary: the elements are indices whose values are fixed only
// when compared, always so that the pivot candidate comes out small; any
// quicksort without a way out takes n^2 / 2 comparisons.
std::vector<int> g_value;
int g_solid, g_candidate;
int adversary(const void* a, const void* b) {
  int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b), gas = int(g_value.size());
  ++g_compares;
  if (g_value[x] == gas && g_value[y] == gas) g_value[x == g_candidate ? x : y] = g_solid++;
  if (g_value[x] == gas) g_candidate = x;
  else if (g_value[y] == gas) g_candidate = y;
  return g_value[x] - g_value[y];
}

TEST(StdlibDiffTest, QsortNeverQuadraticAndBsearch) {
  const int n = 3000;
  std::mt19937 rng(3);
  std::vector<std::vector<int>> inputs(8, std::vector<int>(n));
  for (int i = 0; i < n; ++i) {
    inputs[0][i] = i, inputs[1][i] = n - i, inputs[2][i] = 5, inputs[3][i] = int(rng() % 4);  // sorted, reversed, equal, few values
    inputs[4][i] = i < n / 2 ? i : n - i, inputs[5][i] = int(rng()), inputs[6][i] = i % 2 ? i : n + i;  // organ pipe, random, interleaved
  }
  for (auto& v : inputs) {
    std::vector<int> want = v;
    std::sort(want.begin(), want.end());
    g_compares = 0;
    bool against_adversary = &v == &inputs[7];
    if (against_adversary) std::iota(v.begin(), v.end(), 0), g_value.assign(n, n), g_solid = 0, g_candidate = 0;
    ridid::qsort(v.data(), v.size(), sizeof(int), against_adversary ? adversary : compare_ints);
    if (against_adversary) {
      for (int& x : v) x = g_value[x];
      EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
      v = want = std::vector<int>(n, 7);
    }
    EXPECT_EQ(v, want) << &v - inputs.data();
    EXPECT_LT(g_compares, 5 * n * 12) << &v - inputs.data();  // 5 n log2 n at most; n^2 / 2 would be 4.5 million
    for (int key : {-1, 0, 1, 5, n / 2, n, n + 1, want[n / 3]}) {
      const int* hit = static_cast<const int*>(ridid::bsearch(&key, v.data(), v.size(), sizeof(int), compare_ints));
      EXPECT_EQ(hit != nullptr, std::binary_search(want.begin(), want.end(), key)) << key;
      if (hit) EXPECT_TRUE(*hit == key && hit >= v.data() && hit < v.data() + n);
    }
  }
  // Elements of 1, 3, 5 and 8 bytes from an odd address; a comparison that is
  // no order leaves the same bytes, only moved, and none written outside.
  for (size_t size : {1, 3, 5, 8}) {
    std::vector<unsigned char> buf(1 + size * 700 + 1, 0xee), keys;
    for (size_t i = 1; i + 1 < buf.size(); ++i) buf[i] = (i - 1) % size == 0 ? rng() % 256 : (i - 1) % size;
    for (size_t i = 1; i + 1 < buf.size(); i += size) keys.push_back(buf[i]);
    std::vector<unsigned char> orig = buf;
    ridid::qsort(buf.data() + 1, 700, size, compare_first_byte);
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < 700; ++i) EXPECT_TRUE(buf[1 + i * size] == keys[i] && (size < 2 || buf[2 + i * size] == 1)) << size << " " << i;
    ridid::qsort(buf.data() + 1, 700, size, no_order);
    std::sort(buf.begin(), buf.end()), std::sort(orig.begin(), orig.end());
    EXPECT_EQ(buf, orig) << size;
  }
  ridid::qsort(nullptr, 0, 4, compare_ints), ridid::qsort(nullptr, 5, 0, compare_ints);
  EXPECT_EQ(ridid::bsearch(&g_compares, nullptr, 0, 4, compare_ints), nullptr);
}

}  // namespace
