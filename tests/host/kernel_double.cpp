#include <unistd.h>

#include <algorithm>
#include <map>

#include "runtime_test.h"

namespace kdouble {
namespace {

int32_t take_writes(const Trap& t) { return t.nr == ridid::SYS_WRITE ? int32_t(t.edx) : 0; }
std::vector<Trap> g_traps;
std::function<int32_t(const Trap&)> g_script = take_writes;
std::map<uint32_t, std::string> g_names;

// Copies `count` bytes at `address` through a pipe: the kernel refuses to
// write from memory the process cannot read (EFAULT, or a short write) where
// a plain read would fault, natively and under qemu-user alike.
bool copy_readable(uint32_t address, uint32_t count, std::string& bytes) {
  static int ends[2] = {-1, -1};
  if (ends[0] < 0 && pipe(ends) != 0) return false;
  bytes.assign(count, '\0');
  for (uint32_t done = 0; done < count;) {
    const size_t n = std::min<uint32_t>(count - done, 4096);
    const ssize_t w = write(ends[1], reinterpret_cast<const char*>(uintptr_t{address + done}), n);
    if (w > 0 && read(ends[0], &bytes[done], size_t(w)) != w) return false;
    if (w != ssize_t(n)) return false;
    done += uint32_t(n);
  }
  return true;
}

// Bytes as text; "?" when they cannot be read: some calls get made-up addresses.
std::string text(uint32_t address, uint32_t count) {
  if (count > (1u << 20)) return std::to_string(count) + " bytes";
  std::string bytes, out;
  if (!copy_readable(address, count, bytes)) return "?";
  for (unsigned char c : bytes) {
    char hex[5];
    out += c >= 32 && c < 127 ? std::string(1, char(c)) : (std::snprintf(hex, sizeof hex, "\\x%02x", c), hex);
  }
  return out;
}

std::string word(const Trap& t) {
  auto n = [](uint32_t v) { return g_names.count(v) ? g_names[v] : std::to_string(int32_t(v)); };
  auto path = [](uint32_t p) { return p ? text(p, uint32_t(std::strlen(reinterpret_cast<char*>(p)))) : ""; };
  std::string args = n(t.ebx) + "," + n(t.ecx) + "," + n(t.edx) + ")";
  switch (t.nr) {
    case ridid::SYS_WRITE: return (t.ebx == 1 ? "w(" : "w" + n(t.ebx) + "(") + text(t.ecx, t.edx) + ")";
    case ridid::SYS_READ: return "r" + n(t.ebx) + ":" + n(t.edx);
    case ridid::SYS_OPEN: return "open(" + path(t.ebx) + "," + n(t.ecx) + "," + n(t.edx) + ")";
    case ridid::SYS_CLOSE: return "close(" + args;
    case ridid::SYS_LSEEK: return "seek(" + args;
    case ridid::SYS_WRITEFILE: return "store(" + path(t.ebx) + "," + text(t.ecx, t.edx) + ")";
    case ridid::SYS_USLEEP: return "sleep(" + std::to_string(t.ebx) + "," + n(t.ecx) + "," + n(t.edx) + ")";
  }
  return std::to_string(t.nr) + "(" + args;
}

}  // namespace

void reset() { g_traps.clear(), g_script = take_writes; }
const std::vector<Trap>& traps() { return g_traps; }
void script(std::function<int32_t(const Trap&)> answer) { g_script = std::move(answer); }
void name(const void* address, const char* as) { g_names[uint32_t(uintptr_t(address))] = as; }

std::string trace() {
  std::string out;
  for (size_t i = 0, j; i < g_traps.size(); i = j) {
    for (j = i + 1; j < g_traps.size() && g_traps[j].word == g_traps[i].word;) ++j;
    out += (i ? " " : "") + g_traps[i].word + (j - i > 1 ? "*" + std::to_string(j - i) : "");
  }
  return out;
}

void refuse_writes_from(int n) {
  script([n, seen = std::make_shared<int>(0)](const Trap& t) { return t.nr != ridid::SYS_WRITE ? 0 : ++*seen >= n ? -1 : int32_t(t.edx); });
}

void serve(int fd, std::string data) {
  script([fd, file = std::make_shared<std::string>(std::move(data)), at = std::make_shared<size_t>(0)](const Trap& t) {
    size_t n = t.nr == ridid::SYS_READ ? std::min<size_t>(t.edx, file->size() - std::min(*at, file->size())) : 0;
    if (n != 0) std::memcpy(reinterpret_cast<void*>(uintptr_t{t.ecx}), file->data() + *at, n), *at += n;
    *at = t.nr == ridid::SYS_LSEEK ? t.ecx : *at;
    return t.nr == ridid::SYS_OPEN ? fd : t.nr == ridid::SYS_LSEEK ? int32_t(*at) : t.nr == ridid::SYS_READ ? int32_t(n) : take_writes(t);
  });
}

}  // namespace kdouble

int ridid::kernel_trap(int number, unsigned int ebx, unsigned int ecx, unsigned int edx) {
  kdouble::Trap t{number, ebx, ecx, edx, {}};
  kdouble::g_traps.push_back((t.word = kdouble::word(t), t));
  return kdouble::g_script(t);
}
