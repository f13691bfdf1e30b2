// Guest work of the conversions, for bench/conversions.sh.
// Usage: conversions_bench MODE COUNT, MODE one of sscanf, strtol, strtod,
// rand; COUNT calls are made (0 measures the program around them).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* mode = argv[1];
  int count = atoi(argv[2]);
  // Volatile sinks keep the calls from being dropped.
  volatile unsigned int sink = 0;
  volatile double dsink = 0.0;
  int a, b;
  char word[32];
  if (strcmp(mode, "sscanf") == 0) {
    for (int i = 0; i < count; ++i) sink = sink + sscanf("move 120 -45", "%s %d %d", word, &a, &b) + a + b;
  } else if (strcmp(mode, "strtol") == 0) {
    for (int i = 0; i < count; ++i) sink = sink + strtol("  123456789", 0, 10);
  } else if (strcmp(mode, "strtod") == 0) {
    for (int i = 0; i < count; ++i) dsink = dsink + strtod("3.1415926535897932", 0);
  } else if (strcmp(mode, "rand") == 0) {
    srand(1);
    for (int i = 0; i < count; ++i) sink = sink + rand();
  } else {
    return 2;
  }
  return 0;
}
