/* Opening files: open and creat over kernel service 4. */
#ifndef RIDID_FCNTL_H
#define RIDID_FCNTL_H

#include "ridid_abi.h"

#ifndef O_RDONLY
#  define O_RDONLY 0x0
#endif
#ifndef O_WRONLY
#  define O_WRONLY 0x1
#endif
#ifndef O_RDWR
#  define O_RDWR 0x2
#endif
#ifndef O_CREAT
#  define O_CREAT 0x40
#endif
#ifndef O_TRUNC
#  define O_TRUNC 0x200
#endif
#ifndef O_APPEND
#  define O_APPEND 0x400
#endif

RIDID_BEGIN_DECLS

/* The kernel's third argument is the flags again when they hold the create
 * bit, 0 otherwise. */
int open(const char* path, int flags) RIDID_C_NAME(open);
/* Write-only, create and truncate: flags 0x241. */
int creat(const char* path) RIDID_C_NAME(creat);

RIDID_END_DECLS

#endif
