// What a false assertion does: one line on stderr, then abort().
#include "assert.h"
#include "stdio.h"
#include "stdlib.h"

namespace ridid {

void __ridid_assert_failed(const char* expression, const char* file, int line, const char* function) {
  fprintf(stderr, "assertion failed: %s, file %s, line %d, function %s\n", expression, file, line, function);
  abort();
}

}  // namespace ridid
