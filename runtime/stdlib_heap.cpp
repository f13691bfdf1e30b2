// The heap: a 1 MiB arena handed out by a bump pointer.
//
// Each block is a 4-byte size word, the payload, and slack up to the next
// multiple of 8; payloads are 4-byte aligned. Nothing is ever reused: free
// does nothing and realloc always moves.
#include "stdlib.h"
#include "errno.h"
#include "string.h"

namespace ridid {

__attribute__((aligned(8))) unsigned char g_heap[HEAP_SIZE];
size_t g_heap_used = 0;

typedef unsigned int __attribute__((may_alias)) size_word;

// A block for a payload of s bytes, or null with errno 12 when it would end
// past the arena. The end is summed in 64 bits so a huge s cannot wrap.
static void* allocate(size_t s) {
  unsigned long long length = (static_cast<unsigned long long>(s) + 11) & ~7ull;
  unsigned long long end = g_heap_used + length;
  if (end > HEAP_SIZE) {
    errno = ENOMEM;
    return nullptr;
  }
  unsigned char* block = g_heap + g_heap_used;
  *reinterpret_cast<size_word*>(block) = s;
  g_heap_used = static_cast<size_t>(end);
  return block + 4;
}

void* malloc(size_t n) { return allocate(n ? n : 1); }

void* calloc(size_t nmemb, size_t size) {
  // An empty request still gets a block of one byte, left as the arena has it.
  if (nmemb == 0 || size == 0) return allocate(1);
  size_t total;
  if (__builtin_mul_overflow(nmemb, size, &total)) {
    errno = ENOMEM;
    return nullptr;
  }
  void* p = allocate(total);
  if (p) memset(p, 0, total);
  return p;
}

void* realloc(void* p, size_t n) {
  size_t s = n ? n : 1;
  void* q = allocate(s);
  if (!q || !p) return q;
  size_t old = *reinterpret_cast<size_word*>(static_cast<unsigned char*>(p) - 4);
  memcpy(q, p, old < s ? old : s);
  return q;
}

void free(void* p) { (void)p; }

}  // namespace ridid
