// Both formatting engines on random formats under ridid-emu, argv[1] formats
// for each: bytes mostly of the grammar, but no '*', so every argument word
// can be the address of a string, whatever the directive makes of it.
// The string engine must give one result for every size and a null buffer,
// store a prefix of the whole output and the terminator after it, and
// nothing past the size (guard bytes); the stream engine's result must be the
// length a memory stream published, a NUL must follow, and a second run must
// append the same bytes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

namespace {

enum { kFull = 16384, kGuard = 0xA5 };
const char* const kStrings[] = {"", "a", "hello", "\x80\xff\x01 mixed", "a longer string that goes on for a while, past sixty-four bytes"};
char g_full[kFull], g_cut[kFull + 32];

void make_format(char* f) {  // up to 48 bytes; digit runs of two at most
  static const char grammar[] = "%%%%%%-0+.llzdiuxXpcs";
  unsigned len = below(49), digits = 0, kind;
  for (unsigned i = 0; i < len; ++i) {
    char c = (kind = below(10)) < 5 ? grammar[below(sizeof grammar - 1)] : kind < 7 ? '0' + below(10) : 1 + below(255);
    digits = c >= '0' && c <= '9' ? digits + 1 : 0;
    f[i] = digits > 2 || c == '*' ? 'd' : c, digits %= 3;
  }
  f[len] = 0;
}

#define WORDS(w) w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13], w[14], w[15], \
                 w[16], w[17], w[18], w[19], w[20], w[21], w[22], w[23], w[24], w[25], w[26], w[27], w[28], w[29], w[30], w[31]

bool string_engine(const char* format, const char* const* w) {  // measured with a null buffer, then whole, then cut
  int whole = snprintf(NULL, below(100), format, WORDS(w));
  if (whole < 0 || whole > kFull - 2) return false;
  memset(g_full, kGuard, whole + 2);
  bool ok = snprintf(g_full, kFull, format, WORDS(w)) == whole && g_full[whole] == 0 && (unsigned char)g_full[whole + 1] == kGuard;
  unsigned sizes[] = {0, 1, 2, below(whole + 2), (unsigned)whole, (unsigned)whole + 1};
  for (unsigned size : sizes) {
    unsigned end = (size > (unsigned)whole ? size : whole + 1) + 16, stored = (unsigned)whole < size ? whole : size - 1;
    memset(g_cut, kGuard, end);
    ok = ok && snprintf(g_cut, size, format, WORDS(w)) == whole && (size == 0 || (memcmp(g_cut, g_full, stored) == 0 && !g_cut[stored]));
    for (unsigned i = size; i < end; ++i) ok = ok && (unsigned char)g_cut[i] == kGuard;
  }
  return ok;
}

bool stream_engine(FILE* m, char* const& p, size_t& len, const char* format, const char* const* w) {
  m->len = len = 0;  // the stream is emptied by hand, so its buffer is used again
  int first = fprintf(m, format, WORDS(w));
  bool ok = first >= 0 && (size_t)first == len && (first == 0 || p[len] == 0);
  if (!ok || first == 0) return ok;
  memcpy(g_full, p, len < kFull ? len : kFull);
  return fprintf(m, format, WORDS(w)) == first && len == 2u * first && memcmp(p + first, g_full, first) == 0 && p[len] == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? atoi(argv[1]) : 2000, bad = 0;
  char format[64], *p = NULL;
  const char* w[32];
  size_t len = 0;
  FILE* m = open_memstream(&p, &len);
  for (int done = 0; done < 2 * count; ++done) {
    for (const char*& word : w) word = kStrings[below(5)];
    if (!CHECK((make_format(format), done < count ? string_engine(format, w) : stream_engine(m, p, len, format, w))) && ++bad <= 5) {
      say(done < count ? "snprintf [" : "fprintf ["), say(format), say("]\n");
    }
  }
  return finish();
}
