/* A real program: merge sort of argv[1] (default 200000) pseudo-random
 * integers, checked in order afterwards. The same source builds for ridid
 * and for Linux i386. */
#include <stdlib.h>

enum { kMax = 1 << 20 };
static int keys[kMax], spare[kMax];

static void merge_sort(int* v, int* tmp, int n) {
  if (n < 2) return;
  const int half = n / 2;
  merge_sort(v, tmp, half);
  merge_sort(v + half, tmp, n - half);
  int i = 0, j = half, k = 0;
  while (i < half && j < n) tmp[k++] = v[j] < v[i] ? v[j++] : v[i++];
  while (i < half) tmp[k++] = v[i++];
  while (j < n) tmp[k++] = v[j++];
  for (k = 0; k < n; ++k) v[k] = tmp[k];
}

int main(int argc, char** argv) {
  int n = argc > 1 ? atoi(argv[1]) : 200000;
  if (n > kMax) n = kMax;
  unsigned x = 12345;
  for (int i = 0; i < n; ++i) keys[i] = (int)((x = x * 1103515245u + 12345u) >> 1);
  merge_sort(keys, spare, n);
  for (int i = 1; i < n; ++i)
    if (keys[i - 1] > keys[i]) return 1;
  return 0;
}
