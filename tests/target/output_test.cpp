// The output path in a real process: the standard streams as the image
// initialises them, console writes through the kernel, and stdout pointed at
// a memory record. output_console.sh checks this program's first console
// writes through the emulator's trace.
#include <stdio.h>
#include <string.h>

#include "harness.h"

namespace {

void check_standard_records() {
  // Nothing ran before main: the records are as the image holds them.
  CHECK(stdin != stdout && stdout != stderr && stdin != stderr);
  const FILE* records[] = {stdin, stdout, stderr};
  const int fds[] = {0, 1, 1};
  for (int i = 0; i < 3; ++i) {
    const FILE* f = records[i];
    CHECK_EQ(f->kind, FILE_FD);
    CHECK_EQ(f->fd, fds[i]);
    CHECK(f->path == nullptr && f->buf == nullptr && f->out_buf == nullptr && f->out_len == nullptr);
    CHECK_EQ(f->len + f->cap + f->err + f->pos + f->eof, 0);
  }
}

// stdout pointed at a memory record: puts, putchar and fputs follow it, and
// the console gets nothing.
void check_redirect() {
  char* buf = nullptr;
  size_t len = 0;
  FILE mem = {FILE_MEM, 0, nullptr, nullptr, 0, 0, &buf, &len, 0, 0, 0};
  FILE* saved = stdout;
  stdout = &mem;
  int a = puts("hi");
  int b = putchar(0x121);
  int c = puts(reinterpret_cast<const char*>(16));  // an absent string: just the newline
  int d = printf("%d", 42);
  stdout = saved;
  CHECK_EQ(a, 0);
  CHECK_EQ(b, 0x121);
  CHECK_EQ(c, 0);
  CHECK_EQ(d, 2);
  CHECK(buf != nullptr);
  if (buf) CHECK_STR(buf, "hi\n!\n42");
  CHECK_EQ(len, 7);
  CHECK_EQ(mem.cap, 256);
  CHECK(buf == mem.buf);
}

}  // namespace

int main() {
  // The console block, before any other output: "alpha\nbeta g\ndelta\n\n" in
  // the writes 5, 1, 5, 1, 1, 6, 1.
  int r1 = puts("alpha");
  int r2 = fputs("beta ", stderr);
  int r3 = putchar('g');
  int r4 = fputc(0x10a, stdout);
  size_t r5 = fwrite("delta\n", 3, 2, stdout);
  int r6 = puts("");
  CHECK_EQ(r1, 0);
  CHECK_EQ(r2, 5);
  CHECK_EQ(r3, 'g');
  CHECK_EQ(r4, 0x10a);
  CHECK_EQ(r5, 2);
  CHECK_EQ(r6, 0);

  check_standard_records();
  check_redirect();
  return harness::finish();
}
