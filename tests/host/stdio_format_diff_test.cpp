// Both formatting engines against the host C library's snprintf, over
// generated formats restricted to where the two are meant to agree: no
// negative widths, no zero value under a zero precision, strings without the
// left-justify flag and never null, c without width, % alone.
#include "runtime_test.h"

#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int kWords = 24;

struct Case {
  std::string format;
  uint32_t words[kWords] = {};
  int used = 0;
};

const char* const kStrings[] = {"", "a", "hello", "with space", "0123456789abcdefghij", "\x80\xff~"};

class Generator {
 public:
  // stream: the stream engine's grammar (no flags, no X or z, ll is 64-bit).
  explicit Generator(bool stream, uint32_t seed) : stream_(stream), rng_(seed) {}

  Case next() {
    Case c;
    int pieces = pick(0, 6);
    for (int i = 0; i < pieces; ++i) {
      if (pick(0, 2) == 0) {
        literal(&c);
      } else {
        conversion(&c);
      }
    }
    return c;
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  void push(Case* c, uint32_t w) { c->words[c->used++] = w; }

  uint32_t value() {
    static const uint32_t special[] = {0, 1, 0xffffffffu, 0x80000000u, 0x7fffffffu, 9, 10, 15, 16, 255, 1000000000u};
    if (pick(0, 3) == 0) return special[pick(0, 10)];
    uint32_t v = static_cast<uint32_t>(rng_());
    return v >> pick(0, 31);
  }

  void literal(Case* c) {
    int n = pick(1, 4);
    for (int i = 0; i < n; ++i) {
      char ch = static_cast<char>(pick(1, 255));
      c->format += ch == '%' ? 'q' : ch;
    }
  }

  // Width: absent, digits or * with a value of 0 or more.
  void width(Case* c, std::string* directive) {
    switch (pick(0, 2)) {
      case 1:
        *directive += std::to_string(pick(1, 24));
        break;
      case 2:
        *directive += '*';
        push(c, static_cast<uint32_t>(pick(0, 24)));
        break;
    }
  }

  // Precision: absent (-1), digits, a lone point, or * with any small value.
  int precision(Case* c, std::string* directive) {
    switch (pick(0, 3)) {
      case 1: {
        int p = pick(0, 14);
        *directive += "." + std::to_string(p);
        return p;
      }
      case 2:
        *directive += '.';
        return 0;
      case 3: {
        int p = pick(-3, 14);
        *directive += ".*";
        push(c, static_cast<uint32_t>(p));
        return p;
      }
    }
    return -1;
  }

  void conversion(Case* c) {
    static const char stream_convs[] = "diuxsc%";
    static const char string_convs[] = "diuxXsc%";
    char conv = stream_ ? stream_convs[pick(0, 6)] : string_convs[pick(0, 7)];
    std::string directive = "%";
    if (conv == '%') {
      c->format += "%%";
      return;
    }
    if (conv == 'c') {
      c->format += "%c";
      push(c, static_cast<uint32_t>(pick(0, 0x1ff)));
      return;
    }
    if (conv == 's') {
      width(c, &directive);
      precision(c, &directive);
      c->format += directive + 's';
      push(c, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(kStrings[pick(0, 5)])));
      return;
    }
    if (!stream_) {
      int flags = pick(0, 3);
      for (int i = 0; i < flags; ++i) directive += "-0+"[pick(0, 2)];
    }
    width(c, &directive);
    int prec = precision(c, &directive);
    bool wide = false;
    switch (pick(0, 3)) {
      case 1:
        directive += 'l';
        break;
      case 2:
        if (stream_) {
          directive += "ll";
          wide = true;
        } else {
          directive += 'z';
        }
        break;
    }
    c->format += directive + conv;
    uint32_t low = value();
    uint32_t high = wide ? value() : 0;
    if (prec == 0 && low == 0 && high == 0) low = 1;  // the engines print 0 here, C prints nothing
    push(c, low);
    if (wide) push(c, high);
  }

  bool stream_;
  std::mt19937 rng_;
};

#define WORDS(w)                                                                                          \
  w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13], w[14], w[15], \
      w[16], w[17], w[18], w[19], w[20], w[21], w[22], w[23]

// The host library's whole output for a case.
std::string reference(const Case& c, int* result) {
  *result = std::snprintf(nullptr, 0, c.format.c_str(), WORDS(c.words));
  std::string out(static_cast<size_t>(*result) + 1, '\0');
  std::snprintf(&out[0], out.size(), c.format.c_str(), WORDS(c.words));
  out.resize(static_cast<size_t>(*result));
  return out;
}

std::string escaped(const std::string& s) {
  std::string out;
  for (unsigned char ch : s) {
    if (ch >= 32 && ch < 127) {
      out += static_cast<char>(ch);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", ch);
      out += hex;
    }
  }
  return out;
}

}  // namespace

class FormatDiffTest : public RuntimeTest {};

TEST_F(FormatDiffTest, StringEngineMatchesHostSnprintf) {
  Generator gen(false, 20261206);
  std::mt19937 sizes(7);
  const int kCases = 120000;
  int mismatches = 0;
  for (int i = 0; i < kCases; ++i) {
    Case c = gen.next();
    int want_n = 0;
    std::string want = reference(c, &want_n);

    size_t size = std::uniform_int_distribution<size_t>(0, want.size() + 3)(sizes);
    std::vector<char> ours(size + 8, '#'), theirs(size + 8, '#');
    int got_n = ridid::snprintf(ours.data(), size, c.format.c_str(), WORDS(c.words));
    std::snprintf(theirs.data(), size, c.format.c_str(), WORDS(c.words));

    if (got_n != want_n || ours != theirs) {
      if (++mismatches <= 10) {
        ADD_FAILURE() << "format [" << escaped(c.format) << "] size " << size << ": got " << got_n << " ["
                      << escaped(std::string(ours.data(), ours.size())) << "], want " << want_n << " ["
                      << escaped(std::string(theirs.data(), theirs.size())) << "]";
      }
    }
  }
  std::printf("string engine: %d cases, %d mismatches\n", kCases, mismatches);
  EXPECT_EQ(mismatches, 0);
}

TEST_F(FormatDiffTest, StreamEngineMatchesHostSnprintf) {
  Generator gen(true, 4242);
  const int kCases = 120000;
  int mismatches = 0;
  for (int i = 0; i < kCases; ++i) {
    Case c = gen.next();
    int want_n = 0;
    std::string want = reference(c, &want_n);

    // A fresh arena for each case; the memory stream needs no more.
    ridid::g_heap_used = 0;
    char* buf = nullptr;
    size_t len = 0;
    ridid::FILE* f = ridid::open_memstream(&buf, &len);
    ASSERT_NE(f, nullptr);
    int got_n = ridid::fprintf(f, c.format.c_str(), WORDS(c.words));
    std::string got = buf != nullptr ? std::string(buf, len) : std::string();

    if (got_n != want_n || got != want) {
      if (++mismatches <= 10) {
        ADD_FAILURE() << "format [" << escaped(c.format) << "]: got " << got_n << " [" << escaped(got)
                      << "], want " << want_n << " [" << escaped(want) << "]";
      }
    }
  }
  std::printf("stream engine: %d cases, %d mismatches\n", kCases, mismatches);
  EXPECT_EQ(mismatches, 0);
}
