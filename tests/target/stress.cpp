// argv[1] random cases of each kind (2000 without it), the same on every run;
// nothing may fault or write past a guard byte. Formats without '*' (any word
// may be a string's address): snprintf gives one result for every size and
// stores a terminated prefix; fprintf's result is what a memory stream got.
// Conversions of any text end inside it and give no NaN.
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


enum { kText = 3000, kSlots = 8, kSlotSize = 320 };
char g_text[kText + 64];
unsigned char g_slots[kSlots][kSlotSize];
char from(const char* set) { return set[below(strlen(set))]; }

// At most max bytes: random bytes, or number-like text with long digit runs,
// points, signs, prefixes and exponents of any length.
int make_text(int max) {
  int n = 0;
  for (int piece = 1 + below(6); piece > 0 && n < max; --piece) {
    unsigned kind = below(8);
    if (kind == 2) g_text[n++] = from("eEpP"), n < max && below(2) ? g_text[n++] = from("+-") : 0;
    if (kind == 3 && n + 2 < max) g_text[n++] = '0', g_text[n++] = from("xX");
    unsigned run = kind == 0 ? 1 + below(40) : kind == 1 ? below(below(8) == 0 ? max : 40)
                 : kind == 2 ? 1 + below(below(4) == 0 ? 400 : 6) : kind == 3 ? below(30) : 1 + below(12);
    const char* set = kind <= 2 ? "0123456789" : kind == 3 ? "0123456789abcdefABCDEF." : " \t\n\r\v\f+-.0123456789eExXpP%abc";
    for (unsigned i = 0; i < run && n < max; ++i) g_text[n++] = kind == 0 ? (char)(1 + below(255)) : from(set);
  }
  return g_text[n] = 0, n;
}

// A random format over the text: %Ns may store N bytes and the NUL, %s the whole word.
bool scan_within_bounds(int len) {
  static const char* const pieces[] = {"%d", "%i", "%u", "%x", "%X", "%3d", "%c", "%s", "%1s", "%7s", "%19s", "%*d", "%*i", " ", "\t",
                                       "\n", ",", "x", "%%", "%ld", "%f", "%[a]", "%n", "%q", "%*s", "%*c"};
  static const int stores[] = {4, 4, 4, 4, 4, 4, 1, -1, 2, 8, 20};  // the bytes each of the first pieces may write
  char format[128] = "";
  int allowed[kSlots], slots = 0;
  for (int n = 1 + below(7); n > 0; --n) {
    unsigned k = below(sizeof pieces / sizeof *pieces);
    if (k < 11 && slots == kSlots) continue;
    if (k < 11) allowed[slots++] = stores[k] < 0 ? len + 1 : stores[k];
    strcat(format, pieces[k]);
  }
  for (int s = 0; s < slots; ++s) memset(g_slots[s], kGuard, kSlotSize);
  int r = sscanf(g_text, format, g_slots[0], g_slots[1], g_slots[2], g_slots[3], g_slots[4], g_slots[5], g_slots[6], g_slots[7]);
  bool ok = r >= 0 && r <= slots;
  for (int s = 0; s < slots; ++s)
    for (int i = allowed[s]; i < kSlotSize; ++i) ok = ok && g_slots[s][i] == kGuard;
  if (!ok) say("past a bound: format ["), say(format), say("] input ["), say(g_text), say("]\n");
  return ok;
}

bool inside(const char* end, int len) { return end >= g_text && end <= g_text + len; }

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? atoi(argv[1]) : 2000, bad = 0, scan = 0, ul = 0, ld = 0, len;
  char format[64], *p = NULL;
  const char* w[32];
  size_t out_len = 0;
  FILE* m = open_memstream(&p, &out_len);
  for (int done = 0; done < 2 * count; ++done) {
    for (const char*& word : w) word = kStrings[below(5)];
    if (!CHECK((make_format(format), done < count ? string_engine(format, w) : stream_engine(m, p, out_len, format, w))) && ++bad <= 5) {
      say(done < count ? "snprintf [" : "fprintf ["), say(format), say("]\n");
    }
  }
  g_random = 2463534242u;
  for (int i = 0; i < count; ++i) scan += scan_within_bounds(make_text(300));
  for (int i = 0; i < count; ++i) {
    char* end = 0;
    len = make_text(kText), strtoul(g_text, &end, (int)below(40) - 3), atoi(g_text);  // atoi must not fault
    ul += inside(end, len);
  }
  for (int i = 0; i < count; ++i) {
    char* end = 0;
    long double v = (len = make_text(kText), strtold(g_text, &end));
    ld += inside(end, len) && v == v;  // a NaN: an infinity met a zero
  }
  CHECK(scan == count), CHECK(ul == count), CHECK(ld == count);
  return finish();
}
