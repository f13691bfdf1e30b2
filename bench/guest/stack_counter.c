/* Stores to the stack: a volatile counter incremented argv[1] (default 50
 * million) times, a load and a store each turn. The same source builds for
 * ridid and for Linux i386. */
#include <stdlib.h>

int main(int argc, char** argv) {
  const unsigned n = argc > 1 ? (unsigned)atoi(argv[1]) : 50000000u;
  volatile unsigned spins = 0;
  for (unsigned i = 0; i < n; ++i) spins++;
  return spins == n ? 0 : 1;
}
