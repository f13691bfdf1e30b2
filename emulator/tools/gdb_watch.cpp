// The debugger stub's watchpoints: the ranges GDB set, the engine's memory
// hook that notes the first watched access of an instruction, and the
// reason the stop reply gives (gdb_watch.h says how they run).
#include "gdb_watch.h"

#include <algorithm>
#include <cstdio>

namespace ridemu::detail::gdb {
namespace {
constexpr int kWrite = 2, kRead = 3;  // GDB's Z types (4: access)
constexpr const char* kWatchName[] = {"watch", "rwatch", "awatch"};
}  // namespace

std::string Watchpoints::change(int type, uint32_t addr, uint32_t len, bool insert) {
  if (type < kWrite || type > 4 || len == 0 || uint64_t(addr) + len > (uint64_t(1) << 32))
    return "E01";
  const Watch w{type, addr, len};
  const auto it = std::find(watches_.begin(), watches_.end(), w);
  if (insert) {
    watches_.push_back(w);
  } else if (it != watches_.end()) {
    watches_.erase(it);
  }
  changed_ = true;
  return "OK";
}

void Watchpoints::clear() {
  if (watches_.empty()) return;
  watches_.clear();
  changed_ = true;
}

void Watchpoints::accessed(uc_engine*, uc_mem_type type, uint64_t addr, int size, int64_t,
                           void* user) {
  auto& self = *static_cast<Watchpoints*>(user);
  if (self.hit_) return;
  const bool write = type == UC_MEM_WRITE;
  const uint64_t end = addr + static_cast<uint64_t>(std::max(size, 1));
  for (const Watch& w : self.watches_) {
    if ((w.type == kWrite && !write) || (w.type == kRead && write)) continue;
    if (addr >= uint64_t(w.addr) + w.len || end <= w.addr) continue;
    self.hit_ = Hit{w.type, std::max(static_cast<uint32_t>(addr), w.addr)};
    return;
  }
}

void Watchpoints::apply(Cpu& cpu) {
  changed_ = false;
  hit_.reset();
  if (hooked_) uc_hook_del(cpu.engine(), hook_);
  hooked_ = false;
  uint32_t first = UINT32_MAX, last = 0;
  int types = 0;
  for (const Watch& w : watches_) {
    // An access starts up to 15 bytes before the first byte it touches.
    first = std::min(first, w.addr < 15 ? 0 : w.addr - 15);
    last = std::max(last, w.addr + (w.len - 1));
    if (w.type != kRead) types |= UC_HOOK_MEM_WRITE;
    if (w.type != kWrite) types |= UC_HOOK_MEM_READ;
  }
  if (types && uc_hook_add(cpu.engine(), &hook_, types, reinterpret_cast<void*>(accessed), this,
                           first, last) == UC_ERR_OK)
    hooked_ = true;
  for (const Region& r : cpu.mem.regions)
    if (r.prot & UC_PROT_EXEC) uc_ctl_remove_cache(cpu.engine(), r.begin, r.end);
  cpu.set_reg(UC_X86_REG_EIP, cpu.eip());
}

std::optional<std::string> Watchpoints::take_hit() {
  if (!hit_) return std::nullopt;
  char addr[12];
  std::snprintf(addr, sizeof addr, "%x", hit_->addr);
  std::string why = std::string(kWatchName[hit_->type - kWrite]) + ":" + addr + ";";
  hit_.reset();
  return why;
}

}  // namespace ridemu::detail::gdb
