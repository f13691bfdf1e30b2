// Text to 64-bit integers as standard C has them, unlike the library's
// 32-bit conversions: blanks as isspace knows them, a sign, bases 2 to 36,
// "0x" only where a hex digit follows it, saturation with ERANGE on
// overflow, EINVAL for a base outside 2 to 36, and the end position at the
// start of the text when no digit is read. A null text gives 0 and a null
// end position, as it does for strtoul.
#include "byte_sets.h"
#include "errno.h"
#include "stdlib.h"

namespace ridid {

namespace {

struct Magnitude {
  unsigned long long value;  // ULLONG_MAX on overflow
  bool negative, overflow;
};

Magnitude read_magnitude(const char* s, char** end, int base) {
  Magnitude m = {0, false, false};
  const char* p = s;
  if (p == nullptr || base < 0 || base == 1 || base > 36) {
    if (p != nullptr) errno = EINVAL;
    if (end != nullptr) *end = const_cast<char*>(p);
    return m;
  }
  while (is_space(*p)) ++p;
  if (*p == '-' || *p == '+') m.negative = *p++ == '-';
  bool hex_prefix = p[0] == '0' && (p[1] | 32) == 'x' && digit_value(p[2]) < 16;
  if ((base == 0 || base == 16) && hex_prefix) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == '0' ? 8 : 10;
  }
  const unsigned long long limit = ~0ull / static_cast<unsigned int>(base);
  const unsigned int last_digit = static_cast<unsigned int>(~0ull % static_cast<unsigned int>(base));
  const char* digits = p;
  for (unsigned int d; (d = static_cast<unsigned int>(digit_value(*p))) < static_cast<unsigned int>(base); ++p) {
    if (m.value > limit || (m.value == limit && d > last_digit)) m.overflow = true;
    m.value = m.value * static_cast<unsigned int>(base) + d;
  }
  if (m.overflow) m.value = ~0ull;
  if (end != nullptr) *end = const_cast<char*>(p == digits ? s : p);
  return m;
}

}  // namespace

unsigned long long strtoull(const char* s, char** end, int base) {
  Magnitude m = read_magnitude(s, end, base);
  if (m.overflow) {
    errno = ERANGE;
    return ~0ull;
  }
  return m.negative ? 0ull - m.value : m.value;
}

long long strtoll(const char* s, char** end, int base) {
  Magnitude m = read_magnitude(s, end, base);
  const unsigned long long most = 1ull << 63;  // the magnitude of LLONG_MIN
  if (m.overflow || m.value > most - !m.negative) {
    errno = ERANGE;
    return m.negative ? static_cast<long long>(most) : static_cast<long long>(most - 1);
  }
  return static_cast<long long>(m.negative ? 0ull - m.value : m.value);
}

long long atoll(const char* s) { return strtoll(s, nullptr, 10); }

}  // namespace ridid
