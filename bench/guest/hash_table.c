/* A real program: a hash table of strings (FNV-1a, open addressing):
 * 50,000 keys inserted, then argv[1] (default 1000000) look-ups, half of
 * them misses. The same source builds for ridid and for Linux i386. */
#include <stdlib.h>
#include <string.h>

enum { kKeys = 50000, kSlots = 1 << 17 };
static char keys[kKeys][12];
static const char* slots[kSlots];

static unsigned fnv1a(const char* s) {
  unsigned h = 2166136261u;
  while (*s) h = (h ^ (unsigned char)*s++) * 16777619u;
  return h;
}

// The key of number i: "k" and i in base 36, in buf.
static void key_of(unsigned i, char* buf) {
  *buf++ = 'k';
  do *buf++ = "0123456789abcdefghijklmnopqrstuvwxyz"[i % 36]; while (i /= 36);
  *buf = 0;
}

// The slot holding s, or the empty slot where it belongs.
static unsigned find(const char* s) {
  unsigned at = fnv1a(s) & (kSlots - 1);
  while (slots[at] && strcmp(slots[at], s) != 0) at = (at + 1) & (kSlots - 1);
  return at;
}

int main(int argc, char** argv) {
  const unsigned lookups = argc > 1 ? (unsigned)atoi(argv[1]) : 1000000;
  for (unsigned i = 0; i < kKeys; ++i) {
    key_of(i, keys[i]);
    slots[find(keys[i])] = keys[i];
  }
  unsigned found = 0, number = 0;
  char probe[12];
  for (unsigned i = 0; i < lookups; ++i) {
    number = (number + 7919) % (2 * kKeys);  // every number below 2 * kKeys in turn
    key_of(number, probe);
    found += slots[find(probe)] != 0;
  }
  return (int)(found & 0x7f);
}
