// Streams through the real kernel under ridid-emu, in a fresh empty root:
// files stored whole at fclose, read back with reads and seeks, and fscanf.
#include <fcntl.h>
#include <stdio.h>

#include "harness.h"

const char* slurp(const char* path) {  // the whole of a file as the kernel has it, or "(none)"
  static char buf[300];
  int fd = open(path, O_RDONLY), n = fd < 0 ? -1 : read(fd, buf, sizeof buf - 1);
  return fd >= 0 && close(fd), n < 0 ? "(none)" : (buf[n] = 0, buf);
}

int main() {
  char all[256], buf[300];
  int a = 0, b = -1;
  FILE* f = fopen("out.txt", "w");  // stored at fclose, and only there, in place of what was there
  CHECK(fputs("first ", f) == 6 && fprintf(f, "%d-%s", 42, "second") == 9 && strcmp(slurp("out.txt"), "(none)") == 0);
  CHECK(fclose(f) == 0 && strcmp(slurp("out.txt"), "first 42-second") == 0 && (f = fopen("out.txt", "wb")) && fputs("new", f) == 3);
  CHECK(strcmp(slurp("out.txt"), "first 42-second") == 0 && fclose(f) == 0 && strcmp(slurp("out.txt"), "new") == 0);
  CHECK((f = fopen("no/such/dir/file.txt", "w")) && fputs("lost", f) == 4 && fclose(f) == -1 && fopen("missing.txt", "r") == NULL);
  for (int i = 0; i < 256; ++i) all[i] = (char)i;
  CHECK((f = fopen("bytes.bin", "w")) && fwrite(all, 1, 256, f) == 256 && fclose(f) == 0 && (f = fopen("bytes.bin", "r")) && f->fd == 3);
  CHECK(fgetc(f) == 0 && fgetc(f) == 1 && ftell(f) == 2 && fread(buf, 2, 2, f) == 2 && feof(f) == 0 && ftell(f) == 6);
  CHECK(fseek(f, -1, SEEK_END) == 0 && ftell(f) == 255 && fgetc(f) == 255 && feof(f) == 0 && fgetc(f) == -1 && feof(f) == 1);
  CHECK(fseek(f, 250, SEEK_SET) == 0 && feof(f) == 0 && fread(buf, 4, 3, f) == 1 && feof(f) == 1 && ftell(f) == 256);
  CHECK(memcmp(buf, all + 250, 6) == 0 && fseek(f, -300, SEEK_CUR) == -1 && fseek(f, 0, 7) == -1 && ftell(f) == 256 && feof(f) == 1);
  CHECK((rewind(f), ftell(f)) == 0 && feof(f) == 0 && fread(buf, 1, 256, f) == 256 && memcmp(buf, all, 256) == 0 && fclose(f) == 0);
  f = (writefile("nums.txt", "1,2 3", 5), fopen("nums.txt", "r"));  // fscanf: a token per call
  CHECK(fscanf(f, "%d,%d %d", &a, &b, &b) == 2 && b == 2 && fscanf(f, "%d", &a) == 1 && a == 3 && fscanf(f, "%d", &a) == -1 && feof(f));
  CHECK(fclose(f) == 0 && fscanf(stdin, "%d", &a) == -1 && feof(stdin));
  return finish();
}
