// File and memory streams on the host, with scripted kernel results.
#include "runtime_test.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

std::string c_string_at(uint32_t address) {
  return std::string(reinterpret_cast<const char*>(static_cast<uintptr_t>(address)));
}

std::vector<kdouble::Trap> traps_of(int nr) {
  std::vector<kdouble::Trap> found;
  for (const kdouble::Trap& t : kdouble::traps()) {
    if (t.nr == nr) found.push_back(t);
  }
  return found;
}

// The kernel opens every file as descriptor fd, and answers reads from data
// (at most the bytes asked for, then 0 at the end).
void script_file(int fd, std::string data) {
  auto content = std::make_shared<std::string>(std::move(data));
  auto offset = std::make_shared<size_t>(0);
  kdouble::script([=](const kdouble::Trap& t) -> int32_t {
    switch (t.nr) {
      case ridid::SYS_OPEN:
        return fd;
      case ridid::SYS_READ: {
        size_t n = std::min<size_t>(t.edx, content->size() - *offset);
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(t.ecx)), content->data() + *offset, n);
        *offset += n;
        return static_cast<int32_t>(n);
      }
      case ridid::SYS_LSEEK:
        *offset = t.ecx;
        return static_cast<int32_t>(t.ecx);
      default:
        return 0;
    }
  });
}

}  // namespace

class StreamsTest : public RuntimeTest {};

TEST_F(StreamsTest, FopenSelectsStandardStreamsAndModes) {
  EXPECT_EQ(ridid::fopen("-", "r"), ridid::stdin);
  EXPECT_EQ(ridid::fopen(nullptr, "r"), ridid::stdin);
  EXPECT_EQ(ridid::fopen("-", "w"), ridid::stdout);
  EXPECT_EQ(ridid::fopen("-", "wb"), ridid::stdout);
  EXPECT_EQ(ridid::fopen("-", "a"), nullptr);
  EXPECT_EQ(ridid::fopen("-", ""), nullptr);
  EXPECT_EQ(ridid::fopen("file", nullptr), nullptr);
  EXPECT_EQ(ridid::fopen("file", "a"), nullptr);
  EXPECT_EQ(ridid::fopen("file", "+r"), nullptr);
  EXPECT_EQ(ridid::fopen("file", ""), nullptr);
  // The current value of the variables is handed out, not the records.
  ridid::FILE other{};
  ridid::stdin = &other;
  EXPECT_EQ(ridid::fopen("-", "r"), &other);
  EXPECT_EQ(ridid::g_heap_used, 0u);
  EXPECT_TRUE(kdouble::traps().empty());

  // Modes beginning with r open the file read-only, whatever follows.
  for (const char* mode : {"r", "rb", "r+", "rw"}) {
    kdouble::reset();
    script_file(7, "");
    ridid::FILE* f = ridid::fopen("data/in.txt", mode);
    ASSERT_NE(f, nullptr) << mode;
    EXPECT_EQ(f->kind, ridid::FILE_FD);
    EXPECT_EQ(f->fd, 7);
    EXPECT_EQ(f->pos, 0);
    EXPECT_EQ(f->eof, 0);
    EXPECT_EQ(f->err, 0);
    EXPECT_EQ(f->path, nullptr);
    ASSERT_EQ(kdouble::traps().size(), 1u);
    EXPECT_EQ(kdouble::traps()[0].nr, ridid::SYS_OPEN);
    EXPECT_EQ(c_string_at(kdouble::traps()[0].ebx), "data/in.txt");
    EXPECT_EQ(kdouble::traps()[0].ecx, 0u);
  }

  // A refused open gives null and makes no record.
  kdouble::reset();
  kdouble::script([](const kdouble::Trap&) { return -2; });
  size_t used = ridid::g_heap_used;
  EXPECT_EQ(ridid::fopen("missing", "r"), nullptr);
  EXPECT_EQ(ridid::g_heap_used, used);

  // Modes beginning with w touch no file at all.
  for (const char* mode : {"w", "wb", "w+", "wr"}) {
    kdouble::reset();
    ridid::FILE* f = ridid::fopen("out/new.txt", mode);
    ASSERT_NE(f, nullptr) << mode;
    EXPECT_EQ(f->kind, ridid::FILE_WRITE);
    ASSERT_NE(f->path, nullptr);
    EXPECT_STREQ(f->path, "out/new.txt");
    EXPECT_EQ(f->buf, nullptr);
    EXPECT_EQ(f->len, 0u);
    EXPECT_EQ(f->cap, 0u);
    EXPECT_TRUE(kdouble::traps().empty());
  }
}

