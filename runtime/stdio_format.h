/* What the two formatted-output engines truly share: reading the decimal
 * digits of a width or precision. Private to the library. */
#ifndef RIDID_STDIO_FORMAT_H
#define RIDID_STDIO_FORMAT_H

#include "byte_sets.h"

namespace ridid {

// A run of decimal digits at *p, in wrapping 32-bit arithmetic; *p ends past them.
inline int format_parse_number(const char** p) {
  unsigned int v = 0;
  while (is_decimal(**p)) {
    v = v * 10u + (unsigned int)(**p - '0');
    ++*p;
  }
  return (int)v;
}

}  // namespace ridid

#endif
