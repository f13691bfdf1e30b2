// The heap: block lengths, alignment, exhaustion at exactly 1 MiB, calloc's
// overflow, realloc's move, and errno 12.
#include "runtime_test.h"

namespace {

class HeapTest : public RuntimeTest {};

unsigned char* heap_at(size_t offset) { return ridid::g_heap + offset; }

uint32_t size_word(void* p) {
  uint32_t w;
  std::memcpy(&w, static_cast<unsigned char*>(p) - 4, 4);
  return w;
}

TEST_F(HeapTest, BlocksAreSizeWordPayloadAndSlack) {
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ridid::g_heap) % 8, 0u);
  EXPECT_EQ(ridid::malloc(1), heap_at(4));
  EXPECT_EQ(ridid::g_heap_used, 8u);
  EXPECT_EQ(ridid::malloc(1), heap_at(12));

  struct { size_t n; size_t length; uint32_t word; } cases[] = {
      {0, 8, 1}, {1, 8, 1}, {4, 8, 4}, {5, 16, 5}, {12, 16, 12}, {13, 24, 13}, {20, 24, 20}, {21, 32, 21},
  };
  for (const auto& c : cases) {
    size_t before = ridid::g_heap_used;
    void* p = ridid::malloc(c.n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, heap_at(before + 4)) << c.n;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 4u);
    EXPECT_EQ(ridid::g_heap_used - before, c.length) << c.n;
    EXPECT_EQ(size_word(p), c.word) << c.n;
  }
  EXPECT_EQ(ridid::errno, 0);
}

TEST_F(HeapTest, ExhaustionAtExactlyOneMebibyte) {
  EXPECT_EQ(ridid::malloc(1048573), nullptr);
  EXPECT_EQ(ridid::errno, 12);
  EXPECT_EQ(ridid::g_heap_used, 0u);

  ridid::errno = 0;
  void* all = ridid::malloc(1048572);
  EXPECT_EQ(all, heap_at(4));
  EXPECT_EQ(ridid::g_heap_used, 1048576u);
  EXPECT_EQ(ridid::errno, 0);
  EXPECT_EQ(ridid::malloc(0), nullptr);
  EXPECT_EQ(ridid::errno, 12);
  EXPECT_EQ(ridid::g_heap_used, 1048576u);

  // A request that fits after a failure succeeds and leaves errno at 12.
  ridid::g_heap_used = 1048576 - 16;
  EXPECT_EQ(ridid::malloc(13), nullptr);
  EXPECT_EQ(ridid::malloc(12), heap_at(1048576 - 12));
  EXPECT_EQ(ridid::g_heap_used, 1048576u);
  EXPECT_EQ(ridid::errno, 12);
}

// Sizes whose block length or end would pass 2^32 must not wrap into a fit.
TEST_F(HeapTest, HugeRequestsDoNotWrap) {
  ridid::g_heap_used = 64;
  for (size_t n : {0xffffffffu, 0xfffffff8u, 0xfffffff5u, 0xfffffff4u, 0xffffffc0u, 0x80000000u}) {
    ridid::errno = 0;
    EXPECT_EQ(ridid::malloc(n), nullptr) << n;
    EXPECT_EQ(ridid::errno, 12);
    EXPECT_EQ(ridid::realloc(nullptr, n), nullptr) << n;
    EXPECT_EQ(ridid::calloc(1, n), nullptr) << n;
    EXPECT_EQ(ridid::g_heap_used, 64u);
  }
}

TEST_F(HeapTest, CallocZeroesAndChecksTheProduct) {
  EXPECT_NE(ridid::calloc(0, 5), nullptr);
  EXPECT_EQ(ridid::g_heap_used, 8u);
  EXPECT_NE(ridid::calloc(5, 0), nullptr);
  EXPECT_EQ(ridid::g_heap_used, 16u);

  // Dirty the arena ahead so the zero fill shows.
  std::memset(heap_at(16), 0xab, 64);
  unsigned char* p = static_cast<unsigned char*>(ridid::calloc(3, 4));
  ASSERT_EQ(p, heap_at(20));
  EXPECT_EQ(ridid::g_heap_used, 32u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(p[i], 0) << i;
  EXPECT_EQ(p[12], 0xab);  // slack is not written
  EXPECT_EQ(size_word(p), 12u);

  EXPECT_EQ(ridid::calloc(0x10000, 0x10000), nullptr);
  EXPECT_EQ(ridid::errno, 12);
  EXPECT_EQ(ridid::g_heap_used, 32u);
  ridid::errno = 0;
  EXPECT_EQ(ridid::calloc(0x80000000u, 2), nullptr);
  EXPECT_EQ(ridid::errno, 12);
  // A product that fits 32 bits but not the arena fails the same way.
  ridid::errno = 0;
  EXPECT_EQ(ridid::calloc(1024, 1024), nullptr);
  EXPECT_EQ(ridid::errno, 12);
  EXPECT_EQ(ridid::g_heap_used, 32u);
}

TEST_F(HeapTest, ReallocAlwaysMoves) {
  char* p = static_cast<char*>(ridid::realloc(nullptr, 10));
  EXPECT_EQ(p, reinterpret_cast<char*>(heap_at(4)));
  EXPECT_EQ(ridid::g_heap_used, 16u);
  std::memcpy(p, "0123456789", 10);

  char* shrunk = static_cast<char*>(ridid::realloc(p, 2));
  EXPECT_EQ(shrunk, reinterpret_cast<char*>(heap_at(20)));
  EXPECT_EQ(std::memcmp(shrunk, "01", 2), 0);
  EXPECT_EQ(shrunk[2], 0);  // nothing past the new size is copied
  EXPECT_EQ(size_word(shrunk), 2u);

  char* grown = static_cast<char*>(ridid::realloc(p, 20));
  EXPECT_EQ(std::memcmp(grown, "0123456789", 10), 0);
  for (int i = 10; i < 20; ++i) EXPECT_EQ(grown[i], 0);
  EXPECT_EQ(size_word(grown), 20u);

  char* one = static_cast<char*>(ridid::realloc(p, 0));
  EXPECT_EQ(one[0], '0');
  EXPECT_EQ(size_word(one), 1u);

  // Even the last block moves, and the old one keeps its bytes.
  char* last = static_cast<char*>(ridid::realloc(one, 1));
  EXPECT_NE(last, one);
  EXPECT_EQ(std::memcmp(p, "0123456789", 10), 0);
}

TEST_F(HeapTest, FailedReallocKeepsTheOldBlock) {
  char* p = static_cast<char*>(ridid::malloc(10));
  std::memcpy(p, "keep me!!", 10);
  size_t used = ridid::g_heap_used;
  EXPECT_EQ(ridid::realloc(p, 1048576), nullptr);
  EXPECT_EQ(ridid::errno, 12);
  EXPECT_EQ(ridid::g_heap_used, used);
  EXPECT_STREQ(p, "keep me!!");
  EXPECT_EQ(size_word(p), 10u);
}

TEST_F(HeapTest, FreeDoesNothing) {
  char* p = static_cast<char*>(ridid::malloc(8));
  std::memcpy(p, "abcdefg", 8);
  ridid::free(p);
  ridid::free(nullptr);
  EXPECT_EQ(ridid::g_heap_used, 16u);
  EXPECT_STREQ(p, "abcdefg");
  EXPECT_EQ(ridid::malloc(1), reinterpret_cast<void*>(heap_at(20)));
}

}  // namespace
