// The conversions on random text under ridid-emu: any bytes, long runs of
// digits, huge exponents. Nothing may fault, no destination may be written
// past its bound (guard bytes), every end position must lie inside the
// text, and the whole run must finish within the emulator's budget.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

namespace {

enum { CASES = 100000, MAX_TEXT = 3000, SCAN_TEXT = 300, SLOTS = 8, SLOT_SIZE = 320 };
const unsigned char GUARD = 0xA5;

harness::Random g_random = {2463534242u};
unsigned int below(unsigned int n) { return g_random.below(n); }
char from(const char* set) { return set[below(static_cast<unsigned int>(strlen(set)))]; }

char g_text[MAX_TEXT + 64];

// A text of at most max bytes: random bytes, or number-like text with long
// digit runs, points, signs, prefixes and exponents of any length.
int make_text(int max) {
  int n = 0;
  int pieces = 1 + static_cast<int>(below(6));
  for (int p = 0; p < pieces && n < max; ++p) {
    int run = 0;
    switch (below(8)) {
      case 0:  // any bytes but NUL
        run = 1 + static_cast<int>(below(40));
        for (int i = 0; i < run && n < max; ++i) g_text[n++] = static_cast<char>(1 + below(255));
        break;
      case 1:  // a long run of digits
        run = static_cast<int>(below(below(8) == 0 ? max : 40));
        for (int i = 0; i < run && n < max; ++i) g_text[n++] = static_cast<char>('0' + below(10));
        break;
      case 2:  // an exponent, often huge
        if (n < max) g_text[n++] = from("eEpP");
        if (n < max && below(2)) g_text[n++] = from("+-");
        run = 1 + static_cast<int>(below(below(4) == 0 ? 400 : 6));
        for (int i = 0; i < run && n < max; ++i) g_text[n++] = static_cast<char>('0' + below(10));
        break;
      case 3:
        if (n + 2 < max) {
          g_text[n++] = '0';
          g_text[n++] = from("xX");
        }
        run = static_cast<int>(below(30));
        for (int i = 0; i < run && n < max; ++i) g_text[n++] = from("0123456789abcdefABCDEF.");
        break;
      default:  // the bytes that matter to the parsers
        run = 1 + static_cast<int>(below(12));
        for (int i = 0; i < run && n < max; ++i) g_text[n++] = from(" \t\n\r\v\f+-.0123456789eExXpP%abc");
        break;
    }
  }
  g_text[n] = 0;
  return n;
}

// One slot per destination of vsscanf, each SLOT_SIZE bytes of guard.
unsigned char g_slots[SLOTS][SLOT_SIZE];
int g_allowed[SLOTS];  // bytes a conversion may write into each slot

int call_vsscanf(const char* input, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsscanf(input, format, args);
  va_end(args);
  return n;
}

int stress_scan(int len) {
  static const char* const numbers[] = {"%d", "%i", "%u", "%x", "%X", "%*d", "%3d", "%*i"};
  static const char* const others[] = {" ", "\t", "\n", ",", "x", "%%", "%ld", "%f", "%[a]", "%n", "%q", "%*s", "%*c"};
  char format[128];
  int f = 0, slot = 0;
  int pieces = 1 + static_cast<int>(below(7));
  for (int p = 0; p < pieces; ++p) {
    const char* piece;
    char buf[8];
    unsigned int kind = below(6);
    if (kind <= 1 && slot < SLOTS) {
      piece = numbers[below(8)];
      if (piece[1] != '*') g_allowed[slot++] = 4;
    } else if (kind == 2 && slot < SLOTS) {
      piece = "%c";
      g_allowed[slot++] = 1;
    } else if (kind == 3 && slot < SLOTS) {
      // %Ns stores at most N bytes and the NUL; %s the whole word.
      unsigned int width = below(20);
      if (width == 0) {
        piece = "%s";
        g_allowed[slot++] = len + 1;
      } else {
        buf[0] = '%';
        int b = 1;
        if (width >= 10) buf[b++] = static_cast<char>('0' + width / 10);
        buf[b++] = static_cast<char>('0' + width % 10);
        buf[b++] = 's';
        buf[b] = 0;
        piece = buf;
        g_allowed[slot++] = static_cast<int>(width) + 1;
      }
    } else {
      piece = others[below(13)];
    }
    for (const char* c = piece; *c; ++c) format[f++] = *c;
  }
  format[f] = 0;
  for (int s = 0; s < slot; ++s) memset(g_slots[s], GUARD, SLOT_SIZE);
  int r = call_vsscanf(g_text, format, g_slots[0], g_slots[1], g_slots[2], g_slots[3], g_slots[4], g_slots[5],
                       g_slots[6], g_slots[7]);
  int bad = r < 0 || r > slot;
  for (int s = 0; s < slot; ++s) {
    for (int i = g_allowed[s]; i < SLOT_SIZE; ++i) bad |= g_slots[s][i] != GUARD;
  }
  if (bad) {
    harness::out("past a bound: format [");
    harness::out(format);
    harness::out("] input [");
    harness::out_escaped(g_text, static_cast<size_t>(len));
    harness::out("]\n");
  }
  return bad;
}

int end_outside(const char* end, int len) { return end < g_text || end > g_text + len; }

}  // namespace

int main() {
  int scan_bad = 0, strtoul_bad = 0, strtold_bad = 0;
  for (int i = 0; i < CASES; ++i) {
    int len = make_text(SCAN_TEXT);
    scan_bad += stress_scan(len);
  }
  for (int i = 0; i < CASES; ++i) {
    int len = make_text(MAX_TEXT);
    char* end = 0;
    int base = static_cast<int>(below(40)) - 3;
    strtoul(g_text, &end, base);
    strtoul_bad += end_outside(end, len);
    atoi(g_text);  // must not fault
  }
  for (int i = 0; i < CASES; ++i) {
    int len = make_text(MAX_TEXT);
    char* end = 0;
    long double v = strtold(g_text, &end);
    // A NaN would mean an infinity met a zero somewhere.
    strtold_bad += end_outside(end, len) || v != v;
  }
  CHECK_EQ(scan_bad, 0);
  CHECK_EQ(strtoul_bad, 0);
  CHECK_EQ(strtold_bad, 0);
  harness::out("conversions stress: 100000 texts each for vsscanf, strtoul with atoi, strtold\n");
  return harness::finish();
}
