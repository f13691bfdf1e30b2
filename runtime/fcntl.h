/* Opening files: open and creat over kernel service 4. */
#ifndef RIDID_FCNTL_H
#define RIDID_FCNTL_H

#include "ridid_abi.h"
#include "ridid_services.h"

#ifndef O_RDONLY
#  define O_RDONLY RIDID_O_RDONLY
#  define O_WRONLY RIDID_O_WRONLY
#  define O_RDWR RIDID_O_RDWR
#  define O_CREAT RIDID_O_CREAT
#  define O_EXCL RIDID_O_EXCL
#  define O_TRUNC RIDID_O_TRUNC
#  define O_APPEND RIDID_O_APPEND
#endif

RIDID_BEGIN_DECLS

/* The kernel's third argument is the flags again when they hold the create
 * bit, 0 otherwise. */
int open(const char* path, int flags) RIDID_C_NAME(open);
/* Write-only, create and truncate: flags 0x241. */
int creat(const char* path) RIDID_C_NAME(creat);

RIDID_END_DECLS

#endif
