// wordcount: reads the words on standard input and prints each distinct word
// with its count, most frequent first, then the totals.
//
// fscanf takes one blank-delimited token per call (at most 255 bytes) and
// returns -1 at the end of the input. The heap never frees, so every distinct
// word is copied once with strdup and kept in a fixed hash table.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr unsigned kSlots = 2048;     // a power of two
constexpr int kMaxDistinct = 1024;    // keeps the table at most half full

struct Entry {
  char* word;
  int count;
};

// Plain zero-filled globals: no constructor has to run before main.
Entry g_slots[kSlots];
Entry* g_found[kMaxDistinct];
int g_distinct = 0;

unsigned hash(const char* s) {
  unsigned h = 2166136261u;
  for (; *s; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 16777619u;
  return h;
}

// The entry for word, made on first sight; null when the table is full or
// the heap is exhausted.
Entry* lookup(const char* word) {
  unsigned i = hash(word) & (kSlots - 1);
  while (g_slots[i].word != nullptr) {
    if (strcmp(g_slots[i].word, word) == 0) return &g_slots[i];
    i = (i + 1) & (kSlots - 1);
  }
  if (g_distinct == kMaxDistinct) return nullptr;
  char* copy = strdup(word);
  if (copy == nullptr) return nullptr;
  g_slots[i].word = copy;
  g_found[g_distinct++] = &g_slots[i];
  return &g_slots[i];
}

// More frequent first; equal counts in byte order.
bool before(const Entry* a, const Entry* b) {
  if (a->count != b->count) return a->count > b->count;
  return strcmp(a->word, b->word) < 0;
}

// There is no qsort: a small insertion sort does.
void sort_found() {
  for (int i = 1; i < g_distinct; ++i) {
    Entry* e = g_found[i];
    int j = i;
    for (; j > 0 && before(e, g_found[j - 1]); --j) g_found[j] = g_found[j - 1];
    g_found[j] = e;
  }
}

}  // namespace

int main() {
  char word[256];
  int total = 0;
  int dropped = 0;

  for (;;) {
    int got = fscanf(stdin, "%255s", word);
    if (got == -1) break;
    if (got != 1) continue;  // a token that starts with a NUL byte
    ++total;
    if (Entry* e = lookup(word))
      ++e->count;
    else
      ++dropped;
  }

  sort_found();
  // The stream printf has no '-' flag: widths pad on the left only.
  printf("%5s  %s\n", "count", "word");
  for (int i = 0; i < g_distinct; ++i) printf("%5d  %s\n", g_found[i]->count, g_found[i]->word);
  printf("%d words, %d distinct\n", total, g_distinct);
  if (dropped > 0) printf("%d words not counted: table full\n", dropped);
  return 0;
}
