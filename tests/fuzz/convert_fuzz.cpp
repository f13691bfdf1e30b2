// strtoul, strtol, atoi, atol against models of the documented rules. strtod
// is strtold rounded; strtold agrees with the host's on the end and, far beyond
// the last bits it may differ in, on the value, but for inf, nan, a bare "0x".
#include <cfloat>
#include <cmath>

#include "runtime_fuzz.h"

static uint32_t model_strtoul(const char* p, const char** end, int base) {
  p += std::strspn(p, " \t\n\r");
  const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (base == 0) base = hex ? 16 : p[0] == '0' ? 8 : 10, p += hex ? 2 : p[0] == '0';
  else if (base == 16 && hex) p += 2;
  uint32_t v = 0;
  for (; hex_digit(*p) < base; ++p) v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(hex_digit(*p));
  *end = p;
  return v;
}

static int model_atoi(const char* p) {
  p += std::strspn(p, " \t\n");
  const bool negative = *p == '-';
  uint32_t v = 0;
  for (p += *p == '-' || *p == '+'; *p >= '0' && *p <= '9'; ++p) v = v * 10 + static_cast<uint32_t>(*p - '0');
  return static_cast<int>(negative ? 0u - v : v);
}

static bool near(long double a, long double b) {  // closer than any fault, looser than rounded steps
  if (std::isinf(a) || std::isinf(b))
    return std::signbit(a) == std::signbit(b) && std::fabs(std::isinf(a) ? b : a) > LDBL_MAX * 0.999999L;
  return std::fabs(a - b) <= std::fabs(b) * 1e-12L || std::fabs(a - b) <= LDBL_MIN;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int base = in.ConsumeIntegralInRange(-2, 37);
  const std::string text = in.ConsumeRemainingBytesAsString();
  const char *what = text.c_str(), *want_end = nullptr, *p = what + std::strspn(what, " \t\n\v\f\r");
  char *end = nullptr, *l_end = nullptr, *d_end = nullptr, *h_end = nullptr;
  const uint32_t want = model_strtoul(what, &want_end, base);
  CHECK(ridid::strtoul(what, &end, base) == want && end == want_end);
  CHECK(ridid::strtol(what, &end, base) == static_cast<long>(want) && end == want_end);
  CHECK(ridid::atoi(what) == model_atoi(what) && ridid::atol(what) == model_atoi(what));
  const double d = ridid::strtod(what, &d_end);
  const long double l = ridid::strtold(what, &l_end), h = std::strtold(what, &h_end);
  CHECK(d_end == l_end && d == static_cast<double>(l) && std::signbit(d) == std::signbit(l));
  p += *p == '+' || *p == '-';
  if (*p != 0 && std::strchr("iInN", *p) != nullptr) return 0;
  const bool bare_hex = l_end == what && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');  // the host takes its 0
  CHECK(bare_hex ? h_end == p + 1 && l == 0 && !std::signbit(l)
                 : l_end == h_end && near(l, h) && (l_end == what ? !std::signbit(l) : std::signbit(l) == std::signbit(h)));
  return 0;
}
