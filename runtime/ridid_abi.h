/* Shared ground of the ridid runtime headers: the basic types and the way
 * every function gets its standard C name.
 *
 * The library is written once, in the C++ namespace `ridid`. Built for ridid
 * (RIDID_LIBRARY), each declaration carries an assembler label with its
 * standard name, so the image exports `strlen`, `printf` and so on. Built for
 * the host tests (RIDID_LIBRARY and RIDID_HOST_TEST), the labels go away and
 * the functions stay `ridid::strlen` and friends, linked beside the host C
 * library without a clash. Programs see plain C declarations.
 */
#ifndef RIDID_ABI_H
#define RIDID_ABI_H

#if defined(RIDID_LIBRARY)
#  define RIDID_BEGIN_DECLS namespace ridid {
#  define RIDID_END_DECLS }
#  if defined(RIDID_HOST_TEST)
#    define RIDID_C_NAME(name)
#  else
#    define RIDID_C_NAME(name) __asm__(#name)
#  endif
#elif defined(__cplusplus)
#  define RIDID_BEGIN_DECLS extern "C" {
#  define RIDID_END_DECLS }
#  define RIDID_C_NAME(name)
#else
#  define RIDID_BEGIN_DECLS
#  define RIDID_END_DECLS
#  define RIDID_C_NAME(name)
#endif

#if defined(__cplusplus)
#  define RIDID_NORETURN [[noreturn]]
#else
#  define RIDID_NORETURN _Noreturn
#endif

#ifndef NULL
#  if defined(__cplusplus)
#    define NULL __null
#  else
#    define NULL ((void*)0)
#  endif
#endif

RIDID_BEGIN_DECLS
typedef __SIZE_TYPE__ size_t;
typedef __PTRDIFF_TYPE__ ssize_t;
RIDID_END_DECLS

#endif