TEST_F(StreamsTest, FopenOutOfMemory) {
  // The record does not fit after a successful open: the descriptor is closed.
  script_file(9, "");
  ridid::g_heap_used = ridid::HEAP_SIZE - 40;
  EXPECT_EQ(ridid::fopen("in", "r"), nullptr);
  EXPECT_EQ(ridid::errno, 12);
  std::vector<kdouble::Trap> closes = traps_of(ridid::SYS_CLOSE);
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].ebx, 9u);

  // The record fits (48 bytes) but the path copy does not.
  kdouble::reset();
  ridid::errno = 0;
  ridid::g_heap_used = ridid::HEAP_SIZE - 56;
  EXPECT_EQ(ridid::fopen("a-long-path-name", "w"), nullptr);
  EXPECT_EQ(ridid::errno, 12);
  EXPECT_TRUE(kdouble::traps().empty());

  char* p = reinterpret_cast<char*>(1);
  size_t n = 77;
  ridid::g_heap_used = ridid::HEAP_SIZE - 40;
  EXPECT_EQ(ridid::open_memstream(&p, &n), nullptr);
  EXPECT_EQ(p, reinterpret_cast<char*>(1));
  EXPECT_EQ(n, 77u);
}

TEST_F(StreamsTest, MemoryStreamsPublishAndHandOver) {
  char* p = reinterpret_cast<char*>(1);
  size_t n = 99;
  EXPECT_EQ(ridid::open_memstream(nullptr, &n), nullptr);
  EXPECT_EQ(n, 99u);
  EXPECT_EQ(ridid::open_memstream(&p, nullptr), nullptr);
  EXPECT_EQ(p, reinterpret_cast<char*>(1));

  ridid::FILE* f = ridid::open_memstream(&p, &n);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->kind, ridid::FILE_MEM);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ridid::fputs("hi", f), 2);
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "hi");
  EXPECT_EQ(n, 2u);

  // rewind clears the indicators and keeps the content; writes append.
  f->eof = 1;
  f->err = 1;
  ridid::rewind(f);
  EXPECT_EQ(ridid::feof(f), 0);
  EXPECT_EQ(ridid::ferror(f), 0);
  EXPECT_EQ(ridid::fputs("!", f), 1);
  EXPECT_STREQ(p, "hi!");
  EXPECT_EQ(n, 3u);

  // Reading and positioning refuse memory streams without touching them.
  char byte = 0;
  EXPECT_EQ(ridid::fread(&byte, 1, 1, f), 0u);
  EXPECT_EQ(ridid::fgetc(f), -1);
  EXPECT_EQ(ridid::feof(f), 0);
  EXPECT_EQ(ridid::fseek(f, 0, SEEK_SET), -1);
  EXPECT_EQ(ridid::ftell(f), -1);

  char* kept = p;
  EXPECT_EQ(ridid::fclose(f), 0);
  EXPECT_EQ(p, kept);
  EXPECT_EQ(n, 3u);
  EXPECT_STREQ(p, "hi!");
  EXPECT_TRUE(kdouble::traps().empty());

  // Closed before any write: the variables stay null and 0.
  ridid::FILE* g = ridid::open_memstream(&p, &n);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(ridid::fclose(g), 0);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(n, 0u);
}

