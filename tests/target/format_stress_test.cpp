// Both formatting engines on random formats under ridid-emu.
//
// Each format is random bytes drawn mostly from the formatting grammar. A
// small walker follows the grammar of each engine only far enough to know
// what every argument word will be used for, so that stars get small
// numbers, strings get real strings and the rest gets any 32-bit value.
//
// String engine, for each format: the same result for every size and for a
// null buffer, the stored bytes a prefix of the whole output, the terminator
// right after them, and nothing written past the size (guard bytes).
// Stream engine: the result equals the length a memory stream published, a
// NUL follows the bytes, and a second run writes the same bytes.
#include <stdio.h>
#include <string.h>

#include "harness.h"

namespace {

constexpr int kFormats = 100000;
constexpr int kWords = 32;
constexpr int kFull = 16384;
constexpr unsigned char kGuard = 0xA5;

harness::Random g_random = {0x12345678u};

unsigned int next_random() { return g_random.next(); }
unsigned int below(unsigned int n) { return g_random.below(n); }

const char* const kStrings[] = {
    "", "a", "hello", "\x80\xff\x01 mixed",
    "a rather longer string that goes on for a while, past sixty-four bytes of text",
};

const char kGrammar[] = "%%%%%%-0+*.llzdiuxXpcs";

// A random format of up to 48 bytes; digit runs stay short so that widths
// and precisions stay below 100.
void make_format(char* format) {
  unsigned int len = below(49);
  unsigned int digits = 0;
  for (unsigned int i = 0; i < len; ++i) {
    unsigned int kind = below(10);
    char c;
    if (kind < 5) {
      c = kGrammar[below(sizeof kGrammar - 1)];
    } else if (kind < 7) {
      c = (char)('0' + below(10));
    } else {
      c = (char)(1 + below(255));
    }
    if (c >= '0' && c <= '9') {
      if (digits == 2) c = 'd';
      else ++digits;
    } else {
      digits = 0;
    }
    format[i] = c;
  }
  format[len] = '\0';
}

enum Use { kStar, kValue, kString };

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// What each argument word is used for. Returns the number of words, or -1
// when more than kWords would be needed.
int plan(const char* p, bool stream, Use* uses) {
  int n = 0;
  auto take = [&](Use u) {
    if (n < kWords) uses[n] = u;
    ++n;
  };
  while (*p != '\0') {
    if (*p++ != '%') continue;
    if (*p == '\0') break;
    if (!stream) {
      while (*p == '-' || *p == '0' || *p == '+') ++p;
    }
    if (*p == '*') {
      take(kStar);
      ++p;
    } else {
      while (is_digit(*p)) ++p;
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        take(kStar);
        ++p;
      } else {
        while (is_digit(*p)) ++p;
      }
    }
    bool wide = false;
    if (*p == 'l') {
      ++p;
      if (*p == 'l') {
        ++p;
        wide = stream;
      }
    } else if (*p == 'z' && !stream) {
      ++p;
    }
    char c = *p;
    if (c == '\0') break;
    ++p;
    if (c == 's') {
      take(kString);
    } else if (c == 'd' || c == 'i' || c == 'u' || c == 'x' || c == 'p' || c == 'c' || (c == 'X' && !stream)) {
      take(kValue);
      if (wide && c != 'c') take(kValue);
    }
  }
  return n > kWords ? -1 : n;
}

void make_words(const Use* uses, int n, bool stream, unsigned int* words) {
  for (int i = 0; i < kWords; ++i) words[i] = next_random();
  for (int i = 0; i < n; ++i) {
    switch (uses[i]) {
      case kStar:
        words[i] = (unsigned int)((int)below(201) - 100);
        break;
      case kString: {
        unsigned int k = below(8);
        if (k < 5) words[i] = (unsigned int)(unsigned long)kStrings[k];
        else if (k == 5 || !stream) words[i] = 0;  // null: "(null)"
        else words[i] = 1 + below(4095);           // strlen takes it as empty
        break;
      }
      case kValue:
        if (below(4) == 0) words[i] = below(3) == 0 ? 0 : (unsigned int)-(int)below(3);
        else words[i] = next_random() >> below(32);
        break;
    }
  }
}

