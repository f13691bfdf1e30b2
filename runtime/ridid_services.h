/* The ridid kernel's interface, described once: its services, the open
 * flags, the seek origins, the console packet and the error numbers. The
 * runtime's system calls, the run command, ridid-emu, the tests and the check
 * of the documents all read them here; the public headers (fcntl.h,
 * unistd.h, stdio.h, errno.h) give them their standard names.
 *
 * RIDID_SERVICES(X) expands X(number, NAME, name, kinds) once per service, in
 * number order. NAME forms the constant SYS_NAME. name is the service's own
 * name, and the C function that traps with it, except `run`: the run request
 * has no function, the run command traps with it itself. kinds has one letter
 * per argument (EBX, ECX, EDX), saying how a trace shows it: d signed
 * decimal, u unsigned, x hex, p pointer, s string, b the bytes at that
 * pointer (their count is the next argument), o the bytes the call left there
 * (as many as it returned), f open flags, w a seek origin, v an array of
 * string pointers (their count is the next argument). RIDID_SERVICE_ENUM turns the list into
 * enumerators: enum { RIDID_SERVICES(RIDID_SERVICE_ENUM) };
 */
#ifndef RIDID_SERVICES_H
#define RIDID_SERVICES_H

#define RIDID_SERVICES(X)                                   \
  X(1, WRITE, write, "dbu")                                 \
  X(2, EXIT, _exit, "d")                                    \
  X(3, READ, read, "dou")                                   \
  X(4, OPEN, open, "sf")                                    \
  X(5, CLOSE, close, "d")                                   \
  X(6, GETKEY, getkey, "")                                  \
  X(21, WRITEFILE, writefile, "sbu")                        \
  X(22, USLEEP, usleep, "u")                                \
  X(49, MKDIR, mkdir, "s")                                  \
  X(50, UNLINK, unlink, "s")                                \
  X(51, RMDIR, rmdir, "s")                                  \
  X(52, GETCWD, getcwd, "ou")                               \
  X(53, STREAM_BEGIN, zoror_stream_begin, "s")              \
  X(54, STREAM_WRITE, zoror_stream_write, "dbu")            \
  X(55, STREAM_END, zoror_stream_end, "d")                  \
  X(95, CHDIR, chdir, "s")                                  \
  X(96, RUN, run, "s")                                      \
  X(110, LSEEK, lseek, "ddw")                               \
  X(124, PIPE, pipe, "p")                                   \
  X(125, MKFIFO, mkfifo, "s")                               \
  X(126, DUP, dup, "d")                                     \
  X(127, DUP2, dup2, "dd")                                  \
  X(128, FD_SET_INHERIT, fd_set_inherit, "d")               \
  X(129, FD_SET_STDIO, fd_set_stdio, "ddd")                 \
  X(130, FD_SET_NONBLOCK, fd_set_nonblock, "dd")            \
  X(131, SPAWN, spawn, "svd")                               \
  X(132, WAITPID, waitpid, "dpd")

#define RIDID_SERVICE_ENUM(number, NAME, name, kinds) SYS_##NAME = number,

/* Open flags, service 4's second argument: the access mode in the low two
 * bits, and one bit each for the rest. RIDID_OPEN_FLAGS(X) lists those bits
 * as X(NAME) for RIDID_O_NAME. */
#define RIDID_O_RDONLY 0x0
#define RIDID_O_WRONLY 0x1
#define RIDID_O_RDWR 0x2
#define RIDID_O_ACCMODE 0x3
#define RIDID_O_CREAT 0x40
#define RIDID_O_EXCL 0x80
#define RIDID_O_TRUNC 0x200
#define RIDID_O_APPEND 0x400
#define RIDID_OPEN_FLAGS(X) X(CREAT) X(EXCL) X(TRUNC) X(APPEND)

/* Where lseek counts from (its third argument), listed as X(NAME) for
 * RIDID_SEEK_NAME. */
#define RIDID_SEEK_SET 0
#define RIDID_SEEK_CUR 1
#define RIDID_SEEK_END 2
#define RIDID_SEEK_ORIGINS(X) X(SET) X(CUR) X(END)

/* The console control packet: a write to the console of exactly
 * RIDID_PACKET_SIZE bytes, the first of them RIDID_PACKET_MARKER, is a
 * control packet for the console, not text. */
#define RIDID_PACKET_MARKER 0xFF
#define RIDID_PACKET_SIZE 4

/* Error numbers: a service that fails returns one of these, negated (the
 * numbers are Linux's). RIDID_ERRORS(X) lists them as X(NAME) for RIDID_NAME.
 * File operations may also pass on other numbers the host reports. The
 * library's errno takes some of them too (ENOMEM, EINVAL, ERANGE), and
 * RIDID_EDOM, which no service returns. */
#define RIDID_EPERM 1
#define RIDID_ENOENT 2
#define RIDID_EIO 5
#define RIDID_E2BIG 7
#define RIDID_ENOEXEC 8
#define RIDID_EBADF 9
#define RIDID_ECHILD 10
#define RIDID_EAGAIN 11
#define RIDID_ENOMEM 12
#define RIDID_EACCES 13
#define RIDID_EFAULT 14
#define RIDID_EBUSY 16
#define RIDID_EEXIST 17
#define RIDID_ENOTDIR 20
#define RIDID_EISDIR 21
#define RIDID_EINVAL 22
#define RIDID_EMFILE 24
#define RIDID_ENOSPC 28
#define RIDID_ESPIPE 29
#define RIDID_EDOM 33
#define RIDID_ERANGE 34
#define RIDID_ENAMETOOLONG 36
#define RIDID_ENOSYS 38
#define RIDID_ENOTEMPTY 39
#define RIDID_ELOOP 40
#define RIDID_EOVERFLOW 75
#define RIDID_ERRORS(X)                                                                  \
  X(EPERM) X(ENOENT) X(EIO) X(E2BIG) X(ENOEXEC) X(EBADF) X(ECHILD) X(EAGAIN) X(ENOMEM)  \
  X(EACCES) X(EFAULT) X(EBUSY) X(EEXIST) X(ENOTDIR) X(EISDIR) X(EINVAL) X(EMFILE)       \
  X(ENOSPC) X(ESPIPE) X(ERANGE) X(ENAMETOOLONG) X(ENOSYS) X(ENOTEMPTY) X(ELOOP)         \
  X(EOVERFLOW)

#endif