TEST_F(StreamsTest, FcloseStoresWriteStreamsWhole) {
  kdouble::script([](const kdouble::Trap& t) { return t.nr == ridid::SYS_WRITEFILE ? 3 : 0; });
  ridid::FILE* f = ridid::fopen("out.txt", "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ridid::fputs("ab", f), 2);
  EXPECT_EQ(ridid::fputc('c', f), 'c');
  EXPECT_TRUE(kdouble::traps().empty());  // nothing reaches the kernel before fclose

  // The arguments are checked inside the script, while the buffers still exist.
  std::string path_seen, data_seen;
  uint32_t count_seen = 99;
  kdouble::script([&](const kdouble::Trap& t) {
    if (t.nr == ridid::SYS_WRITEFILE) {
      path_seen = c_string_at(t.ebx);
      data_seen.assign(reinterpret_cast<const char*>(static_cast<uintptr_t>(t.ecx)), t.edx);
      count_seen = t.edx;
    }
    return 0;
  });
  EXPECT_EQ(ridid::fclose(f), 0);
  ASSERT_EQ(kdouble::traps().size(), 1u);
  EXPECT_EQ(kdouble::traps()[0].nr, ridid::SYS_WRITEFILE);
  EXPECT_EQ(path_seen, "out.txt");
  EXPECT_EQ(data_seen, "abc");
  EXPECT_EQ(count_seen, 3u);

  // Nothing written: an empty file is stored all the same.
  kdouble::reset();
  ridid::FILE* empty = ridid::fopen("empty.txt", "w");
  ASSERT_NE(empty, nullptr);
  path_seen.clear();
  count_seen = 99;
  kdouble::script([&](const kdouble::Trap& t) {
    if (t.nr == ridid::SYS_WRITEFILE) {
      path_seen = c_string_at(t.ebx);
      data_seen = c_string_at(t.ecx);
      count_seen = t.edx;
    }
    return 0;
  });
  EXPECT_EQ(ridid::fclose(empty), 0);
  EXPECT_EQ(path_seen, "empty.txt");
  EXPECT_NE(kdouble::traps()[0].ecx, 0u);
  EXPECT_EQ(data_seen, "");
  EXPECT_EQ(count_seen, 0u);

  // A refused store gives -1; any negative kernel result counts.
  for (int answer : {-1, -2, INT32_MIN}) {
    kdouble::reset();
    ridid::FILE* g = ridid::fopen("no/such/dir/f", "w");
    ASSERT_NE(g, nullptr);
    ridid::fputs("x", g);
    kdouble::script([answer](const kdouble::Trap&) { return answer; });
    EXPECT_EQ(ridid::fclose(g), -1) << answer;
  }

  // A write stream that lost its path stores nothing and fails.
  kdouble::reset();
  ridid::FILE* h = ridid::fopen("p", "w");
  ASSERT_NE(h, nullptr);
  h->path = nullptr;
  EXPECT_EQ(ridid::fclose(h), -1);
  EXPECT_TRUE(kdouble::traps().empty());
}

TEST_F(StreamsTest, FcloseOfDescriptorsAndStandardStreams) {
  EXPECT_EQ(ridid::fclose(nullptr), -1);
  EXPECT_EQ(ridid::fclose(ridid::stdin), 0);
  EXPECT_EQ(ridid::fclose(ridid::stdout), 0);
  EXPECT_EQ(ridid::fclose(ridid::stderr), 0);
  EXPECT_TRUE(kdouble::traps().empty());
  EXPECT_EQ(ridid::stdout, &ridid::g_stdout);
  EXPECT_EQ(ridid::g_stdout.kind, ridid::FILE_FD);
  EXPECT_EQ(ridid::g_stdout.fd, 1);

  // A memory stream put in stdout's place is not closed either.
  char* p = nullptr;
  size_t n = 0;
  ridid::FILE* m = ridid::open_memstream(&p, &n);
  ridid::stdout = m;
  EXPECT_EQ(ridid::fclose(m), 0);
  EXPECT_EQ(ridid::puts("still"), 0);
  EXPECT_STREQ(p, "still\n");
  ridid::stdout = &ridid::g_stdout;

  // A file's descriptor, 3 or more, is closed and the kernel's answer is the result.
  for (int answer : {0, -9}) {
    kdouble::reset();
    script_file(3, "");
    ridid::FILE* f = ridid::fopen("in", "r");
    ASSERT_NE(f, nullptr);
    kdouble::script([answer](const kdouble::Trap&) { return answer; });
    EXPECT_EQ(ridid::fclose(f), answer);
    std::vector<kdouble::Trap> closes = traps_of(ridid::SYS_CLOSE);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].ebx, 3u);
  }

  // A stream on a standard descriptor never closes it.
  for (int fd : {0, 1, 2, -4}) {
    kdouble::reset();
    script_file(fd, "");
    ridid::FILE* f = ridid::fopen("odd", "r");
    if (fd < 0) {
      EXPECT_EQ(f, nullptr);
      continue;
    }
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ridid::fclose(f), 0);
    EXPECT_TRUE(traps_of(ridid::SYS_CLOSE).empty()) << fd;
  }
}

