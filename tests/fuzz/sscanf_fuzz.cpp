// sscanf against a model of the documented scanner (c d i s u x X %% *, width
// for s only, blanks, signs, prefixes, wrapping, null s destinations). Each
// argument is a prefilled buffer longer than the input: all bytes must agree.
#include "runtime_fuzz.h"

// kinds[i] gets the conversion that took argument i; null arguments take nothing.
static int model(const char* in, const char* f, char* const* arg, char* kinds) {
  for (int count = 0, next = 0;;) {
    if (*f != 0 && std::strchr(" \t\n", *f) != nullptr) {  // format white space: spaces, tabs, newlines
      in += std::strspn(in, " \t\n"), f += std::strspn(f, " \t\n");
      continue;
    }
    if (*f == 0 || (*f != '%' && *in != *f)) return count;
    if (*f++ != '%') { ++in; continue; }
    const bool store = *f != '*';
    unsigned long long width = 0;
    for (f += !store; *f >= '0' && *f <= '9'; ++f) width = std::min(width * 10 + (*f - '0'), 1ull << 30);
    const char conv = *f++;
    if (conv != '%' && conv != 'c') in += std::strspn(in, " \t");  // conversions: spaces and tabs
    if (conv == '%' || conv == 'c' || conv == 's') {
      if (*in == 0 || (conv == '%' && *in != '%')) return count;
      const size_t n = conv != 's' ? 1 : std::min<size_t>(std::strcspn(in, " \t\n"), width ? width : ~0u);
      if (conv != '%' && store && (kinds[next] = conv, arg[next++] != nullptr)) {
        std::memcpy(arg[next - 1], in, n);
        if (conv == 's') arg[next - 1][n] = 0;
        ++count;
      }
      in += n;
    } else if (conv != 0 && std::strchr("diuxX", conv) != nullptr) {
      const bool sign = conv != 'u' && (*in == '-' || *in == '+'), negative = sign && *in == '-';
      unsigned base = conv == 'x' || conv == 'X' ? 16 : 10;
      const char *p = in + sign, *digits = p;
      if (conv == 'i' && p[0] == '0') base = p[1] == 'x' || p[1] == 'X' ? (digits = p += 2, 16) : 8;
      uint32_t v = 0;
      for (; hex_digit(*p) < static_cast<int>(base); ++p) v = v * base + static_cast<uint32_t>(hex_digit(*p));
      if (p == digits) return count;
      v = negative ? 0u - v : v;
      if (store && (kinds[next] = 'n', arg[next++] != nullptr)) std::memcpy(arg[next - 1], &v, 4), ++count;
      in = p;
    } else {
      return count;
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::string format = in.ConsumeRandomLengthString(96);
  const unsigned nulls = in.ConsumeIntegral<uint16_t>();
  const std::string input = in.ConsumeRemainingBytesAsString(), what = format + "] [" + input;
  for (size_t at = 0, n = 0; (at = format.find('%', at)) != std::string::npos; ++at)
    if (++n > 16) format.resize(at);  // an argument per %, at most 16
  std::vector<std::vector<char>> ours(16, std::vector<char>(input.size() + 8, '\xA5')), theirs = ours;
  char *a[16], *b[16] = {}, kinds[16] = {};
  model(input.c_str(), format.c_str(), b, kinds);  // which arguments take an s
  for (int i = 0; i < 16; ++i) {
    const bool null = kinds[i] == 's' && (nulls >> i & 1) != 0;
    a[i] = null ? nullptr : ours[i].data(), b[i] = null ? nullptr : theirs[i].data();
  }
  const int want = model(input.c_str(), format.c_str(), b, kinds);
  CHECK(ridid::sscanf(input.c_str(), format.c_str(), a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
                      a[10], a[11], a[12], a[13], a[14], a[15]) == want && ours == theirs);
  return 0;
}
