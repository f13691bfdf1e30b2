// Byte strings and memory blocks.
//
// A pointer below 4096 counts as an absent string for the length and
// comparison functions, which never read through it. Bytes compare as
// unsigned values. Copies move one byte at a time; fills go in 16-byte blocks.
#include "string.h"
#include "stdlib.h"

namespace ridid {

static bool is_low(const void* p) { return reinterpret_cast<unsigned long>(p) < 4096; }

// A 32-bit store that may land on any address and alias anything.
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

size_t strlen(const char* s) {
  if (is_low(s)) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

size_t strnlen(const char* s, size_t max) {
  if (is_low(s) || max == 0) return 0;
  size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}

int strcmp(const char* a, const char* b) {
  if (a == b) return 0;
  if (is_low(a)) return -1;
  if (is_low(b)) return 1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
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

void* memcpy(void* dst, const void* src, size_t n) {
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  for (size_t i = 0; i < n; ++i) d[i] = s[i];
  return dst;
}

void* memmove(void* dst, const void* src, size_t n) {
  if (dst == src || n == 0) return dst;
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  if (d < s) {
    memcpy(dst, src, n);
  } else {
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
  for (size_t i = 0; i < n; ++i) {
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