TEST_F(StreamsTest, FreadCountsWholeItemsAndSetsEof) {
  script_file(4, "0123456789");
  ridid::FILE* f = ridid::fopen("ten", "r");
  ASSERT_NE(f, nullptr);
  char buf[16] = {};
  EXPECT_EQ(ridid::fread(buf, 4, 3, f), 2u);  // 10 of 12 bytes: two whole items
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_EQ(f->pos, 10);
  EXPECT_EQ(ridid::feof(f), 1);  // a short read counts as the end
  std::vector<kdouble::Trap> reads = traps_of(ridid::SYS_READ);
  ASSERT_EQ(reads.size(), 1u);  // one read, no loop
  EXPECT_EQ(reads[0].ebx, 4u);
  EXPECT_EQ(reads[0].edx, 12u);

  kdouble::reset();
  script_file(4, "abcdef");
  ridid::FILE* g = ridid::fopen("six", "r");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(ridid::fread(buf, 3, 2, g), 2u);
  EXPECT_EQ(g->pos, 6);
  EXPECT_EQ(ridid::feof(g), 0);  // exactly the bytes asked for
  EXPECT_EQ(ridid::fread(buf, 1, 4, g), 0u);
  EXPECT_EQ(ridid::feof(g), 1);
  EXPECT_EQ(g->pos, 6);

  // Refusals read nothing and change nothing.
  kdouble::reset();
  EXPECT_EQ(ridid::fread(nullptr, 1, 1, g), 0u);
  EXPECT_EQ(ridid::fread(buf, 0, 1, g), 0u);
  EXPECT_EQ(ridid::fread(buf, 1, 0, g), 0u);
  EXPECT_EQ(ridid::fread(buf, 1, 1, nullptr), 0u);
  EXPECT_EQ(ridid::fread(buf, 0x10000, 0x10000, g), 0u);  // the product overflows
  EXPECT_EQ(ridid::fread(buf, 0x80000000u, 2, g), 0u);
  EXPECT_TRUE(kdouble::traps().empty());

  // A kernel error reads as the end.
  g->eof = 0;
  kdouble::script([](const kdouble::Trap&) { return -5; });
  EXPECT_EQ(ridid::fread(buf, 1, 4, g), 0u);
  EXPECT_EQ(ridid::feof(g), 1);
  EXPECT_EQ(ridid::ferror(g), 0);
  EXPECT_EQ(g->pos, 6);
}

