// A tiny test harness for programs that run under ridid-emu.
//
// It reports through write() on descriptor 1 only, so it does not depend on
// the stream functions it may be testing. Each failed check prints one line;
// the program ends with "N passed, N failed" and exits 1 if anything failed.
#pragma once

#include <string.h>
#include <unistd.h>

namespace harness {

inline int g_passed = 0;
inline int g_failed = 0;

inline void out(const char* s) { write(1, s, strlen(s)); }

inline void out_number(long long v) {
  char digits[24];
  int n = 0;
  unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) out("-");
  while (n > 0) write(1, &digits[--n], 1);
}

inline void record(bool ok, const char* file, int line, const char* what) {
  if (ok) {
    ++g_passed;
    return;
  }
  ++g_failed;
  out("FAIL ");
  out(file);
  out(":");
  out_number(line);
  out(": ");
  out(what);
  out("\n");
}

// Bytes of two blocks equal; on failure prints both as escaped text.
inline void out_escaped(const char* p, size_t n) {
  static const char hex[] = "0123456789abcdef";
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c >= 32 && c < 127 && c != '\\') {
      write(1, &p[i], 1);
    } else {
      char e[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
      write(1, e, 4);
    }
  }
}

inline void record_bytes(const char* got, size_t got_len, const char* want, size_t want_len,
                         const char* file, int line, const char* what) {
  bool ok = got_len == want_len && memcmp(got, want, want_len) == 0;
  record(ok, file, line, what);
  if (!ok) {
    out("  got  [");
    out_escaped(got, got_len);
    out("]\n  want [");
    out_escaped(want, want_len);
    out("]\n");
  }
}

inline void record_eq(long long got, long long want, const char* file, int line, const char* what) {
  record(got == want, file, line, what);
  if (got != want) {
    out("  got ");
    out_number(got);
    out(", want ");
    out_number(want);
    out("\n");
  }
}

// A small deterministic generator (xorshift32) for the stress tests: the
// same seed gives the same cases on every run.
struct Random {
  unsigned int state;
  unsigned int next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  unsigned int below(unsigned int n) { return next() % n; }
};

inline int finish() {
  out_number(g_passed);
  out(" passed, ");
  out_number(g_failed);
  out(" failed\n");
  return g_failed == 0 ? 0 : 1;
}

}  // namespace harness

#define CHECK(cond) ::harness::record((cond), __FILE__, __LINE__, #cond)
#define CHECK_EQ(got, want) ::harness::record_eq((long long)(got), (long long)(want), __FILE__, __LINE__, #got " == " #want)
// Compares a NUL-terminated string with the expected text.
#define CHECK_STR(got, want) \
  ::harness::record_bytes((got), strlen(got), (want), strlen(want), __FILE__, __LINE__, #got " == " #want)
// Compares n bytes (may hold NULs) with the expected bytes.
#define CHECK_BYTES(got, got_len, want, want_len) \
  ::harness::record_bytes((got), (got_len), (want), (want_len), __FILE__, __LINE__, #got " == " #want)
