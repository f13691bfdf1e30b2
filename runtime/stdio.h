/* Streams and formatted input and output.
 *
 * Every stream is one FILE record and every byte of output passes through
 * file_write_bytes. Nothing is buffered: descriptor output reaches the kernel
 * at once, and a file opened for writing is collected in the heap and stored
 * whole by fclose (a file never closed is never stored).
 */
#ifndef RIDID_STDIO_H
#define RIDID_STDIO_H

#include "ridid_abi.h"
#include "ridid_services.h"

#ifndef EOF
#  define EOF (-1)
#endif
#ifndef SEEK_SET
#  define SEEK_SET RIDID_SEEK_SET
#  define SEEK_CUR RIDID_SEEK_CUR
#  define SEEK_END RIDID_SEEK_END
#endif

RIDID_BEGIN_DECLS

/* Stream kinds. */
enum { FILE_FD = 1, FILE_MEM = 2, FILE_WRITE = 3 };

/* The stream record: eleven 32-bit fields, in this order. */
typedef struct FILE {
  int kind;              /* FILE_FD, FILE_MEM or FILE_WRITE */
  int fd;                /* descriptor of a FILE_FD stream */
  char* path;            /* FILE_WRITE: heap copy of the path */
  char* buf;             /* memory-buffered streams: data, NUL after len */
  size_t len;            /* bytes held in buf; FILE_FD: 256 + the byte ungetc pushed back, or 0 */
  size_t cap;            /* size of the heap block buf (0, then 256 << k) */
  char** out_buf;        /* FILE_MEM: where buf is published */
  size_t* out_len;       /* FILE_MEM: where len is published */
  int err;               /* error indicator (ferror) */
  int pos;               /* FILE_FD: position counter (ftell) */
  int eof;               /* end-of-file indicator (feof) */
} FILE;

/* The standard streams, read at the time of every call: storing another
 * FILE pointer here redirects puts, putchar, printf and getchar. stderr
 * shares descriptor 1 with stdout. */
extern FILE* stdin RIDID_C_NAME(stdin);
extern FILE* stdout RIDID_C_NAME(stdout);
extern FILE* stderr RIDID_C_NAME(stderr);

/* Output path. */
size_t fwrite(const void* ptr, size_t size, size_t nmemb, FILE* stream) RIDID_C_NAME(fwrite);
int fputc(int c, FILE* stream) RIDID_C_NAME(fputc);
int fputs(const char* s, FILE* stream) RIDID_C_NAME(fputs);
int putchar(int c) RIDID_C_NAME(putchar);
int puts(const char* s) RIDID_C_NAME(puts);
int fflush(FILE* stream) RIDID_C_NAME(fflush);
void setbuf(FILE* stream, char* buf) RIDID_C_NAME(setbuf);

/* File and memory streams. */
FILE* fopen(const char* path, const char* mode) RIDID_C_NAME(fopen);
FILE* open_memstream(char** bufp, size_t* sizep) RIDID_C_NAME(open_memstream);
int fclose(FILE* stream) RIDID_C_NAME(fclose);
size_t fread(void* ptr, size_t size, size_t nmemb, FILE* stream) RIDID_C_NAME(fread);
int fgetc(FILE* stream) RIDID_C_NAME(fgetc);
int getchar(void) RIDID_C_NAME(getchar);
int fseek(FILE* stream, int offset, int whence) RIDID_C_NAME(fseek);
int ftell(FILE* stream) RIDID_C_NAME(ftell);
void rewind(FILE* stream) RIDID_C_NAME(rewind);
int feof(FILE* stream) RIDID_C_NAME(feof);
int ferror(FILE* stream) RIDID_C_NAME(ferror);

/* Bytes and lines (stdio_lines.cpp). ungetc pushes back one byte on a
 * descriptor stream, which the next read of any kind takes first. */
int getc(FILE* stream) RIDID_C_NAME(getc);
int putc(int c, FILE* stream) RIDID_C_NAME(putc);
int ungetc(int c, FILE* stream) RIDID_C_NAME(ungetc);
char* fgets(char* s, int n, FILE* stream) RIDID_C_NAME(fgets);

/* String formatting engine: fills a caller's buffer, never fails. */
int vsnprintf(char* buffer, size_t size, const char* format, __builtin_va_list args) RIDID_C_NAME(vsnprintf);
int snprintf(char* buffer, size_t size, const char* format, ...) RIDID_C_NAME(snprintf);
int vsprintf(char* buffer, const char* format, __builtin_va_list args) RIDID_C_NAME(vsprintf);
int sprintf(char* buffer, const char* format, ...) RIDID_C_NAME(sprintf);

/* Stream formatting engine: writes piece by piece onto a stream. */
int vfprintf(FILE* stream, const char* format, __builtin_va_list args) RIDID_C_NAME(vfprintf);
int fprintf(FILE* stream, const char* format, ...) RIDID_C_NAME(fprintf);
int printf(const char* format, ...) RIDID_C_NAME(printf);
/* vfprintf on stdout, and "s: " and strerror(errno) on stderr (stdio_print.cpp). */
int vprintf(const char* format, __builtin_va_list args) RIDID_C_NAME(vprintf);
void perror(const char* s) RIDID_C_NAME(perror);

/* Formatted input. fscanf takes one blank-delimited token per call. */
int vsscanf(const char* input, const char* format, __builtin_va_list args) RIDID_C_NAME(vsscanf);
int sscanf(const char* input, const char* format, ...) RIDID_C_NAME(sscanf);
int fscanf(FILE* stream, const char* format, ...) RIDID_C_NAME(fscanf);

RIDID_END_DECLS

#if defined(RIDID_LIBRARY)
namespace ridid {

/* The standard stream records; reached only through stdin, stdout, stderr. */
extern FILE g_stdin RIDID_C_NAME(g_stdin);
extern FILE g_stdout RIDID_C_NAME(g_stdout);
extern FILE g_stderr RIDID_C_NAME(g_stderr);

/* The byte sink of all stream output: 0 when all count bytes were accepted,
 * -1 otherwise. */
int file_write_bytes(FILE* stream, const void* data, size_t count) RIDID_C_NAME(file_write_bytes);

/* Adds a read's byte count to the stream's position counter, a 32-bit
 * count that wraps past 2^31 - 1 instead of overflowing. */
inline void file_count_read(FILE* stream, int got) {
  stream->pos = (int)((unsigned int)stream->pos + (unsigned int)got);
}

/* Takes the byte ungetc pushed back onto a FILE_FD stream, counting it in
 * pos: the byte, or -1 when there is none. */
inline int file_take_pushback(FILE* stream) {
  if (stream->len == 0) return -1;
  int c = (int)(stream->len & 255);
  stream->len = 0;
  file_count_read(stream, 1);
  return c;
}

/* Digits of value in base 10 or 16, most significant first, no terminator;
 * *count gets their number (at least 1). */
void snbuf_render_unsigned(char* digits, int* count, unsigned int value, unsigned int base, int upper)
    RIDID_C_NAME(snbuf_render_unsigned);

}  // namespace ridid
#endif

#endif