TEST_F(StreamsTest, FgetcAndGetchar) {
  script_file(6, std::string("\xff" "A\0", 3));
  ridid::FILE* f = ridid::fopen("bytes", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ridid::fgetc(f), 255);
  EXPECT_EQ(ridid::fgetc(f), 'A');
  EXPECT_EQ(ridid::fgetc(f), 0);
  EXPECT_EQ(f->pos, 3);
  EXPECT_EQ(ridid::feof(f), 0);
  EXPECT_EQ(ridid::fgetc(f), -1);
  EXPECT_EQ(ridid::feof(f), 1);
  EXPECT_EQ(f->pos, 3);
  for (const kdouble::Trap& t : traps_of(ridid::SYS_READ)) {
    EXPECT_EQ(t.ebx, 6u);
    EXPECT_EQ(t.edx, 1u);  // one read per byte
  }

  // getchar reads the stream stdin points to now: descriptor 0 first.
  kdouble::reset();
  kdouble::script([](const kdouble::Trap& t) {
    if (t.nr != ridid::SYS_READ) return 0;
    *reinterpret_cast<char*>(static_cast<uintptr_t>(t.ecx)) = 'k';
    return 1;
  });
  EXPECT_EQ(ridid::getchar(), 'k');
  ASSERT_EQ(kdouble::traps().size(), 1u);
  EXPECT_EQ(kdouble::traps()[0].ebx, 0u);
  EXPECT_EQ(ridid::g_stdin.pos, 1);

  ridid::stdin = f;
  kdouble::reset();
  EXPECT_EQ(ridid::getchar(), -1);  // f is at its end: the kernel says 0
  EXPECT_EQ(kdouble::traps()[0].ebx, 6u);
  ridid::stdin = nullptr;
  kdouble::reset();
  EXPECT_EQ(ridid::getchar(), -1);
  EXPECT_TRUE(kdouble::traps().empty());
  EXPECT_EQ(ridid::fgetc(nullptr), -1);
}

// The position is a 32-bit counter: reads past 2^31 - 1 wrap it, as any
// 32-bit sum does, instead of overflowing.
TEST_F(StreamsTest, PositionCounterWraps) {
  script_file(8, "");
  ridid::FILE* f = ridid::fopen("big", "r");
  ASSERT_NE(f, nullptr);
  kdouble::script([](const kdouble::Trap& t) -> int32_t {
    if (t.nr == ridid::SYS_LSEEK) return INT32_MAX - 1;
    if (t.nr != ridid::SYS_READ) return 0;
    std::memset(reinterpret_cast<void*>(static_cast<uintptr_t>(t.ecx)), 'z', t.edx);
    return static_cast<int32_t>(t.edx);
  });
  ASSERT_EQ(ridid::fseek(f, INT32_MAX - 1, SEEK_SET), 0);
  EXPECT_EQ(ridid::fgetc(f), 'z');
  EXPECT_EQ(ridid::ftell(f), INT32_MAX);
  EXPECT_EQ(ridid::fgetc(f), 'z');
  EXPECT_EQ(ridid::ftell(f), INT32_MIN);
  char buf[4];
  ridid::fseek(f, INT32_MAX - 1, SEEK_SET);
  EXPECT_EQ(ridid::fread(buf, 1, 4, f), 4u);
  EXPECT_EQ(ridid::ftell(f), INT32_MIN + 2);
}

