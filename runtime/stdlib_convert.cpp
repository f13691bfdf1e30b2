// Text to integers, and absolute values. All arithmetic wraps modulo 2^32:
// nothing saturates and errno is never touched.
#include "byte_sets.h"
#include "stdlib.h"

namespace ridid {

unsigned long strtoul(const char* s, char** end, int base) {
  if (s == 0) {
    if (end != 0) *end = 0;
    return 0;
  }
  const char* p = s;
  while (is_blank_or_line_end(*p)) ++p;

  // The prefix is taken even when no digit follows it: "0x" ends past the x.
  int hex_prefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (base == 0) {
    if (hex_prefix) {
      p += 2;
      base = 16;
    } else if (p[0] == '0') {
      p += 1;
      base = 8;
    } else {
      base = 10;
    }
  } else if (base == 16 && hex_prefix) {
    p += 2;
  }

  // The base is not checked: a negative one takes no digit, one above 16
  // still knows only sixteen digits.
  int limit = base < 16 ? base : 16;
  unsigned long value = 0;
  for (;;) {
    int d = digit_value(*p);
    if (d >= limit) break;
    value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(d);
    ++p;
  }
  if (end != 0) *end = const_cast<char*>(p);
  return value;
}

// The same conversion: no sign is taken, and the bits are read as signed.
long strtol(const char* s, char** end, int base) {
  return static_cast<long>(strtoul(s, end, base));
}

int atoi(const char* s) {
  if (s == 0) return 0;
  // Tab, newline and space only: a carriage return ends the conversion.
  while (is_blank_or_newline(*s)) ++s;
  int negative = 0;
  if (*s == '-' || *s == '+') {
    negative = *s == '-';
    ++s;
  }
  if (!is_decimal(*s)) return 0;
  unsigned int value = 0;
  for (; is_decimal(*s); ++s) value = value * 10u + static_cast<unsigned int>(*s - '0');
  return static_cast<int>(negative ? 0u - value : value);
}

long atol(const char* s) { return atoi(s); }

// -2147483648 has no positive counterpart and comes back unchanged.
int abs(int x) {
  return x < 0 ? static_cast<int>(0u - static_cast<unsigned int>(x)) : x;
}

long labs(long x) { return abs(x); }

}  // namespace ridid
