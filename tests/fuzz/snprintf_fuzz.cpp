// snprintf gives the model's output (runtime_fuzz.h) and its length, also
// with a null buffer; a cut buffer holds a terminated prefix, and no byte
// past the terminator (none for size 0) is touched. sprintf agrees.
#include "runtime_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Case c;
  add_pieces(in, c, false);
  const std::string &what = c.format, &want = c.expected;
  const int n = static_cast<int>(want.size());
  CHECK(ridid::snprintf(nullptr, 0, what.c_str(), c.args) == n && ridid::snprintf(nullptr, 9, what.c_str(), c.args) == n);
  for (size_t cut : {want.size() + 1 + in.ConsumeIntegralInRange<size_t>(0, 9),
                     in.ConsumeIntegralInRange<size_t>(0, want.size() + 1), size_t{0}}) {
    std::vector<char> buf(cut + 16, '\xA5');
    CHECK(ridid::snprintf(buf.data(), cut, what.c_str(), c.args) == n);
    const size_t kept = cut == 0 ? 0 : std::min(want.size(), cut - 1), end = kept + (cut != 0);
    CHECK(want.compare(0, kept, buf.data(), kept) == 0 && (cut == 0 || buf[kept] == '\0') &&
          std::all_of(buf.begin() + static_cast<long>(end), buf.end(), [](char b) { return b == '\xA5'; }));
  }
  std::vector<char> all(want.size() + 2, '\xA5');
  CHECK(ridid::sprintf(all.data(), what.c_str(), c.args) == n && want == std::string(all.data(), want.size()) &&
        all[want.size()] == '\0' && all.back() == '\xA5');
  return 0;
}
