// The scanning engine against the host C library on generated inputs, for
// the directives where the two agree: %d %i %u %x %X %c, %s with and without
// a width, suppression, literals and white space, on inputs whose blanks are
// spaces and tabs, without signs before %u, "0x" or overflowing numbers.
#include "runtime_test.h"

#include <cstdio>
#include <random>
#include <vector>

namespace {

struct Slot {
  char kind;  // 'n' number, 's' string, 'c' byte
  unsigned int number;
  char text[64];
};

class ScanfDifferential : public RuntimeTest {
 protected:
  std::mt19937 rng{20261206};
  int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
  char from(const char* set) { return set[pick(static_cast<int>(std::strlen(set)))]; }

  std::string digits(int max, const char* set) {
    std::string s;
    int n = 1 + pick(max);
    for (int i = 0; i < n; ++i) s += from(set);
    return s;
  }
  // Bytes that may appear anywhere: no white space but space and tab, no
  // sign, no x, no percent sign, and nothing that could lengthen a number.
  std::string junk() {
    std::string s;
    int n = 1 + pick(3);
    for (int i = 0; i < n; ++i) s += from("gz,:;=#G@._\xe9");
    return s;
  }
  // Numbers and words start after at least one blank, so that two numbers
  // never run together into one that overflows.
  std::string blanks(int least = 1) {
    std::string s;
    int n = least + pick(3);
    for (int i = 0; i < n; ++i) s += from(" \t");
    return s;
  }
};

TEST_F(ScanfDifferential, AgreesWithHostOnGeneratedCases) {
  const int kCases = 100000;
  int mismatches = 0, assigned = 0;
  for (int n = 0; n < kCases; ++n) {
    std::string format, input;
    std::vector<char> kinds;
    int directives = 1 + pick(4);
    for (int d = 0; d < directives; ++d) {
      int what = pick(10);
      bool suppress = pick(5) == 0;
      std::string star = suppress ? "*" : "";
      if (pick(3) == 0) {  // white space in the format, maybe in the input
        format += from(" \t\n");
        input += blanks(0);
      }
      // Words hold no digit, sign or x: what a width leaves of one is never
      // read as a number by the next directive.
      switch (what) {
        case 0: case 1:
          format += "%" + star + "d";
          input += blanks() + (pick(3) == 0 ? std::string(1, from("+-")) : "") + digits(9, "0123456789");
          if (!suppress) kinds.push_back('n');
          break;
        case 2:
          format += "%" + star + "u";
          input += blanks() + digits(9, "0123456789");
          if (!suppress) kinds.push_back('n');
          break;
        case 3:
          format += "%" + star + (pick(2) ? "x" : "X");
          input += blanks() + (pick(4) == 0 ? std::string(1, from("+-")) : "") + digits(7, "0123456789abcdefABCDEF");
          if (!suppress) kinds.push_back('n');
          break;
        case 4:
          format += "%" + star + "i";
          input += blanks() + (pick(4) == 0 ? std::string(1, from("+-")) : "") +
                   (pick(2) ? "0" + digits(8, "01234567") : from("123456789") + digits(8, "0123456789"));
          if (!suppress) kinds.push_back('n');
          break;
        case 5: case 6: {
          std::string width = pick(2) ? std::to_string(1 + pick(6)) : "";
          format += "%" + star + width + "s";
          input += blanks() + digits(12, "gqrYZ_.!\x80\xff");
          if (!suppress) kinds.push_back('s');
          break;
        }
        case 7:
          format += "%" + star + "c";
          input += from(",;#!g");
          if (!suppress) kinds.push_back('c');
          break;
        default: {
          char lit = from(",:=;#");
          format += lit;
          input += lit;
          break;
        }
      }
      if (pick(8) == 0) input += junk();  // now and then something unexpected
    }
    if (pick(10) == 0 && !input.empty()) input.resize(static_cast<size_t>(pick(static_cast<int>(input.size()))));

    Slot ours[6], host[6];
    void* a[6];
    void* b[6];
    for (int i = 0; i < 6; ++i) {
      char k = i < static_cast<int>(kinds.size()) ? kinds[static_cast<size_t>(i)] : 'n';
      for (Slot* s : {&ours[i], &host[i]}) {
        s->kind = k;
        s->number = 0xA5A5A5A5u;
        std::memset(s->text, '#', sizeof s->text);
      }
      a[i] = k == 'n' ? static_cast<void*>(&ours[i].number) : ours[i].text;
      b[i] = k == 'n' ? static_cast<void*>(&host[i].number) : host[i].text;
    }
    int got = ridid::sscanf(input.c_str(), format.c_str(), a[0], a[1], a[2], a[3], a[4], a[5]);
    int want = std::sscanf(input.c_str(), format.c_str(), b[0], b[1], b[2], b[3], b[4], b[5]);
    if (want < 0) want = 0;  // the host's "input ended before the first conversion"
    bool same = got == want;
    for (int i = 0; i < 6 && same; ++i) {
      same = ours[i].number == host[i].number && std::memcmp(ours[i].text, host[i].text, sizeof ours[i].text) == 0;
    }
    if (!same && ++mismatches <= 5) {
      ADD_FAILURE() << "input [" << input << "] format [" << format << "] got " << got << " want " << want;
    }
    assigned += got;
  }
  EXPECT_EQ(mismatches, 0);
  std::printf("sscanf differential: %d cases, %d assignments, %d mismatches\n", kCases, assigned, mismatches);
}

}  // namespace
