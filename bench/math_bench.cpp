// Math accuracy benchmark, the ridid side: evaluates each function of
// math.h on COUNT arguments drawn over the domain it is measured on, and
// prints one line per call: the function's name, the arguments and the
// result as bit patterns in hex. bench/math_accuracy.sh works out the
// errors on the host.
//
// usage: math_bench COUNT [FUNCTION]   (every function unless one is named)
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

unsigned long long g_state = 0x9E3779B97F4A7C15ull;
unsigned long long next() {  // xorshift64*
  g_state ^= g_state >> 12, g_state ^= g_state << 25, g_state ^= g_state >> 27;
  return g_state * 0x2545F4914F6CDD1Dull;
}
double uniform(double lo, double hi) { return lo + (hi - lo) * (double)(next() >> 11) * 0x1p-53; }
double any_double() {  // any finite double
  for (;;) {
    unsigned long long b = next();
    double d;
    memcpy(&d, &b, 8);
    if (isfinite(d)) return d;
  }
}
float any_float() {
  for (;;) {
    unsigned int b = (unsigned int)next();
    float f;
    memcpy(&f, &b, 4);
    if (isfinite(f)) return f;
  }
}

char g_out[1 << 16];
unsigned g_used;
void flush() { write(1, g_out, g_used), g_used = 0; }
void put(const char* s) {
  while (*s) g_out[g_used++] = *s++;
}
void put_hex(unsigned long long v, int digits) {
  g_out[g_used++] = ' ';
  for (int i = digits - 1; i >= 0; --i) g_out[g_used++] = "0123456789abcdef"[(v >> (4 * i)) & 15];
}
void put_double(double d) {
  unsigned long long b;
  memcpy(&b, &d, 8);
  put_hex(b, 16);
}
void put_float(float f) {
  unsigned int b;
  memcpy(&b, &f, 4);
  put_hex(b, 8);
}
void line_end() {
  g_out[g_used++] = '\n';
  if (g_used > sizeof g_out - 200) flush();
}

// Domains: where a program uses the function. A draw of kind ANY is any
// finite value (the whole domain for log, atan, hypot...).
double draw(const char* f) {
  if (!strcmp(f, "exp")) return uniform(-745.2, 709.8);
  if (!strcmp(f, "sinh") || !strcmp(f, "cosh")) return uniform(-710.5, 710.5);
  if (!strcmp(f, "tanh")) return uniform(-20, 20);
  if (!strcmp(f, "asin") || !strcmp(f, "acos")) return uniform(-1, 1);
  if (!strcmp(f, "sin") || !strcmp(f, "cos") || !strcmp(f, "tan")) return next() % 2 ? uniform(-1e6, 1e6) : any_double();
  if (!strncmp(f, "log", 3) || !strcmp(f, "sqrt")) return fabs(any_double());
  return any_double();
}
float draw_float(const char* f) {
  if (!strcmp(f, "exp")) return (float)uniform(-103.9, 88.7);
  if (!strcmp(f, "sinh") || !strcmp(f, "cosh")) return (float)uniform(-89.4, 89.4);
  if (!strcmp(f, "tanh")) return (float)uniform(-10, 10);
  if (!strcmp(f, "asin") || !strcmp(f, "acos")) return (float)uniform(-1, 1);
  if (!strcmp(f, "sin") || !strcmp(f, "cos") || !strcmp(f, "tan")) return next() % 2 ? (float)uniform(-1e4, 1e4) : any_float();
  if (!strncmp(f, "log", 3) || !strcmp(f, "sqrt")) return fabsf(any_float());
  return any_float();
}

struct One { const char* name; double (*f)(double); float (*ff)(float); };
const One kOne[] = {{"fabs", fabs, fabsf}, {"sqrt", sqrt, sqrtf}, {"floor", floor, floorf}, {"ceil", ceil, ceilf},
                    {"trunc", trunc, truncf}, {"round", round, roundf}, {"exp", exp, expf}, {"log", log, logf},
                    {"log2", log2, log2f}, {"log10", log10, log10f}, {"sin", sin, sinf}, {"cos", cos, cosf}, {"tan", tan, tanf},
                    {"asin", asin, asinf}, {"acos", acos, acosf}, {"atan", atan, atanf}, {"sinh", sinh, sinhf},
                    {"cosh", cosh, coshf}, {"tanh", tanh, tanhf}};
struct Two { const char* name; double (*f)(double, double); float (*ff)(float, float); };
const Two kTwo[] = {{"pow", pow, powf}, {"atan2", atan2, atan2f}, {"hypot", hypot, hypotf}, {"fmod", fmod, fmodf}};

// pow: x over [2^-20, 2^20] and y so that x^y stays within about 2^+-1000
// (2^+-120 for float); a quarter of them with x < 0 and y whole.
void pow_arguments(double* x, double* y, double range) {
  double l2 = uniform(-20, 20);
  *x = pow(2, l2);
  double limit = range / (fabs(l2) > 1.0 / 64 ? fabs(l2) : 1.0 / 64);
  *y = uniform(-limit, limit);
  if (next() % 4 == 0) *x = -*x, *y = round(*y);
}

bool wanted(const char* name, const char* only) { return only == nullptr || strcmp(name, only) == 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    write(1, "usage: math_bench COUNT [FUNCTION]\n", 35);
    return 2;
  }
  int count = atoi(argv[1]);
  const char* only = argc > 2 ? argv[2] : nullptr;
  for (const One& o : kOne) {
    if (!wanted(o.name, only)) continue;
    for (int i = 0; i < count; ++i) {
      double x = draw(o.name);
      put(o.name), put_double(x), put_double(o.f(x)), line_end();
      float xf = draw_float(o.name);
      put(o.name), put("f"), put_float(xf), put_float(o.ff(xf)), line_end();
    }
  }
  for (const Two& t : kTwo) {
    if (!wanted(t.name, only)) continue;
    for (int i = 0; i < count; ++i) {
      double x = any_double(), y = any_double();
      float xf = any_float(), yf = any_float();
      if (!strcmp(t.name, "pow")) {
        pow_arguments(&x, &y, 1000);
        double a, b;
        pow_arguments(&a, &b, 120);
        xf = (float)a, yf = (float)b;
      }
      put(t.name), put_double(x), put_double(y), put_double(t.f(x, y)), line_end();
      put(t.name), put("f"), put_float(xf), put_float(yf), put_float(t.ff(xf, yf)), line_end();
    }
  }
  for (int i = 0; i < count; ++i) {  // frexp, ldexp, modf: the results and the exponent or whole part
    double x = any_double(), whole;
    int e, n = (int)(next() % 4401) - 2200;
    if (wanted("ldexp", only)) put("ldexp"), put_double(x), put_hex((unsigned)n, 8), put_double(ldexp(x, n)), line_end();
    if (wanted("frexp", only)) put("frexp"), put_double(x), put_double(frexp(x, &e)), put_hex((unsigned)e, 8), line_end();
    if (wanted("modf", only)) put("modf"), put_double(x), put_double(modf(x, &whole)), put_double(whole), line_end();
  }
  flush();
  return 0;
}
