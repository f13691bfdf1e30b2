// The engine room: a ridid process's processor and memory on Unicorn, the
// image loader and the instruction decoder.
//
// The guest runs as a user program does on the machine: in 32-bit protected
// mode at privilege level 3, with paging. So the processor itself reports
// every bad access as a page fault with the exact faulting instruction, and
// every privileged instruction (a debug register write, hlt, cli...) as a
// general protection fault, at no cost while nothing goes wrong. The kernel
// room serves the traps (events below); tools watch through the kernel.
#pragma once

#include <unicorn/unicorn.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "../ridemu_limits.h"

namespace ridemu::detail {

constexpr uint32_t kPage = 0x1000;
constexpr uint32_t kStackTop = 0xC0000000u;
constexpr uint32_t kStackSize = 1u << 20;
constexpr uint32_t kStackBottom = kStackTop - kStackSize;
constexpr uint32_t kGuardPage = kStackBottom - kPage;  // never mapped
static_assert(kMaxArgBytes <= kStackSize / 4, "the arguments leave the program its stack");

// ---- images (loader.cpp) ----
struct Segment {
  uint32_t vaddr, memsz, offset, filesz, flags;  // flags: PF_R, PF_W, PF_X
};
struct Image {
  uint32_t entry = 0;
  std::vector<Segment> segments;
  uint64_t mapped = 0;  // bytes the segments map, page-rounded
  std::vector<uint8_t> bytes;  // the whole file, symbol and line tables included
};
// "" and fills `out`, or the reason the bytes are not a loadable image.
std::string parse_image(std::vector<uint8_t> bytes, Image& out);
// Reads a whole host file of at most `max` bytes: "" or a reason. The
// second form reads from a descriptor it closes.
std::string read_host_file(const std::string& path, size_t max, std::vector<uint8_t>& out);
std::string read_host_file(int fd, size_t max, std::vector<uint8_t>& out);

// ---- guest memory (memory.cpp) ----
struct Region {
  uint32_t begin, end;  // [begin, end), page aligned
  uint32_t prot;        // UC_PROT_* as the image asked for
};
// The process's mappings as the kernel sees them: every pointer and length a
// service gets is checked here before it is used.
class GuestMemory {
 public:
  uc_engine* uc = nullptr;
  std::vector<Region> regions;  // sorted, non-overlapping

  void add(uint32_t begin, uint32_t size, uint32_t prot);
  const Region* find(uint32_t addr) const;
  // True when [p, p+n) lies in mappings that all have `prot`.
  bool check(uint32_t p, uint32_t n, uint32_t prot) const;
  bool read(uint32_t p, void* dst, uint32_t n) const;   // checked
  bool write(uint32_t p, const void* src, uint32_t n);  // checked
  // Reads a NUL-terminated string of at most max-1 bytes: 0, -EFAULT or
  // -ENAMETOOLONG.
  int read_string(uint32_t p, size_t max, std::string& out) const;
};

// While one lives, stores to the pages of `mem` that cannot be run take the
// processor's fast path (unicorn_patch.cpp: where the library allows it).
// Made around each run of the processor, on the thread that runs it.
class DataPages {
 public:
  explicit DataPages(const GuestMemory& mem);
  ~DataPages();
  DataPages(const DataPages&) = delete;
  DataPages& operator=(const DataPages&) = delete;

 private:
  const GuestMemory* outer_;
};

// ---- instructions (decode.cpp) ----
// One straight-line block of guest code as the processor translated it.
struct Block {
  uint32_t addr = 0, size = 0;
  std::vector<uint32_t> insns;  // start of each instruction
  uint64_t serial = 0;          // new for every decoding: tells a block from one decoded in its place
  enum End : uint8_t { Plain, Call, Return } end = Plain;
  uint32_t next() const { return addr + size; }  // after the block: a call's return address
  // Instructions of the block up to and including the one at `eip`.
  uint32_t executed_through(uint32_t eip) const;
};

struct Operand {  // a memory operand of a decoded instruction
  uint32_t addr, size;
  bool read, write;
};
struct Insn {
  uint32_t addr = 0, size = 0;
  std::string text;  // "mov eax, dword ptr [0x10]"
  unsigned id = 0;   // Capstone's instruction id
  std::vector<Operand> memory;  // explicit memory operands, with the registers given
  bool pushes = false, pops = false;  // an implicit stack write or read
};

// The 32-bit x86 decoder (Capstone).
class Decoder {
 public:
  Decoder();
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  // Decodes the instruction at the start of `code` (taken to be at `addr`);
  // `regs` (the general registers, registers.h) give the memory operands'
  // addresses. False when the bytes are no instruction.
  bool decode(const uint8_t* code, size_t n, uint32_t addr, const uint32_t regs[8], Insn& out);
  // Splits a block's bytes into instructions.
  void split(const uint8_t* code, size_t n, Block& out);

