// Ends the process the way its argument says; process_status.sh checks the
// status, the console and the files left in the root.
//   exit3   opens a file for writing, writes, stores another, exit(3)
//   exit261 exit(261): only the low 8 bits reach the status
//   abort   abort()
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

void say(const char* s) { write(1, s, strlen(s)); }

void handler() { say("handler ran\n"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 100;
  if (atexit(handler) != 0) return 101;
  if (strcmp(argv[1], "exit3") == 0) {
    FILE* kept = fopen("closed.txt", "w");
    FILE* lost = fopen("unclosed.txt", "w");
    if (kept == NULL || lost == NULL) return 102;
    fputs("stored", kept);
    fputs("never stored", lost);
    if (fclose(kept) != 0) return 103;
    say("before\n");
    exit(3);
  } else if (strcmp(argv[1], "exit261") == 0) {
    exit(261);
  } else if (strcmp(argv[1], "abort") == 0) {
    abort();
  }
  say("after\n");
  return 104;
}
