// The heap in a fresh process: nothing is allocated before main, the arena
// is zero-filled, a memory stream grows to 2^19 bytes of capacity and no
// further, and the arena runs out at exactly 1 MiB.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

// The arena and its counter, reached by their symbol names.
extern "C" unsigned char g_heap[];
extern "C" size_t g_heap_used;

namespace {

void check_fresh_arena() {
  CHECK_EQ(g_heap_used, 0);
  CHECK_EQ(reinterpret_cast<unsigned long>(g_heap) % 8, 0);
  // The loader gives the zero-filled part as zeros, all 1 MiB of it.
  unsigned int nonzero = 0;
  for (unsigned int i = 0; i < 1048576; ++i) nonzero += g_heap[i] != 0;
  CHECK_EQ(nonzero, 0);
  CHECK_EQ(errno, 0);
  // One byte too many for an empty arena.
  CHECK(malloc(1048573) == nullptr);
  CHECK_EQ(errno, 12);
  CHECK_EQ(g_heap_used, 0);
}

// A memory record written in pieces that each force one growth: the blocks
// 256, 512, ... 2^19 take 1048416 bytes of the arena.
void check_stream_limit() {
  static char chunk[1 << 19];
  memset(chunk, 'm', sizeof chunk);
  char* buf = nullptr;
  size_t len = 0;
  FILE mem = {FILE_MEM, 0, nullptr, nullptr, 0, 0, &buf, &len, 0, 0, 0};
  int failures = 0;
  for (size_t n = 255; mem.len + 1 < (1u << 19); n = mem.cap) {
    if (fwrite(chunk, 1, n, &mem) != n) {
      ++failures;
      break;
    }
  }
  CHECK_EQ(failures, 0);
  // The last block, 2^19 bytes and its size word, ends at 1048416.
  CHECK(reinterpret_cast<unsigned char*>(mem.buf) == g_heap + 1048416 - (524288 + 8) + 4);
  CHECK_EQ(mem.cap, 1 << 19);
  CHECK_EQ(len, (1 << 19) - 1);
  CHECK_EQ(g_heap_used, 1048416);

  // The next byte needs a block of 2^20, which never fits.
  char* held = mem.buf;
  CHECK_EQ(fputc('z', &mem), -1);
  CHECK(mem.buf == held && buf == held);
  CHECK_EQ(mem.len, (1 << 19) - 1);
  CHECK_EQ(len, (1 << 19) - 1);
  CHECK_EQ(held[len], 0);
  CHECK_EQ(held[len - 1], 'm');
  CHECK_EQ(g_heap_used, 1048416);
}

void check_exhaustion() {
  // 160 bytes are left: a 149-byte payload is a 160-byte block.
  unsigned char* last = static_cast<unsigned char*>(malloc(149));
  CHECK(last == g_heap + 1048416 + 4);
  CHECK_EQ(g_heap_used, 1048576);
  unsigned int nonzero = 0;
  for (int i = 0; i < 149; ++i) nonzero += last[i] != 0;
  CHECK_EQ(nonzero, 0);
  CHECK(malloc(0) == nullptr);
  CHECK(calloc(1, 1) == nullptr);
  CHECK(realloc(last, 1) == nullptr);
  CHECK(strdup("") == nullptr);
  CHECK_EQ(errno, 12);
  CHECK_EQ(g_heap_used, 1048576);
}

}  // namespace

int main() {
  check_fresh_arena();
  check_stream_limit();
  check_exhaustion();
  return harness::finish();
}
