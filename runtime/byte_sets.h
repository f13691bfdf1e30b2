/* The byte sets the scanners, the converters and the byte classes share:
 * digits and the blanks each of them skips or stops at. Each takes a char
 * or an int; a negative char, EOF and values past 255 are in no set. The
 * blank sets are templates so that a char is compared as a char, which the
 * scanners' loops need to stay as short as they were. Private to the library. */
#ifndef RIDID_BYTE_SETS_H
#define RIDID_BYTE_SETS_H

namespace ridid {

template <class Byte> bool is_decimal(Byte c) { return static_cast<unsigned int>(c) - '0' < 10u; }

// The value of c as a digit: "0"-"9", then "a"-"z" or "A"-"Z" from 10 up;
// 36 for any other byte. A caller of base b takes the values below b.
inline int digit_value(int c) {
  if (is_decimal(c)) return c - '0';
  unsigned int letter = (static_cast<unsigned int>(c) | 32u) - 'a';
  return letter < 26u ? static_cast<int>(letter) + 10 : 36;
}

// Space and tab.
template <class Byte> bool is_blank(Byte c) { return c == ' ' || c == '\t'; }

// Space, tab and newline.
template <class Byte> bool is_blank_or_newline(Byte c) { return is_blank(c) || c == '\n'; }

// Space, tab, newline and carriage return.
template <class Byte> bool is_blank_or_line_end(Byte c) { return is_blank_or_newline(c) || c == '\r'; }

// Space, tab, newline, vertical tab, form feed and carriage return.
template <class Byte> bool is_space(Byte c) { return c == ' ' || static_cast<unsigned int>(c) - '\t' <= '\r' - '\t'; }

}  // namespace ridid

#endif
