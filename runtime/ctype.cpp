// Byte classes and case mapping in ASCII. Each class is a range test or two
// on the value as an unsigned number, so that EOF and values outside 0-255
// fall in no class.
#include "ctype.h"

namespace ridid {

namespace {

inline bool in(int c, unsigned int first, unsigned int last) {
  return static_cast<unsigned int>(c) - first <= last - first;
}

}  // namespace

int isdigit(int c) { return in(c, '0', '9'); }
int isupper(int c) { return in(c, 'A', 'Z'); }
int islower(int c) { return in(c, 'a', 'z'); }
int isalpha(int c) { return isupper(c) || islower(c); }
int isalnum(int c) { return isalpha(c) || isdigit(c); }
int isxdigit(int c) { return isdigit(c) || in(c, 'a', 'f') || in(c, 'A', 'F'); }
int isblank(int c) { return c == ' ' || c == '\t'; }
// Tab, newline, vertical tab, form feed and carriage return, and the space.
int isspace(int c) { return c == ' ' || in(c, '\t', '\r'); }
int iscntrl(int c) { return in(c, 0, 31) || c == 127; }
int isprint(int c) { return in(c, ' ', '~'); }
int isgraph(int c) { return in(c, '!', '~'); }
int ispunct(int c) { return isgraph(c) && !isalnum(c); }
int tolower(int c) { return isupper(c) ? c + 32 : c; }
int toupper(int c) { return islower(c) ? c - 32 : c; }

}  // namespace ridid
