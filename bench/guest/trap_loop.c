/* A trap loop: argv[1] (default 200000) calls of dup2(1, 9), one system call
 * each. The same source builds for ridid and for Linux i386. */
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  long n = argc > 1 ? strtol(argv[1], 0, 10) : 200000;
  for (long i = 0; i < n; ++i) dup2(1, 9);
  return 0;
}
