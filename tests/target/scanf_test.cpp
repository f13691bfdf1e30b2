// Formatted input under ridid-emu: fscanf over real descriptors (files made
// with writefile in the scratch root), and the engine on the real x86 build.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "harness.h"

namespace {

FILE* file_with(const char* path, const char* bytes, int n) {
  CHECK_EQ(writefile(path, bytes, n), n);
  FILE* f = fopen(path, "r");
  CHECK(f != NULL);
  return f;
}

// pos is read from the record itself: ftell reports it only for
// descriptors above 2, and which descriptor a file gets is the kernel's.
void tokens_pos_and_eof() {
  FILE* f = file_with("nums.txt", "42\n7\n", 5);
  int v = 0;
  CHECK_EQ(fscanf(f, "%d", &v), 1);
  CHECK_EQ(v, 42);
  CHECK_EQ(f->pos, 3);
  CHECK_EQ(feof(f), 0);
  CHECK_EQ(fscanf(f, "%d", &v), 1);
  CHECK_EQ(v, 7);
  CHECK_EQ(f->pos, 5);
  CHECK_EQ(fscanf(f, "%d", &v), -1);
  CHECK(feof(f) != 0);
  CHECK_EQ(f->pos, 5);
  CHECK_EQ(ferror(f), 0);
  CHECK_EQ(fclose(f), 0);

  // One token per call: the second %d finds nothing in "1".
  f = file_with("pair.txt", "1 2", 3);
  int a = 0, b = -1;
  CHECK_EQ(fscanf(f, "%d %d", &a, &b), 1);
  CHECK_EQ(a, 1);
  CHECK_EQ(b, -1);
  CHECK_EQ(fscanf(f, "%d", &b), 1);
  CHECK_EQ(b, 2);
  CHECK(feof(f) != 0);
  fclose(f);

  f = file_with("comma.txt", "1,2 3", 5);
  CHECK_EQ(fscanf(f, "%d,%d", &a, &b), 2);
  CHECK_EQ(a, 1);
  CHECK_EQ(b, 2);
  CHECK_EQ(f->pos, 4);
  CHECK_EQ(fscanf(f, "%x", &a), 1);
  CHECK_EQ(a, 3);
  fclose(f);

  // A NUL byte is a token of its own text: empty for the engine.
  f = file_with("nul.txt", "\0abc", 4);
  char w[300] = "unset";
  CHECK_EQ(fscanf(f, "%s", w), 0);
  CHECK_STR(w, "unset");
  CHECK_EQ(f->pos, 4);
  fclose(f);

  // Only delimiters: all read, then -1 with eof set.
  f = file_with("blank.txt", " \r\n\t \n", 6);
  CHECK_EQ(fscanf(f, "%s", w), -1);
  CHECK_EQ(f->pos, 6);
  CHECK(feof(f) != 0);
  fclose(f);

  // A token at end of input: scanned, and eof is set.
  f = file_with("abc.txt", "  abc", 5);
  CHECK_EQ(fscanf(f, "%s", w), 1);
  CHECK_STR(w, "abc");
  CHECK(feof(f) != 0);
  fclose(f);
}

void long_token_is_cut() {
  char text[302];
  memset(text, 'x', 300);
  text[300] = '\n';
  text[301] = '5';
  FILE* f = file_with("long.txt", text, 302);
  char w[300];
  memset(w, '#', sizeof w);
  CHECK_EQ(fscanf(f, "%s", w), 1);
  CHECK_EQ(strlen(w), 255);
  CHECK_EQ(w[256], '#');
  CHECK_EQ(f->pos, 301);  // the whole token and its newline are consumed
  int v = 0;
  CHECK_EQ(fscanf(f, "%d", &v), 1);
  CHECK_EQ(v, 5);
  fclose(f);
}

void only_descriptor_streams() {
  int v = 0;
  FILE* w = fopen("w.txt", "w");
  CHECK(w != NULL);
  CHECK_EQ(fscanf(w, "%d", &v), -1);
  CHECK_EQ(feof(w), 0);
  fclose(w);

  char* buf = NULL;
  size_t len = 0;
  FILE* m = open_memstream(&buf, &len);
  CHECK(m != NULL);
  fputs("12", m);
  CHECK_EQ(fscanf(m, "%d", &v), -1);
  CHECK_EQ(v, 0);
  fclose(m);
  CHECK_EQ(fscanf(NULL, "%d", &v), -1);

  // Standard input is a descriptor stream; under the emulator it is empty.
  CHECK_EQ(fscanf(stdin, "%d", &v), -1);
  CHECK(feof(stdin) != 0);
}

void engine_on_the_target() {
  int a = 0, b = 0;
  char s[16], t[16];
  CHECK_EQ(sscanf("12 abc", "%d %s", &a, s), 2);
  CHECK_EQ(a, 12);
  CHECK_STR(s, "abc");
  CHECK_EQ(sscanf("-0x1A 017", "%i %i", &a, &b), 2);
  CHECK_EQ(a, -26);
  CHECK_EQ(b, 15);
  CHECK_EQ(sscanf("4294967295", "%d", &a), 1);
  CHECK_EQ(a, -1);
  CHECK_EQ(sscanf("100%5", "%d%%%d", &a, &b), 2);
  CHECK_EQ(sscanf("5", "%ld", &a), 0);
  // A width bounds %s; the rest stays for the next directive.
  memset(s, '#', sizeof s);
  CHECK_EQ(sscanf("abcdef", "%3s%s", s, t), 2);
  CHECK_BYTES(s, 5, "abc\0#", 5);
  CHECK_STR(t, "def");
}

}  // namespace

int main() {
  tokens_pos_and_eof();
  long_token_is_cut();
  only_descriptor_streams();
  engine_on_the_target();
  return harness::finish();
}
