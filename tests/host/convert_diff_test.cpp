// strtoul against the host C library: unsigned text in bases 2 to 16 whose
// value fits 32 bits, with blanks, leading zeros, prefixes and a tail.
#include "runtime_test.h"

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

class ConvertDifferential : public RuntimeTest {};

TEST_F(ConvertDifferential, StrtoulAgreesWithHost) {
  std::mt19937 rng(5);
  const int kCases = 100000;
  int mismatches = 0;
  for (int n = 0; n < kCases; ++n) {
    int base = 2 + static_cast<int>(rng() % 15);
    unsigned value = static_cast<unsigned>(rng()) >> (rng() % 32);
    std::string text;
    for (unsigned k = rng() % 4; k > 0; --k) text += " \t\n\r"[rng() % 4];
    if (base == 16 && rng() % 3 == 0) text += rng() % 2 ? "0x" : "0X";
    for (unsigned k = rng() % 3; k > 0; --k) text += '0';
    std::string digits;
    do {
      unsigned d = value % static_cast<unsigned>(base);
      char c = static_cast<char>(d < 10 ? '0' + d : (rng() % 2 ? 'a' : 'A') + d - 10);
      digits.insert(digits.begin(), c);
      value /= static_cast<unsigned>(base);
    } while (value != 0);
    text += digits;
    // A tail that is no digit in this base.
    switch (rng() % 4) {
      case 0: break;
      case 1: text += "-+ .z"[rng() % 5]; break;
      case 2: text += static_cast<char>(base < 10 ? '0' + base : 'a' + base - 10); break;
      default: text += "G9"; break;
    }
    char* got_end = nullptr;
    char* want_end = nullptr;
    unsigned long got = ridid::strtoul(text.c_str(), &got_end, base);
    unsigned long want = std::strtoul(text.c_str(), &want_end, base);
    if ((got != want || got_end != want_end) && ++mismatches <= 5) {
      ADD_FAILURE() << "[" << text << "] base " << base << ": " << got << " at " << (got_end - text.c_str())
                    << ", host " << want << " at " << (want_end - text.c_str());
    }
  }
  EXPECT_EQ(mismatches, 0);
  std::printf("strtoul differential: %d cases, %d mismatches\n", kCases, mismatches);
}

}  // namespace
