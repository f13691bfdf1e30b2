/* System calls: one wrapper per kernel service.
 *
 * Each wrapper checks its pointers, clamps byte counts to 2147483647, passes
 * flags as 0 or 1 and traps. None of them touches errno: a failure shows only
 * in the (negative) result.
 */
#ifndef RIDID_UNISTD_H
#define RIDID_UNISTD_H

#include "ridid_abi.h"
#include "ridid_services.h"

#ifndef SEEK_SET
#  define SEEK_SET RIDID_SEEK_SET
#  define SEEK_CUR RIDID_SEEK_CUR
#  define SEEK_END RIDID_SEEK_END
#endif
#ifndef F_OK
#  define F_OK 0
#endif

RIDID_BEGIN_DECLS

int write(int fd, const void* buf, size_t count) RIDID_C_NAME(write);
RIDID_NORETURN void _exit(int status) RIDID_C_NAME(_exit);
int read(int fd, void* buf, size_t count) RIDID_C_NAME(read);
int close(int fd) RIDID_C_NAME(close);
int getkey(void) RIDID_C_NAME(getkey);
int writefile(const char* path, const void* buf, size_t count) RIDID_C_NAME(writefile);
int usleep(unsigned int usec) RIDID_C_NAME(usleep);
int sleep(unsigned int sec) RIDID_C_NAME(sleep);
int mkdir(const char* path) RIDID_C_NAME(mkdir);
int unlink(const char* path) RIDID_C_NAME(unlink);
int rmdir(const char* path) RIDID_C_NAME(rmdir);
int getcwd(char* buf, size_t size) RIDID_C_NAME(getcwd);
int zoror_stream_begin(const char* path) RIDID_C_NAME(zoror_stream_begin);
int zoror_stream_write(int handle, const void* buf, size_t count) RIDID_C_NAME(zoror_stream_write);
int zoror_stream_end(int handle) RIDID_C_NAME(zoror_stream_end);
int chdir(const char* path) RIDID_C_NAME(chdir);
int lseek(int fd, int offset, int whence) RIDID_C_NAME(lseek);
int pipe(int* fds) RIDID_C_NAME(pipe);
int mkfifo(const char* path) RIDID_C_NAME(mkfifo);
int dup(int fd) RIDID_C_NAME(dup);
int dup2(int oldfd, int newfd) RIDID_C_NAME(dup2);
int fd_set_inherit(int on) RIDID_C_NAME(fd_set_inherit);
int fd_set_stdio(int a, int b, int c) RIDID_C_NAME(fd_set_stdio);
int fd_set_nonblock(int fd, int on) RIDID_C_NAME(fd_set_nonblock);
int spawn(const char* path, char* const* argv, int count) RIDID_C_NAME(spawn);
int waitpid(int pid, int* status, int options) RIDID_C_NAME(waitpid);
int access(const char* path, int mode) RIDID_C_NAME(access);

RIDID_END_DECLS

#if defined(RIDID_LIBRARY)
namespace ridid {

/* Service numbers of the ridid kernel. */
enum { RIDID_SERVICES(RIDID_SERVICE_ENUM) };

/* The one place that traps into the kernel: int 0x80 with the service in EAX
 * and the arguments in EBX, ECX and EDX; the signed result comes back in EAX.
 * Host tests link a recording double in its place. */
int kernel_trap(int number, unsigned int ebx, unsigned int ecx, unsigned int edx)
    RIDID_C_NAME(kernel_trap);

}  // namespace ridid
#endif

#endif
