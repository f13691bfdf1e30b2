/* A small harness for programs run under ridid-emu, in C and C++. It writes
 * with write() only, leaning on none of the stream functions under test: a
 * line per failed check (with the two values of a CHECK_CMP), then "N passed,
 * N failed"; finish() gives the exit status, 1 after a failure. */
#include <string.h>
#include <unistd.h>

static int g_passed, g_failed;

static inline void say(const char* s) { write(1, s, strlen(s)); }

static inline void say_number(long long v) {
  char digits[24];
  int n = sizeof digits;
  unsigned long long u = v < 0 ? 0ull - (unsigned long long)v : (unsigned long long)v;
  do digits[--n] = (char)('0' + u % 10); while ((u /= 10) != 0);
  if (v < 0) digits[--n] = '-';
  write(1, digits + n, sizeof digits - n);
}

static inline int fail(int line, const char* what) { return say("FAIL line "), say_number(line), say(": "), say(what), ++g_failed, 0; }

static inline int check(int ok, int line, const char* what) { return ok ? ++g_passed : (fail(line, what), say("\n"), 0); }

/* A comparison that shows its two values, as whole numbers, when it fails. */
static inline int check_values(int ok, int line, const char* what, long long a, long long b) {
  return ok ? ++g_passed : (fail(line, what), say(": "), say_number(a), say(" and "), say_number(b), say("\n"), 0);
}

static inline int finish(void) { return say_number(g_passed), say(" passed, "), say_number(g_failed), say(" failed\n"), g_failed != 0; }

#define CHECK(cond) check((cond) != 0, __LINE__, #cond)
#define CHECK_CMP(a, op, b) check_values((a) op (b), __LINE__, #a " " #op " " #b, (long long)(a), (long long)(b))
