// Byte strings and memory blocks.
//
// A pointer below 4096 counts as an absent string for the length and
// comparison functions, which never read through it. Bytes compare as
// unsigned values. Copies move one byte at a time; fills go in 16-byte blocks.
// The lengths, the string comparisons and strchr go byte by byte up to a
// word boundary and then read whole aligned 4-byte words (two strings only
// when equally aligned): such a word never spans two pages, so it may run
// past the terminator but never onto a page the string does not reach.
// memcmp compares 4-byte words from any address, all inside its blocks.
#include "string.h"
#include "stdlib.h"
#include "string_words.h"

namespace ridid {

// A 32-bit access that may touch any address and alias anything.
typedef unsigned int __attribute__((may_alias, aligned(1))) unaligned_word;

// Stores n copies of b: whole 16-byte blocks while 16 or more remain, then
// single bytes.
static void fill(unsigned char* p, unsigned char b, size_t n) {
  if (n >= 16) {
    unsigned int w = b * 0x01010101u;
    unsigned int block[4] = {w, w, w, w};
    while (n >= 16) {
      unaligned_word* q = reinterpret_cast<unaligned_word*>(p);
      q[0] = block[0];
      q[1] = block[1];
      q[2] = block[2];
      q[3] = block[3];
      p += 16;
      n -= 16;
    }
  }
  while (n > 0) {
    *p++ = b;
    --n;
  }
}

static unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

static bool equally_aligned(const void* a, const void* b) {
  return ((reinterpret_cast<unsigned long>(a) ^ reinterpret_cast<unsigned long>(b)) & 3) == 0;
}

// Each loop below runs on the quick test, in an inner loop of its own, and
// takes the exact one only when the quick one passes.

// The first aligned word from w on that holds a zero byte.
WORD_READS static const word* zero_word(const word* w) {
  for (;; ++w) {
    while (!may_hold_zero(*w)) ++w;
    if (has_zero(*w)) return w;
  }
}

// How many of the n words from w hold no zero byte, counted from the start.
WORD_READS static size_t words_without_zero(const word* w, size_t n) {
  // The index runs from -n up to 0 from the end, so that the bound check is
  // the increment's own flag.
  const word* end = w + n;
  for (long i = -static_cast<long>(n);; ++i) {
    while (i != 0 && !may_hold_zero(end[i])) ++i;
    if (i == 0 || has_zero(end[i])) return n + i;
  }
}

// How many words from x equal those from y and hold no zero byte, counted
// from the start; the second form counts n words at most.
WORD_READS static size_t equal_words(const word* x, const word* y) {
  // Shaped so that the compiled loop keeps a single index.
  size_t i = 0;
  for (;;) {
    unsigned int v;
    do {
      v = x[i++];
    } while (v == y[i - 1] && !may_hold_zero(v));
    if (v != y[i - 1] || has_zero(v)) return i - 1;
  }
}

// Out of line, so that its loop has the few registers to itself.
WORD_READS __attribute__((noinline)) static size_t equal_words(const word* x, const word* y, size_t n) {
  // As in words_without_zero, from the ends.
  const word* x_end = x + n;
  const word* y_end = y + n;
  for (long i = -static_cast<long>(n);; ++i) {
    while (i != 0 && x_end[i] == y_end[i] && !may_hold_zero(x_end[i])) ++i;
    if (i == 0 || x_end[i] != y_end[i] || has_zero(x_end[i])) return n + i;
  }
}

// The first aligned word from w on that may hold a zero byte or the byte of
// pattern: both quick tests at once.
WORD_READS __attribute__((noinline)) static const word* plain_words_end(const word* w, unsigned int pattern) {
  while ((((*w - ONES) | ((*w ^ pattern) - ONES)) & HIGHS) == 0) ++w;
  return w;
}

// The first aligned word from w holding a zero byte or the byte of pattern
// (that byte four times over).
WORD_READS static const word* zero_or_byte_word(const word* w, unsigned int pattern) {
  for (;; ++w) {
    w = plain_words_end(w, pattern);
    if (has_zero(*w) || has_zero(*w ^ pattern)) return w;
  }
}

size_t strlen(const char* s) {
  if (is_low(s)) return 0;
  const char* p = s;
  for (; !aligned(p); ++p) {
    if (!*p) return p - s;
  }
  p = reinterpret_cast<const char*>(zero_word(reinterpret_cast<const word*>(p)));
  while (*p) ++p;
  return p - s;
}

size_t strnlen(const char* s, size_t max) {
  if (is_low(s) || max == 0) return 0;
  size_t n = 0;
  for (; n < max && !aligned(s + n); ++n) {
    if (!s[n]) return n;
  }
  n += 4 * words_without_zero(reinterpret_cast<const word*>(s + n), (max - n) / 4);
  while (n < max && s[n]) ++n;
  return n;
}

int strcmp(const char* a, const char* b) {
  if (a == b) return 0;
  if (is_low(a)) return -1;
  if (is_low(b)) return 1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  // Equally aligned strings go a word at a time from the first boundary.
  if (equally_aligned(p, q)) {
    for (; !aligned(p); ++p, ++q) {
      if (!*p || *p != *q) return *p - *q;
    }
    size_t words = equal_words(reinterpret_cast<const word*>(p), reinterpret_cast<const word*>(q));
    p += 4 * words;
    q += 4 * words;
  }
  while (*p && *p == *q) {
    ++p;
    ++q;
  }
  return *p - *q;
}

int strncmp(const char* a, const char* b, size_t n) {
  if (n == 0 || a == b) return 0;
  if (is_low(a)) return -1;
  if (is_low(b)) return 1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  if (equally_aligned(p, q)) {
    for (; n > 0 && !aligned(p); --n, ++p, ++q) {
      if (*p != *q) return *p - *q;
      if (!*p) return 0;
    }
    size_t words = equal_words(reinterpret_cast<const word*>(p), reinterpret_cast<const word*>(q), n / 4);
    p += 4 * words;
    q += 4 * words;
    n -= 4 * words;
  }
  for (; n > 0; --n, ++p, ++q) {
    if (*p != *q) return *p - *q;
    if (!*p) break;
  }
  return 0;
}

char* strcpy(char* dst, const char* src) {
  if (!dst) return nullptr;
  char* d = dst;
  if (src) {
    while ((*d = *src) != 0) {
      ++d;
      ++src;
    }
  } else {
    *d = 0;
  }
  return dst;
}

char* strncpy(char* dst, const char* src, size_t n) {
  if (!dst || n == 0) return dst;
  size_t i = 0;
  if (src) {
    for (; i < n && src[i]; ++i) dst[i] = src[i];
  }
  fill(reinterpret_cast<unsigned char*>(dst) + i, 0, n - i);
  return dst;
}

char* strcat(char* dst, const char* src) {
  // A low destination other than null is no place to write: leave it be.
  if (is_low(dst)) return dst;
  if (src) strcpy(dst + strlen(dst), src);
  return dst;
}

char* strncat(char* dst, const char* src, size_t n) {
  if (is_low(dst)) return dst;
  if (!src || n == 0) return dst;
  char* d = dst + strlen(dst);
  for (; n > 0 && *src; --n) *d++ = *src++;
  *d = 0;
  return dst;
}

char* strchr(const char* s, int c) {
  if (!s) return nullptr;
  char ch = static_cast<char>(c);
  for (; !aligned(s); ++s) {
    if (*s == ch) return const_cast<char*>(s);
    if (!*s) return nullptr;
  }
  unsigned int pattern = static_cast<unsigned char>(ch) * ONES;
  s = reinterpret_cast<const char*>(zero_or_byte_word(reinterpret_cast<const word*>(s), pattern));
  for (;; ++s) {
    if (*s == ch) return const_cast<char*>(s);
    if (!*s) return nullptr;
  }
}

char* strrchr(const char* s, int c) {
  if (!s) return nullptr;
  char ch = static_cast<char>(c);
  const char* last = nullptr;
  for (;; ++s) {
    if (*s == ch) last = s;
    if (!*s) return const_cast<char*>(last);
  }
}

char* strstr(const char* haystack, const char* needle) {
  if (!haystack || !needle) return nullptr;
  if (!*needle) return const_cast<char*>(haystack);
  for (; *haystack; ++haystack) {
    size_t i = 0;
    while (needle[i] && haystack[i] == needle[i]) ++i;
    if (!needle[i]) return const_cast<char*>(haystack);
  }
  return nullptr;
}

// Eight bytes a turn while eight remain, still one byte at a time: each
// byte is read after the one before it was written, so a copy onto an
// overlapping destination comes out as the plain loop's would.
void* memcpy(void* dst, const void* src, size_t n) {
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  size_t i = 0;
  for (; n - i >= 8; i += 8) {
    d[i] = s[i];
    d[i + 1] = s[i + 1];
    d[i + 2] = s[i + 2];
    d[i + 3] = s[i + 3];
    d[i + 4] = s[i + 4];
    d[i + 5] = s[i + 5];
    d[i + 6] = s[i + 6];
    d[i + 7] = s[i + 7];
  }
  for (; i < n; ++i) d[i] = s[i];
  return dst;
}

void* memmove(void* dst, const void* src, size_t n) {
  if (dst == src || n == 0) return dst;
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  if (d < s) {
    memcpy(dst, src, n);
  } else {
    for (; n >= 8; n -= 8) {  // back to front, eight bytes a turn as in memcpy
      unsigned char* e = d + n;
      const unsigned char* t = s + n;
      e[-1] = t[-1];
      e[-2] = t[-2];
      e[-3] = t[-3];
      e[-4] = t[-4];
      e[-5] = t[-5];
      e[-6] = t[-6];
      e[-7] = t[-7];
      e[-8] = t[-8];
    }
    while (n > 0) {
      --n;
      d[n] = s[n];
    }
  }
  return dst;
}

void* memset(void* dst, int value, size_t n) {
  if (n == 0) return dst;
  fill(static_cast<unsigned char*>(dst), static_cast<unsigned char>(value), n);
  return dst;
}

int memcmp(const void* a, const void* b, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(a);
  const unsigned char* q = static_cast<const unsigned char*>(b);
  // Whole words while they match (loads from any address, all inside the
  // blocks), then the bytes of the word that differs and the last few.
  size_t words_end = n & ~3u;
  size_t i = 0;
  while (i != words_end &&
         *reinterpret_cast<const unaligned_word*>(p + i) == *reinterpret_cast<const unaligned_word*>(q + i)) {
    i += 4;
  }
  for (; i < n; ++i) {
    if (p[i] != q[i]) return p[i] - q[i];
  }
  return 0;
}

// A fresh heap string holding the first n bytes of s.
static char* copy_out(const char* s, size_t n) {
  char* d = static_cast<char*>(malloc(n + 1));
  if (!d) return nullptr;
  for (size_t i = 0; i < n; ++i) d[i] = s[i];
  d[n] = 0;
  return d;
}

char* strdup(const char* s) {
  if (!s) return nullptr;
  return copy_out(s, strlen(s));
}

char* strndup(const char* s, size_t max) {
  if (!s) return nullptr;
  return copy_out(s, strnlen(s, max));
}

int strncasecmp(const char* a, const char* b, size_t n) {
  if (n == 0 || a == b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (; n > 0; --n, ++p, ++q) {
    unsigned char x = fold(*p), y = fold(*q);
    if (x != y) return x - y;
    if (!x) break;
  }
  return 0;
}

int strcasecmp(const char* a, const char* b) {
  if (!a && !b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (;; ++p, ++q) {
    unsigned char x = fold(*p), y = fold(*q);
    if (x != y) return x - y;
    if (!x) return 0;
  }
}

static bool in_set(char c, const char* set) {
  for (; *set; ++set) {
    if (*set == c) return true;
  }
  return false;
}

char* strtok(char* s, const char* delims) {
  static char* s_next;
  if (s) {
    s_next = s;
  } else {
    s = s_next;
    if (!s) return nullptr;
  }
  if (!*s) {
    s_next = nullptr;
    return nullptr;
  }
  if (!delims) {
    // No set: the whole rest is one token.
    s_next = nullptr;
    return s;
  }
  while (*s && in_set(*s, delims)) ++s;
  if (!*s) {
    s_next = nullptr;
    return nullptr;
  }
  char* start = s;
  for (; *s; ++s) {
    if (in_set(*s, delims)) {
      *s = 0;
      s_next = s + 1;
      return start;
    }
  }
  s_next = nullptr;
  return start;
}

}  // namespace ridid
