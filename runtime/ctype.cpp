// Byte classes and case mapping in ASCII. Each class is a range test or two
// on the value as an unsigned number, so that EOF and values outside 0-255
// fall in no class.
#include "ctype.h"

#include "byte_sets.h"

namespace ridid {

namespace {

inline bool in(int c, unsigned int first, unsigned int last) {
  return static_cast<unsigned int>(c) - first <= last - first;
}

}  // namespace

int isdigit(int c) { return is_decimal(c); }
int isupper(int c) { return in(c, 'A', 'Z'); }
int islower(int c) { return in(c, 'a', 'z'); }
int isalpha(int c) { return isupper(c) || islower(c); }
int isalnum(int c) { return isalpha(c) || isdigit(c); }
int isxdigit(int c) { return digit_value(c) < 16; }
int isblank(int c) { return is_blank(c); }
int isspace(int c) { return is_space(c); }
int iscntrl(int c) { return in(c, 0, 31) || c == 127; }
int isprint(int c) { return in(c, ' ', '~'); }
int isgraph(int c) { return in(c, '!', '~'); }
int ispunct(int c) { return isgraph(c) && !isalnum(c); }
int tolower(int c) { return isupper(c) ? c + 32 : c; }
int toupper(int c) { return islower(c) ? c - 32 : c; }

}  // namespace ridid
