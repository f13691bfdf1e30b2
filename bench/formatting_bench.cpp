// Formatting benchmark: runs one formatting call COUNT times.
//
// usage: formatting_bench MODE COUNT
// Modes: none (the loop alone), snprintf-int, snprintf-hex, snprintf-str,
// snprintf-mixed, printf-line (a short line on the console).
// The figures come from ridid-emu's instruction count and trace, compared
// across two counts by bench/formatting.sh.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

char g_buf[256];
volatile int g_sink;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    puts("usage: formatting_bench MODE COUNT");
    return 2;
  }
  const char* mode = argv[1];
  int count = atoi(argv[2]);
  int total = 0;

  if (strcmp(mode, "none") == 0) {
    for (int i = 0; i < count; ++i) total += i;
  } else if (strcmp(mode, "snprintf-int") == 0) {
    for (int i = 0; i < count; ++i) total += snprintf(g_buf, sizeof g_buf, "%d", 123456 - i * 7);
  } else if (strcmp(mode, "snprintf-hex") == 0) {
    for (int i = 0; i < count; ++i) total += snprintf(g_buf, sizeof g_buf, "%08x", 0xdeadbeefu + (unsigned)i);
  } else if (strcmp(mode, "snprintf-str") == 0) {
    for (int i = 0; i < count; ++i) total += snprintf(g_buf, sizeof g_buf, "%-12s|%.3s", "name", "value");
  } else if (strcmp(mode, "snprintf-mixed") == 0) {
    for (int i = 0; i < count; ++i) {
      total += snprintf(g_buf, sizeof g_buf, "%s: %5d items, id %p, %+d%%", "queue", i, (void*)g_buf, -i);
    }
  } else if (strcmp(mode, "printf-line") == 0) {
    for (int i = 0; i < count; ++i) total += printf("step %d: ok\n", i % 10);
  } else {
    puts("formatting_bench: unknown mode");
    return 2;
  }
  g_sink = total;
  return 0;
}
