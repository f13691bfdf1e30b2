/* Stores to static data: argv[1] (default 4000) rounds of a recurrence over
 * a 4096-word array, one store per word. The same source builds for ridid
 * and for Linux i386. */
#include <stdlib.h>

static unsigned a[4096];

int main(int argc, char** argv) {
  const unsigned rounds = argc > 1 ? (unsigned)atoi(argv[1]) : 4000;
  for (unsigned r = 0; r < rounds; ++r)
    for (unsigned i = 1; i < 4096; ++i) a[i] = a[i - 1] * 33 + i + r;
  return (int)(a[4095] & 0x7f);
}
