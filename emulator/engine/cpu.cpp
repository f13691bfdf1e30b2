// The processor: one Unicorn engine per guest process, loaded with the image
// and the argument vector, run until something stops it, with the blocks it
// decoded kept. What the engine reports while it runs is in cpu_events.cpp,
// the system the guest runs under in cpu_system.cpp.
//
// The guest's pages are described to the processor twice. Unicorn maps them
// as physical memory (code executable, everything writable, so that its own
// checks, which would report the start of a block rather than the faulting
// instruction, never fire first), and page tables map them at the same
// addresses as user pages with the image's protections. A load, store or
// fetch that the page tables refuse is a page fault, which the processor
// raises with the exact instruction and the address in CR2. Every address the
// guest has not mapped is backed by an empty device region, so it reaches the
// page tables too. Only executing a mapped page that is not executable is
// caught by Unicorn itself (the processor has no no-execute bit in this
// mode); a fetch fault's address tells its instruction.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine.h"
#include "registers.h"

namespace ridemu::detail {
namespace {


std::string uc_reason(uc_err e) { return uc_strerror(e); }

// For the Unicorn calls that fail only when the emulator itself is wrong (a
// register id it does not know, memory that the emulator mapped itself): a
// failure ends the program with a line that names it, as Unicorn's own
// aborts do (the command runs the guest in a child process of its own, so
// it reports the failure and ends cleanly).
void must(uc_err e, const char* what) {
  if (e == UC_ERR_OK) return;
  std::fprintf(stderr, "ridid-emu: the processor emulation cannot %s: %s\n", what, uc_strerror(e));
  std::abort();
}

}  // namespace

Fault limit_fault(const Counter& counter, uint32_t eip) {
  return {counter.spent() ? "instruction budget exceeded" : "time limit exceeded", eip, eip,
          Fault::Limit};
}

Cpu::~Cpu() {
  if (uc_) uc_close(uc_);
}

uint32_t Cpu::reg(int r) const {
  uint32_t v = 0;
  must(uc_reg_read(uc_, r, &v), "read a register");
  return v;
}

void Cpu::set_reg(int r, uint32_t v) { must(uc_reg_write(uc_, r, &v), "write a register"); }

std::array<uint32_t, 8> Cpu::regs() const {
  static std::array<int, kGeneralRegisters> ids = [] {
    std::array<int, kGeneralRegisters> a{};
    for (int i = 0; i < kGeneralRegisters; ++i) a[i] = kRegisters[i].uc;
    return a;
  }();
  std::array<uint32_t, 8> v{};
  void* ptrs[8];
  for (int i = 0; i < 8; ++i) ptrs[i] = &v[i];
  must(uc_reg_read_batch(uc_, ids.data(), ptrs, 8), "read the registers");
  return v;
}

void Cpu::stop() { must(uc_emu_stop(uc_), "stop"); }

void Cpu::fail(Fault f) {
  if (fault) return;
  // A fault inside the block being counted ends it early: only the
  // instructions up to the faulting one (which counts) ran.
  if (current_ && f.eip - current_->addr < current_->size) {
    const uint32_t ran = current_->executed_through(f.eip);
    const uint32_t n = static_cast<uint32_t>(current_->insns.size());
    if (ran < n) {
      if (options_.counter) options_.counter->count -= n - ran;
      if (options_.blocks) events_->block_cut(*this, *current_, ran);
    }
  }
  current_ = nullptr;
  fault = std::move(f);
  stop();
}

std::string Cpu::load(const Image& image, const std::vector<std::optional<std::string>>& argv,
                      Events* events, Options options, bool& too_long) {
  too_long = false;
  events_ = events;
  options_ = options;
  if (uc_err e = uc_open(UC_ARCH_X86, UC_MODE_32, &uc_); e != UC_ERR_OK) {
    uc_ = nullptr;
    return "cannot open the processor: " + uc_reason(e);
  }
  mem.uc = uc_;
  // No "until" address: only hooks stop a run.
  if (uc_err e = uc_ctl_exits_enable(uc_); e != UC_ERR_OK)
    return "cannot set up the processor: " + uc_reason(e);

  for (size_t i = 0; i < image.segments.size(); ++i) {
    const Segment& s = image.segments[i];
    const uint32_t a0 = s.vaddr & ~(kPage - 1);
    const uint64_t a1 = (uint64_t(s.vaddr) + s.memsz + kPage - 1) & ~uint64_t(kPage - 1);
    uint32_t prot = 0;
    if (s.flags & 4) prot |= UC_PROT_READ;
    if (s.flags & 2) prot |= UC_PROT_WRITE;
    if (s.flags & 1) prot |= UC_PROT_EXEC;
    const uint32_t engine_prot = (prot & (UC_PROT_READ | UC_PROT_EXEC)) | UC_PROT_WRITE;
    if (uc_err e = uc_mem_map(uc_, a0, static_cast<size_t>(a1 - a0), engine_prot); e != UC_ERR_OK)
      return "cannot map segment " + std::to_string(i + 1) + ": " + uc_reason(e);
    mem.add(a0, static_cast<uint32_t>(a1 - a0), prot);
    // Fresh mappings are zero; copy the file part (the rest stays zero).
    if (s.filesz && uc_mem_write(uc_, s.vaddr, image.bytes.data() + s.offset, s.filesz) !=
                        UC_ERR_OK)
      return "cannot fill segment " + std::to_string(i + 1);
  }
  if (uc_err e = uc_mem_map(uc_, kStackBottom, kStackSize, UC_PROT_READ | UC_PROT_WRITE);
      e != UC_ERR_OK)
    return "cannot map the stack: " + uc_reason(e);
  mem.add(kStackBottom, kStackSize, UC_PROT_READ | UC_PROT_WRITE);

  // Strings at the top of the stack, then the count and the vector below.
  size_t strings = 0;
  for (const auto& a : argv)
    if (a) strings += a->size() + 1;
  const size_t vector = 4 * (argv.size() + 2);
  if (strings + vector + 64 > kMaxArgBytes) {
    too_long = true;
    return "argument list too long";
  }
  const uint32_t top = (kStackTop - static_cast<uint32_t>(strings)) & ~3u;
  std::vector<uint32_t> words{static_cast<uint32_t>(argv.size())};
  uint32_t cursor = top;
  for (const auto& a : argv) {
    if (!a) {
      words.push_back(0);
      continue;
    }
    if (!mem.write(cursor, a->c_str(), static_cast<uint32_t>(a->size() + 1)))
      return "cannot write the arguments";
    words.push_back(cursor);
    cursor += static_cast<uint32_t>(a->size() + 1);
  }
  words.push_back(0);
  const uint32_t esp = (top - static_cast<uint32_t>(vector)) & ~15u;
  if (!mem.write(esp, words.data(), static_cast<uint32_t>(words.size() * 4)))  // little-endian host
    return "cannot write the arguments";

  std::string why = map_system(image.entry, esp);
  if (!why.empty()) return why;

  // The x87 unit as after FNINIT: extended precision, round to nearest, all
  // exceptions masked, empty register stack.
  set_reg(UC_X86_REG_FPCW, 0x037F);
  set_reg(UC_X86_REG_FPSW, 0);
  set_reg(UC_X86_REG_FPTAG, 0xFFFF);
  set_reg(UC_X86_REG_MXCSR, 0x1F80);

  if (std::string why = add_hooks(); !why.empty()) return why;
  slots_.assign(kSlots, Slot{});
  return "";
}

void Cpu::run(uint64_t timeout_us) {
  timed_out_ = false;
  const DataPages data_pages(mem);
  const uc_err e = uc_emu_start(uc_, eip(), 0, timeout_us, 0);
  if (fault) {
    // The processor moved EIP on after the fault: put it back, so the state
    // is the one before the faulting instruction.
    set_reg(UC_X86_REG_EIP, fault->eip);
    return;
  }
  if (e != UC_ERR_OK) {
    const uint32_t at = eip();
    fail({uc_reason(e), at, at});
    return;
  }
  size_t timed_out = 0;
  if (timeout_us && uc_query(uc_, UC_QUERY_TIMEOUT, &timed_out) == UC_ERR_OK && timed_out)
    timed_out_ = true;
}

const Cpu::Slot& Cpu::decode(Slot& s, uint32_t addr, uint32_t size) {
  std::vector<uint8_t> bytes(size);
  must(uc_mem_read(uc_, addr, bytes.data(), size), "read a block it runs");
  auto& d = blocks_[(uint64_t(addr) << 32) | size];
  if (!d || (!d->bytes.empty() && d->bytes != bytes)) {
    d = std::make_unique<Decoded>();
    d->block.addr = addr;
    d->block.size = size;
    d->block.serial = ++decoded_;
    decoder.split(bytes.data(), bytes.size(), d->block);
    // Code in writable memory may change under the same address: it is
    // checked again each time.
    const Region* r = mem.find(addr);
    if (!r || (r->prot & UC_PROT_WRITE)) d->bytes = std::move(bytes);
  }
  s = Slot{addr, size, static_cast<uint32_t>(d->block.insns.size()), d->bytes.empty(), &d->block};
  return s;
}

bool Cpu::insn_at(uint32_t addr, Insn& out) {
  uint8_t code[15];
  uint32_t n = 0;
  while (n < sizeof code) {
    const Region* r = mem.find(addr + n);
    if (!r || !(r->prot & (UC_PROT_READ | UC_PROT_EXEC))) break;
    const uint32_t k = std::min<uint32_t>(sizeof code - n, r->end - (addr + n));
    if (uc_mem_read(uc_, addr + n, code + n, k) != UC_ERR_OK) break;
    n += k;
  }
  const auto r = regs();
  return n > 0 && decoder.decode(code, n, addr, r.data(), out);
}

}  // namespace ridemu::detail
