// Formatting benchmark: runs one formatting call COUNT times.
//
// usage: formatting_bench MODE COUNT   (formatting_bench list: the modes)
// Mode none is the loop alone; every other mode is one call of the table
// below, short numbers and strings first, as programs make them most.
// The figures come from ridid-emu's instruction count and trace, compared
// across two counts by bench/formatting.sh.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

char g_buf[256];
volatile int g_sink;

const char* const kModes[] = {
    "none",            "snprintf-int",   "snprintf-hex",  "snprintf-str",  "snprintf-mixed", "printf-line",
    "snprintf-text",   "snprintf-neg",   "snprintf-u",    "snprintf-X",    "snprintf-left",  "snprintf-zero",
    "snprintf-zero-neg", "snprintf-flags", "snprintf-mods", "snprintf-cut",  "sprintf-chars",  "printf-int",
    "printf-wide",     "printf-str",     "printf-text",   "printf-string", "fprintf-stderr",
};

__attribute__((noinline)) int call(int mode, int i) {
  unsigned u = (unsigned)i;
  switch (mode) {
    case 0: return i;
    case 1: return snprintf(g_buf, sizeof g_buf, "%d", 123456 - i * 7);
    case 2: return snprintf(g_buf, sizeof g_buf, "%08x", 0xdeadbeefu + u);
    case 3: return snprintf(g_buf, sizeof g_buf, "%-12s|%.3s", "name", "value");
    case 4: return snprintf(g_buf, sizeof g_buf, "%s: %5d items, id %p, %+d%%", "queue", i, (void*)g_buf, -i);
    case 5: return printf("step %d: ok\n", i % 10);
    case 6: return snprintf(g_buf, sizeof g_buf, "plain text only");
    case 7: return snprintf(g_buf, sizeof g_buf, "%d", -i);
    case 8: return snprintf(g_buf, sizeof g_buf, "%u", u);
    case 9: return snprintf(g_buf, sizeof g_buf, "%X", 0xbeefu + u);
    case 10: return snprintf(g_buf, sizeof g_buf, "%-6d", i);
    case 11: return snprintf(g_buf, sizeof g_buf, "%05d", i);
    case 12: return snprintf(g_buf, sizeof g_buf, "%05d", -i);
    case 13: return snprintf(g_buf, sizeof g_buf, "%X|%-6d|%05d", 0xbeefu + u, i, -i);
    case 14: return snprintf(g_buf, sizeof g_buf, "%zu %lld %c%%", u, i, 'a');
    case 15: return snprintf(g_buf, 4, "%s=%u", "truncated", u);
    case 16: return sprintf(g_buf, "[%c%c]", 'x', 'y');
    case 17: return printf("%d\n", i);
    case 18: return printf("%lld|%5.3u|%p\n", (long long)i * 1000000007LL, u, (void*)g_buf);
    case 19: return printf("%8s|%.2s|%x\n", "abc", "hello", u);
    case 20: return printf("no directives\n");
    case 21: return printf("%s\n", "a string line");
    default: return fprintf(stderr, "%s %d\n", "err", i);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int modes = (int)(sizeof kModes / sizeof kModes[0]);
  if (argc == 2 && strcmp(argv[1], "list") == 0) {
    for (int m = 0; m < modes; ++m) puts(kModes[m]);
    return 0;
  }
  if (argc < 3) {
    puts("usage: formatting_bench MODE COUNT (or list)");
    return 2;
  }
  int mode = 0;
  while (mode < modes && strcmp(argv[1], kModes[mode]) != 0) ++mode;
  if (mode == modes) {
    puts("formatting_bench: unknown mode");
    return 2;
  }
  int count = atoi(argv[2]);
  int total = 0;
  for (int i = 0; i < count; ++i) total += call(mode, i);
  g_sink = total;
  return 0;
}
