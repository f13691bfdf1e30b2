/* Strings and formatting, with a system call per line: argv[1] (default
 * 100000) lines built with snprintf, strcpy, strcat and strlen, each
 * written to standard output with one write. The same source builds for
 * ridid and for Linux i386. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char* const kWords[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot"};

int main(int argc, char** argv) {
  const int n = argc > 1 ? atoi(argv[1]) : 100000;
  char line[128], name[32];
  unsigned total = 0;
  for (int i = 0; i < n; ++i) {
    strcpy(name, kWords[i % 6]);
    strcat(name, "-");
    strcat(name, kWords[(i / 6) % 6]);
    const int len = snprintf(line, sizeof line, "%7d %-16s %08x %5u\n", i, name,
                             (unsigned)i * 2654435761u, (unsigned)strlen(name) * 100 + (unsigned)(i % 97));
    if (strcmp(name, "echo-echo") == 0) total += (unsigned)len;
    write(1, line, (size_t)len);
  }
  return (int)(total & 0x7f);
}
