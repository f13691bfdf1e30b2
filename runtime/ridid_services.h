/* Service numbers of the ridid kernel: the one list that the runtime's system
 * calls, the run command, ridid-emu and the tests all take them from.
 *
 * RIDID_SERVICES(X) expands X(number, NAME, name) once per service, in
 * number order: NAME forms the constant SYS_NAME, name is the service's own
 * name (the C function that traps with it). RIDID_SERVICE_ENUM turns the list
 * into enumerators: enum { RIDID_SERVICES(RIDID_SERVICE_ENUM) };
 */
#ifndef RIDID_SERVICES_H
#define RIDID_SERVICES_H

#define RIDID_SERVICES(X)                            \
  X(1, WRITE, write)                                 \
  X(2, EXIT, _exit)                                  \
  X(3, READ, read)                                   \
  X(4, OPEN, open)                                   \
  X(5, CLOSE, close)                                 \
  X(6, GETKEY, getkey)                               \
  X(21, WRITEFILE, writefile)                        \
  X(22, USLEEP, usleep)                              \
  X(49, MKDIR, mkdir)                                \
  X(50, UNLINK, unlink)                              \
  X(51, RMDIR, rmdir)                                \
  X(52, GETCWD, getcwd)                              \
  X(53, STREAM_BEGIN, zoror_stream_begin)            \
  X(54, STREAM_WRITE, zoror_stream_write)            \
  X(55, STREAM_END, zoror_stream_end)                \
  X(95, CHDIR, chdir)                                \
  X(96, RUN, run)                                    \
  X(110, LSEEK, lseek)                               \
  X(124, PIPE, pipe)                                 \
  X(125, MKFIFO, mkfifo)                             \
  X(126, DUP, dup)                                   \
  X(127, DUP2, dup2)                                 \
  X(128, FD_SET_INHERIT, fd_set_inherit)             \
  X(129, FD_SET_STDIO, fd_set_stdio)                 \
  X(130, FD_SET_NONBLOCK, fd_set_nonblock)           \
  X(131, SPAWN, spawn)                               \
  X(132, WAITPID, waitpid)

#define RIDID_SERVICE_ENUM(number, NAME, name) SYS_##NAME = number,

#endif
