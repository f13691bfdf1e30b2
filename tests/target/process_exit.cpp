// Ends the process the way its argument says; the ctest entries check the
// status, the console and what is left in the root:
//   exit3    stores closed.txt, leaves unclosed.txt unclosed, prints "before", exit(3)
//   left     the root after exit3: closed.txt stored, unclosed.txt not
//   exit261  exit(261): only the low 8 bits reach the status
//   abort    abort(): status 1, nothing written
//   assert   a false assertion: its line, status 1 (one compiled with NDEBUG does nothing)
//   fresh    a fresh process: a zero arena nothing took from, errno 0, no environment, an unseeded generator
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

#undef NDEBUG  // the build may define it already
#define NDEBUG
#include <assert.h>
static void quiet(int v) { assert(v == 0); }
#undef NDEBUG
#include <assert.h>

extern "C" unsigned char g_heap[];
extern "C" size_t g_heap_used;

static void handler() { say("handler ran\n"); }

int main(int argc, char** argv) {
  const char* mode = argc == 2 && atexit(handler) == 0 ? argv[1] : "";
  if (strcmp(mode, "exit3") == 0) {
    FILE *kept = (unlink("closed.txt"), unlink("unclosed.txt"), fopen("closed.txt", "w")), *lost = fopen("unclosed.txt", "w");
    if (fputs("stored", kept) == 6 && fputs("never stored", lost) == 12 && fclose(kept) == 0) say("before\n"), exit(3);
  }
  if (strcmp(mode, "exit261") == 0) exit(261);
  if (strcmp(mode, "abort") == 0) abort();
  if (strcmp(mode, "assert") == 0) quiet(1), assert(argc == 3);
  char buf[16] = {};
  int fd = open("closed.txt", O_RDONLY), nonzero = 0;
  if (strcmp(mode, "left") == 0) CHECK(read(fd, buf, 16) == 6 && strcmp(buf, "stored") == 0 && open("unclosed.txt", O_RDONLY) < 0);
  for (int i = 0; i < 1048576; ++i) nonzero += g_heap[i] != 0;
  int r[] = {rand(), rand(), rand()};  // an unseeded generator seeds itself: not seed 1's sequence
  if (strcmp(mode, "fresh") == 0) CHECK(nonzero == 0 && g_heap_used == 0 && errno == 0 && getenv("PATH") == NULL);
  if (strcmp(mode, "fresh") == 0) CHECK(!(r[0] == 16838 && r[1] == 5758 && r[2] == 10113) && r[0] >= 0 && r[0] <= 32767);
  return g_passed ? finish() : 100;
}
