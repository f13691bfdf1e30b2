// File and memory streams under ridid-emu, on a fresh empty root.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "harness.h"

namespace {

// The whole content of a file through the kernel, or -1 when it cannot be
// opened.
int slurp(const char* path, char* buf, int cap) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  int total = 0;
  for (;;) {
    int n = read(fd, buf + total, cap - total);
    if (n <= 0) break;
    total += n;
  }
  close(fd);
  return total;
}

void write_streams_store_at_fclose() {
  char got[64];

  // Nothing on disk until fclose, then everything at once.
  FILE* f = fopen("out.txt", "w");
  CHECK(f != NULL);
  CHECK_EQ(fputs("first ", f), 6);
  CHECK_EQ(fprintf(f, "%d-%s", 42, "second"), 9);
  CHECK_EQ(slurp("out.txt", got, sizeof got), -1);
  CHECK_EQ(fclose(f), 0);
  int n = slurp("out.txt", got, sizeof got);
  CHECK_BYTES(got, n, "first 42-second", 15);

  // An existing file keeps its old content until the new one replaces it whole.
  CHECK_EQ(writefile("keep.txt", "old content", 11), 11);
  FILE* g = fopen("keep.txt", "wb");
  CHECK(g != NULL);
  CHECK_EQ(fputs("new", g), 3);
  n = slurp("keep.txt", got, sizeof got);
  CHECK_BYTES(got, n, "old content", 11);
  CHECK_EQ(fclose(g), 0);
  n = slurp("keep.txt", got, sizeof got);
  CHECK_BYTES(got, n, "new", 3);

  // No output still stores a file: an empty one.
  FILE* e = fopen("empty.txt", "w+");
  CHECK(e != NULL);
  CHECK_EQ(slurp("empty.txt", got, sizeof got), -1);
  CHECK_EQ(fclose(e), 0);
  CHECK_EQ(slurp("empty.txt", got, sizeof got), 0);

  // A path in a missing directory opens (nothing is touched) but cannot be stored.
  FILE* m = fopen("no/such/dir/file.txt", "w");
  CHECK(m != NULL);
  CHECK_EQ(fputs("lost", m), 4);
  CHECK_EQ(fclose(m), -1);
  CHECK_EQ(slurp("no/such/dir/file.txt", got, sizeof got), -1);

  // Bytes of every value, NULs included, arrive unchanged.
  char all[256];
  for (int i = 0; i < 256; ++i) all[i] = (char)i;
  FILE* b = fopen("bytes.bin", "w");
  CHECK_EQ(fwrite(all, 1, 256, b), 256u);
  CHECK_EQ(fclose(b), 0);
  char back[300];
  n = slurp("bytes.bin", back, sizeof back);
  CHECK_BYTES(back, n, all, 256);
}

void read_streams_advance_and_end() {
  CHECK(fopen("missing.txt", "r") == NULL);
  const char data[] = {'a', 'b', 'c', (char)0xFF, 'e', 'f', 'g', 'h', 'i', 'j'};
  CHECK_EQ(writefile("ten.bin", data, 10), 10);

  FILE* f = fopen("ten.bin", "r");
  CHECK(f != NULL);
  CHECK_EQ(ftell(f), 0);
  CHECK_EQ(fgetc(f), 'a');
  CHECK_EQ(fgetc(f), 'b');
  CHECK_EQ(fgetc(f), 'c');
  CHECK_EQ(fgetc(f), 255);  // not confused with -1
  CHECK_EQ(ftell(f), 4);
  CHECK_EQ(feof(f), 0);

  char buf[16];
  memset(buf, 0, sizeof buf);
  CHECK_EQ(fread(buf, 2, 2, f), 2u);  // exactly what was asked: no end yet
  CHECK_BYTES(buf, 4, "efgh", 4);
  CHECK_EQ(ftell(f), 8);
  CHECK_EQ(feof(f), 0);
  CHECK_EQ(fread(buf, 4, 3, f), 0u);  // 2 bytes of 12: no whole item, and the end
  CHECK_BYTES(buf, 2, "ij", 2);
  CHECK_EQ(ftell(f), 10);
  CHECK_EQ(feof(f), 1);
  CHECK_EQ(ferror(f), 0);
  CHECK_EQ(fgetc(f), -1);
  CHECK_EQ(ftell(f), 10);
  CHECK_EQ(fclose(f), 0);

  // A short read counts whole items and marks the end at once.
  FILE* g = fopen("ten.bin", "rb");
  CHECK_EQ(fread(buf, 4, 3, g), 2u);
  CHECK_EQ(ftell(g), 10);
  CHECK_EQ(feof(g), 1);
  CHECK_EQ(fclose(g), 0);

  // Read streams take no output; write streams give no input.
  FILE* h = fopen("ten.bin", "r+");
  CHECK_EQ(fputc('x', h), -1);
  CHECK_EQ(fprintf(h, "abc"), -1);
  CHECK_EQ(fclose(h), 0);
  FILE* w = fopen("w.txt", "w");
  CHECK_EQ(fgetc(w), -1);
  CHECK_EQ(fread(buf, 1, 1, w), 0u);
  CHECK_EQ(feof(w), 0);
  CHECK_EQ(fclose(w), 0);
}

