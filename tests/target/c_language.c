/* The runtime from a C program: every header compiles as C and the functions
 * link under their standard names. Reports "N passed, N failed". */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int passed, failed;

static void check(int ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    printf("FAIL %s\n", what);
  }
}

int main(int argc, char** argv) {
  char buf[64];
  char* mem = NULL;
  size_t mem_len = 0;
  FILE* f;
  char* copy;
  int n = 0;
  unsigned long v;
  char* end;

  check(argc == 2 && strcmp(argv[1], "c-arg") == 0, "argument vector");
  check(snprintf(buf, sizeof buf, "%d-%s-%x", -12, "ab", 255u) == 9 && strcmp(buf, "-12-ab-ff") == 0, "snprintf");
  copy = strdup("heap");
  check(copy != NULL && strlen(copy) == 4 && copy[4] == 0, "strdup and malloc");
  check(malloc(2000000) == NULL && errno == ENOMEM, "malloc beyond the arena sets errno");
  f = open_memstream(&mem, &mem_len);
  check(f != NULL && fprintf(f, "%s=%lld", "big", -9000000000LL) == 15, "fprintf onto a memory stream");
  check(mem_len == 15 && strcmp(mem, "big=-9000000000") == 0, "memory stream published");
  check(fclose(f) == 0, "fclose of a memory stream");
  check(sscanf("12 abc", "%d %s", &n, buf) == 2 && n == 12 && strcmp(buf, "abc") == 0, "sscanf");
  v = strtoul("0x1F", &end, 0);
  check(v == 31 && *end == 0, "strtoul");
  check(strtod("2.5", NULL) == 2.5, "strtod");
  check(abs(-4) == 4 && atoi(" -42x") == -42, "abs and atoi");
  check(open("/missing", O_RDONLY) < 0, "open of a missing file fails");
  check(strcmp(strerror(2), "no such file") == 0, "strerror");

  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
