// qsort and bsearch. qsort is an introspective sort: quicksort on the median
// of three, handing a range to heapsort once it has been split more than
// twice its size's bit count deep, so no input takes more than n log n
// comparisons, and insertion sort for ranges of 12 or fewer. Elements move
// by swapping, a word at a time when the base and the size allow it. The
// scans check their bounds too, so a comparison that is not a consistent
// order may leave the array unsorted but never reaches outside it.
#include "stdlib.h"

namespace ridid {

namespace {

typedef int (*Compare)(const void*, const void*);

// One qsort call's elements: their size, whether they move by words, and
// the comparison.
struct Elements {
  size_t size;
  bool by_words;
  Compare compare;

  bool less(const char* a, const char* b) const { return compare(a, b) < 0; }

  void swap(char* a, char* b) const {
    if (a == b) return;
    if (by_words) {
      unsigned int* x = reinterpret_cast<unsigned int*>(a);
      unsigned int* y = reinterpret_cast<unsigned int*>(b);
      for (size_t i = 0; i < size / 4; ++i) {
        unsigned int t = x[i];
        x[i] = y[i];
        y[i] = t;
      }
    } else {
      for (size_t i = 0; i < size; ++i) {
        char t = a[i];
        a[i] = b[i];
        b[i] = t;
      }
    }
  }
};

void insertion_sort(char* first, size_t n, const Elements& e) {
  char* end = first + n * e.size;
  for (char* p = first + e.size; p < end; p += e.size) {
    for (char* q = p; q > first && e.less(q, q - e.size); q -= e.size) e.swap(q, q - e.size);
  }
}

// Moves the element at index i down the heap of n elements until neither
// child is greater.
void sift_down(char* first, size_t i, size_t n, const Elements& e) {
  for (;;) {
    size_t child = 2 * i + 1;
    if (child >= n) return;
    if (child + 1 < n && e.less(first + child * e.size, first + (child + 1) * e.size)) ++child;
    if (!e.less(first + i * e.size, first + child * e.size)) return;
    e.swap(first + i * e.size, first + child * e.size);
    i = child;
  }
}

void heap_sort(char* first, size_t n, const Elements& e) {
  for (size_t i = n / 2; i > 0; --i) sift_down(first, i - 1, n, e);
  for (size_t end = n - 1; end > 0; --end) {
    e.swap(first, first + end * e.size);
    sift_down(first, 0, end, e);
  }
}

// Puts the median of the three elements at a, b and c into a.
void median_to(char* a, char* b, char* c, const Elements& e) {
  if (e.less(b, a)) e.swap(a, b);   // a <= b
  if (e.less(c, b)) {               // c is the least or the median
    e.swap(b, c);
    if (e.less(b, a)) e.swap(a, b);
  }
  e.swap(a, b);                     // the median, now in b, to a
}

void intro_sort(char* first, size_t n, unsigned int depth, const Elements& e) {
  while (n > 12) {
    if (depth-- == 0) return heap_sort(first, n, e);
    char* last = first + (n - 1) * e.size;
    median_to(first, first + n / 2 * e.size, last, e);
    // Hoare's partition around the pivot at first: equal elements stop both
    // scans, so a run of equal elements splits in the middle.
    char* i = first + e.size;
    char* j = last;
    for (;;) {
      while (i < last && e.less(i, first)) i += e.size;
      while (j > first && e.less(first, j)) j -= e.size;
      if (i >= j) break;
      e.swap(i, j);
      i += e.size;
      j -= e.size;
    }
    e.swap(first, j);
    // The smaller side is sorted by a call of its own, the larger one here.
    size_t left = static_cast<size_t>(j - first) / e.size, right = n - left - 1;
    if (left < right) {
      intro_sort(first, left, depth, e);
      first = j + e.size;
      n = right;
    } else {
      intro_sort(j + e.size, right, depth, e);
      n = left;
    }
  }
  insertion_sort(first, n, e);
}

}  // namespace

void qsort(void* base, size_t n, size_t size, int (*compare)(const void*, const void*)) {
  if (n < 2 || size == 0) return;
  unsigned int depth = 0;
  for (size_t m = n; m > 1; m /= 2) depth += 2;
  Elements e = {size, ((reinterpret_cast<unsigned long>(base) | size) & 3) == 0, compare};
  intro_sort(static_cast<char*>(base), n, depth, e);
}

void* bsearch(const void* key, const void* base, size_t n, size_t size, int (*compare)(const void*, const void*)) {
  const char* first = static_cast<const char*>(base);
  while (n > 0) {
    const char* middle = first + n / 2 * size;
    int order = compare(key, middle);
    if (order == 0) return const_cast<char*>(middle);
    if (order > 0) {
      first = middle + size;
      n -= n / 2 + 1;
    } else {
      n /= 2;
    }
  }
  return nullptr;
}

}  // namespace ridid
