// The stream formatting engine: vfprintf, fprintf and printf.
//
// Each piece of output goes straight to file_write_bytes: literal bytes, pad
// spaces, the sign, the "0x" and leading zeros one byte per call, the digits
// and a string's bytes in one call each. Nothing is buffered, so the first
// write that fails ends the call with -1 and what went before stays written.
// Its grammar is its own: no flags, ll for 64-bit numbers, and width and
// precision on p.
#include "stdio.h"
#include "stdio_format.h"
#include "string.h"

namespace ridid {

namespace {

inline int put_byte(FILE* stream, char c) { return file_write_bytes(stream, &c, 1); }

int put_run(FILE* stream, char c, unsigned int count) {
  for (unsigned int i = 0; i < count; ++i) {
    if (put_byte(stream, c) != 0) return -1;
  }
  return 0;
}

// Digits of a 64-bit value, most significant first; returns their number.
// Values that fit in 32 bits take the cheaper 32-bit division.
int render_digits(char* digits, unsigned long long value, unsigned int base) {
  static const char alphabet[] = "0123456789abcdef";
  char reversed[32];
  int n = 0;
  while ((value >> 32) != 0) {
    reversed[n++] = alphabet[value % base];
    value /= base;
  }
  unsigned int low = (unsigned int)value;
  do {
    reversed[n++] = alphabet[low % base];
    low /= base;
  } while (low != 0);
  for (int i = 0; i < n; ++i) digits[i] = reversed[n - 1 - i];
  return n;
}

// Writes one number; returns the bytes written, or -1.
int render_number(FILE* stream, char conv, unsigned long long value, int width, int precision) {
  bool negative = false;
  if ((conv == 'd' || conv == 'i') && (long long)value < 0) {
    negative = true;
    value = 0ull - value;
  }
  unsigned int base = (conv == 'x' || conv == 'p') ? 16u : 10u;

  char digits[32];
  int count = render_digits(digits, value, base);

  unsigned int zeros = precision > count ? (unsigned int)(precision - count) : 0u;
  unsigned int total = (unsigned int)count + zeros + (negative ? 1u : 0u) + (conv == 'p' ? 2u : 0u);
  unsigned int spaces = (width > 0 && (unsigned int)width > total) ? (unsigned int)width - total : 0u;

  if (put_run(stream, ' ', spaces) != 0) return -1;
  if (negative && put_byte(stream, '-') != 0) return -1;
  if (conv == 'p' && (put_byte(stream, '0') != 0 || put_byte(stream, 'x') != 0)) return -1;
  if (put_run(stream, '0', zeros) != 0) return -1;
  if (file_write_bytes(stream, digits, (size_t)count) != 0) return -1;
  return (int)(spaces + total);
}

// Writes one string; returns the bytes written, or -1.
int render_string(FILE* stream, const char* s, int width, int precision) {
  if (s == NULL) s = "(null)";
  // strlen counts a pointer below 4096 as an empty string.
  size_t n = strlen(s);
  if (precision >= 0 && (size_t)precision < n) n = (size_t)precision;
  unsigned int spaces = (width > 0 && (size_t)width > n) ? (unsigned int)width - n : 0u;

  if (put_run(stream, ' ', spaces) != 0) return -1;
  if (file_write_bytes(stream, s, n) != 0) return -1;
  return (int)(spaces + n);
}

}  // namespace

int vfprintf(FILE* stream, const char* format, __builtin_va_list args) {
  if (stream == NULL || format == NULL) return -1;

  const char* p = format;
  // The console control packet: a format starting with %c, on descriptor 1,
  // sends 0xFF and three argument bytes in one write, and is not counted.
  if (stream->kind == FILE_FD && stream->fd == 1 && p[0] == '%' && p[1] == 'c') {
    char packet[4];
    packet[0] = (char)RIDID_PACKET_MARKER;
    packet[1] = (char)__builtin_va_arg(args, int);
    packet[2] = (char)__builtin_va_arg(args, int);
    packet[3] = (char)__builtin_va_arg(args, int);
    if (file_write_bytes(stream, packet, 4) != 0) return -1;
    p += 2;
  }

  unsigned int count = 0;
  while (*p != '\0') {
    if (*p != '%') {
      if (put_byte(stream, *p) != 0) return -1;
      ++p;
      count += 1;
      continue;
    }
    ++p;

    int width = 0;
    if (*p == '*') {
      width = __builtin_va_arg(args, int);
      ++p;
    } else {
      width = format_parse_number(&p);
    }

    int precision = -1;
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        precision = __builtin_va_arg(args, int);
        ++p;
      } else {
        precision = format_parse_number(&p);
      }
      if (precision < 0) precision = -1;
    }

    bool wide = false;
    if (*p == 'l') {
      ++p;
      if (*p == 'l') {
        wide = true;
        ++p;
      }
    }

    char conv = *p;
    if (conv == '\0') break;  // an unfinished directive writes nothing
    ++p;

    int written = 0;
    switch (conv) {
      case '%':
        written = put_byte(stream, '%') == 0 ? 1 : -1;
        break;
      case 'c':
        written = put_byte(stream, (char)__builtin_va_arg(args, int)) == 0 ? 1 : -1;
        break;
      case 's':
        written = render_string(stream, __builtin_va_arg(args, const char*), width, precision);
        break;
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'p': {
        unsigned long long value;
        if (wide) {
          value = __builtin_va_arg(args, unsigned long long);
        } else if (conv == 'd' || conv == 'i') {
          value = (unsigned long long)(long long)__builtin_va_arg(args, int);
        } else {
          value = __builtin_va_arg(args, unsigned int);
        }
        written = render_number(stream, conv, value, width, precision);
        break;
      }
      default:
        // Outside the grammar: the byte comes out as text, after a "%".
        if (put_byte(stream, '%') != 0 || put_byte(stream, conv) != 0) return -1;
        written = 2;
        break;
    }
    if (written < 0) return -1;
    count += (unsigned int)written;
  }
  return (int)count;
}

int fprintf(FILE* stream, const char* format, ...) {
  __builtin_va_list args;
  __builtin_va_start(args, format);
  int n = vfprintf(stream, format, args);
  __builtin_va_end(args);
  return n;
}

int printf(const char* format, ...) {
  __builtin_va_list args;
  __builtin_va_start(args, format);
  int n = vfprintf(stdout, format, args);
  __builtin_va_end(args);
  return n;
}

}  // namespace ridid
