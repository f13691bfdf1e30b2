/* The library's one error variable and its texts. The heap stores 12 (out
 * of memory), the 64-bit conversions and math.h EDOM, ERANGE and EINVAL as
 * standard C has them; nothing clears it. */
#ifndef RIDID_ERRNO_H
#define RIDID_ERRNO_H

#include "ridid_abi.h"
#include "ridid_services.h"

#ifndef ENOENT
#  define ENOENT RIDID_ENOENT
#  define ENOMEM RIDID_ENOMEM
#  define EINVAL RIDID_EINVAL
#  define EDOM RIDID_EDOM
#  define ERANGE RIDID_ERANGE
#  define ENOSYS RIDID_ENOSYS
#endif

RIDID_BEGIN_DECLS

extern int errno RIDID_C_NAME(errno);
/* A fixed text for every code, never null; "error" for codes without one. */
char* strerror(int code) RIDID_C_NAME(strerror);

RIDID_END_DECLS

#endif
