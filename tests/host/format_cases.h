// Formatting cases where the two engines depart from standard C (the rest is
// the host's differential test), shared by the host tests and the target
// program. Included inside namespace ridid on the host, at file scope on the
// target. Every argument is a 32-bit word; a 64-bit one is two, low first.
enum { SN = 1, FP = 2, BOTH = 3 };                // snprintf, fprintf on a memory stream
enum : unsigned { STR = 0x57170000u };            // words STR + i stand for kFormatStrings[i]
static const char* const kFormatStrings[] = {"hello", "hi", "abc", "x"};
struct FormatCase {
  int engines;
  const char* format;
  long long w[6];
  const char* want;
  unsigned len;
};
#define FC(engines, want, format, ...) {engines, format, {__VA_ARGS__}, want, sizeof(want) - 1}
static const FormatCase kFormatCases[] = {
    // Outside the grammar: "%", the byte, no argument taken.
    FC(BOTH, "%f|%hd|%#x|% d|%o|%n|%\xff|42", "%f|%hd|%#x|% d|%o|%n|%\xff|%d", 42),
    FC(BOTH, "%$d|% d|%l|%z|42", "%3$d|%5 d|%lll|%lz|%d", 42),
    FC(BOTH, "%8|A4|%", "%*%%d|%*c%d|%5%", 5, 8, 9, 'A', 4), FC(BOTH, "%q6", "%*.*q%d", 1, 2, 6),  // * takes its word
    // Widths and precisions.
    FC(BOTH, "42|hi", "%*d|%*s", -5, 42, -8, STR + 1),  // a negative width pads nothing
    FC(BOTH, "0|0", "%.0d|%.d", 0, 0),                 // zero always prints a digit
    FC(BOTH, " 5|5|hello", "%4294967298d|%.4294967295d|%.4294967295s", 5, 5, STR),  // digit runs wrap
    FC(BOTH, "0x0|0xffffffff|A", "%p|%p|%5c", 0, 0xffffffffu, 0x41),
    FC(BOTH, "(null)|(nu|  (null)|x|ff", "%s|%.3s|%8s|%lls|%lx", 0, 0, 0, STR + 3, 255),
    // A directive cut short by the end of the format ends the output.
    FC(BOTH, "a", "a%", 9), FC(BOTH, "a", "a%5", 9), FC(BOTH, "a", "a%.", 9), FC(BOTH, "a", "a%l", 9),
    FC(BOTH, "a", "a%ll", 9), FC(BOTH, "a", "a%*", 9), FC(BOTH, "a", "a%.*", 9), FC(BOTH, "a", "a%5.3l", 9),
    // The string engine: flags -0+, X and z; one word per argument; p, c and s its own way.
    FC(SN, "5|0", "%lld|%d", 5, 0, 7),
    FC(SN, "ABC|FF|FF|ff|%zd", "%X|%lX|%llX|%zx|%lzd", 0xabc, 255, 255, 255, 42),
    FC(SN, "%j|%l|42", "%-+05.2j|%zl|%d", 42),
    FC(SN, "a", "a%-"), FC(SN, "a", "a%z"), FC(SN, "a", "a%+0-"),
    FC(SN, "42|0x10 3", "%-*d|%*p %d", -5, 42, 20, 0x10, 3),
    FC(SN, "0xabc|0xabc|0xabc|0xabc|0xabc", "%10p|%-10p|%010p|%.8p|%+p", 0xabc, 0xabc, 0xabc, 0xabc, 0xabc),
    FC(SN, "A|%", "%-5c|%-05.3%", 0x41),
    FC(SN, "hello|      hi|      hi|hi", "%-8s|%-*s|%08s|%+s", STR, -8, STR + 1, STR + 1, STR + 1),
    // The stream engine: no flags, no X or z; ll is 64 bits; p takes width and precision.
    FC(FP, "%-5d|%+d|% d|%#x|1", "%-5d|%+d|% d|%#x|%d", 1),
    FC(FP, "   42|00042|%X|%zu|%zl", "%05d|%.5d|%X|%zu|%zl", 42, 42),
    FC(FP, "a%-|a%z|%-8s|%-*s", "a%-|a%z|%-8s|%-*s"),
    FC(FP, "  0x000abc|0xabc| 0xabc", "%10.6p|%5p|%6p", 0xabc, 0xabc, 0xabc),
    FC(FP, "|   |", "%s|%3s|", 16, 4095),  // low pointers are empty strings
    FC(FP, "-9223372036854775808|-1", "%lld|%lli", 0, 0x80000000u, -1, -1),
    FC(FP, "18446744073709551615|ffffffffffffffff", "%llu|%llx", -1, -1, -1, -1),
    FC(FP, "4294967296|100000000|10000000000000000000", "%lld|%llx|%llu", 0, 1, 0, 1, 0x89e80000u, 0x8ac72304u),
    FC(FP, "  -0000000000123456789012", "%25.22lld", 0x4166e5ecu, 0xffffffe3u),
    FC(FP, "5|7|0x100000abc|3", "%lld|%d|%llp|%d", 5, 0, 7, 0xabc, 1, 3),
    FC(FP, "-1|4294967295|8", "%ld|%lu|%d", -1, -1, 8),
};
#undef FC

// Formats case c with one engine into out (cap bytes); returns the result.
inline int format_case(const FormatCase& c, int engine, char* out, unsigned cap) {
  unsigned w[6], v;
  for (int i = 0; i < 6; ++i) w[i] = (v = (unsigned)c.w[i]) - STR < 4 ? (unsigned)(unsigned long)kFormatStrings[v - STR] : v;
  if (engine == SN) return snprintf(out, cap, c.format, w[0], w[1], w[2], w[3], w[4], w[5]);
  char* buf = 0;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  int n = fprintf(f, c.format, w[0], w[1], w[2], w[3], w[4], w[5]);
  for (unsigned i = 0; i < cap; ++i) out[i] = i < len ? buf[i] : '#';
  return fclose(f), n;
}

// Runs each case with each engine it is for; report(case, engine, output,
// result) for each wrong one.
template <class Report>
void run_format_cases(Report report) {
  for (const FormatCase& c : kFormatCases) {
    for (int engine = SN; engine <= FP; ++engine) {
      char out[64];
      if ((c.engines & engine) == 0) continue;
      for (unsigned i = 0; i < sizeof out; ++i) out[i] = '#';
      const int n = format_case(c, engine, out, sizeof out);
      bool ok = n == (int)c.len && out[c.len] == (engine == SN ? 0 : '#');
      for (unsigned i = 0; i < c.len; ++i) ok = ok && out[i] == c.want[i];
      if (!ok) report(c, engine, out, n);
    }
  }
}
