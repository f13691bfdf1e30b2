// Searching blocks and strings for bytes and byte sets, and the bounded
// copies strlcpy and strlcat.
//
// memchr and memrchr go byte by byte up to a word boundary and then compare
// whole aligned 4-byte words while four or more bytes remain, so every read
// stays inside the block or, for memchr, in the aligned word holding the
// match (memchr may be given a count past the end of a block holding the
// byte). The set functions keep the set as a table of 256 flags; a string or
// set below 4096 counts as absent, that is empty, and is never read.
#include "string.h"
#include "string_words.h"

namespace ridid {

namespace {

// True when the word w holds a byte of pattern (that byte four times over):
// the quick test first, the exact one only when it passes.
inline bool holds_byte(unsigned int w, unsigned int pattern) {
  return may_hold_zero(w ^ pattern) && has_zero(w ^ pattern);
}

// A set of bytes as a table of flags: a load and a test per byte looked up.
struct ByteSet {
  unsigned char in[256];
  bool has(unsigned char c) const { return in[c] != 0; }
};

// The bytes of set, an absent set being empty; with_nul adds the byte 0.
void make_set(ByteSet* s, const char* set, bool with_nul) {
  memset(s->in, 0, sizeof s->in);
  s->in[0] = with_nul;
  if (is_low(set)) return;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(set); *p; ++p) s->in[*p] = 1;
}

// The first byte of s (which is not low) that is in set; its NUL must be.
size_t span_outside(const char* s, const ByteSet& set) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  while (!set.has(*p)) ++p;
  return p - reinterpret_cast<const unsigned char*>(s);
}

}  // namespace

// The word holding a match may run past the block: the rest of a word that
// does not cross a page.
WORD_READS void* memchr(const void* s, int c, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(s);
  unsigned char b = static_cast<unsigned char>(c);
  for (; n > 0 && !aligned(p); --n, ++p) {
    if (*p == b) return const_cast<unsigned char*>(p);
  }
  // Two words a turn on the quick test, the second read only when the first
  // fails it; from the first that passes, one word at a time.
  unsigned int pattern = b * ONES;
  const word* w = reinterpret_cast<const word*>(p);
  for (; n >= 8; n -= 8, w += 2) {
    if (may_hold_zero(w[0] ^ pattern)) break;
    if (may_hold_zero(w[1] ^ pattern)) {
      ++w, n -= 4;
      break;
    }
  }
  for (; n >= 4 && !holds_byte(*w, pattern); n -= 4) ++w;
  p = reinterpret_cast<const unsigned char*>(w);
  for (; n > 0; --n, ++p) {
    if (*p == b) return const_cast<unsigned char*>(p);
  }
  return nullptr;
}

void* memrchr(const void* s, int c, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(s);
  unsigned char b = static_cast<unsigned char>(c);
  for (; n > 0 && !aligned(p + n); --n) {
    if (p[n - 1] == b) return const_cast<unsigned char*>(p + n - 1);
  }
  unsigned int pattern = b * ONES;
  while (n >= 4 && !holds_byte(*reinterpret_cast<const word*>(p + n - 4), pattern)) n -= 4;
  for (; n > 0; --n) {
    if (p[n - 1] == b) return const_cast<unsigned char*>(p + n - 1);
  }
  return nullptr;
}

size_t strspn(const char* s, const char* set) {
  if (is_low(s)) return 0;
  ByteSet in;
  make_set(&in, set, false);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  while (in.has(*p)) ++p;
  return p - reinterpret_cast<const unsigned char*>(s);
}

size_t strcspn(const char* s, const char* set) {
  if (is_low(s)) return 0;
  ByteSet stop;
  make_set(&stop, set, true);
  return span_outside(s, stop);
}

char* strpbrk(const char* s, const char* set) {
  if (is_low(s)) return nullptr;
  ByteSet stop;
  make_set(&stop, set, true);
  const char* p = s + span_outside(s, stop);
  return *p ? const_cast<char*>(p) : nullptr;
}

// Copies n bytes one at a time and a terminator after them.
static void copy_terminated(char* dst, const char* src, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = 0;
}

size_t strlcpy(char* dst, const char* src, size_t size) {
  size_t n = strlen(src);
  if (size != 0 && !is_low(dst)) copy_terminated(dst, src, n < size - 1 ? n : size - 1);
  return n;
}

size_t strlcat(char* dst, const char* src, size_t size) {
  size_t had = strnlen(dst, size), n = strlen(src);
  // No terminator within size, or an absent destination: nothing is written.
  if (had == size || is_low(dst)) return had + n;
  size_t room = size - had - 1;
  copy_terminated(dst + had, src, n < room ? n : room);
  return had + n;
}

}  // namespace ridid
