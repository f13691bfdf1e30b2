// The standard streams and the output path.
//
// Every byte of stream output goes through file_write_bytes: descriptor
// streams hand it to the kernel at once, memory-buffered streams append it
// to a heap buffer that doubles from 256 bytes.
#include "stdio.h"
#include "stdlib.h"
#include "string.h"
#include "unistd.h"

namespace ridid {

FILE g_stdin = {FILE_FD, 0, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
FILE g_stdout = {FILE_FD, 1, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
// Standard error goes to the console too, on the same descriptor.
FILE g_stderr = {FILE_FD, 1, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};

FILE* stdin = &g_stdin;
FILE* stdout = &g_stdout;
FILE* stderr = &g_stderr;

// Only descriptor 1 takes output. A short write is followed by another for
// the rest; a write that takes nothing or fails ends it.
static int write_console(const unsigned char* data, size_t count) {
  size_t written = 0;
  while (written < count) {
    size_t chunk = count - written;
    if (chunk > 0x7fffffffu) chunk = 0x7fffffffu;
    int r = write(1, data + written, chunk);
    if (r <= 0) return -1;
    written += static_cast<size_t>(r);
  }
  return 0;
}

// The largest buffer a memory stream may ask for; no heap could give more.
static const unsigned long long MAX_CAP = 0x80000000ull;

static int append(FILE* f, const unsigned char* data, size_t count) {
  unsigned long long need = static_cast<unsigned long long>(f->len) + count + 1;
  if (need > f->cap) {
    unsigned long long cap = f->cap ? f->cap : 256;
    while (cap < need) cap *= 2;
    if (cap > MAX_CAP) return -1;
    char* grown = static_cast<char*>(realloc(f->buf, static_cast<size_t>(cap)));
    if (!grown) return -1;
    f->buf = grown;
    f->cap = static_cast<size_t>(cap);
  }
  memcpy(f->buf + f->len, data, count);
  f->len += count;
  f->buf[f->len] = 0;
  if (f->kind == FILE_MEM && f->out_buf && f->out_len) {
    *f->out_buf = f->buf;
    *f->out_len = f->len;
  }
  return 0;
}

int file_write_bytes(FILE* stream, const void* data, size_t count) {
  if (!stream || !data) return -1;
  if (count == 0) return 0;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  if (stream->kind == FILE_FD) {
    if (stream->fd != 1) return -1;
    return write_console(bytes, count);
  }
  return append(stream, bytes, count);
}

size_t fwrite(const void* ptr, size_t size, size_t nmemb, FILE* stream) {
  if (!ptr || !stream || size == 0 || nmemb == 0) return 0;
  size_t total;
  if (__builtin_mul_overflow(size, nmemb, &total)) return 0;
  return file_write_bytes(stream, ptr, total) == 0 ? nmemb : 0;
}

int fputc(int c, FILE* stream) {
  unsigned char b = static_cast<unsigned char>(c);
  return file_write_bytes(stream, &b, 1) == 0 ? c : -1;
}

int fputs(const char* s, FILE* stream) {
  if (!s) return -1;
  size_t n = strlen(s);
  return file_write_bytes(stream, s, n) == 0 ? static_cast<int>(n) : -1;
}

int putchar(int c) { return fputc(c, stdout); }

// The text and the newline are two writes; stdout is read for each.
int puts(const char* s) {
  if (!s) return -1;
  if (file_write_bytes(stdout, s, strlen(s)) != 0) return -1;
  return file_write_bytes(stdout, "\n", 1) == 0 ? 0 : -1;
}

int fflush(FILE* stream) {
  (void)stream;
  return 0;
}

void setbuf(FILE* stream, char* buf) {
  (void)stream;
  (void)buf;
}

}  // namespace ridid
