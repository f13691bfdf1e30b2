/* Copies of memory blocks with memcpy: argv[1] (default 400) rounds, each
 * copying a 64 KiB buffer to another in blocks of 16 to 4096 bytes and
 * back. The same source builds for ridid and for Linux i386. */
#include <stdlib.h>
#include <string.h>

enum { kSize = 65536 };
static unsigned char from[kSize], to[kSize];

int main(int argc, char** argv) {
  const unsigned rounds = argc > 1 ? (unsigned)atoi(argv[1]) : 400;
  for (unsigned i = 0; i < kSize; ++i) from[i] = (unsigned char)(i * 13);
  for (unsigned r = 0; r < rounds; ++r) {
    const unsigned block = 16u << (r % 9);
    for (unsigned at = 0; at < kSize; at += block) memcpy(to + at, from + at, block);
    for (unsigned at = 0; at < kSize; at += block) memcpy(from + at, to + (at ^ block), block);
  }
  unsigned sum = 0;
  for (unsigned i = 0; i < kSize; i += 61) sum += from[i];
  return (int)(sum & 0x7f);
}
