/* assert, and static_assert for C. Without NDEBUG a false assertion prints
 * "assertion failed: EXPRESSION, file F, line N, function FN" on stderr (the
 * console) and ends the program with abort(), status 1. Like every C
 * library's, this header may be included again after NDEBUG changes. */
#include "ridid_abi.h"

RIDID_BEGIN_DECLS
RIDID_NORETURN void __ridid_assert_failed(const char* expression, const char* file, int line, const char* function)
    RIDID_C_NAME(__ridid_assert_failed);
RIDID_END_DECLS

#undef assert
#ifdef NDEBUG
#  define assert(expression) ((void)0)
#else
#  define assert(expression) \
    ((expression) ? (void)0 : __ridid_assert_failed(#expression, __FILE__, __LINE__, __func__))
#endif

#if !defined(__cplusplus) && !defined(static_assert)
#  define static_assert _Static_assert
#endif
