// Both formatting engines as built for ridid, under ridid-emu: the i386 code
// paths (64-bit division from the compiler's builtins, the variadic ABI),
// the console packet, and printf redirected to a memory stream.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "harness.h"

namespace {

char g_big[70000];

#define CHECK_SN(want, ...)                                  \
  do {                                                       \
    char buf_[128];                                          \
    int n_ = snprintf(buf_, sizeof buf_, __VA_ARGS__);       \
    CHECK_EQ(n_, (int)strlen(want));                         \
    CHECK_STR(buf_, want);                                   \
  } while (0)

void string_engine() {
  CHECK_SN("-2147483648", "%d", (int)0x80000000);
  CHECK_SN("4294967295|ffffffff|FFFFFFFF", "%u|%x|%X", -1, -1, -1);
  CHECK_SN("+0042|42   |   42", "%+05d|%-5d|%5d", 42, 42, 42);
  CHECK_SN("    -007", "%08.3d", -7);
  CHECK_SN("000000ff|      ff", "%0*.*x|%0*.*x", 8, -1, 255, 8, 2, 255);
  CHECK_SN("0x0|0xabc", "%p|%10p", (void*)0, (void*)0xabc);
  CHECK_SN("(null)|(nu|   hello|hello", "%s|%.3s|%8s|%-8s", (char*)0, (char*)0, "hello", "hello");
  CHECK_SN("      hi", "%-*s", -8, "hi");
  CHECK_SN("5|0", "%lld|%d", 5, 0, 7);
  CHECK_SN("%hd|%#x|% d|42", "%hd|%#x|% d|%d", 42);
  CHECK_SN("a", "a%5.");

  char small[8];
  memset(small, '#', sizeof small);
  CHECK_EQ(snprintf(small, 4, "%5d", 42), 5);
  CHECK_BYTES(small, 5, "   \0#", 5);
  CHECK_EQ(snprintf(NULL, 100, "abc"), 3);

  // sprintf stores at most 65535 bytes and the terminator.
  memset(g_big, '#', sizeof g_big);
  CHECK_EQ(sprintf(g_big, "%70000d", 1), 70000);
  CHECK_EQ(g_big[65534], ' ');
  CHECK_EQ(g_big[65535], '\0');
  CHECK_EQ(g_big[65536], '#');
}

void stream_engine_on_memory() {
  char* p = NULL;
  size_t n = 0;
  FILE* m = open_memstream(&p, &n);
  CHECK(m != NULL);

  CHECK_EQ(fprintf(m, "%lld", (long long)0x8000000000000000ull), 20);
  CHECK_STR(p, "-9223372036854775808");
  m->len = 0;
  CHECK_EQ(fprintf(m, "%llu %llx", 0xffffffffffffffffull, 0xffffffffffffffffull), 37);
  CHECK_STR(p, "18446744073709551615 ffffffffffffffff");
  m->len = 0;
  CHECK_EQ(fprintf(m, "%llu|%lld|%d", 10000000000ull, -1234567890123ll, 7), 28);
  CHECK_STR(p, "10000000000|-1234567890123|7");
  m->len = 0;
  CHECK_EQ(fprintf(m, "%8.3d|%10.6p|%5.2s|%05d", -5, (void*)0xabc, "abc", 42), 31);
  CHECK_STR(p, "    -005|  0x000abc|   ab|   42");
  m->len = 0;
  // %-5d is text and takes nothing; %s gets the low pointer, an empty string.
  CHECK_EQ(fprintf(m, "%-5d|%X|%s", (char*)16), 8);
  CHECK_STR(p, "%-5d|%X|");

  // No packet on a memory stream: %c at the start is a plain character.
  m->len = 0;
  CHECK_EQ(fprintf(m, "%c%c", 'a', 'b', 'c'), 2);
  CHECK_STR(p, "ab");
  CHECK_EQ(fclose(m), 0);
}

void stream_engine_on_console() {
  // The packet is not counted; the emulator takes it off the console.
  CHECK_EQ(printf("%c", 1, 2, 3), 0);
  CHECK_EQ(printf("%cok %d\n", 1, 2, 3, 77), 6);
  CHECK_EQ(fprintf(stderr, "%c", 4, 5, 6), 0);
  CHECK_EQ(printf("x%c\n", 'A'), 3);
  CHECK_EQ(fprintf(stdin, "%c", 1, 2, 3), -1);  // descriptor 0 takes no output
  CHECK_EQ(fprintf(stdin, "abc"), -1);

  // printf follows stdout wherever it points.
  char* p = NULL;
  size_t n = 0;
  FILE* saved = stdout;
  stdout = open_memstream(&p, &n);
  CHECK_EQ(printf("%c|%d", 'z', 9), 3);
  FILE* m = stdout;
  stdout = saved;
  CHECK_EQ(n, 3);
  CHECK_STR(p, "z|9");
  CHECK_EQ(fclose(m), 0);
}

}  // namespace

int main() {
  string_engine();
  stream_engine_on_memory();
  stream_engine_on_console();
  return harness::finish();
}
