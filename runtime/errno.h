/* The library's one error variable and its texts. The heap stores 12 (out
 * of memory), the 64-bit conversions and math.h EDOM, ERANGE and EINVAL as
 * standard C has them; nothing clears it. */
#ifndef RIDID_ERRNO_H
#define RIDID_ERRNO_H

#include "ridid_abi.h"

#ifndef ENOENT
#  define ENOENT 2
#endif
#ifndef ENOMEM
#  define ENOMEM 12
#endif
#ifndef EINVAL
#  define EINVAL 22
#endif
#ifndef EDOM
#  define EDOM 33
#endif
#ifndef ERANGE
#  define ERANGE 34
#endif
#ifndef ENOSYS
#  define ENOSYS 38
#endif

RIDID_BEGIN_DECLS

extern int errno RIDID_C_NAME(errno);
/* A fixed text for every code, never null; "error" for codes without one. */
char* strerror(int code) RIDID_C_NAME(strerror);

RIDID_END_DECLS

#endif
