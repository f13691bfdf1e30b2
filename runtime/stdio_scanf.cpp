// Formatted input: vsscanf scans a string; fscanf gathers one blank-delimited
// token from a descriptor stream and scans that. Seven conversions (c d i s
// u x X), "%%", "*" and a field width; anything else ends the scan. The
// result is the number of assignments made; only fscanf ever gives -1.
// Blanks (spaces and tabs) are skipped before every conversion but "c" and
// "%%"; space, tab and newline make the format's white-space directive, and
// are the input bytes it skips.
#include "byte_sets.h"
#include "stdio.h"
#include "unistd.h"

namespace ridid {

namespace {

// What "s" copies: everything but NUL, space, tab and newline.
int is_word_byte(char c) { return c != 0 && !is_blank_or_newline(c); }

// "d", "i", "x", "X" and "u" at *in. Returns 0 when no digit was found;
// otherwise stores the value (modulo 2^32) in *value and moves *in on.
int scan_number(const char** in, char conversion, unsigned int* value) {
  const char* p = *in;
  while (is_blank(*p)) ++p;
  int negative = 0;
  int base = 10;
  if (conversion != 'u') {
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (conversion == 'x' || conversion == 'X') {
      base = 16;
    } else if (conversion == 'i' && p[0] == '0') {
      if (p[1] == 'x' || p[1] == 'X') {
        p += 2;
        base = 16;
      } else {
        base = 8;  // the "0" stays, as the first digit
      }
    }
  }
  unsigned int v = 0;
  int any = 0;
  for (int d; (d = digit_value(*p)) < base; ++p) {
    v = v * base + static_cast<unsigned int>(d);
    any = 1;
  }
  if (!any) return 0;
  *value = negative ? 0u - v : v;
  *in = p;
  return 1;
}

}  // namespace

int vsscanf(const char* input, const char* format, __builtin_va_list args) {
  const char* in = input;
  const char* f = format;
  int count = 0;
  for (;;) {
    char c = *f;
    if (c == 0) return count;
    if (is_blank_or_newline(c)) {
      while (is_blank_or_newline(*in)) ++in;
      while (is_blank_or_newline(*f)) ++f;
      continue;
    }
    if (c != '%') {
      if (*in != c) return count;
      ++in;
      ++f;
      continue;
    }

    // A directive: "%", an optional "*", an optional width, the conversion.
    ++f;
    int suppressed = 0;
    if (*f == '*') {
      suppressed = 1;
      ++f;
    }
    // The width only bounds "s"; no other conversion looks at it.
    unsigned int width = 0;
    for (; is_decimal(*f); ++f) {
      if (width < 100000000u) width = width * 10u + static_cast<unsigned int>(*f - '0');
    }
    char conversion = *f++;

    if (conversion == '%') {
      if (*in != '%') return count;
      ++in;
    } else if (conversion == 'c') {
      if (*in == 0) return count;
      if (!suppressed) {
        *__builtin_va_arg(args, char*) = *in;
        ++count;
      }
      ++in;
    } else if (conversion == 's') {
      while (is_blank(*in)) ++in;
      if (*in == 0) return count;
      // The word, at most width bytes of it when a width is given; what is
      // left of it stays for the next directive. At a newline it is empty.
      unsigned int n = 0;
      while (is_word_byte(in[n]) && (width == 0 || n < width)) ++n;
      if (!suppressed) {
        char* dst = __builtin_va_arg(args, char*);
        // A null destination is tolerated: the word is stepped over.
        if (dst != 0) {
          for (unsigned int i = 0; i < n; ++i) dst[i] = in[i];
          dst[n] = 0;
          ++count;
        }
      }
      in += n;
    } else if (conversion == 'd' || conversion == 'i' || conversion == 'u' ||
               conversion == 'x' || conversion == 'X') {
      unsigned int value;
      if (!scan_number(&in, conversion, &value)) return count;
      if (!suppressed) {
        *__builtin_va_arg(args, unsigned int*) = value;
        ++count;
      }
    } else {
      // Length modifiers, the format's NUL and every other conversion.
      return count;
    }
  }
}

int sscanf(const char* input, const char* format, ...) {
  __builtin_va_list args;
  __builtin_va_start(args, format);
  int n = vsscanf(input, format, args);
  __builtin_va_end(args);
  return n;
}

namespace {

enum { READ_BYTE = 1, READ_END = 0, READ_ODD = -1 };

// One byte from the stream (the byte pushed back first), counting it in pos. READ_END at
// end of input or on an error (eof is then set), READ_ODD when the kernel
// answers with a count other than 1.
int read_byte(FILE* stream, char* c) {
  int pushed = file_take_pushback(stream);
  if (pushed >= 0) {
    *c = (char)pushed;
    return READ_BYTE;
  }
  int r = read(stream->fd, c, 1);
  if (r <= 0) {
    stream->eof = 1;
    return READ_END;
  }
  file_count_read(stream, r);
  return r == 1 ? READ_BYTE : READ_ODD;
}

}  // namespace

int fscanf(FILE* stream, const char* format, ...) {
  if (stream == 0 || format == 0 || stream->kind != FILE_FD) return -1;

  char c;
  do {
    if (read_byte(stream, &c) != READ_BYTE) return -1;
  } while (is_blank_or_line_end(c));

  // Up to 255 bytes are kept; the rest of a longer token is read and lost.
  char token[256];
  unsigned int n = 0;
  token[n++] = c;
  while (read_byte(stream, &c) == READ_BYTE && !is_blank_or_line_end(c)) {
    if (n < 255) token[n++] = c;
  }
  token[n] = 0;

  __builtin_va_list args;
  __builtin_va_start(args, format);
  int result = vsscanf(token, format, args);
  __builtin_va_end(args);
  return result;
}

}  // namespace ridid
