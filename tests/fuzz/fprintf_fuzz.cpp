// fprintf on a memory stream gives the model's output (runtime_fuzz.h), and
// snprintf's where the two engines share a grammar. With the heap near its
// end the stream may fail to grow: then -1, and a terminated prefix stays.
#include "runtime_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Case c;
  add_pieces(in, c, true);
  const std::string &what = c.format, &want = c.expected;
  const int room = in.ConsumeIntegralInRange(0, 60);  // 0: the whole heap
  ridid::g_heap_used = room != 0 ? ridid::HEAP_SIZE - 64 * room : 0;
  char* buf = nullptr;
  size_t len = 9;
  ridid::FILE* m = ridid::open_memstream(&buf, &len);
  CHECK(m != nullptr ? buf == nullptr && len == 0 : room != 0);
  if (m == nullptr) return 0;
  const int n = ridid::fprintf(m, what.c_str(), c.args);
  const std::string got = buf != nullptr ? std::string(buf, len) : std::string();
  CHECK(buf != nullptr ? buf[len] == '\0' : len == 0);
  CHECK(n == -1 && room != 0 ? len < want.size() && want.compare(0, len, got) == 0
                             : n == static_cast<int>(want.size()) && got == want);
  CHECK(ridid::fclose(m) == 0 && (buf == nullptr || got == std::string(buf, len)));
  std::vector<char> s(want.size() + 1);
  CHECK(!c.common || (ridid::snprintf(s.data(), s.size(), what.c_str(), c.args) == static_cast<int>(want.size()) &&
                      want == std::string(s.data(), want.size())));
  return 0;
}
