// Process services and the pseudo-random generator. The process has no
// environment and no exit handlers: exit ends it at once, flushing and
// storing nothing.
#include "stdlib.h"
#include "unistd.h"

namespace ridid {

unsigned int g_rand_state = 1;
int g_rand_seeded = 0;

void exit(int status) { _exit(status); }

void abort(void) { _exit(1); }

// The handler is never called, so there is nothing to keep.
int atexit(void (*handler)(void)) {
  (void)handler;
  return 0;
}

char* getenv(const char* name) {
  (void)name;
  return 0;
}

void srand(unsigned int seed) {
  g_rand_state = seed != 0 ? seed : 1;
  g_rand_seeded = 1;
}

namespace {

unsigned int read_time_stamp_high(unsigned int* low) {
  unsigned int lo, hi;
  __asm__ volatile("rdtsc" : "=a"(lo), "=d"(hi));
  *low = lo;
  return hi;
}

// A seed for a process that never called srand: the time-stamp counter, a
// stack address (one of rand's locals) and the heap counter's address, mixed
// so that every bit of them reaches every bit of the seed.
unsigned int self_seed(const void* stack_address) {
  unsigned int low;
  unsigned int high = read_time_stamp_high(&low);
  unsigned int m = static_cast<unsigned int>(reinterpret_cast<unsigned long>(stack_address)) ^
                   static_cast<unsigned int>(reinterpret_cast<unsigned long>(&g_heap_used)) ^
                   high * 1664525u ^ low ^ 0x9E3779B9u;
  m ^= m >> 16;
  m *= 0x7FEB352Du;
  m ^= m >> 15;
  m *= 0x846CA68Bu;
  m ^= m >> 16;
  return m != 0 ? m : 1;
}

}  // namespace

int rand(void) {
  if (!g_rand_seeded) {
    int local = 0;
    g_rand_state = self_seed(&local);
    g_rand_seeded = 1;
  }
  g_rand_state = g_rand_state * 1103515245u + 12345u;
  return static_cast<int>((g_rand_state >> 16) & 0x7FFFu);
}

}  // namespace ridid
