// The formatting engines as built for ridid, under ridid-emu: the shared case
// table (i386 argument words, 64-bit division from the compiler's builtins),
// after the console output that console_trace.sh reads in the emulator's
// trace: packets through the real trap, a write per piece.
#include <stdio.h>

#include "harness.h"
#include "../host/format_cases.h"

int main() {
  int results[] = {printf("%c", 1, 2, 3), printf("%cok %d\n", 1, 2, 3, 77), fprintf(stderr, "%c", 4, 5, 6), printf("x%c\n", 'A'),
                   puts("alpha"), fputs("beta ", stderr), putchar('g'), fputc(0x10a, stdout), (int)fwrite("delta\n", 3, 2, stdout)};
  static const int want[] = {0, 6, 0, 3, 0, 5, 'g', 0x10a, 2};
  for (unsigned i = 0; i < sizeof want / sizeof *want; ++i) CHECK_CMP(results[i], ==, want[i]);
  FILE* const records[] = {stdin, stdout, stderr};
  for (FILE* f : records) {  // the records as the image holds them: nothing ran before main
    CHECK(f->kind == FILE_FD && f->fd == (f != stdin) && !f->path && !f->buf && !f->out_buf && !f->out_len && stdout != stderr);
    CHECK(f->len + f->cap + f->err + f->pos + f->eof == 0);
  }
  run_format_cases([](const FormatCase& c, int engine, const char* out, int n) {  // the results, then the output
    check_values(0, __LINE__, c.format, n, c.len), say(engine == SN ? "  snprintf: " : "  fprintf: ");
    write(1, out, (unsigned)n < 64 ? n : 63), say(", want "), say(c.want), say("\n");
  });
  return finish();
}
