// errno and its texts.
#include "errno.h"

namespace ridid {

int errno = 0;

char* strerror(int code) {
  // Only four codes have texts of their own; every other one, 12 and the
  // negative kernel results included, is just "error".
  switch (code) {
    case 0: return const_cast<char*>("ok");
    case 2: return const_cast<char*>("no such file");
    case 22: return const_cast<char*>("invalid argument");
    case 38: return const_cast<char*>("not implemented");
    default: return const_cast<char*>("error");
  }
}

}  // namespace ridid
