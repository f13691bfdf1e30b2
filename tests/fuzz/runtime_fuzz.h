// Common ground of the runtime's fuzz targets (32-bit, namespace ridid), and
// formats drawn from fuzz input for the two formatting engines, with their due
// output: by the host snprintf where C agrees, by hand where the engines depart.
#pragma once
#include <fuzzer/FuzzedDataProvider.h>  // and <algorithm>, <cstring>, <string>, <vector>

#include <cstdio>
#include <cstdlib>
#undef errno
#include "../../runtime/stdio.h"
#include "../../runtime/stdlib.h"
#include "../../runtime/unistd.h"

// A failed check names itself and `what`, the case at hand, and crashes.
#define CHECK(cond) \
  ((cond) ? (void)0 : (std::fprintf(stderr, "check failed: %s\n[%s]\n", #cond, std::string(what).c_str()), abort()))

struct Case {
  std::string format, expected;
  struct { uint32_t w[48]; } args{};  // passed by value: on i386 its words are the va_args
  int used = 0;
  bool common = true;  // nothing that the two engines read differently
  uint32_t push(uint32_t w) { return args.w[used++] = w; }
};

inline int hex_digit(char c) {  // 99: no digit
  return c >= '0' && c <= '9' ? c - '0' : (c | 32) >= 'a' && (c | 32) <= 'f' ? (c | 32) - 'a' + 10 : 99;
}

template <typename... A>
std::string host(const std::string& format, A... a) {
  std::vector<char> s(static_cast<size_t>(std::snprintf(nullptr, 0, format.c_str(), a...)) + 1);
  std::snprintf(s.data(), s.size(), format.c_str(), a...);
  return s.data();
}

// One directive of snprintf's grammar, or of fprintf's (`stream`).
inline void directive(FuzzedDataProvider& in, Case& c, bool stream) {
  std::string flags;
  for (int n = stream ? 0 : in.ConsumeIntegralInRange(0, 3); n > 0; --n) flags += "-0+"[in.ConsumeIntegralInRange(0, 2)];
  std::string d = "%" + flags;
  int width = 0, prec = -1, how = in.ConsumeIntegralInRange(0, 2);
  const bool zero = how == 1 && stream && in.ConsumeBool();  // fprintf: a digit of the width
  if (how == 1) d += (zero ? "0" : "") + std::to_string(width = in.ConsumeIntegralInRange(1, 40));
  if (how == 2) d += '*', c.push(width = in.ConsumeIntegralInRange(-40, 40));
  how = in.ConsumeIntegralInRange(0, 3);
  if (how == 1) d += "." + std::to_string(prec = in.ConsumeIntegralInRange(0, 40));
  if (how == 2) d += ".", prec = 0;
  if (how == 3) d += ".*", prec = std::max(-1, static_cast<int>(c.push(in.ConsumeIntegralInRange(-5, 40))));
  const int length = in.ConsumeIntegralInRange(0, stream ? 2 : 3);
  const bool wide = stream && length == 2, left = flags.find('-') != std::string::npos;
  const std::string convs = stream ? "diuxpcs%?" : "diuxXpcs%?", odd = stream ? "#' hjtqnofgaA-+Xz" : "#' hjtqnofgaA";
  char conv = convs[in.ConsumeIntegralInRange<size_t>(0, convs.size() - 1)];
  if (conv == '?') conv = odd[in.ConsumeIntegralInRange<size_t>(0, odd.size() - 1)];
  c.format += d + std::vector<const char*>{"", "l", "ll", "z"}[length] + conv;
  c.common &= !zero && !wide && std::strchr("-+Xz", conv) == nullptr;
  if (convs.find(conv) == std::string::npos || conv == '%') {  // %%, or outside the grammar: "%" and the byte
    c.expected += conv == '%' ? "%" : std::string("%") + conv;
  } else if (conv == 'c') {
    c.expected += static_cast<char>(c.push(in.ConsumeIntegral<uint32_t>()));
  } else if (conv == 's') {  // snprintf's "-" turns the width around
    static const std::string big(300, 'L');
    static const char* const pool[] = {"", "a", "hello", "with space", "\x80\xff~", big.c_str(), nullptr};
    const char* s = pool[in.ConsumeIntegralInRange(0, 6)];
    c.push(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(s)));
    c.expected += host("%*.*s", std::max(left ? -width : width, 0), prec, s != nullptr ? s : "(null)");
  } else {
    unsigned long long v = c.push(in.ConsumeIntegral<uint32_t>());
    if (wide) v |= static_cast<unsigned long long>(c.push(in.ConsumeIntegral<uint32_t>())) << 32;
    if (!wide && (conv == 'd' || conv == 'i')) v = static_cast<unsigned long long>(static_cast<int>(v));
    if (prec == 0 && v == 0) prec = 1;  // a zero always prints its digit
    c.common &= conv != 'p' || (width == 0 && prec < 0);
    if (conv == 'p' && !stream) c.expected += host("0x%x", static_cast<unsigned>(v));
    if (conv == 'p' && stream) c.expected += host("%*s", std::max(width, 0), ("0x" + host("%.*llx", std::max(prec, 1), v)).c_str());
    if (conv != 'p') c.expected += host("%" + flags + "*.*ll" + conv, std::max(width, 0), prec, v);
  }
}

// Literal text and directives; sometimes the format ends inside a directive.
inline void add_pieces(FuzzedDataProvider& in, Case& c, bool stream) {
  for (int pieces = in.ConsumeIntegralInRange(0, 12); pieces > 0 && c.used < 40; --pieces) {
    std::string text = in.ConsumeIntegralInRange(0, 3) == 0 ? in.ConsumeRandomLengthString(8) : "";
    if (text.empty()) directive(in, c, stream);
    for (char& ch : text) ch = ch == '%' || ch == '\0' ? '_' : ch;
    c.format += text, c.expected += text;
  }
  if (in.ConsumeIntegralInRange(0, 7) == 0) c.format += stream ? "%12.l" : "%-0+12.l";
}
