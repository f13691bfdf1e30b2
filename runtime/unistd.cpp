// System calls: one wrapper per kernel service, all through kernel_trap.
//
// Pointers are checked, byte counts clamped and flags normalised before the
// trap; the kernel's result comes back unchanged. errno is never touched.
#include "unistd.h"
#include "fcntl.h"

namespace ridid {

// Byte counts must fit the signed result, so anything larger asks for less.
static unsigned int clamp_count(size_t n) {
  return n > 0x7fffffffu ? 0x7fffffffu : static_cast<unsigned int>(n);
}

static unsigned int reg(const void* p) {
  return static_cast<unsigned int>(reinterpret_cast<unsigned long>(p));
}

static unsigned int flag(int on) { return on != 0 ? 1u : 0u; }

int write(int fd, const void* buf, size_t count) {
  if (!buf) return -1;
  return kernel_trap(SYS_WRITE, fd, reg(buf), clamp_count(count));
}

void _exit(int status) {
  kernel_trap(SYS_EXIT, status, 0, 0);
  // The kernel does not come back; if it ever does, stay here.
  for (;;) __asm__ volatile("");
}

int read(int fd, void* buf, size_t count) {
  if (!buf) return -1;
  return kernel_trap(SYS_READ, fd, reg(buf), clamp_count(count));
}

int close(int fd) { return kernel_trap(SYS_CLOSE, fd, 0, 0); }

int getkey(void) { return kernel_trap(SYS_GETKEY, 0, 0, 0); }

int writefile(const char* path, const void* buf, size_t count) {
  if (!path || !buf) return -1;
  return kernel_trap(SYS_WRITEFILE, reg(path), reg(buf), clamp_count(count));
}

int usleep(unsigned int usec) {
  kernel_trap(SYS_USLEEP, usec, 0, 0);
  return 0;
}

// The longest sleep whose microseconds still fit one 32-bit request.
enum { SLEEP_STEP = 4294 };

int sleep(unsigned int sec) {
  // A duration whose microseconds do not fit 32 bits goes out in several
  // requests of SLEEP_STEP seconds, then the rest.
  while (sec > SLEEP_STEP) {
    kernel_trap(SYS_USLEEP, SLEEP_STEP * 1000000u, 0, 0);
    sec -= SLEEP_STEP;
  }
  kernel_trap(SYS_USLEEP, sec * 1000000u, 0, 0);
  return 0;
}

int mkdir(const char* path) {
  if (!path) return -1;
  return kernel_trap(SYS_MKDIR, reg(path), 0, 0);
}

int unlink(const char* path) {
  if (!path) return -1;
  return kernel_trap(SYS_UNLINK, reg(path), 0, 0);
}

int rmdir(const char* path) {
  if (!path) return -1;
  return kernel_trap(SYS_RMDIR, reg(path), 0, 0);
}

// The result is the kernel's integer, not the buffer pointer.
int getcwd(char* buf, size_t size) {
  if (!buf || size == 0) return -1;
  return kernel_trap(SYS_GETCWD, reg(buf), clamp_count(size), 0);
}

int zoror_stream_begin(const char* path) {
  if (!path) return -1;
  return kernel_trap(SYS_STREAM_BEGIN, reg(path), 0, 0);
}

int zoror_stream_write(int handle, const void* buf, size_t count) {
  if (!buf) return -1;
  return kernel_trap(SYS_STREAM_WRITE, handle, reg(buf), clamp_count(count));
}

int zoror_stream_end(int handle) { return kernel_trap(SYS_STREAM_END, handle, 0, 0); }

int chdir(const char* path) {
  if (!path) return -1;
  return kernel_trap(SYS_CHDIR, reg(path), 0, 0);
}

int lseek(int fd, int offset, int whence) { return kernel_trap(SYS_LSEEK, fd, offset, whence); }

int pipe(int* fds) {
  if (!fds) return -1;
  return kernel_trap(SYS_PIPE, reg(fds), 0, 0);
}

int mkfifo(const char* path) {
  if (!path) return -1;
  return kernel_trap(SYS_MKFIFO, reg(path), 0, 0);
}

int dup(int fd) { return kernel_trap(SYS_DUP, fd, 0, 0); }

int dup2(int oldfd, int newfd) { return kernel_trap(SYS_DUP2, oldfd, newfd, 0); }

int fd_set_inherit(int on) { return kernel_trap(SYS_FD_SET_INHERIT, flag(on), 0, 0); }

int fd_set_stdio(int a, int b, int c) { return kernel_trap(SYS_FD_SET_STDIO, a, b, c); }

int fd_set_nonblock(int fd, int on) { return kernel_trap(SYS_FD_SET_NONBLOCK, fd, flag(on), 0); }

int spawn(const char* path, char* const* argv, int count) {
  if (!path || count < 0) return -1;
  return kernel_trap(SYS_SPAWN, reg(path), reg(argv), count);
}

int waitpid(int pid, int* status, int options) {
  return kernel_trap(SYS_WAITPID, pid, reg(status), options);
}

// An existence test: open for reading, close again. The mode is not used.
int access(const char* path, int mode) {
  (void)mode;
  int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  close(fd);
  return 0;
}

}  // namespace ridid
