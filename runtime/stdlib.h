/* Heap, number conversions, process services and the random generator.
 *
 * The heap is a 1 MiB bump arena: free does nothing, realloc always moves.
 * Integer conversions wrap modulo 2^32 and strtol takes no sign. The process
 * has no environment and no exit handlers.
 */
#ifndef RIDID_STDLIB_H
#define RIDID_STDLIB_H

#include "ridid_abi.h"

#ifndef RAND_MAX
#  define RAND_MAX 32767
#endif
#ifndef EXIT_SUCCESS
#  define EXIT_SUCCESS 0
#endif
#ifndef EXIT_FAILURE
#  define EXIT_FAILURE 1
#endif

RIDID_BEGIN_DECLS

typedef struct { int quot, rem; } div_t;
typedef struct { long quot, rem; } ldiv_t;
typedef struct { long long quot, rem; } lldiv_t;

/* Heap. */
void* malloc(size_t n) RIDID_C_NAME(malloc);
void* calloc(size_t nmemb, size_t size) RIDID_C_NAME(calloc);
void* realloc(void* p, size_t n) RIDID_C_NAME(realloc);
void free(void* p) RIDID_C_NAME(free);

/* Integer conversions. */
unsigned long strtoul(const char* s, char** end, int base) RIDID_C_NAME(strtoul);
long strtol(const char* s, char** end, int base) RIDID_C_NAME(strtol);
int atoi(const char* s) RIDID_C_NAME(atoi);
long atol(const char* s) RIDID_C_NAME(atol);
int abs(int x) RIDID_C_NAME(abs);
long labs(long x) RIDID_C_NAME(labs);

/* Standard C's 64-bit conversions (stdlib_convert64.cpp): isspace blanks, a
 * sign, bases 2 to 36, saturation with ERANGE. */
long long strtoll(const char* s, char** end, int base) RIDID_C_NAME(strtoll);
unsigned long long strtoull(const char* s, char** end, int base) RIDID_C_NAME(strtoull);
long long atoll(const char* s) RIDID_C_NAME(atoll);

/* Absolute value and division, wrapping (stdlib_arithmetic.cpp). */
long long llabs(long long x) RIDID_C_NAME(llabs);
div_t div(int x, int y) RIDID_C_NAME(div);
ldiv_t ldiv(long x, long y) RIDID_C_NAME(ldiv);
lldiv_t lldiv(long long x, long long y) RIDID_C_NAME(lldiv);

/* Sorting and searching (stdlib_sort.cpp): qsort never takes more than
 * n log n comparisons. */
void qsort(void* base, size_t n, size_t size, int (*compare)(const void*, const void*)) RIDID_C_NAME(qsort);
void* bsearch(const void* key, const void* base, size_t n, size_t size, int (*compare)(const void*, const void*))
    RIDID_C_NAME(bsearch);

/* Floating-point conversion. */
long double strtold(const char* s, char** end) RIDID_C_NAME(strtold);
double strtod(const char* s, char** end) RIDID_C_NAME(strtod);

/* Process services. */
RIDID_NORETURN void exit(int status) RIDID_C_NAME(exit);
RIDID_NORETURN void abort(void) RIDID_C_NAME(abort);
int atexit(void (*handler)(void)) RIDID_C_NAME(atexit);
char* getenv(const char* name) RIDID_C_NAME(getenv);

/* Pseudo-random numbers, 0 to 32767. */
void srand(unsigned int seed) RIDID_C_NAME(srand);
int rand(void) RIDID_C_NAME(rand);

RIDID_END_DECLS

#if defined(RIDID_LIBRARY)
namespace ridid {

enum { HEAP_SIZE = 1048576 };
/* The arena and the count of bytes handed out from it (a multiple of 8). */
extern unsigned char g_heap[HEAP_SIZE] RIDID_C_NAME(g_heap);
extern size_t g_heap_used RIDID_C_NAME(g_heap_used);

/* Generator state: 1 and unseeded at process start. */
extern unsigned int g_rand_state RIDID_C_NAME(g_rand_state);
extern int g_rand_seeded RIDID_C_NAME(g_rand_seeded);

}  // namespace ridid
#endif

#endif