void seek_tell_rewind() {
  CHECK_EQ(writefile("seek.txt", "0123456789", 10), 10);
  FILE* f = fopen("seek.txt", "r");
  CHECK(f != NULL);
  CHECK_EQ(fseek(f, 3, SEEK_SET), 0);
  CHECK_EQ(ftell(f), 3);
  CHECK_EQ(fgetc(f), '3');
  CHECK_EQ(fseek(f, 2, SEEK_CUR), 0);
  CHECK_EQ(ftell(f), 6);
  CHECK_EQ(fgetc(f), '6');
  CHECK_EQ(fseek(f, -1, SEEK_END), 0);
  CHECK_EQ(ftell(f), 9);

  char buf[4];
  CHECK_EQ(fread(buf, 1, 4, f), 1u);
  CHECK_EQ(feof(f), 1);
  CHECK_EQ(fseek(f, 0, SEEK_END), 0);  // a seek clears the end
  CHECK_EQ(feof(f), 0);
  CHECK_EQ(ftell(f), 10);

  // Refused seeks change nothing.
  f->eof = 1;
  CHECK_EQ(fseek(f, -100, SEEK_SET), -1);
  CHECK_EQ(fseek(f, 0, 7), -1);
  CHECK_EQ(ftell(f), 10);
  CHECK_EQ(feof(f), 1);

  rewind(f);
  CHECK_EQ(ftell(f), 0);
  CHECK_EQ(feof(f), 0);
  CHECK_EQ(fgetc(f), '0');
  CHECK_EQ(fclose(f), 0);

  // The standard streams are never positioned.
  CHECK_EQ(fseek(stdin, 0, SEEK_SET), -1);
  CHECK_EQ(ftell(stdin), -1);
  CHECK_EQ(fseek(stdout, 0, SEEK_SET), -1);
  CHECK_EQ(ftell(stdout), -1);
  CHECK_EQ(ftell(stderr), -1);
  stdin->eof = 1;
  rewind(stdin);
  CHECK_EQ(feof(stdin), 0);
}

void memory_streams() {
  char* p = (char*)1;
  size_t n = 99;
  FILE* m = open_memstream(&p, &n);
  CHECK(m != NULL);
  CHECK(p == NULL);
  CHECK_EQ(n, 0);

  CHECK_EQ(fputs("hi", m), 2);
  CHECK(p != NULL);
  CHECK_EQ(n, 2);
  CHECK_STR(p, "hi");
  CHECK_EQ(fprintf(m, " %05u", 7u), 6);  // no flags here: 05 is a width
  CHECK_EQ(n, 8);
  CHECK_STR(p, "hi     7");

  // Growing past 256 bytes moves the buffer; the new one is published.
  for (int i = 0; i < 300; ++i) fputc('a' + i % 26, m);
  CHECK_EQ(n, 308);
  CHECK_EQ(p[8], 'a');
  CHECK_EQ(p[307], 'a' + 299 % 26);
  CHECK_EQ(p[308], '\0');

  char* kept = p;
  CHECK_EQ(fclose(m), 0);
  CHECK(p == kept);
  CHECK_EQ(n, 308);
  CHECK_BYTES(p, 8, "hi     7", 8);

  char* q = (char*)1;
  size_t k = 5;
  FILE* empty = open_memstream(&q, &k);
  CHECK_EQ(fclose(empty), 0);
  CHECK(q == NULL);
  CHECK_EQ(k, 0);
  CHECK(open_memstream(NULL, &k) == NULL);
}

void standard_streams_survive_fclose() {
  CHECK(fopen("-", "r") == stdin);
  CHECK(fopen(NULL, "r") == stdin);
  CHECK(fopen("-", "w") == stdout);
  CHECK(fopen("-", "a") == NULL);
  CHECK_EQ(fclose(stdout), 0);
  CHECK_EQ(fclose(stderr), 0);
  CHECK_EQ(fclose(stdin), 0);
  CHECK_EQ(fclose(NULL), -1);
  CHECK_EQ(printf("still here\n"), 11);
  CHECK_EQ(fprintf(stderr, "and here\n"), 9);
  CHECK_EQ(puts("and puts"), 0);
}

}  // namespace

int main() {
  // A process's own files get descriptors from 3 on: 0 to 2 are standard.
  CHECK_EQ(writefile("first", "", 0), 0);
  int first = open("first", O_RDONLY);
  CHECK_EQ(first, 3);
  CHECK_EQ(close(first), 0);
  write_streams_store_at_fclose();
  read_streams_advance_and_end();
  seek_tell_rewind();
  memory_streams();
  standard_streams_survive_fclose();
  return harness::finish();
}
