// How often each instruction of a process ran, for the tools that need it
// (the profiler, coverage): counted per translated block while the guest
// runs (a small direct-mapped cache in front of a hash map), and spread over
// the blocks' instructions only when asked, at the end.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "../engine/engine.h"

namespace ridemu::detail {

class BlockCounts {
 public:
  // The block is about to run: each of its instructions counts once more.
  void ran(const Block& b) {
    Slot& slot = cache_[b.serial & (kSlots - 1)];
    if (slot.serial != b.serial) slot = Slot{b.serial, &entry(b)};
    ++slot.entry->count;
  }
  // A fault ended the block after `ran` of its instructions: the rest did not run.
  void cut(const Block& b, uint32_t ran) {
    for (size_t i = ran; i < b.insns.size(); ++i) --extra_[b.insns[i]];
  }
  // Executions of each instruction, by address.
  std::unordered_map<uint32_t, int64_t> per_instruction() const {
    std::unordered_map<uint32_t, int64_t> n(extra_.begin(), extra_.end());
    for (const auto& [key, e] : blocks_)
      for (uint32_t a : e.insns) n[a] += static_cast<int64_t>(e.count);
    return n;
  }

 private:
  static constexpr size_t kSlots = 1u << 12;
  struct Entry {  // one translated block
    std::vector<uint32_t> insns;
    uint64_t count = 0;
  };
  struct Slot {
    uint64_t serial = 0;  // of the block's decoding (never 0)
    Entry* entry = nullptr;
  };

  Entry& entry(const Block& b) {
    Entry& e = blocks_[(uint64_t(b.addr) << 32) | b.size];
    if (e.insns != b.insns) {
      // New, or code rewritten at the same place: what ran before stays.
      for (uint32_t a : e.insns) extra_[a] += static_cast<int64_t>(e.count);
      e.insns = b.insns;
      e.count = 0;
    }
    return e;
  }

  std::unordered_map<uint64_t, Entry> blocks_;  // by (addr << 32 | size)
  std::vector<Slot> cache_ = std::vector<Slot>(kSlots);
  // Per instruction: blocks whose code changed under them, and the
  // instructions of a block a fault cut short (negative).
  std::unordered_map<uint32_t, int64_t> extra_;
};

}  // namespace ridemu::detail
