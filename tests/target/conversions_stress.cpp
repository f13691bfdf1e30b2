// The conversions on random text under ridid-emu, argv[1] texts for each: any
// bytes, long digit runs, huge exponents. Nothing may fault, no destination be
// written past its bound (guard bytes), every end position must lie inside the
// text, no NaN come out, and the run must end within the emulator's budget.
#include <stdio.h>
#include <stdlib.h>

#include "harness.h"

namespace {

enum { kText = 3000, kSlots = 8, kSlotSize = 320, kGuard = 0xA5 };
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
  for (int s = 0; s < slots; ++s) {
    for (int i = allowed[s]; i < kSlotSize; ++i) ok = ok && g_slots[s][i] == kGuard;
  }
  if (!ok) say("past a bound: format ["), say(format), say("] input ["), say(g_text), say("]\n");
  return ok;
}

bool inside(const char* end, int len) { return end >= g_text && end <= g_text + len; }

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? atoi(argv[1]) : 2000, scan = 0, ul = 0, ld = 0, len;
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
