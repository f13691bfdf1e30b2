// The only trap instruction of the runtime. Host tests link a recording
// kernel double instead of this file.
#include "unistd.h"

namespace ridid {

int kernel_trap(int number, unsigned int ebx, unsigned int ecx, unsigned int edx) {
  int result;
  __asm__ volatile("int $0x80"
                   : "=a"(result)
                   : "a"(number), "b"(ebx), "c"(ecx), "d"(edx)
                   : "memory");
  return result;
}

}  // namespace ridid
