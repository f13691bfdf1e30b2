// The debugger stub's watchpoints (GDB's Z2, Z3 and Z4): write, read and
// access watchpoints on ranges of the program's memory, served by a memory
// hook of the engine that exists only while a watchpoint is set. The access
// notes the hit, and the stub stops the program before the next
// instruction, as a processor's data breakpoint stops it. Loads and stores
// leave the engine's fast path only while the hook is there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../engine/engine.h"

namespace ridemu::detail::gdb {

class Watchpoints {
 public:
  // GDB's Z type 2 (write), 3 (read) or 4 (access) on LEN bytes at ADDR,
  // set or removed: the reply ("OK" or "E01"). In force from the next apply.
  std::string change(int type, uint32_t addr, uint32_t len, bool insert);
  // Removes them all (a detached program runs on without the hook).
  void clear();
  bool changed() const { return changed_; }
  // Puts the memory hook in place for the watchpoints set (or takes it away
  // when none is left). The engine translates the program's code afresh, for
  // loads and stores to reach the hook or to take the fast path again, and
  // starts over at EIP, since the rest of the current block was translated
  // before: nothing has run at EIP yet when this returns.
  void apply(Cpu& cpu);
  // The stop reply's reason ("watch:ADDR;", "rwatch:..." or "awatch:...")
  // when the instruction that just ran touched a watched byte, once.
  std::optional<std::string> take_hit();

 private:
  struct Watch {
    int type;
    uint32_t addr, len;
    bool operator==(const Watch& o) const {
      return type == o.type && addr == o.addr && len == o.len;
    }
  };
  struct Hit {
    int type;
    uint32_t addr;  // the first watched byte the access touched
  };
  static void accessed(uc_engine*, uc_mem_type type, uint64_t addr, int size, int64_t,
                       void* user);

  std::vector<Watch> watches_;
  bool changed_ = false;  // since the hook was last put in place
  bool hooked_ = false;
  uc_hook hook_ = 0;
  std::optional<Hit> hit_;  // a watched access by the instruction that just ran
};

}  // namespace ridemu::detail::gdb
