// The output path: file_write_bytes on descriptors and memory records, and
// the plain output functions over it.
#include "runtime_test.h"

#include <vector>

namespace {

using kdouble::Trap;

// What the console was given, copied at the time of each write (the bytes of
// fputc live on its stack only for the call).
std::string g_console;

// The console takes every byte it is given.
int32_t accept_all(const Trap& t) {
  if (t.nr != ridid::SYS_WRITE) return 0;
  g_console.append(reinterpret_cast<const char*>(uintptr_t{t.ecx}), t.edx);
  return static_cast<int32_t>(t.edx);
}

void reset_console() {
  kdouble::reset();
  g_console.clear();
  kdouble::script(accept_all);
}

class OutputTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    reset_console();
  }
  char* pub_buf = nullptr;
  size_t pub_len = 0;
  // A memory stream as open_memstream makes it, publishing to pub_buf/pub_len.
  ridid::FILE mem{ridid::FILE_MEM, 0, nullptr, nullptr, 0, 0, &pub_buf, &pub_len, 0, 0, 0};
};

uint32_t addr(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

int write_traps() {
  int n = 0;
  for (const Trap& t : kdouble::traps()) n += t.nr == ridid::SYS_WRITE;
  return n;
}

TEST_F(OutputTest, NullsAndEmptyWrites) {
  EXPECT_EQ(ridid::file_write_bytes(nullptr, "a", 1), -1);
  EXPECT_EQ(ridid::file_write_bytes(ridid::stdout, nullptr, 1), -1);
  EXPECT_EQ(ridid::file_write_bytes(ridid::stdout, nullptr, 0), -1);
  EXPECT_EQ(ridid::file_write_bytes(&mem, nullptr, 0), -1);
  EXPECT_EQ(ridid::file_write_bytes(ridid::stdout, "a", 0), 0);
  EXPECT_EQ(ridid::file_write_bytes(&mem, "a", 0), 0);
  EXPECT_TRUE(kdouble::traps().empty());
  // An empty write to an empty memory stream allocates nothing.
  EXPECT_EQ(mem.buf, nullptr);
  EXPECT_EQ(mem.cap, 0u);
  EXPECT_EQ(pub_buf, nullptr);
  EXPECT_EQ(ridid::g_heap_used, 0u);
}

TEST_F(OutputTest, OnlyDescriptorOneTakesOutput) {
  for (int fd : {0, 2, 3, -1}) {
    ridid::FILE f{ridid::FILE_FD, fd, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
    EXPECT_EQ(ridid::file_write_bytes(&f, "x", 1), -1) << fd;
    EXPECT_EQ(ridid::fputs("x", &f), -1);
  }
  EXPECT_EQ(ridid::fputc('A', ridid::stdin), -1);
  EXPECT_TRUE(kdouble::traps().empty());

  // stderr shares descriptor 1; pos does not move with output.
  EXPECT_EQ(ridid::fputs("err", ridid::stderr), 3);
  EXPECT_EQ(ridid::fputs("out", ridid::stdout), 3);
  EXPECT_EQ(console_bytes(), "errout");
  EXPECT_EQ(ridid::g_stdout.pos, 0);
  EXPECT_EQ(ridid::g_stderr.pos, 0);
}

TEST_F(OutputTest, ShortConsoleWritesAreContinued) {
  const char* text = "0123456789";
  std::vector<uint32_t> answers = {3, 5, 2};
  size_t next = 0;
  kdouble::script([&](const Trap&) { return next < answers.size() ? answers[next++] : 0; });
  EXPECT_EQ(ridid::file_write_bytes(ridid::stdout, text, 10), 0);
  ASSERT_EQ(kdouble::traps().size(), 3u);
  EXPECT_EQ(kdouble::traps()[0].ecx, addr(text));
  EXPECT_EQ(kdouble::traps()[0].edx, 10u);
  EXPECT_EQ(kdouble::traps()[1].ecx, addr(text + 3));
  EXPECT_EQ(kdouble::traps()[1].edx, 7u);
  EXPECT_EQ(kdouble::traps()[2].ecx, addr(text + 8));
  EXPECT_EQ(kdouble::traps()[2].edx, 2u);

  // A write that takes nothing, or fails, ends the loop at once.
  for (int answer : {0, -5}) {
    kdouble::reset();
    bool first = true;
    kdouble::script([&](const Trap&) {
      int r = first ? 4 : answer;
      first = false;
      return r;
    });
    EXPECT_EQ(ridid::file_write_bytes(ridid::stdout, text, 10), -1);
    EXPECT_EQ(write_traps(), 2);
  }
}

// Counts above 0x7fffffff go out in chunks of at most that; the bytes are not
// read by the recording kernel, so a made-up address serves.
TEST_F(OutputTest, HugeCountsGoOutInChunks) {
  const char* data = reinterpret_cast<const char*>(uintptr_t{0x10000});
  kdouble::script([](const Trap& t) { return static_cast<int32_t>(t.edx); });
  EXPECT_EQ(ridid::file_write_bytes(ridid::stdout, data, 0x80000005u), 0);
  ASSERT_EQ(kdouble::traps().size(), 2u);
  EXPECT_EQ(kdouble::traps()[0].edx, 0x7fffffffu);
  EXPECT_EQ(kdouble::traps()[1].ecx, 0x10000u + 0x7fffffffu);
  EXPECT_EQ(kdouble::traps()[1].edx, 6u);
}

TEST_F(OutputTest, MemoryStreamGrowsByDoublingFrom256) {
  EXPECT_EQ(ridid::file_write_bytes(&mem, "abc", 3), 0);
  EXPECT_EQ(mem.cap, 256u);
  EXPECT_EQ(mem.len, 3u);
  EXPECT_EQ(std::memcmp(mem.buf, "abc", 4), 0);
  EXPECT_EQ(pub_buf, mem.buf);
  EXPECT_EQ(pub_len, 3u);
  EXPECT_TRUE(kdouble::traps().empty());

  // 200 held: 55 more still fit 256 with the NUL, without moving.
  std::string fill(252, 'x');
  char* before = mem.buf;
  EXPECT_EQ(ridid::file_write_bytes(&mem, fill.data(), 197), 0);
  EXPECT_EQ(ridid::file_write_bytes(&mem, fill.data(), 55), 0);
  EXPECT_EQ(mem.len, 255u);
  EXPECT_EQ(mem.cap, 256u);
  EXPECT_EQ(mem.buf, before);
  // One more byte at 255 of 256 moves to 512, keeping what was held.
  EXPECT_EQ(ridid::file_write_bytes(&mem, "!", 1), 0);
  EXPECT_EQ(mem.cap, 512u);
  EXPECT_NE(mem.buf, before);
  EXPECT_EQ(std::memcmp(mem.buf, "abc", 3), 0);
  EXPECT_EQ(mem.buf[255], '!');
  EXPECT_EQ(mem.buf[256], 0);
  EXPECT_EQ(pub_buf, mem.buf);
  EXPECT_EQ(pub_len, 256u);

  // A fresh stream's first write of 256 to 511 bytes gets 512; 512 gets 1024.
  for (auto [n, cap] : {std::pair<size_t, size_t>{255, 256}, {256, 512}, {300, 512}, {511, 512}, {512, 1024}}) {
    ridid::FILE f{ridid::FILE_MEM, 0, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
    std::string data(n, 'y');
    EXPECT_EQ(ridid::file_write_bytes(&f, data.data(), n), 0);
    EXPECT_EQ(f.cap, cap) << n;
    EXPECT_EQ(f.buf[n], 0);
  }
}

TEST_F(OutputTest, WriteStreamPublishesNothing) {
  char* untouched = reinterpret_cast<char*>(&mem);
  size_t untouched_len = 77;
  ridid::FILE f{ridid::FILE_WRITE, 0, nullptr, nullptr, 0, 0, &untouched, &untouched_len, 0, 0, 0};
  EXPECT_EQ(ridid::fputs("data", &f), 4);
  EXPECT_STREQ(f.buf, "data");
  EXPECT_EQ(f.len, 4u);
  EXPECT_EQ(untouched, reinterpret_cast<char*>(&mem));
  EXPECT_EQ(untouched_len, 77u);
  // A memory stream with either caller variable missing publishes nothing.
  ridid::FILE half{ridid::FILE_MEM, 0, nullptr, nullptr, 0, 0, &pub_buf, nullptr, 0, 0, 0};
  EXPECT_EQ(ridid::fputs("x", &half), 1);
  EXPECT_EQ(pub_buf, nullptr);
  EXPECT_TRUE(kdouble::traps().empty());
  EXPECT_EQ(f.err + f.eof + half.err + half.eof, 0);
}

// On a fresh heap a memory stream reaches 2^19 bytes of capacity through
// 256, 512, ... and the write that needs more fails, changing nothing.
TEST_F(OutputTest, MemoryStreamStopsAtTwoToTheNineteen) {
  std::vector<char> data(1 << 19, 'm');
  size_t chunk = 255;
  while (mem.len + 1 < (1u << 19)) {
    ASSERT_EQ(ridid::file_write_bytes(&mem, data.data(), chunk), 0) << mem.len;
    EXPECT_EQ(mem.cap, mem.len + 1);  // every write filled the new block
    chunk = mem.cap;
  }
  EXPECT_EQ(mem.cap, 1u << 19);
  EXPECT_EQ(mem.len, (1u << 19) - 1);
  EXPECT_EQ(ridid::g_heap_used, 1048416u);
  EXPECT_EQ(ridid::errno, 0);

  char* buf = mem.buf;
  EXPECT_EQ(ridid::file_write_bytes(&mem, "z", 1), -1);
  EXPECT_EQ(ridid::errno, 12);
  EXPECT_EQ(mem.buf, buf);
  EXPECT_EQ(mem.len, (1u << 19) - 1);
  EXPECT_EQ(mem.cap, 1u << 19);
  EXPECT_EQ(pub_buf, buf);
  EXPECT_EQ(pub_len, (1u << 19) - 1);
  EXPECT_EQ(buf[mem.len], 0);
  EXPECT_EQ(ridid::g_heap_used, 1048416u);
}

TEST_F(OutputTest, GrowthFailureLeavesRecordAndCallerVariables) {
  EXPECT_EQ(ridid::fputs("held", &mem), 4);
  char* buf = mem.buf;
  ridid::g_heap_used = ridid::HEAP_SIZE - 256;  // room for less than 512
  std::string more(300, 'q');
  EXPECT_EQ(ridid::fputs(more.c_str(), &mem), -1);
  EXPECT_EQ(ridid::fwrite(more.data(), 1, 300, &mem), 0u);
  EXPECT_EQ(ridid::fputc('q', &mem), 'q');  // still fits in 256
  EXPECT_EQ(mem.buf, buf);
  EXPECT_EQ(mem.cap, 256u);
  EXPECT_STREQ(mem.buf, "heldq");
  EXPECT_EQ(pub_buf, buf);
  EXPECT_EQ(pub_len, 5u);
  EXPECT_EQ(ridid::errno, 12);
}

// Needs that no capacity could meet are refused before the heap is asked.
TEST_F(OutputTest, ImpossibleNeedsAreRefused) {
  const char* data = reinterpret_cast<const char*>(uintptr_t{0x10000});  // never read
  size_t used = ridid::g_heap_used;
  EXPECT_EQ(ridid::file_write_bytes(&mem, data, 0xffffffffu), -1);  // need passes 32 bits
  EXPECT_EQ(ridid::file_write_bytes(&mem, data, 0x80000000u), -1);  // capacity would pass 2^31
  EXPECT_EQ(ridid::errno, 0);
  EXPECT_EQ(ridid::g_heap_used, used);
  EXPECT_EQ(mem.buf, nullptr);
  EXPECT_EQ(pub_buf, nullptr);
  // A need of exactly 2^31 is a capacity the heap is asked for, and refuses.
  EXPECT_EQ(ridid::file_write_bytes(&mem, data, 0x7fffffffu), -1);
  EXPECT_EQ(ridid::errno, 12);
  EXPECT_EQ(mem.cap, 0u);

  // A held stream whose doubling would pass 2^31.
  char held[8] = "abc";
  ridid::FILE f{ridid::FILE_MEM, 0, nullptr, held, 0x7ffffff0u, 0x80000000u, nullptr, nullptr, 0, 0, 0};
  EXPECT_EQ(ridid::file_write_bytes(&f, data, 0x10), -1);
  EXPECT_EQ(f.buf, held);
  EXPECT_EQ(f.cap, 0x80000000u);
  EXPECT_EQ(f.len, 0x7ffffff0u);
}

TEST_F(OutputTest, PutcharFputcFputsResults) {
  EXPECT_EQ(ridid::fputc(0x141, ridid::stdout), 0x141);
  EXPECT_EQ(ridid::putchar(-0xbe), -0xbe);  // low byte 0x42
  EXPECT_EQ(g_console, "AB");
  EXPECT_EQ(ridid::fputc('x', nullptr), -1);

  reset_console();
  EXPECT_EQ(ridid::fputs("", ridid::stdout), 0);
  EXPECT_TRUE(kdouble::traps().empty());
  EXPECT_EQ(ridid::fputs("", nullptr), -1);
  EXPECT_EQ(ridid::fputs(nullptr, ridid::stdout), -1);
  EXPECT_EQ(ridid::fputs("abc", ridid::stdout), 3);
  EXPECT_EQ(ridid::fputs(reinterpret_cast<const char*>(uintptr_t{16}), ridid::stdout), 0);
  EXPECT_EQ(console_bytes(), "abc");
  kdouble::script([](const Trap&) { return -1; });
  EXPECT_EQ(ridid::fputs("abc", ridid::stdout), -1);
  EXPECT_EQ(ridid::putchar('a'), -1);
}

TEST_F(OutputTest, FwriteIsAllOrNothing) {
  const char* p = "0123456789AB";
  EXPECT_EQ(ridid::fwrite(p, 4, 3, ridid::stdout), 3u);
  ASSERT_EQ(kdouble::traps().size(), 1u);  // one write of 12 bytes
  EXPECT_EQ(kdouble::traps()[0].edx, 12u);

  reset_console();
  EXPECT_EQ(ridid::fwrite(p, 0x10000, 0x10000, ridid::stdout), 0u);
  EXPECT_EQ(ridid::fwrite(p, 0, 3, ridid::stdout), 0u);
  EXPECT_EQ(ridid::fwrite(p, 3, 0, ridid::stdout), 0u);
  EXPECT_EQ(ridid::fwrite(nullptr, 1, 1, ridid::stdout), 0u);
  EXPECT_EQ(ridid::fwrite(p, 1, 1, nullptr), 0u);
  EXPECT_TRUE(kdouble::traps().empty());

  // Part of it reached the console, still 0.
  bool first = true;
  kdouble::script([&](const Trap&) {
    int r = first ? 5 : -1;
    first = false;
    return r;
  });
  EXPECT_EQ(ridid::fwrite(p, 4, 3, ridid::stdout), 0u);
  ASSERT_EQ(kdouble::traps().size(), 2u);
  EXPECT_EQ(kdouble::traps()[1].ecx, addr(p + 5));
  EXPECT_EQ(kdouble::traps()[1].edx, 7u);
}

TEST_F(OutputTest, PutsWritesTextThenNewline) {
  EXPECT_EQ(ridid::puts("hi"), 0);
  EXPECT_EQ(ridid::puts(""), 0);
  EXPECT_EQ(ridid::puts(reinterpret_cast<const char*>(uintptr_t{16})), 0);
  EXPECT_EQ(ridid::puts(nullptr), -1);
  EXPECT_EQ(console_bytes(), "hi\n\n\n");
  EXPECT_EQ(write_traps(), 4);  // the empty texts need no write of their own

  // A failed text writes no newline; a failed newline is a failure too.
  kdouble::reset();
  kdouble::script([](const Trap&) { return -1; });
  EXPECT_EQ(ridid::puts("x"), -1);
  EXPECT_EQ(write_traps(), 1);
  kdouble::reset();
  kdouble::script([](const Trap& t) { return t.edx == 1 && *reinterpret_cast<const char*>(uintptr_t{t.ecx}) == '\n' ? 0 : 5; });
  EXPECT_EQ(ridid::puts("hello"), -1);
}

TEST_F(OutputTest, PutsFollowsStdoutAtEveryWrite) {
  ridid::stdout = &mem;
  EXPECT_EQ(ridid::puts("hi"), 0);
  EXPECT_EQ(ridid::putchar('!'), '!');
  EXPECT_STREQ(pub_buf, "hi\n!");
  EXPECT_EQ(pub_len, 4u);
  EXPECT_TRUE(kdouble::traps().empty());

  // stdout is read again for the newline: redirected in between, the
  // newline lands in the new stream.
  ridid::stdout = &ridid::g_stdout;
  ridid::FILE* target = &mem;
  kdouble::script([&](const Trap&) {
    ridid::stdout = target;
    return 3;
  });
  EXPECT_EQ(ridid::puts("abc"), 0);
  EXPECT_EQ(console_bytes(), "abc");
  EXPECT_STREQ(pub_buf, "hi\n!\n");
}

TEST_F(OutputTest, FlushAndSetbufChangeNothing) {
  ridid::FILE before = ridid::g_stdout;
  char b[64];
  EXPECT_EQ(ridid::fflush(nullptr), 0);
  EXPECT_EQ(ridid::fflush(ridid::stdout), 0);
  EXPECT_EQ(ridid::fflush(&mem), 0);
  ridid::setbuf(ridid::stdout, b);
  ridid::setbuf(nullptr, nullptr);
  EXPECT_EQ(std::memcmp(&before, &ridid::g_stdout, sizeof before), 0);
  EXPECT_EQ(ridid::stdout, &ridid::g_stdout);
  EXPECT_TRUE(kdouble::traps().empty());
  EXPECT_EQ(ridid::g_heap_used, 0u);
}

}  // namespace
