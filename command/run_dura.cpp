// run: joins its arguments into one command line and hands it to the kernel.
//
//   run <program> [args...]
//
// Arguments are joined with single spaces (a null entry is skipped, an empty
// one keeps its separator); the line is at most 191 characters. The status
// is 0 when the kernel accepts the run request and 1 otherwise.
#include <stdio.h>
#include <string.h>

#include "ridid_services.h"

// The runtime's trap primitive; the run request has no wrapper of its own.
extern "C" int kernel_trap(int number, unsigned int ebx, unsigned int ecx, unsigned int edx);

enum { RIDID_SERVICES(RIDID_SERVICE_ENUM) };
enum { LINE_MAX = 191 };

static const char USAGE[] =
    "Usage: run <program.kav|program.bin|program.flat|program.dura|script.shell> [args...]";

// The command record read by the shell: magic, version 1, description,
// synopsis and the closing empty text. 73 bytes.
extern "C" __attribute__((section(".ridid.cmdmeta"), used, aligned(32)))
const char g_cmdmeta_0[73] =
    "KCMD"
    "\x01\x00\x00\x00"
    "Run a native program, .dura, or script.\0"
    "run <program> [args...]\0";  // the literal's own NUL closes the texts

// Length of the whole join of argv[1..argc-1]; counting stops once it is
// past the limit, so no sum can wrap.
static size_t joined_length(int argc, char** argv) {
  size_t total = 0;
  int words = 0;
  for (int i = 1; i < argc && total <= LINE_MAX; ++i) {
    if (!argv[i]) continue;
    if (words++ > 0) ++total;
    total += strlen(argv[i]);
  }
  return total;
}

int main(int argc, char** argv) {
  if (argc <= 1 || !argv[1] || !argv[1][0]) {
    puts(USAGE);
    return 1;
  }
  // A line the kernel would only get cut short is not sent at all.
  if (joined_length(argc, argv) > LINE_MAX) {
    puts("run: command line too long");
    return 1;
  }

  // The whole join fits (checked above), and argv[1] is not empty.
  char line[LINE_MAX + 1];
  line[0] = 0;
  for (int i = 1; i < argc; ++i) {
    if (!argv[i]) continue;
    if (line[0]) strcat(line, " ");
    strncat(line, argv[i], LINE_MAX - strlen(line));
  }

  if (kernel_trap(SYS_RUN, reinterpret_cast<unsigned long>(line), 0, 0) == 0) return 0;
  puts("run: failed");
  return 1;
}
