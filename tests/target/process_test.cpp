// Process services, the generator and the error texts in a fresh ridid
// process: the generator starts unseeded and seeds itself on the first rand.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

extern "C" unsigned int g_rand_state;
extern "C" int g_rand_seeded;

namespace {

void rand_seeds_itself() {
  CHECK_EQ(g_rand_seeded, 0);
  CHECK_EQ(g_rand_state, 1);
  int r = rand();
  CHECK(r >= 0 && r <= 32767);
  CHECK_EQ(g_rand_seeded, 1);
  unsigned int state = g_rand_state;
  CHECK_EQ((state >> 16) & 0x7fff, r);
  // Undo one step: the seed was neither 0 nor the unseeded state 1.
  unsigned int inverse = 1;
  for (int i = 0; i < 6; ++i) inverse *= 2u - 1103515245u * inverse;
  unsigned int seed = (state - 12345u) * inverse;
  CHECK(seed != 0);
  CHECK(seed != 1);
  // Seeding again later reads a later time-stamp: another seed.
  g_rand_seeded = 0;
  rand();
  CHECK(g_rand_state != state);

  srand(1);
  static const int first[] = {16838, 5758, 10113, 17515, 31051, 5627};
  for (int want : first) CHECK_EQ(rand(), want);
  srand(42);
  CHECK_EQ(rand(), 19081);
  CHECK_EQ(rand(), 17033);
  CHECK_EQ(rand(), 15269);
}

void services_and_texts() {
  CHECK(getenv("PATH") == NULL);
  CHECK(getenv("") == NULL);
  CHECK_STR(strerror(0), "ok");
  CHECK_STR(strerror(2), "no such file");
  CHECK_STR(strerror(22), "invalid argument");
  CHECK_STR(strerror(38), "not implemented");
  CHECK_STR(strerror(12), "error");
  CHECK_STR(strerror(-2), "error");
  CHECK_EQ(errno, 0);
}

}  // namespace

int main() {
  rand_seeds_itself();
  services_and_texts();
  return harness::finish();
}
