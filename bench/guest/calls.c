/* Calls: the naive recursive Fibonacci number of argv[1] (default 30), a
 * push, call and return for each of its 2.7 million calls. The same source
 * builds for ridid and for Linux i386. */
#include <stdlib.h>

__attribute__((noinline)) static unsigned fib(unsigned n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }

int main(int argc, char** argv) {
  return (int)(fib(argc > 1 ? (unsigned)atoi(argv[1]) : 30) & 0x7f);
}
