// Opening files over kernel service 4.
#include "fcntl.h"
#include "unistd.h"

namespace ridid {

int open(const char* path, int flags) {
  if (!path) return -1;
  // The kernel wants the flags again as its third argument when they ask
  // for creation, and 0 otherwise.
  int third = (flags & O_CREAT) ? flags : 0;
  return kernel_trap(SYS_OPEN, reinterpret_cast<unsigned long>(path), flags, third);
}

// Unlike open, creat passes 0 as the third argument.
int creat(const char* path) {
  if (!path) return -1;
  return kernel_trap(SYS_OPEN, reinterpret_cast<unsigned long>(path), O_WRONLY | O_CREAT | O_TRUNC, 0);
}

}  // namespace ridid
