// Byte classes and case mapping against the host's "C" locale for EOF and
// every byte; values outside those fall in no class and map to themselves.
#include <cctype>
#include <climits>

#include "runtime_test.h"
#include "../../runtime/ctype.h"

namespace {

struct Class { const char* name; int (*ours)(int); int (*host)(int); };
const Class kClasses[] = {
    {"isalnum", ridid::isalnum, ::isalnum}, {"isalpha", ridid::isalpha, ::isalpha}, {"isblank", ridid::isblank, ::isblank},
    {"iscntrl", ridid::iscntrl, ::iscntrl}, {"isdigit", ridid::isdigit, ::isdigit}, {"isgraph", ridid::isgraph, ::isgraph},
    {"islower", ridid::islower, ::islower}, {"isprint", ridid::isprint, ::isprint}, {"ispunct", ridid::ispunct, ::ispunct},
    {"isspace", ridid::isspace, ::isspace}, {"isupper", ridid::isupper, ::isupper}, {"isxdigit", ridid::isxdigit, ::isxdigit},
    {"tolower", ridid::tolower, ::tolower}, {"toupper", ridid::toupper, ::toupper}};

TEST(CtypeDiffTest, EofAndEveryByteAsTheHost) {
  for (const Class& c : kClasses) {
    bool mapping = c.name[1] == 'o';
    for (int v = -1; v < 256; ++v) {
      if (mapping) EXPECT_EQ(c.ours(v), c.host(v)) << c.name << " " << v;
      else EXPECT_EQ(c.ours(v) != 0, c.host(v) != 0) << c.name << " " << v;
    }
    for (int v : {256, 0x141, 0x161, 0x130, -2, -128, -0xbf, INT_MIN, INT_MAX}) EXPECT_EQ(c.ours(v), mapping ? v : 0) << c.name << " " << v;
  }
}

}  // namespace
