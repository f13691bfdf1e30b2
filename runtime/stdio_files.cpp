// File and memory streams: opening, closing, reading and positioning.
//
// A file is either read through a descriptor from its start, with optional
// seeks, or written whole at fclose: a write stream collects its bytes in the
// heap and touches no file until then. A memory stream publishes its buffer
// to the caller after every write and leaves it to the caller at fclose.
#include "fcntl.h"
#include "stdio.h"
#include "stdlib.h"
#include "string.h"
#include "unistd.h"

namespace ridid {

namespace {

FILE* new_record(int kind) {
  FILE* f = (FILE*)calloc(1, sizeof(FILE));
  if (f != NULL) f->kind = kind;
  return f;
}

// Descriptors 0 to 2, and negative ones, are the standard ones: never
// repositioned, never reported by ftell, never closed by fclose.
inline bool own_descriptor(const FILE* f) { return f->kind == FILE_FD && f->fd >= 3; }

}  // namespace

FILE* fopen(const char* path, const char* mode) {
  if (mode == NULL) return NULL;

  // "-" and the null path name the current standard input or output.
  if (path == NULL || strcmp(path, "-") == 0) {
    if (mode[0] == 'r') return stdin;
    if (mode[0] == 'w') return stdout;
    return NULL;
  }

  // Only the first character of the mode counts: r+ reads, w+ writes.
  if (mode[0] == 'r') {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return NULL;
    FILE* f = new_record(FILE_FD);
    if (f == NULL) {
      close(fd);
      return NULL;
    }
    f->fd = fd;
    return f;
  }

  if (mode[0] == 'w') {
    FILE* f = new_record(FILE_WRITE);
    if (f == NULL) return NULL;
    f->path = strdup(path);
    if (f->path == NULL) {
      free(f);
      return NULL;
    }
    return f;
  }

  return NULL;
}

FILE* open_memstream(char** bufp, size_t* sizep) {
  if (bufp == NULL || sizep == NULL) return NULL;
  FILE* f = new_record(FILE_MEM);
  if (f == NULL) return NULL;
  f->out_buf = bufp;
  f->out_len = sizep;
  *bufp = NULL;
  *sizep = 0;
  return f;
}

int fclose(FILE* stream) {
  if (stream == NULL) return -1;
  if (stream == stdin || stream == stdout || stream == stderr) return 0;

  int result = 0;
  if (stream->kind == FILE_FD) {
    if (stream->fd >= 3) result = close(stream->fd);
  } else if (stream->kind == FILE_WRITE) {
    if (stream->path == NULL) {
      result = -1;
    } else {
      // Nothing written still stores a file: an empty one.
      const char* data = stream->buf != NULL ? stream->buf : "";
      if (writefile(stream->path, data, stream->len) < 0) result = -1;
    }
  }

  // A memory stream's buffer now belongs to the caller.
  if (stream->kind != FILE_MEM && stream->buf != NULL) free(stream->buf);
  if (stream->path != NULL) free(stream->path);
  free(stream);
  return result;
}

size_t fread(void* ptr, size_t size, size_t nmemb, FILE* stream) {
  if (ptr == NULL || stream == NULL || size == 0 || nmemb == 0) return 0;
  if (stream->kind != FILE_FD) return 0;
  size_t total = size * nmemb;
  if (total / size != nmemb) return 0;

  // A byte pushed back comes first; one read brings the rest.
  size_t taken = 0;
  int pushed = file_take_pushback(stream);
  if (pushed >= 0) *(unsigned char*)ptr = (unsigned char)pushed, taken = 1;
  int got = taken == total ? 0 : read(stream->fd, (char*)ptr + taken, total - taken);
  if (got <= 0 && taken == 0) {
    stream->eof = 1;
    return 0;
  }
  if (got > 0) file_count_read(stream, got);
  taken += got > 0 ? (size_t)got : 0;
  // A short read counts as the end of the file.
  if (taken < total) stream->eof = 1;
  return taken / size;
}

int fgetc(FILE* stream) {
  if (stream == NULL || stream->kind != FILE_FD) return -1;
  int pushed = file_take_pushback(stream);
  if (pushed >= 0) return pushed;
  unsigned char c;
  int got = read(stream->fd, &c, 1);
  if (got <= 0) {
    stream->eof = 1;
    return -1;
  }
  file_count_read(stream, got);
  return c;
}

int getchar(void) { return fgetc(stdin); }

int fseek(FILE* stream, int offset, int whence) {
  if (stream == NULL || !own_descriptor(stream)) return -1;
  int where = lseek(stream->fd, offset, whence);
  if (where < 0) return -1;
  stream->eof = 0;
  stream->len = 0;  // a byte pushed back is dropped
  stream->pos = where;
  return 0;
}

// The position is the stream's own count; the kernel is not asked.
int ftell(FILE* stream) {
  if (stream == NULL || !own_descriptor(stream)) return -1;
  return stream->pos;
}

// Clears the indicators for every stream, even when the seek fails; the
// content of a memory or write stream stays and later writes append to it.
void rewind(FILE* stream) {
  if (stream == NULL) return;
  if (own_descriptor(stream)) {
    int where = lseek(stream->fd, 0, SEEK_SET);
    if (where >= 0) stream->pos = where;
  }
  if (stream->kind == FILE_FD) stream->len = 0;  // a byte pushed back is dropped
  stream->err = 0;
  stream->eof = 0;
}

int feof(FILE* stream) { return stream == NULL ? 1 : stream->eof; }

int ferror(FILE* stream) { return stream == NULL ? 1 : stream->err; }

}  // namespace ridid
