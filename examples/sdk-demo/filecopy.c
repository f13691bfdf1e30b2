/* filecopy SRC DST: copies a file and says how many bytes it copied.
 *
 * A file opened with "w" is collected in the heap and stored whole when it is
 * closed, so the copy exists only once fclose has succeeded, and a file larger
 * than about half a megabyte does not fit in the 1 MiB heap. */
#include <stdio.h>

int main(int argc, char** argv)
{
  static char chunk[4096];
  FILE* in;
  FILE* out;
  size_t n;
  unsigned total = 0;

  if (argc != 3) {
    puts("usage: filecopy SRC DST");
    return 2;
  }
  in = fopen(argv[1], "r");
  if (!in) {
    printf("filecopy: cannot open %s\n", argv[1]);
    return 1;
  }
  out = fopen(argv[2], "w");
  if (!out) {
    printf("filecopy: cannot create %s\n", argv[2]);
    fclose(in);
    return 1;
  }
  /* One read per call and no read-ahead: a short read is not the end yet,
   * only a read that yields nothing is. */
  while ((n = fread(chunk, 1, sizeof chunk, in)) > 0) {
    if (fwrite(chunk, 1, n, out) != n) {
      puts("filecopy: out of memory");
      return 1;
    }
    total += n;
  }
  fclose(in);
  if (fclose(out) != 0) {
    printf("filecopy: cannot store %s\n", argv[2]);
    return 1;
  }
  printf("copied %u bytes\n", total);
  return 0;
}
