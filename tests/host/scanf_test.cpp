// Formatted input on the host: the scanning engine, and fscanf over a
// scripted descriptor (one byte per read).
#include "runtime_test.h"

namespace {

class ScanfEngine : public RuntimeTest {};

TEST_F(ScanfEngine, ConversionBlanksSkipSpacesAndTabsButNotNewlines) {
  int a = -1;
  char word[16] = "unset";
  EXPECT_EQ(ridid::sscanf("12 abc", "%d %s", &a, word), 2);
  EXPECT_EQ(a, 12);
  EXPECT_STREQ(word, "abc");

  a = -1;
  EXPECT_EQ(ridid::sscanf(" \t 9", "%d", &a), 1);
  EXPECT_EQ(a, 9);
  // A newline is no conversion blank, but a white-space directive skips it.
  a = -1;
  EXPECT_EQ(ridid::sscanf("\n7", "%d", &a), 0);
  EXPECT_EQ(a, -1);
  EXPECT_EQ(ridid::sscanf("\n7", " %d", &a), 1);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(ridid::sscanf("\n \t\n8", "\t\n %d", &a), 1);
  EXPECT_EQ(a, 8);
  // No blank may stand between the sign and the digits.
  EXPECT_EQ(ridid::sscanf("- 5", "%d", &a), 0);
  // "c" skips nothing: it takes the blank itself.
  char c = 0;
  EXPECT_EQ(ridid::sscanf(" q", "%c", &c), 1);
  EXPECT_EQ(c, ' ');
  EXPECT_EQ(ridid::sscanf("\n", "%c", &c), 1);
  EXPECT_EQ(c, '\n');
  EXPECT_EQ(ridid::sscanf("", "%c", &c), 0);
}

TEST_F(ScanfEngine, WordBytesAndNewlines) {
  char a[16], b[16];
  std::memset(b, 'z', sizeof b);
  EXPECT_EQ(ridid::sscanf("x\ny", "%s%s", a, b), 2);
  EXPECT_STREQ(a, "x");
  EXPECT_STREQ(b, "");  // the newline is left where it is
  // Carriage return, vertical tab and form feed are word bytes.
  EXPECT_EQ(ridid::sscanf("\rword\v\f!", "%s", a), 1);
  EXPECT_STREQ(a, "\rword\v\f!");
  // Only blanks left: the input is at its end, the conversion fails.
  EXPECT_EQ(ridid::sscanf("  \t", "%s", a), 0);
  // Bytes above 127 are words too.
  EXPECT_EQ(ridid::sscanf("\xff\x80 t", "%s", a), 1);
  EXPECT_STREQ(a, "\xff\x80");
  // A format carriage return is a literal, not white space.
  int n = 0;
  EXPECT_EQ(ridid::sscanf("\r5", "\r%d", &n), 1);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(ridid::sscanf("5", "\r%d", &n), 0);
}

TEST_F(ScanfEngine, IntegerBasesAndWrapping) {
  int v = 0;
  EXPECT_EQ(ridid::sscanf("-0x1A", "%i", &v), 1);
  EXPECT_EQ(v, -26);
  EXPECT_EQ(ridid::sscanf("017", "%i", &v), 1);
  EXPECT_EQ(v, 15);
  EXPECT_EQ(ridid::sscanf("+0X7f", "%i", &v), 1);
  EXPECT_EQ(v, 127);
  v = 99;
  char rest = 0;
  EXPECT_EQ(ridid::sscanf("09", "%i%c", &v, &rest), 2);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(rest, '9');
  v = 99;
  EXPECT_EQ(ridid::sscanf("0x", "%i", &v), 0);
  EXPECT_EQ(ridid::sscanf("0xg", "%i", &v), 0);
  EXPECT_EQ(v, 99);

  EXPECT_EQ(ridid::sscanf("0x1f", "%x%c", &v, &rest), 2);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(rest, 'x');
  EXPECT_EQ(ridid::sscanf("-ff", "%X", &v), 1);
  EXPECT_EQ(v, -255);
  EXPECT_EQ(ridid::sscanf("DeadBeef", "%x", &v), 1);
  EXPECT_EQ(static_cast<unsigned>(v), 0xDEADBEEFu);

  unsigned u = 7;
  EXPECT_EQ(ridid::sscanf("-5", "%u", &u), 0);
  EXPECT_EQ(u, 7u);
  EXPECT_EQ(ridid::sscanf("4294967296", "%u", &u), 1);
  EXPECT_EQ(u, 0u);
  EXPECT_EQ(ridid::sscanf("4294967295", "%d", &v), 1);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(ridid::sscanf("-2147483648", "%d", &v), 1);
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_EQ(ridid::sscanf("99999999999", "%d", &v), 1);
  EXPECT_EQ(static_cast<unsigned>(v), static_cast<unsigned>(99999999999ull & 0xffffffffu));
  EXPECT_EQ(ridid::sscanf("+-1", "%d", &v), 0);
  EXPECT_EQ(ridid::sscanf("-", "%d", &v), 0);
}

TEST_F(ScanfEngine, SuppressionLiteralsAndPercent) {
  int a = 0, b = -1;
  EXPECT_EQ(ridid::sscanf("1 2", "%*d %d", &a, &b), 1);
  EXPECT_EQ(a, 2);  // the first and only pointer
  EXPECT_EQ(b, -1);
  char c = 0;
  EXPECT_EQ(ridid::sscanf("ab", "%*c%c", &c), 1);
  EXPECT_EQ(c, 'b');
  EXPECT_EQ(ridid::sscanf("skip 4", "%*s%d", &a), 1);
  EXPECT_EQ(a, 4);

  EXPECT_EQ(ridid::sscanf("100%5", "%d%%%d", &a, &b), 2);
  EXPECT_EQ(a, 100);
  EXPECT_EQ(b, 5);
  // No blank is skipped before a literal percent sign.
  EXPECT_EQ(ridid::sscanf("100 %5", "%d%%%d", &a, &b), 1);
  // "%*%" and "%3%" are still the literal percent sign.
  EXPECT_EQ(ridid::sscanf("%%7", "%*%%3%%d", &a), 1);
  EXPECT_EQ(a, 7);

  EXPECT_EQ(ridid::sscanf("abc", "abd"), 0);
  EXPECT_EQ(ridid::sscanf("a=1,b=2", "a=%d,b=%d", &a, &b), 2);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(ridid::sscanf("A=1", "a=%d", &a), 0);  // literals are case-sensitive
  EXPECT_EQ(ridid::sscanf("", "%d", &a), 0);
  EXPECT_EQ(ridid::sscanf("x", "x"), 0);  // no conversion, no count
  // A width is read past and changes nothing for the number conversions.
  EXPECT_EQ(ridid::sscanf("12345", "%3d", &a), 1);
  EXPECT_EQ(a, 12345);
  EXPECT_EQ(ridid::sscanf("abc", "%5c", &c), 1);
  EXPECT_EQ(c, 'a');
}

TEST_F(ScanfEngine, UnsupportedDirectivesEndTheScan) {
  int a = -1, b = -1;
  for (const char* fmt : {"%d %ld", "%d %hd", "%d %Ld", "%d %zd", "%d %jd", "%d %td", "%d %n",
                          "%d %p", "%d %o", "%d %e", "%d %f", "%d %g", "%d %a", "%d %E",
                          "%d %G", "%d %A", "%d %[0-9]", "%d %", "%d %*"}) {
    b = -1;
    EXPECT_EQ(ridid::sscanf("1 2", fmt, &a, &b), 1) << fmt;
    EXPECT_EQ(b, -1) << fmt;
  }
  EXPECT_EQ(ridid::sscanf("5", "%ld", &a), 0);
}

TEST_F(ScanfEngine, NullStringDestinationStepsOverTheWord) {
  EXPECT_EQ(ridid::sscanf("ab", "%s", static_cast<char*>(nullptr)), 0);
  char c = 0;
  EXPECT_EQ(ridid::sscanf("ab c", "%s%c", static_cast<char*>(nullptr), &c), 1);
  EXPECT_EQ(c, ' ');
  // At a newline nothing is consumed either way.
  EXPECT_EQ(ridid::sscanf("\nz", "%s%c", static_cast<char*>(nullptr), &c), 1);
  EXPECT_EQ(c, '\n');
}

// A width on "s" bounds the bytes stored; the rest of the word stays for
// the next directive. Guard bytes show nothing is written past the bound.
TEST_F(ScanfEngine, StringWidthBoundsTheCopy) {
  char buf[8];
  char rest[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(ridid::sscanf("abcdef", "%3s%s", buf, rest), 2);
  EXPECT_EQ(std::string(buf, 4), std::string("abc\0", 4));
  EXPECT_EQ(std::string(buf + 4, 4), "####");
  EXPECT_STREQ(rest, "def");

  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(ridid::sscanf("x", "%1s", buf), 1);
  EXPECT_EQ(std::string(buf, 3), std::string("x\0#", 3));

  // A word shorter than the width is taken whole.
  EXPECT_EQ(ridid::sscanf("ab cd", "%7s %7s", buf, rest), 2);
  EXPECT_STREQ(buf, "ab");
  EXPECT_STREQ(rest, "cd");

  // Without a width (or with 0) the whole word is taken.
  char big[32];
  EXPECT_EQ(ridid::sscanf("abcdefghijklmnop", "%s", big), 1);
  EXPECT_STREQ(big, "abcdefghijklmnop");
  EXPECT_EQ(ridid::sscanf("abcdefghijklmnop", "%0s", big), 1);
  EXPECT_STREQ(big, "abcdefghijklmnop");

  // Suppressed and null destinations step over only the bounded part.
  char c = 0;
  EXPECT_EQ(ridid::sscanf("abcdef", "%*2s%c", &c), 1);
  EXPECT_EQ(c, 'c');
  EXPECT_EQ(ridid::sscanf("abcdef", "%4s%c", static_cast<char*>(nullptr), &c), 1);
  EXPECT_EQ(c, 'e');
  // The rest may feed a number.
  int n = 0;
  EXPECT_EQ(ridid::sscanf("ab12", "%2s%d", buf, &n), 2);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(n, 12);
  // A huge width is no bound in practice and does not overflow.
  EXPECT_EQ(ridid::sscanf("abc", "%99999999999999s", big), 1);
  EXPECT_STREQ(big, "abc");
}

// fscanf reads a scripted descriptor one byte at a time.
class ScanfStream : public RuntimeTest {
 protected:
  std::string input;
  size_t at = 0;

  void feed(const std::string& bytes) {
    input = bytes;
    at = 0;
    kdouble::reset();
    kdouble::script([this](const kdouble::Trap& t) -> int32_t {
      if (t.nr != ridid::SYS_READ) return 0;
      if (at >= input.size()) return 0;
      *reinterpret_cast<char*>(static_cast<uintptr_t>(t.ecx)) = input[at++];
      return 1;
    });
  }
  int reads() const {
    int n = 0;
    for (const kdouble::Trap& t : kdouble::traps()) n += t.nr == ridid::SYS_READ;
    return n;
  }
  ridid::FILE stream(int kind, int fd) {
    return ridid::FILE{kind, fd, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
  }
};

TEST_F(ScanfStream, OneTokenPerCallWithPosAndEof) {
  feed("42\n7\n");
  ridid::FILE f = stream(ridid::FILE_FD, 5);
  int v = 0;
  EXPECT_EQ(ridid::fscanf(&f, "%d", &v), 1);
  EXPECT_EQ(v, 42);
  EXPECT_EQ(f.pos, 3);  // the newline ending the token is consumed
  EXPECT_EQ(f.eof, 0);
  EXPECT_EQ(ridid::fscanf(&f, "%d", &v), 1);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(f.pos, 5);
  EXPECT_EQ(ridid::fscanf(&f, "%d", &v), -1);
  EXPECT_EQ(f.eof, 1);
  EXPECT_EQ(f.pos, 5);
  for (const kdouble::Trap& t : kdouble::traps()) {
    EXPECT_EQ(t.nr, ridid::SYS_READ);
    EXPECT_EQ(t.ebx, 5u);
    EXPECT_EQ(t.edx, 1u);
  }
  EXPECT_EQ(reads(), 6);
  // eof is not tested first: each call reads again.
  EXPECT_EQ(ridid::fscanf(&f, "%d", &v), -1);
  EXPECT_EQ(reads(), 7);
  EXPECT_EQ(f.err, 0);
}

TEST_F(ScanfStream, FormatSeesOnlyOneToken) {
  feed("1 2");
  ridid::FILE f = stream(ridid::FILE_FD, 0);
  int a = 0, b = -1;
  EXPECT_EQ(ridid::fscanf(&f, "%d %d", &a, &b), 1);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(ridid::fscanf(&f, "%d", &b), 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(f.eof, 1);  // the token ended at end of input

  feed("1,2 3");
  f = stream(ridid::FILE_FD, 0);
  EXPECT_EQ(ridid::fscanf(&f, "%d,%d", &a, &b), 2);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(f.pos, 4);  // "3" is still unread
  EXPECT_EQ(f.eof, 0);
}

TEST_F(ScanfStream, DelimitersAndNulBytes) {
  feed(std::string(" \t\r\n abc\rdef", 12));
  ridid::FILE f = stream(ridid::FILE_FD, 0);
  char w[256];
  EXPECT_EQ(ridid::fscanf(&f, "%s", w), 1);
  EXPECT_STREQ(w, "abc");  // a carriage return ends a token
  EXPECT_EQ(f.pos, 9);
  EXPECT_EQ(ridid::fscanf(&f, "%s", w), 1);
  EXPECT_STREQ(w, "def");
  EXPECT_EQ(f.eof, 1);

  // A NUL byte starts a token; the engine then sees an empty text.
  feed(std::string("\0abc", 4));
  f = stream(ridid::FILE_FD, 0);
  std::strcpy(w, "unset");
  EXPECT_EQ(ridid::fscanf(&f, "%s", w), 0);
  EXPECT_STREQ(w, "unset");
  EXPECT_EQ(f.pos, 4);

  // Only delimiters: every byte is read, then -1 and eof.
  feed("  \n\n \t ");
  f = stream(ridid::FILE_FD, 0);
  EXPECT_EQ(ridid::fscanf(&f, "%s", w), -1);
  EXPECT_EQ(f.pos, 7);
  EXPECT_EQ(f.eof, 1);
  EXPECT_EQ(reads(), 8);
}

TEST_F(ScanfStream, LongTokenIsCutAt255Bytes) {
  feed(std::string(300, 'x') + "\n9");
  ridid::FILE f = stream(ridid::FILE_FD, 0);
  char w[300];
  std::memset(w, '#', sizeof w);
  EXPECT_EQ(ridid::fscanf(&f, "%s", w), 1);
  EXPECT_EQ(std::strlen(w), 255u);
  EXPECT_EQ(std::string(w, 255), std::string(255, 'x'));
  EXPECT_EQ(w[256], '#');
  EXPECT_EQ(f.pos, 301);
  int v = 0;
  EXPECT_EQ(ridid::fscanf(&f, "%d", &v), 1);
  EXPECT_EQ(v, 9);

  // Exactly 255 bytes are kept whole.
  feed(std::string(255, 'y'));
  f = stream(ridid::FILE_FD, 0);
  EXPECT_EQ(ridid::fscanf(&f, "%s", w), 1);
  EXPECT_EQ(std::string(w), std::string(255, 'y'));
}

TEST_F(ScanfStream, ReadErrorsAndOddCounts) {
  ridid::FILE f = stream(ridid::FILE_FD, 0);
  int v = 0;
  kdouble::script([](const kdouble::Trap&) { return -5; });
  EXPECT_EQ(ridid::fscanf(&f, "%d", &v), -1);
  EXPECT_EQ(f.eof, 1);
  EXPECT_EQ(f.pos, 0);

  // An error after the first byte ends the token; it is still scanned.
  int n = 0;
  kdouble::script([&n](const kdouble::Trap& t) -> int32_t {
    if (n++ == 0) {
      *reinterpret_cast<char*>(static_cast<uintptr_t>(t.ecx)) = '8';
      return 1;
    }
    return -1;
  });
  f = stream(ridid::FILE_FD, 0);
  EXPECT_EQ(ridid::fscanf(&f, "%d", &v), 1);
  EXPECT_EQ(v, 8);
  EXPECT_EQ(f.eof, 1);
  EXPECT_EQ(f.pos, 1);

  // A kernel answering more than one byte: counted in pos, then -1.
  kdouble::script([](const kdouble::Trap& t) -> int32_t {
    *reinterpret_cast<char*>(static_cast<uintptr_t>(t.ecx)) = '1';
    return 3;
  });
  f = stream(ridid::FILE_FD, 0);
  EXPECT_EQ(ridid::fscanf(&f, "%d", &v), -1);
  EXPECT_EQ(f.pos, 3);
  EXPECT_EQ(f.eof, 0);
}

TEST_F(ScanfStream, OnlyDescriptorStreamsAreRead) {
  feed("5");
  int v = 0;
  char* mem_buf = nullptr;
  size_t mem_len = 0;
  ridid::FILE mem{ridid::FILE_MEM, 0, nullptr, nullptr, 0, 0, &mem_buf, &mem_len, 0, 0, 0};
  char path[] = "out.txt";
  ridid::FILE wr{ridid::FILE_WRITE, 0, path, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
  ridid::FILE odd = stream(7, 0);
  EXPECT_EQ(ridid::fscanf(&mem, "%d", &v), -1);
  EXPECT_EQ(ridid::fscanf(&wr, "%d", &v), -1);
  EXPECT_EQ(ridid::fscanf(&odd, "%d", &v), -1);
  EXPECT_EQ(ridid::fscanf(nullptr, "%d", &v), -1);
  ridid::FILE fd = stream(ridid::FILE_FD, 0);
  EXPECT_EQ(ridid::fscanf(&fd, nullptr), -1);
  EXPECT_EQ(reads(), 0);
  EXPECT_EQ(mem.eof + wr.eof + fd.eof, 0);
  // The standard input stream can be scanned.
  EXPECT_EQ(ridid::fscanf(ridid::stdin, "%d", &v), 1);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(ridid::g_stdin.pos, 1);
}

}  // namespace
