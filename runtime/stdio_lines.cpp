// Bytes and lines: getc and putc, ungetc's one byte of push-back, fgets.
//
// Only descriptor streams are read, so only they take a byte back: it waits
// in the record's len field (256 plus the byte) for the next read of any
// kind, fgetc, fread, fscanf or fgets; fseek and rewind drop it.
#include "stdio.h"

namespace ridid {

int getc(FILE* stream) { return fgetc(stream); }

int putc(int c, FILE* stream) { return fputc(c, stream); }

int ungetc(int c, FILE* stream) {
  if (c == EOF || stream == NULL || stream->kind != FILE_FD || stream->len != 0) return EOF;
  stream->len = 256 + (unsigned char)c;
  stream->eof = 0;
  stream->pos = (int)((unsigned int)stream->pos - 1u);
  return (unsigned char)c;
}

// One fgetc per byte, so one read system call per byte not pushed back.
char* fgets(char* s, int n, FILE* stream) {
  if (s == NULL || n <= 0 || stream == NULL) return NULL;
  int i = 0;
  while (i < n - 1) {
    int c = fgetc(stream);
    if (c < 0) break;
    s[i++] = (char)c;
    if (c == '\n') break;
  }
  // The end before any byte leaves s as it was.
  if (i == 0 && n > 1) return NULL;
  s[i] = 0;
  return s;
}

}  // namespace ridid