#define WORDS(w)                                                                                        \
  w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13], w[14], w[15], \
      w[16], w[17], w[18], w[19], w[20], w[21], w[22], w[23], w[24], w[25], w[26], w[27], w[28], w[29],  \
      w[30], w[31]

char g_full[kFull];
char g_cut[kFull + 32];

// One string-engine call with this size; checks everything it can.
bool cut_matches(const char* format, const unsigned int* w, int whole, unsigned int size) {
  // Guard bytes from the size to past the whole output's end.
  unsigned int end = (size > (unsigned int)whole ? size : (unsigned int)whole + 1) + 16;
  memset(g_cut, kGuard, end);
  int n = snprintf(g_cut, size, format, WORDS(w));
  if (n != whole) return false;
  for (unsigned int i = size; i < end; ++i) {
    if ((unsigned char)g_cut[i] != kGuard) return false;
  }
  if (size == 0) return true;
  unsigned int stored = (unsigned int)whole < size ? (unsigned int)whole : size - 1;
  return memcmp(g_cut, g_full, stored) == 0 && g_cut[stored] == '\0';
}

void stress_string_engine() {
  char format[64];
  Use uses[kWords];
  unsigned int words[kWords];
  int done = 0, bad = 0;
  while (done < kFormats) {
    make_format(format);
    int n = plan(format, false, uses);
    if (n < 0) continue;
    make_words(uses, n, false, words);
    ++done;

    // Measured first with a null buffer, then formatted whole.
    int whole = snprintf(NULL, below(100), format, WORDS(words));
    if (whole < 0 || whole > kFull - 2) {
      CHECK(false);
      continue;
    }
    memset(g_full, kGuard, (size_t)whole + 2);
    bool ok = snprintf(g_full, sizeof g_full, format, WORDS(words)) == whole && g_full[whole] == '\0' &&
              (unsigned char)g_full[whole + 1] == kGuard;
    unsigned int sizes[] = {0, 1, 2, below(whole + 2), (unsigned int)whole, (unsigned int)whole + 1};
    for (unsigned int size : sizes) ok = ok && cut_matches(format, words, whole, size);
    if (!ok && ++bad <= 5) {
      harness::out("string engine, format [");
      harness::out_escaped(format, strlen(format));
      harness::out("]\n");
    }
    CHECK(ok);
  }
  harness::out("string engine: ");
  harness::out_number(done);
  harness::out(" formats, ");
  harness::out_number(bad);
  harness::out(" bad\n");
}

void stress_stream_engine() {
  char format[64];
  Use uses[kWords];
  unsigned int words[kWords];
  char* p = NULL;
  size_t len = 0;
  FILE* m = open_memstream(&p, &len);
  CHECK(m != NULL);
  int done = 0, bad = 0;
  while (done < kFormats) {
    make_format(format);
    int n = plan(format, true, uses);
    if (n < 0) continue;
    make_words(uses, n, true, words);
    ++done;

    // The stream is emptied by hand for each format, so its buffer is reused.
    m->len = 0;
    len = 0;
    int first = fprintf(m, format, WORDS(words));
    bool ok = first >= 0 && (size_t)first == len && (first == 0 || p[len] == '\0');
    if (ok && first > 0) {
      memcpy(g_full, p, len < kFull ? len : kFull);
      int second = fprintf(m, format, WORDS(words));
      ok = second == first && len == 2u * (size_t)first && memcmp(p + first, g_full, first) == 0 && p[len] == '\0';
    }
    if (!ok && ++bad <= 5) {
      harness::out("stream engine, format [");
      harness::out_escaped(format, strlen(format));
      harness::out("]\n");
    }
    CHECK(ok);
  }
  fclose(m);
  harness::out("stream engine: ");
  harness::out_number(done);
  harness::out(" formats, ");
  harness::out_number(bad);
  harness::out(" bad\n");
}

}  // namespace

int main() {
  stress_string_engine();
  stress_stream_engine();
  return harness::finish();
}
