// The two formatting engines, vsnprintf and vfprintf, and their front ends:
// one directive reader, one digit renderer and one writer, read in two
// dialects.
//
// The string dialect fills a caller's buffer: flags "-", "0" and "+", "X"
// and "z", every argument one 32-bit word whatever the length modifier, "p"
// bare, string lengths measured here (it calls nothing in the library), and
// it never fails. The stream dialect writes each piece at once through
// file_write_bytes: no flags (those bytes are conversions outside the
// grammar), "ll" reads 64 bits, width and precision apply to "p", string
// lengths come from strlen (a pointer below 4096 is an empty string), and
// the first write that fails ends the call with -1, what went before staying
// written. Nothing is buffered in either.
#include "byte_sets.h"
#include "stdio.h"
#include "string.h"

namespace ridid {

namespace {

struct Dialect {
  bool to_stream;        // output through file_write_bytes; else into a buffer
  bool flags;            // "-", "0" and "+" are flags
  bool wide;             // "ll" reads a 64-bit argument (two words, low first)
  bool size_modifier;    // "z" is a length modifier
  bool upper_hex;        // "X" is a conversion
  bool padded_pointer;   // width and precision apply to "p"; its "0x" counts
  bool strlen_strings;   // string lengths from strlen
};

constexpr Dialect kStringDialect = {false, true, false, true, true, false, false};
constexpr Dialect kStreamDialect = {true, false, true, false, false, true, true};

// The writer. A stream takes each piece in one file_write_bytes call, a run
// of pad bytes one byte a call; count is the bytes written. A buffer stores
// the first limit bytes of the output (size - 1, or none for a null buffer)
// and count is every byte produced.
struct Out {
  FILE* stream;
  char* buffer;
  size_t limit;
  size_t count;
};

template <const Dialect& D>
bool put(Out* out, char c) {
  if (D.to_stream) {
    if (file_write_bytes(out->stream, &c, 1) != 0) return false;
  } else if (out->count < out->limit) {
    out->buffer[out->count] = c;
  }
  out->count += 1;
  return true;
}

template <const Dialect& D>
bool put_bytes(Out* out, const char* s, size_t n) {
  if (D.to_stream) {
    if (file_write_bytes(out->stream, s, n) != 0) return false;
    out->count += n;
  } else {
    size_t at = out->count, left = at < out->limit ? out->limit - at : 0;
    size_t stored = n < left ? n : left;
    out->count = at + n;
    if (stored != 0) {  // a null buffer stores nothing
      char* to = out->buffer + at;
      for (size_t i = 0; i < stored; ++i) to[i] = s[i];
    }
  }
  return true;
}

template <const Dialect& D>
bool put_run(Out* out, char c, unsigned int n) {
  if (n == 0) return true;
  if (D.to_stream) {
    for (unsigned int i = 0; i < n; ++i) {
      if (!put<D>(out, c)) return false;
    }
  } else {
    char* buffer = out->buffer;
    size_t at = out->count, end = at + n, stored_end = end < out->limit ? end : out->limit;
    for (; at < stored_end; ++at) buffer[at] = c;
    out->count = end;
  }
  return true;
}

// One directive as read; a precision of -1 is none.
struct Directive {
  bool left, zero, plus, wide;
  int width, precision;
};

// A width or precision: "*" takes the next int argument, a run of decimal
// digits gives their value in wrapping 32-bit arithmetic, anything else 0.
int read_count(const char** p, __builtin_va_list* args) {
  if (**p == '*') {
    ++*p;
    return __builtin_va_arg(*args, int);
  }
  unsigned int v = 0;
  for (; is_decimal(**p); ++*p) v = v * 10u + (unsigned int)(**p - '0');
  return (int)v;
}

// Flags, width, precision and length modifier, from just after the "%";
// returns the position of the conversion byte. A negative precision is none.
template <const Dialect& D>
const char* read_directive(const char* p, Directive* d, __builtin_va_list* args) {
  *d = Directive{false, false, false, false, 0, -1};
  if (D.flags) {
    for (;; ++p) {
      if (*p == '-') d->left = true;
      else if (*p == '0') d->zero = true;
      else if (*p == '+') d->plus = true;
      else break;
    }
  }
  d->width = read_count(&p, args);
  if (*p == '.') {
    ++p;
    d->precision = read_count(&p, args);
    if (d->precision < 0) d->precision = -1;
  }
  // One modifier only: a further modifier byte is the conversion.
  if (*p == 'l') {
    ++p;
    if (*p == 'l') {
      ++p;
      d->wide = D.wide;
    }
  } else if (D.size_modifier && *p == 'z') {
    ++p;
  }
  return p;
}

const char kLowerDigits[] = "0123456789abcdef";
const char kUpperDigits[] = "0123456789ABCDEF";

// The digits of value in base 10 or 16, written backwards so that they end
// at end; returns the first.
__attribute__((noinline)) char* render_digits(char* end, unsigned int value, unsigned int base, const char* alphabet) {
  do {
    *--end = alphabet[value % base];
    value /= base;
  } while (value != 0);
  return end;
}

// The same for 64 bits: the 64-bit division only while the value needs it.
char* render_digits(char* end, unsigned long long value, unsigned int base, const char* alphabet) {
  for (; (value >> 32) != 0; value /= base) *--end = alphabet[value % base];
  return render_digits(end, (unsigned int)value, base, alphabet);
}

// d, i, u, x, X and p: the sign, "0x" for p, the precision's zeros and the
// digits, padded to the width with spaces before them, after them ("-") or
// as zeros after the sign ("0" without a precision). Kept out of line, as
// are put_string and render_digits: inlined, they leave the engine's loop
// short of registers and every call a little dearer.
template <const Dialect& D>
__attribute__((noinline)) bool put_number(Out* out, const Directive& d, char conv, __builtin_va_list* args) {
  bool pointer = conv == 'p';
  unsigned int base = 16;
  char sign = 0;
  unsigned long long value;
  if (D.wide && d.wide) {
    value = __builtin_va_arg(*args, unsigned long long);
  } else {
    value = __builtin_va_arg(*args, unsigned int);
  }
  if (conv == 'd' || conv == 'i') {
    base = 10;
    bool negative = D.wide && d.wide ? (long long)value < 0 : (int)value < 0;
    if (negative) {
      sign = '-';
      value = D.wide && d.wide ? 0ull - value : 0u - (unsigned int)value;
    } else if (D.flags && d.plus) {
      sign = '+';
    }
  } else if (conv == 'u') {
    base = 10;
  }
  char scratch[24];  // 20 decimal digits of 64 bits at the most
  const char* alphabet = conv == 'X' ? kUpperDigits : kLowerDigits;
  char* digits = D.wide ? render_digits(scratch + sizeof scratch, value, base, alphabet)
                        : render_digits(scratch + sizeof scratch, (unsigned int)value, base, alphabet);
  unsigned int count = (unsigned int)(scratch + sizeof scratch - digits);
  unsigned int zeros = 0, pad = 0;
  if (d.precision > (int)count) zeros = (unsigned int)d.precision - count;
  // Unsigned: a precision near 2^31 plus a sign must not overflow.
  if (d.width > 0) {
    unsigned int total = count + zeros + (sign != 0 ? 1u : 0u) + (D.padded_pointer && pointer ? 2u : 0u);
    if ((unsigned int)d.width > total) pad = (unsigned int)d.width - total;
  }
  bool left = D.flags && d.left;
  if (!left) {
    if (D.flags && d.zero && d.precision < 0) {
      zeros += pad;
    } else if (!put_run<D>(out, ' ', pad)) {
      return false;
    }
  }
  if (sign != 0 && !put<D>(out, sign)) return false;
  if (pointer && !(put<D>(out, '0') && put<D>(out, 'x'))) return false;
  if (!put_run<D>(out, '0', zeros) || !put_bytes<D>(out, digits, count)) return false;
  return !left || put_run<D>(out, ' ', pad);
}

// s: a null pointer prints "(null)"; the precision, taken as unsigned, cuts
// the string; spaces pad it to the width, on the left only ("-" turns the
// width's sign around instead).
template <const Dialect& D>
__attribute__((noinline)) bool put_string(Out* out, const Directive& d, const char* s) {
  if (s == NULL) s = "(null)";
  size_t n = 0;
  if (D.strlen_strings) {
    n = strlen(s);
  } else {
    while (s[n] != '\0') ++n;
  }
  if ((unsigned int)d.precision < n) n = (unsigned int)d.precision;
  int width = D.flags && d.left ? (int)(0u - (unsigned int)d.width) : d.width;
  unsigned int pad = width > 0 && (unsigned int)width > n ? (unsigned int)width - n : 0u;
  return put_run<D>(out, ' ', pad) && put_bytes<D>(out, s, n);
}

// The format from p on, until its NUL or a directive it cuts short; false
// when a write failed.
template <const Dialect& D>
__attribute__((always_inline)) inline bool write_format(Out* out, const char* p, __builtin_va_list* args) {
  for (;;) {
    // The text up to the next directive: a call a byte on a stream.
    if (D.to_stream) {
      for (; *p != '\0' && *p != '%'; ++p) {
        if (!put<D>(out, *p)) return false;
      }
    } else {
      char* buffer = out->buffer;
      size_t at = out->count, limit = out->limit;
      for (; *p != '\0' && *p != '%'; ++p, ++at) {
        if (at < limit) buffer[at] = *p;
      }
      out->count = at;
    }
    if (*p == '\0') break;
    Directive d;
    p = read_directive<D>(p + 1, &d, args);
    char conv = *p;
    if (conv == '\0') break;
    ++p;
    bool ok;
    switch (conv) {
      case '%':
        ok = put<D>(out, '%');
        break;
      case 'c':
        ok = put<D>(out, (char)__builtin_va_arg(*args, int));
        break;
      case 's':
        ok = put_string<D>(out, d, __builtin_va_arg(*args, const char*));
        break;
      case 'p':
        if (!D.padded_pointer) d.width = 0, d.precision = -1;
        ok = put_number<D>(out, d, conv, args);
        break;
      case 'X':
        if (!D.upper_hex) goto outside;
        [[fallthrough]];
      case 'd':
      case 'i':
      case 'u':
      case 'x':
        ok = put_number<D>(out, d, conv, args);
        break;
      default:
      outside:
        // Outside the grammar: the byte comes out as text, after a "%".
        ok = put<D>(out, '%') && put<D>(out, conv);
        break;
    }
    if (!ok) return false;
  }
  return true;
}

// The string engine whole. The store rule: a byte produced when n bytes
// went before is stored if n + 1 < size; the terminator follows the last
// byte stored. It is inlined into vsnprintf and into snprintf, the entry
// programs call most, which so saves a call on every call.
__attribute__((always_inline)) inline int format_into(char* buffer, size_t size, const char* format, __builtin_va_list args) {
  bool terminated = buffer != NULL && size != 0;
  Out out = {NULL, buffer, terminated ? size - 1 : 0, 0};
  if (format != NULL) write_format<kStringDialect>(&out, format, &args);
  if (terminated) buffer[out.count < out.limit ? out.count : out.limit] = '\0';
  return (int)out.count;
}

}  // namespace

int vsnprintf(char* buffer, size_t size, const char* format, __builtin_va_list args) {
  return format_into(buffer, size, format, args);
}

// The sprintf pair is not unlimited: it stores at most 65535 bytes.
int vsprintf(char* buffer, const char* format, __builtin_va_list args) {
  return vsnprintf(buffer, 0x10000, format, args);
}

int vfprintf(FILE* stream, const char* format, __builtin_va_list args) {
  if (stream == NULL || format == NULL) return -1;
  const char* p = format;
  // The console control packet: a format starting with %c, on descriptor 1,
  // sends the marker and three argument bytes in one write, and is not counted.
  if (stream->kind == FILE_FD && stream->fd == 1 && p[0] == '%' && p[1] == 'c') {
    char packet[RIDID_PACKET_SIZE];
    packet[0] = (char)RIDID_PACKET_MARKER;
    packet[1] = (char)__builtin_va_arg(args, int);
    packet[2] = (char)__builtin_va_arg(args, int);
    packet[3] = (char)__builtin_va_arg(args, int);
    if (file_write_bytes(stream, packet, sizeof packet) != 0) return -1;
    p += 2;
  }
  Out out = {stream, NULL, 0, 0};
  return write_format<kStreamDialect>(&out, p, &args) ? (int)out.count : -1;
}

int snprintf(char* buffer, size_t size, const char* format, ...) {
  __builtin_va_list args;
  __builtin_va_start(args, format);
  int n = format_into(buffer, size, format, args);
  __builtin_va_end(args);
  return n;
}

int sprintf(char* buffer, const char* format, ...) {
  __builtin_va_list args;
  __builtin_va_start(args, format);
  int n = vsnprintf(buffer, 0x10000, format, args);
  __builtin_va_end(args);
  return n;
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

// The digit renderer as programs may call it: the digits most significant
// first at digits, their number in *count.
void snbuf_render_unsigned(char* digits, int* count, unsigned int value, unsigned int base, int upper) {
  char scratch[32];
  char* first = render_digits(scratch + sizeof scratch, value, base, upper ? kUpperDigits : kLowerDigits);
  *count = (int)(scratch + sizeof scratch - first);
  for (int i = 0; i < *count; ++i) digits[i] = first[i];
}

}  // namespace ridid
