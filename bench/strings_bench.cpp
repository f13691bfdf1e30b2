// String function benchmark: runs one call COUNT times on strings of LENGTH
// bytes (100 unless given, at most 1000).
//
// usage: strings_bench MODE COUNT [LENGTH]
// Modes: none (the loop alone), strlen, strnlen, strcmp, strncmp, memcmp
// (two equal strings in separate buffers), strchr and memchr (a byte that is
// not there, so the whole string is searched), strspn (a set of the 26 small
// letters, which the whole string is made of); qsort (1000 ints, refilled
// from the same pseudo-random sequence before every call) and qsort_fill (the
// refill alone). bench/strings.sh turns the instruction counts of two runs
// into figures per call. The source uses only standard C, so that the same
// calls can be counted with other C libraries.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

enum { MAX_LENGTH = 1000 };
alignas(8) char g_a[MAX_LENGTH + 8];
alignas(8) char g_b[MAX_LENGTH + 8];
volatile unsigned int g_sink;
int g_ints[1000];

void fill_ints() {
  unsigned int state = 12345;
  for (int& v : g_ints) v = static_cast<int>((state = state * 1103515245u + 12345u) >> 8);
}

int compare_ints(const void* a, const void* b) {
  int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    puts("usage: strings_bench MODE COUNT [LENGTH]");
    return 2;
  }
  const char* mode = argv[1];
  int count = atoi(argv[2]);
  int length = argc > 3 ? atoi(argv[3]) : 100;
  if (length > MAX_LENGTH) length = MAX_LENGTH;
  for (int i = 0; i < length; ++i) g_a[i] = g_b[i] = static_cast<char>('a' + i % 26);
  // Volatile pointers keep each call in the loop.
  const char* volatile a = g_a;
  const char* volatile b = g_b;
  unsigned int total = 0;

  if (strcmp(mode, "none") == 0) {
    for (int i = 0; i < count; ++i) total += reinterpret_cast<unsigned long>(a) + reinterpret_cast<unsigned long>(b);
  } else if (strcmp(mode, "strlen") == 0) {
    for (int i = 0; i < count; ++i) total += strlen(a);
  } else if (strcmp(mode, "strnlen") == 0) {
    for (int i = 0; i < count; ++i) total += strnlen(a, 2000);
  } else if (strcmp(mode, "strcmp") == 0) {
    for (int i = 0; i < count; ++i) total += strcmp(a, b);
  } else if (strcmp(mode, "strncmp") == 0) {
    for (int i = 0; i < count; ++i) total += strncmp(a, b, 2000);
  } else if (strcmp(mode, "memcmp") == 0) {
    for (int i = 0; i < count; ++i) total += memcmp(a, b, length);
  } else if (strcmp(mode, "strchr") == 0) {
    for (int i = 0; i < count; ++i) total += reinterpret_cast<unsigned long>(strchr(a, '#'));
  } else if (strcmp(mode, "memchr") == 0) {
    for (int i = 0; i < count; ++i) total += reinterpret_cast<unsigned long>(memchr(a, '#', length));
  } else if (strcmp(mode, "strspn") == 0) {
    for (int i = 0; i < count; ++i) total += strspn(a, "abcdefghijklmnopqrstuvwxyz");
  } else if (strcmp(mode, "qsort_fill") == 0) {
    for (int i = 0; i < count; ++i) fill_ints(), total += g_ints[i % 1000];
  } else if (strcmp(mode, "qsort") == 0) {
    for (int i = 0; i < count; ++i) fill_ints(), qsort(g_ints, 1000, sizeof(int), compare_ints), total += g_ints[i % 1000];
  } else {
    puts("strings_bench: unknown mode");
    return 2;
  }
  g_sink = total;
  return 0;
}