TEST_F(StreamsTest, SeekTellAndRewind) {
  script_file(3, "0123456789");
  ridid::FILE* f = ridid::fopen("ten", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ridid::ftell(f), 0);
  char buf[8];
  EXPECT_EQ(ridid::fread(buf, 1, 5, f), 5u);
  EXPECT_EQ(ridid::ftell(f), 5);

  f->eof = 1;
  kdouble::reset();
  kdouble::script([](const kdouble::Trap& t) { return t.nr == ridid::SYS_LSEEK ? 100 : 0; });
  EXPECT_EQ(ridid::fseek(f, 40, SEEK_CUR), 0);
  ASSERT_EQ(kdouble::traps().size(), 1u);
  EXPECT_EQ(kdouble::traps()[0].ebx, 3u);
  EXPECT_EQ(kdouble::traps()[0].ecx, 40u);
  EXPECT_EQ(kdouble::traps()[0].edx, 1u);
  EXPECT_EQ(f->pos, 100);  // the kernel's answer, not offset arithmetic
  EXPECT_EQ(ridid::feof(f), 0);
  EXPECT_EQ(ridid::ftell(f), 100);
  EXPECT_EQ(kdouble::traps().size(), 1u);  // ftell asks no one

  // whence passes through unchanged; a refusal, -1 included, changes nothing.
  for (int answer : {-22, -1}) {
    f->eof = 1;
    kdouble::reset();
    kdouble::script([answer](const kdouble::Trap&) { return answer; });
    EXPECT_EQ(ridid::fseek(f, -3, 77), -1);
    EXPECT_EQ(kdouble::traps()[0].ecx, static_cast<uint32_t>(-3));
    EXPECT_EQ(kdouble::traps()[0].edx, 77u);
    EXPECT_EQ(f->pos, 100);
    EXPECT_EQ(ridid::feof(f), 1);
  }

  // rewind seeks to 0 and clears both indicators, even when the seek fails.
  f->err = 1;
  kdouble::reset();
  kdouble::script([](const kdouble::Trap&) { return -1; });
  ridid::rewind(f);
  EXPECT_EQ(f->pos, 100);
  EXPECT_EQ(ridid::feof(f), 0);
  EXPECT_EQ(ridid::ferror(f), 0);
  kdouble::reset();
  f->eof = 1;
  ridid::rewind(f);
  ASSERT_EQ(kdouble::traps().size(), 1u);
  EXPECT_EQ(kdouble::traps()[0].nr, ridid::SYS_LSEEK);
  EXPECT_EQ(kdouble::traps()[0].ecx, 0u);
  EXPECT_EQ(kdouble::traps()[0].edx, 0u);
  EXPECT_EQ(f->pos, 0);
  EXPECT_EQ(ridid::feof(f), 0);

  // The standard streams are never repositioned.
  kdouble::reset();
  ridid::g_stdin.eof = 1;
  ridid::g_stdin.err = 1;
  EXPECT_EQ(ridid::fseek(ridid::stdin, 0, SEEK_SET), -1);
  EXPECT_EQ(ridid::ftell(ridid::stdin), -1);
  EXPECT_EQ(ridid::ftell(ridid::stdout), -1);
  EXPECT_EQ(ridid::fseek(ridid::stderr, 0, SEEK_SET), -1);
  ridid::rewind(ridid::stdin);
  EXPECT_EQ(ridid::g_stdin.eof, 0);
  EXPECT_EQ(ridid::g_stdin.err, 0);
  EXPECT_EQ(ridid::fseek(nullptr, 0, SEEK_SET), -1);
  EXPECT_EQ(ridid::ftell(nullptr), -1);
  ridid::rewind(nullptr);
  script_file(2, "");
  ridid::FILE* two = ridid::fopen("on-two", "r");  // a file the kernel put on descriptor 2
  ASSERT_NE(two, nullptr);
  kdouble::reset();
  two->eof = 1;
  EXPECT_EQ(ridid::fseek(two, 0, SEEK_SET), -1);
  EXPECT_EQ(ridid::ftell(two), -1);
  ridid::rewind(two);
  EXPECT_EQ(two->eof, 0);
  ridid::FILE* w = ridid::fopen("w", "w");
  EXPECT_EQ(ridid::fseek(w, 0, SEEK_SET), -1);
  EXPECT_EQ(ridid::ftell(w), -1);
  EXPECT_TRUE(kdouble::traps().empty());

  EXPECT_EQ(ridid::feof(nullptr), 1);
  EXPECT_EQ(ridid::ferror(nullptr), 1);
  EXPECT_EQ(ridid::ferror(ridid::stdout), 0);
}
