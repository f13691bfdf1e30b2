// vprintf, and perror's line on stderr.
#include "errno.h"
#include "stdio.h"
#include "string.h"

namespace ridid {

int vprintf(const char* format, __builtin_va_list args) { return vfprintf(stdout, format, args); }

// The caller's text and ": " when it is not empty (a null or low text is
// empty), then the text of errno and a newline, those in one write.
void perror(const char* s) {
  size_t n = strlen(s);
  if (n != 0 && file_write_bytes(stderr, s, n) != 0) return;
  char line[24];  // the longest text of strerror is 15 bytes
  size_t at = 0;
  if (n != 0) line[at++] = ':', line[at++] = ' ';
  for (const char* text = strerror(errno); *text; ++text) line[at++] = *text;
  line[at++] = '\n';
  file_write_bytes(stderr, line, at);
}

}  // namespace ridid