 private:
  size_t handle_ = 0;
};

// ---- the processor (cpu.cpp) ----
struct Fault {
  std::string what;   // "unmapped read", "division error", "stack overflow: write" ...
  uint32_t addr = 0;  // the address accessed, or the instruction's own
  uint32_t eip = 0;   // the faulting instruction
  // What a debugger is told (as a signal); Limit: the run's time or budget.
  enum Kind : uint8_t { Access, Illegal, Arithmetic, Trap, Alignment, Limit } kind = Access;
};

// The instructions of a whole run (all its processes) and their budget.
struct Counter {
  uint64_t count = 0;
  uint64_t max = 0;  // 0: no budget
  bool spent() const { return max && count > max; }
};
// The fault that ends a process at `eip` once a limit of the run is spent:
// the instruction budget when `counter` has spent it, else the time limit.
Fault limit_fault(const Counter& counter, uint32_t eip);

class Cpu {
 public:
  // What the processor tells its owner while it runs, from inside the engine.
  struct Events {
    virtual ~Events() = default;
    virtual void trap(Cpu&) = 0;                     // int 0x80
    virtual void block(Cpu&, const Block&) {}        // with Options::blocks
    // A fault ended the block after `ran` of its instructions.
    virtual void block_cut(Cpu&, const Block&, uint32_t /*ran*/) {}
    virtual void instruction(Cpu&, uint32_t) {}      // with Options::instructions
  };
  struct Options {
    Counter* counter = nullptr;  // count executed instructions here
    bool blocks = false;         // Events::block before each block
    bool instructions = false;   // Events::instruction before each instruction
  };

  Cpu() = default;
  ~Cpu();
  Cpu(const Cpu&) = delete;
  Cpu& operator=(const Cpu&) = delete;

  // Opens the processor and maps the image, the stack with the argument
  // vector and the processor's own tables. "" or why it cannot start;
  // `too_long` says the argument vector does not fit.
  std::string load(const Image& image, const std::vector<std::optional<std::string>>& argv,
                   Events* events, Options options, bool& too_long);
  // Runs from where it stopped until stop(), a fault or `timeout_us` (0: none).
  void run(uint64_t timeout_us);
  bool timed_out() const { return timed_out_; }
  // From an event: the run ends before the next instruction.
  void stop();
  // Records the first fault (later ones are ignored) and stops.
  void fail(Fault f);

  uint32_t reg(int r) const;
  void set_reg(int r, uint32_t v);
  uint32_t eip() const { return reg(UC_X86_REG_EIP); }
  // The general registers, in the order of registers.h.
  std::array<uint32_t, 8> regs() const;
  uc_engine* engine() const { return uc_; }
  // The instruction at `addr`, with the registers as they are now.
  bool insn_at(uint32_t addr, Insn& out);

  GuestMemory mem;
  std::optional<Fault> fault;
  Decoder decoder;

  // Engine callbacks (cpu_events.cpp); not for other callers.
  struct Hooks;

 private:
  std::string map_system(uint32_t entry, uint32_t esp);  // cpu_system.cpp
  std::string add_hooks();                              // cpu_events.cpp
  Fault classify_page_fault(uint32_t addr, uint32_t eip);
  uint32_t find_forward(uint32_t from, bool (*match)(const Insn&, uint32_t), uint32_t arg);

  uc_engine* uc_ = nullptr;
  Events* events_ = nullptr;
  Options options_;
  bool timed_out_ = false;
  const Block* current_ = nullptr;  // the block being run, while counting
  // Every block decoded so far, and a direct-mapped cache in front of them.
  struct Decoded {
    Block block;
    std::vector<uint8_t> bytes;  // kept for code in writable memory
  };
  std::unordered_map<uint64_t, std::unique_ptr<Decoded>> blocks_;
  uint64_t decoded_ = 0;  // blocks decoded so far
  struct Slot {
    uint32_t addr = 0, size = 0;
    uint32_t insns = 0;   // instructions in the block
    bool fixed = false;   // in memory the guest cannot write: never checked again
    const Block* block = nullptr;
  };
  static constexpr uint32_t kSlots = 1u << 12;
  std::vector<Slot> slots_;
  // The block's slot: found at once, or filled by decoding the block (again
  // when its code may have changed). Called for every block run.
  const Slot& slot(uint32_t addr, uint32_t size) {
    Slot& s = slots_[(addr ^ (addr >> 12)) & (kSlots - 1)];
    return s.fixed && s.addr == addr && s.size == size ? s : decode(s, addr, size);
  }
  const Slot& decode(Slot& s, uint32_t addr, uint32_t size);
};

}  // namespace ridemu::detail
