// llabs and the quotient-and-remainder functions. As everywhere in the
// library, arithmetic wraps: the most negative value divided by -1 gives
// itself and remainder 0, where the processor's division would fault.
// Division by zero is left to the processor.
#include "stdlib.h"

namespace ridid {

long long llabs(long long x) { return x < 0 ? static_cast<long long>(0ull - static_cast<unsigned long long>(x)) : x; }

div_t div(int x, int y) {
  if (y == -1) return div_t{static_cast<int>(0u - static_cast<unsigned int>(x)), 0};
  return div_t{x / y, x % y};
}

ldiv_t ldiv(long x, long y) {
  div_t d = div(x, y);
  return ldiv_t{d.quot, d.rem};
}

lldiv_t lldiv(long long x, long long y) {
  if (y == -1) return lldiv_t{static_cast<long long>(0ull - static_cast<unsigned long long>(x)), 0};
  return lldiv_t{x / y, x % y};
}

}  // namespace ridid
