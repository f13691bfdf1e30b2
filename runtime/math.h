/* Mathematical functions on the x87 unit, in double and float forms.
 *
 * Each result is worked out in the unit's 64-bit extended precision and
 * rounded once to the caller's type: sqrt, floor, ceil, trunc, round, fmod,
 * fabs, frexp, ldexp and modf are exact (correctly rounded), the others are
 * within one unit in the last place (docs/reference.md gives the measured
 * figures). errno becomes EDOM for an argument outside the domain and ERANGE
 * for a pole, an overflow, or an underflow that loses bits.
 */
#ifndef RIDID_MATH_H
#define RIDID_MATH_H

#include "ridid_abi.h"

/* The host tests keep the host's macros of these names. */
#if !defined(RIDID_HOST_TEST)
#define HUGE_VAL (__builtin_huge_val())
#define HUGE_VALF (__builtin_huge_valf())
#define INFINITY (__builtin_inff())
#define NAN (__builtin_nanf(""))
#define MATH_ERRNO 1
#define math_errhandling MATH_ERRNO

#define isnan(x) __builtin_isnan(x)
#define isinf(x) __builtin_isinf(x)
#define isfinite(x) __builtin_isfinite(x)
#define signbit(x) __builtin_signbit(x)

#define M_E 2.71828182845904523536
#define M_LOG2E 1.44269504088896340736
#define M_LOG10E 0.434294481903251827651
#define M_LN2 0.693147180559945309417
#define M_LN10 2.30258509299404568402
#define M_PI 3.14159265358979323846
#define M_PI_2 1.57079632679489661923
#define M_PI_4 0.785398163397448309616
#define M_1_PI 0.318309886183790671538
#define M_2_PI 0.636619772367581343076
#define M_SQRT2 1.41421356237309504880
#define M_SQRT1_2 0.707106781186547524401
#endif

RIDID_BEGIN_DECLS

/* Exact (math_exact.cpp). */
double fabs(double x) RIDID_C_NAME(fabs);
double sqrt(double x) RIDID_C_NAME(sqrt);
double floor(double x) RIDID_C_NAME(floor);
double ceil(double x) RIDID_C_NAME(ceil);
double trunc(double x) RIDID_C_NAME(trunc);
double round(double x) RIDID_C_NAME(round);
double fmod(double x, double y) RIDID_C_NAME(fmod);
double frexp(double x, int* exponent) RIDID_C_NAME(frexp);
double ldexp(double x, int exponent) RIDID_C_NAME(ldexp);
double modf(double x, double* whole) RIDID_C_NAME(modf);
float fabsf(float x) RIDID_C_NAME(fabsf);
float sqrtf(float x) RIDID_C_NAME(sqrtf);
float floorf(float x) RIDID_C_NAME(floorf);
float ceilf(float x) RIDID_C_NAME(ceilf);
float truncf(float x) RIDID_C_NAME(truncf);
float roundf(float x) RIDID_C_NAME(roundf);
float fmodf(float x, float y) RIDID_C_NAME(fmodf);
float frexpf(float x, int* exponent) RIDID_C_NAME(frexpf);
float ldexpf(float x, int exponent) RIDID_C_NAME(ldexpf);
float modff(float x, float* whole) RIDID_C_NAME(modff);

/* Exponentials, logarithms, powers, hyperbolic functions (math_exp_log.cpp). */
double exp(double x) RIDID_C_NAME(exp);
double log(double x) RIDID_C_NAME(log);
double log2(double x) RIDID_C_NAME(log2);
double log10(double x) RIDID_C_NAME(log10);
double pow(double x, double y) RIDID_C_NAME(pow);
double sinh(double x) RIDID_C_NAME(sinh);
double cosh(double x) RIDID_C_NAME(cosh);
double tanh(double x) RIDID_C_NAME(tanh);
double hypot(double x, double y) RIDID_C_NAME(hypot);
float expf(float x) RIDID_C_NAME(expf);
float logf(float x) RIDID_C_NAME(logf);
float log2f(float x) RIDID_C_NAME(log2f);
float log10f(float x) RIDID_C_NAME(log10f);
float powf(float x, float y) RIDID_C_NAME(powf);
float sinhf(float x) RIDID_C_NAME(sinhf);
float coshf(float x) RIDID_C_NAME(coshf);
float tanhf(float x) RIDID_C_NAME(tanhf);
float hypotf(float x, float y) RIDID_C_NAME(hypotf);

/* Circular functions and their inverses (math_trig.cpp). */
double sin(double x) RIDID_C_NAME(sin);
double cos(double x) RIDID_C_NAME(cos);
double tan(double x) RIDID_C_NAME(tan);
double asin(double x) RIDID_C_NAME(asin);
double acos(double x) RIDID_C_NAME(acos);
double atan(double x) RIDID_C_NAME(atan);
double atan2(double y, double x) RIDID_C_NAME(atan2);
float sinf(float x) RIDID_C_NAME(sinf);
float cosf(float x) RIDID_C_NAME(cosf);
float tanf(float x) RIDID_C_NAME(tanf);
float asinf(float x) RIDID_C_NAME(asinf);
float acosf(float x) RIDID_C_NAME(acosf);
float atanf(float x) RIDID_C_NAME(atanf);
float atan2f(float y, float x) RIDID_C_NAME(atan2f);

RIDID_END_DECLS

#endif
