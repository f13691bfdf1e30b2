// The string formatting engine: vsnprintf and its three front ends.
//
// It fills a caller's buffer and nothing else: no allocation, no state, and
// no call into the rest of the library (string lengths are measured here).
// Every argument is one 32-bit word, whatever the length modifier.
#include "stdio.h"
#include "stdio_format.h"

namespace ridid {

namespace {

// Where the output goes: at most size - 1 bytes of it are stored, the rest
// is only counted.
struct Out {
  char* buffer;
  size_t size;
  size_t n;
};

// The store rule, applied to every byte produced.
inline void put(Out* out, char c) {
  if (out->buffer != NULL && out->n + 1 < out->size) out->buffer[out->n] = c;
  out->n += 1;
}

inline void put_run(Out* out, char c, unsigned int count) {
  for (unsigned int i = 0; i < count; ++i) put(out, c);
}

struct Directive {
  bool left;
  bool zero;
  bool plus;
  int width;
  int precision;  // -1: none
};

void render_number(Out* out, const Directive& dir, char conv, unsigned int word) {
  char sign = 0;
  unsigned int magnitude = word;
  if (conv == 'd' || conv == 'i') {
    if ((int)word < 0) {
      sign = '-';
      magnitude = 0u - word;
    } else if (dir.plus) {
      sign = '+';
    }
  }

  char digits[10];
  int count = 0;
  unsigned int base = (conv == 'x' || conv == 'X') ? 16u : 10u;
  snbuf_render_unsigned(digits, &count, magnitude, base, conv == 'X');

  unsigned int zeros = 0;
  if (dir.precision > count) zeros = (unsigned int)(dir.precision - count);
  // Unsigned: a precision near 2^31 plus a sign must not overflow.
  unsigned int total = (unsigned int)count + zeros + (sign != 0 ? 1u : 0u);
  unsigned int pad = 0;
  if (dir.width > 0 && (unsigned int)dir.width > total) pad = (unsigned int)dir.width - total;

  if (dir.left) {
    if (sign != 0) put(out, sign);
    put_run(out, '0', zeros);
    for (int i = 0; i < count; ++i) put(out, digits[i]);
    put_run(out, ' ', pad);
  } else if (dir.zero && dir.precision < 0) {
    if (sign != 0) put(out, sign);
    put_run(out, '0', pad);
    for (int i = 0; i < count; ++i) put(out, digits[i]);
  } else {
    put_run(out, ' ', pad);
    if (sign != 0) put(out, sign);
    put_run(out, '0', zeros);
    for (int i = 0; i < count; ++i) put(out, digits[i]);
  }
}

void render_pointer(Out* out, unsigned int word) {
  char digits[8];
  int count = 0;
  snbuf_render_unsigned(digits, &count, word, 16u, 0);
  put(out, '0');
  put(out, 'x');
  for (int i = 0; i < count; ++i) put(out, digits[i]);
}

// Strings pad on the left only: the left-justify flag turns the width's
// sign around instead of moving the padding.
void render_string(Out* out, const Directive& dir, const char* s) {
  if (s == NULL) s = "(null)";
  unsigned int len = 0;
  while (s[len] != '\0') ++len;
  if ((unsigned int)dir.precision <= len) len = (unsigned int)dir.precision;

  int width = dir.left ? (int)(0u - (unsigned int)dir.width) : dir.width;
  if ((int)len < width) put_run(out, ' ', (unsigned int)width - len);
  for (unsigned int i = 0; i < len; ++i) put(out, s[i]);
}

}  // namespace

void snbuf_render_unsigned(char* digits, int* count, unsigned int value, unsigned int base, int upper) {
  const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  if (value == 0) {
    digits[0] = '0';
    *count = 1;
    return;
  }
  int n = 0;
  while (value != 0) {
    digits[n++] = alphabet[value % base];
    value /= base;
  }
  for (int i = 0, j = n - 1; i < j; ++i, --j) {
    char t = digits[i];
    digits[i] = digits[j];
    digits[j] = t;
  }
  *count = n;
}

int vsnprintf(char* buffer, size_t size, const char* format, __builtin_va_list args) {
  Out out = {buffer, size, 0};
  if (format == NULL) {
    if (buffer != NULL && size >= 1) buffer[0] = '\0';
    return 0;
  }

  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      put(&out, *p++);
      continue;
    }
    ++p;
    if (*p == '\0') break;

    Directive dir = {false, false, false, 0, -1};
    for (;; ++p) {
      if (*p == '-') dir.left = true;
      else if (*p == '0') dir.zero = true;
      else if (*p == '+') dir.plus = true;
      else break;
    }

    if (*p == '*') {
      dir.width = __builtin_va_arg(args, int);
      ++p;
    } else {
      dir.width = format_parse_number(&p);
    }

    if (*p == '.') {
      ++p;
      if (*p == '*') {
        dir.precision = __builtin_va_arg(args, int);
        ++p;
      } else {
        dir.precision = format_parse_number(&p);
      }
    }

    // l, ll and z are read past and change nothing: every argument is one word.
    if (*p == 'l') {
      ++p;
      if (*p == 'l') ++p;
    } else if (*p == 'z') {
      ++p;
    }

    char conv = *p;
    if (conv == '\0') break;
    ++p;

    switch (conv) {
      case '%':
        put(&out, '%');
        break;
      case 'c':
        put(&out, (char)__builtin_va_arg(args, int));
        break;
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
        render_number(&out, dir, conv, __builtin_va_arg(args, unsigned int));
        break;
      case 'p':
        render_pointer(&out, (unsigned int)(unsigned long)__builtin_va_arg(args, void*));
        break;
      case 's':
        render_string(&out, dir, __builtin_va_arg(args, const char*));
        break;
      default:
        // Outside the grammar: the byte comes out as text, after a "%".
        put(&out, '%');
        put(&out, conv);
        break;
    }
  }

  if (buffer != NULL && size >= 1) buffer[out.n < size ? out.n : size - 1] = '\0';
  return (int)out.n;
}

int snprintf(char* buffer, size_t size, const char* format, ...) {
  __builtin_va_list args;
  __builtin_va_start(args, format);
  int n = vsnprintf(buffer, size, format, args);
  __builtin_va_end(args);
  return n;
}

// The sprintf pair is not unlimited: it stores at most 65535 bytes.
int vsprintf(char* buffer, const char* format, __builtin_va_list args) {
  return vsnprintf(buffer, 0x10000, format, args);
}

int sprintf(char* buffer, const char* format, ...) {
  __builtin_va_list args;
  __builtin_va_start(args, format);
  int n = vsnprintf(buffer, 0x10000, format, args);
  __builtin_va_end(args);
  return n;
}

}  // namespace ridid
