// The processor: one Unicorn engine per guest process.
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
//
// The process starts at privilege level 0 on a small system page (the
// descriptor table and one iret), which drops to level 3 at the image's entry
// point. At level 3 every privileged instruction faults, as on the machine.
#include <capstone/x86.h>

#include <algorithm>
#include <cstring>

#include "engine.h"

namespace ridemu::detail {
namespace {

constexpr uint32_t kSystemPage = 0xFFFFF000u;     // descriptor table, iret, its stack
constexpr uint32_t kDirectory = kSystemPage - kPage;  // page directory, tables below it
constexpr uint32_t kTrampoline = kSystemPage + 0x100;
constexpr uint16_t kUserCode = 0x08 | 3, kUserData = 0x10 | 3, kKernelData = 0x18,
                   kKernelCode = 0x20;
constexpr uint32_t kPresent = 1, kWritable = 2, kUser = 4;
constexpr size_t kSlots = 1u << 12;

uint64_t device_read(uc_engine*, uint64_t, unsigned, void*) { return 0; }
void device_write(uc_engine*, uint64_t, unsigned, uint64_t, void*) {}

std::string uc_reason(uc_err e) { return uc_strerror(e); }

// The processor's exceptions by vector: name and kind.
const struct Exception {
  uint32_t intno;
  const char* name;
  Fault::Kind kind;
} kExceptions[] = {
    {0, "division error", Fault::Arithmetic},   {1, "debug trap", Fault::Trap},
    {3, "breakpoint", Fault::Trap},             {4, "overflow trap", Fault::Access},
    {5, "bound range exceeded", Fault::Access}, {6, "invalid instruction", Fault::Illegal},
    {7, "coprocessor not available", Fault::Access}, {8, "double fault", Fault::Access},
    {10, "invalid task state", Fault::Access},  {11, "segment not present", Fault::Access},
    {12, "stack fault", Fault::Access},         {13, "general protection fault", Fault::Access},
    {16, "floating-point error", Fault::Arithmetic}, {17, "alignment check", Fault::Alignment},
    {19, "SIMD floating-point error", Fault::Arithmetic},
};

bool is_port_insn(const Insn& i, uint32_t) {
  switch (i.id) {
    case X86_INS_IN: case X86_INS_INSB: case X86_INS_INSW: case X86_INS_INSD:
    case X86_INS_OUT: case X86_INS_OUTSB: case X86_INS_OUTSW: case X86_INS_OUTSD:
      return true;
    default:
      return false;
  }
}
bool is_sysenter(const Insn& i, uint32_t) { return i.id == X86_INS_SYSENTER; }
bool covers_fetch(const Insn& i, uint32_t addr) { return addr - i.addr < i.size; }
bool touches(const Insn& i, uint32_t addr) {
  for (const Operand& op : i.memory)
    if (addr - op.addr < std::max<uint32_t>(op.size, 1)) return true;
  return false;
}

}  // namespace

struct Cpu::Hooks {
  static Cpu& of(void* user) { return *static_cast<Cpu*>(user); }

  static void intr(uc_engine* uc, uint32_t intno, void* user) {
    Cpu& c = of(user);
    // Nothing more is served once the process has faulted.
    if (c.fault) {
      uc_emu_stop(uc);
      return;
    }
    if (intno == 0x80) {
      c.events_->trap(c);
      return;
    }
    uint32_t eip = c.eip();
    if (intno == 14) {
      c.fail(c.classify_page_fault(c.reg(UC_X86_REG_CR2), eip));
      return;
    }
    if (intno == 13) {
      // At level 3 these are what hlt and the like end in.
      Insn insn;
      const bool known = c.insn_at(eip, insn);
      const char* what = "general protection fault";
      if (known && insn.id == X86_INS_HLT) what = "halt instruction";
      if (known && is_port_insn(insn, 0)) what = "port input instruction";
      c.fail({what, eip, eip});
      return;
    }
    // Software interrupts leave EIP after the instruction: name the
    // instruction (int3, int N, into).
    uint8_t before[2] = {0, 0};
    if ((intno == 3 || intno == 4) && c.mem.read(eip - 1, before + 1, 1) &&
        before[1] == (intno == 3 ? 0xCC : 0xCE)) {
      eip -= 1;
    } else if (c.mem.read(eip - 2, before, 2) && before[0] == 0xCD && before[1] == intno) {
      eip -= 2;
    }
    for (const Exception& e : kExceptions)
      if (e.intno == intno) return c.fail({e.name, eip, eip, e.kind});
    char buf[32];
    std::snprintf(buf, sizeof buf, "interrupt 0x%02x", intno);
    c.fail({buf, eip, eip});
  }

  // Only what the page tables cannot say comes here: running a page that
  // is not executable (and reading one that is only executable).
  static bool mem_invalid(uc_engine*, uc_mem_type type, uint64_t addr64, int, int64_t,
                          void* user) {
    Cpu& c = of(user);
    const uint32_t addr = static_cast<uint32_t>(addr64);
    std::string what;
    switch (type) {
      case UC_MEM_READ_UNMAPPED: what = "unmapped read"; break;
      case UC_MEM_WRITE_UNMAPPED: what = "unmapped write"; break;
      case UC_MEM_FETCH_UNMAPPED: what = "unmapped fetch"; break;
      case UC_MEM_READ_PROT: what = "protected read"; break;
      case UC_MEM_WRITE_PROT: what = "protected write"; break;
      case UC_MEM_FETCH_PROT: what = "protected fetch"; break;
      default: what = "bad access"; break;
    }
    // EIP is where the processor last noted it: the start of the block or
    // the instruction itself. The faulting one is found from there.
    const bool fetch = type == UC_MEM_FETCH_PROT || type == UC_MEM_FETCH_UNMAPPED;
    const uint32_t eip = c.eip() == addr ? addr
                         : c.find_forward(c.eip(), fetch ? covers_fetch : touches, addr);
    c.fail({what, addr, eip});
    return false;
  }

  static bool insn_invalid(uc_engine*, void* user) {
    Cpu& c = of(user);
    const uint32_t eip = c.eip();
    c.fail({"invalid instruction", eip, eip, Fault::Illegal});
    return false;
  }

  // Port I/O and the fast system-call instructions mean nothing to a ridid
  // program. The engine reports them with EIP at the start of their block.
  static void insn_fault(Cpu& c, const char* what, bool (*match)(const Insn&, uint32_t),
                         Fault::Kind kind = Fault::Access) {
    const uint32_t eip = c.find_forward(c.eip(), match, 0);
    c.fail({what, eip, eip, kind});
  }
  static uint32_t in(uc_engine*, uint32_t, int, void* user) {
    insn_fault(of(user), "port input instruction", is_port_insn);
    return 0;
  }
  static void out(uc_engine*, uint32_t, int, uint32_t, void* user) {
    insn_fault(of(user), "port output instruction", is_port_insn);
  }
  static void syscall(uc_engine*, void* user) {
    Cpu& c = of(user);
    const uint32_t eip = c.eip();  // exact for syscall
    c.fail({"fast system call instruction", eip, eip, Fault::Illegal});
  }
  static void sysenter(uc_engine*, void* user) {
    insn_fault(of(user), "fast system call instruction", is_sysenter, Fault::Illegal);
  }

  static void block(uc_engine*, uint64_t addr, uint32_t size, void* user) {
    Cpu& c = of(user);
    const Block& b = c.block(static_cast<uint32_t>(addr), size);
    c.current_ = &b;
    if (Counter* k = c.options_.counter) {
      const uint64_t n = b.insns.size();
      if (k->max && k->count + n > k->max) {
        // The budget ends inside this block: it is not run at all, and the
        // fault names the first instruction past the budget.
        const uint32_t at = b.insns[k->max - k->count];
        k->count = k->max + 1;
        c.current_ = nullptr;
        c.fail(limit_fault(*k, at));
        return;
      }
      k->count += n;
    }
    if (c.options_.blocks) c.events_->block(c, b);
  }

  static void code(uc_engine*, uint64_t addr, uint32_t, void* user) {
    Cpu& c = of(user);
    if (!c.fault) c.events_->instruction(c, static_cast<uint32_t>(addr));
  }
};

Fault limit_fault(const Counter& counter, uint32_t eip) {
  return {counter.spent() ? "instruction budget exceeded" : "time limit exceeded", eip, eip,
          Fault::Limit};
}

Cpu::~Cpu() {
  if (uc_) uc_close(uc_);
}

uint32_t Cpu::reg(int r) const {
  uint32_t v = 0;
  uc_reg_read(uc_, r, &v);
  return v;
}

void Cpu::set_reg(int r, uint32_t v) { uc_reg_write(uc_, r, &v); }

std::array<uint32_t, 8> Cpu::regs() const {
  static int ids[8] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                       UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
  std::array<uint32_t, 8> v{};
  void* ptrs[8];
  for (int i = 0; i < 8; ++i) ptrs[i] = &v[i];
  uc_reg_read_batch(uc_, ids, ptrs, 8);
  return v;
}

void Cpu::stop() { uc_emu_stop(uc_); }

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
  uc_emu_stop(uc_);
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
  uc_ctl_exits_enable(uc_);  // no "until" address: only hooks stop a run

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
    uc_mem_write(uc_, cursor, a->c_str(), a->size() + 1);
    words.push_back(cursor);
    cursor += static_cast<uint32_t>(a->size() + 1);
  }
  words.push_back(0);
  const uint32_t esp = (top - static_cast<uint32_t>(vector)) & ~15u;
  uc_mem_write(uc_, esp, words.data(), words.size() * 4);  // little-endian host

  std::string why = map_system(image.entry, esp);
  if (!why.empty()) return why;

  // The x87 unit as after FNINIT: extended precision, round to nearest, all
  // exceptions masked, empty register stack.
  set_reg(UC_X86_REG_FPCW, 0x037F);
  set_reg(UC_X86_REG_FPSW, 0);
  set_reg(UC_X86_REG_FPTAG, 0xFFFF);
  set_reg(UC_X86_REG_MXCSR, 0x1F80);

  uc_hook h;
  const auto add = [&](int type, void* fn, uint64_t begin, uint64_t end, int insn = 0) {
    return insn ? uc_hook_add(uc_, &h, type, fn, this, begin, end, insn)
                : uc_hook_add(uc_, &h, type, fn, this, begin, end);
  };
  add(UC_HOOK_INTR, reinterpret_cast<void*>(Hooks::intr), 1, 0);
  add(UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(Hooks::mem_invalid), 1, 0);
  add(UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(Hooks::insn_invalid), 1, 0);
  add(UC_HOOK_INSN, reinterpret_cast<void*>(Hooks::in), 1, 0, UC_X86_INS_IN);
  add(UC_HOOK_INSN, reinterpret_cast<void*>(Hooks::out), 1, 0, UC_X86_INS_OUT);
  add(UC_HOOK_INSN, reinterpret_cast<void*>(Hooks::syscall), 1, 0, UC_X86_INS_SYSCALL);
  add(UC_HOOK_INSN, reinterpret_cast<void*>(Hooks::sysenter), 1, 0, UC_X86_INS_SYSENTER);
  // Guest code lies below the stack's top; the system page is not watched.
  if (options_.counter || options_.blocks)
    add(UC_HOOK_BLOCK, reinterpret_cast<void*>(Hooks::block), 0, kStackTop - 1);
  if (options_.instructions)
    add(UC_HOOK_CODE, reinterpret_cast<void*>(Hooks::code), 0, kStackTop - 1);
  slots_.assign(kSlots, Slot{});
  return "";
}

std::string Cpu::map_system(uint32_t entry, uint32_t esp) {
  // Page tables: a user page for every guest page, present when it may be
  // read or run, writable when the image says so; the system page for the
  // processor only.
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> tables;  // by directory slot
  const auto pte = [&](uint32_t va, uint32_t flags) {
    const uint32_t slot = va >> 22;
    auto it = std::find_if(tables.begin(), tables.end(),
                           [&](const auto& t) { return t.first == slot; });
    if (it == tables.end()) {
      tables.emplace_back(slot, std::vector<uint32_t>(1024, 0));
      it = tables.end() - 1;
    }
    it->second[(va >> 12) & 1023] = va | flags;
  };
  for (const Region& r : mem.regions) {
    const bool present = (r.prot & (UC_PROT_READ | UC_PROT_EXEC)) != 0;
    const uint32_t flags = present ? kPresent | kUser | ((r.prot & UC_PROT_WRITE) ? kWritable : 0)
                                   : 0;
    for (uint64_t va = r.begin; va < r.end; va += kPage) pte(static_cast<uint32_t>(va), flags);
  }
  pte(kSystemPage, kPresent | kWritable);
  const uint32_t low = kDirectory - static_cast<uint32_t>(tables.size()) * kPage;
  if (uc_err e = uc_mem_map(uc_, low, uint64_t(0x100000000ull - low), UC_PROT_ALL);
      e != UC_ERR_OK)
    return "cannot map the page tables: " + uc_reason(e);
  std::vector<uint32_t> directory(1024, 0);
  for (size_t i = 0; i < tables.size(); ++i) {
    const uint32_t at = kDirectory - static_cast<uint32_t>(i + 1) * kPage;
    directory[tables[i].first] = at | kPresent | kWritable | kUser;
    uc_mem_write(uc_, at, tables[i].second.data(), kPage);
  }
  uc_mem_write(uc_, kDirectory, directory.data(), kPage);

  // Every other address is an empty device: an access to it reaches the
  // page tables, which fault it.
  uint64_t at = 0;
  const auto fill = [&](uint64_t end) -> uc_err {
    uc_err e = UC_ERR_OK;
    if (end > at)
      e = uc_mmio_map(uc_, at, static_cast<size_t>(end - at), device_read, nullptr,
                      device_write, nullptr);
    return e;
  };
  for (const Region& r : mem.regions) {
    if (uc_err e = fill(r.begin); e != UC_ERR_OK) return "cannot map the guard: " + uc_reason(e);
    at = r.end;
  }
  if (uc_err e = fill(low); e != UC_ERR_OK) return "cannot map the guard: " + uc_reason(e);

  // Descriptors: user code and data (level 3), kernel data and code.
  const uint64_t gdt[5] = {0, 0x00CFFA000000FFFFull, 0x00CFF2000000FFFFull,
                           0x00CF92000000FFFFull, 0x00CF9A000000FFFFull};
  uc_mem_write(uc_, kSystemPage, gdt, sizeof gdt);
  const uint8_t iret = 0xCF;
  uc_mem_write(uc_, kTrampoline, &iret, 1);
  const uint32_t frame[5] = {entry, kUserCode, 0x202, esp, kUserData};
  const uint32_t kernel_esp = kSystemPage + (kPage - static_cast<uint32_t>(sizeof frame));
  uc_mem_write(uc_, kernel_esp, frame, sizeof frame);

  uc_x86_mmr gdtr{0, kSystemPage, sizeof gdt - 1, 0};
  uc_reg_write(uc_, UC_X86_REG_GDTR, &gdtr);
  const int segs[] = {UC_X86_REG_SS, UC_X86_REG_CS, UC_X86_REG_DS,
                      UC_X86_REG_ES, UC_X86_REG_FS, UC_X86_REG_GS};
  const uint16_t sels[] = {kKernelData, kKernelCode, kUserData, kUserData, kUserData, kUserData};
  for (int i = 0; i < 6; ++i)
    if (uc_reg_write(uc_, segs[i], &sels[i]) != UC_ERR_OK) return "cannot set up the processor";
  set_reg(UC_X86_REG_CR3, kDirectory);
  set_reg(UC_X86_REG_CR0, reg(UC_X86_REG_CR0) | 0x80010001u);  // paging, write protect
  set_reg(UC_X86_REG_ESP, kernel_esp);
  set_reg(UC_X86_REG_EIP, kTrampoline);
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

const Block& Cpu::block(uint32_t addr, uint32_t size) {
  Slot& s = slots_[(addr ^ (addr >> 12)) & (kSlots - 1)];
  if (s.decoded && s.addr == addr && s.size == size && s.decoded->bytes.empty())
    return s.decoded->block;
  std::vector<uint8_t> bytes(size);
  uc_mem_read(uc_, addr, bytes.data(), size);
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
  s = Slot{addr, size, d.get()};
  return d->block;
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

uint32_t Cpu::find_forward(uint32_t from, bool (*match)(const Insn&, uint32_t), uint32_t arg) {
  uint32_t at = from;
  for (int i = 0; i < 256; ++i) {
    Insn insn;
    if (!insn_at(at, insn)) break;
    if (match(insn, arg)) return at;
    at += insn.size;
  }
  return from;
}

Fault Cpu::classify_page_fault(uint32_t addr, uint32_t eip) {
  Insn insn;
  const bool known = insn_at(eip, insn);
  const Region* r = mem.find(addr);
  std::string access;
  if (!known || addr - eip < insn.size) {
    access = "fetch";
  } else if (r && (r->prot & UC_PROT_READ) && !(r->prot & UC_PROT_WRITE)) {
    access = "write";  // a present page refuses only writes
  } else {
    for (const Operand& op : insn.memory) {
      if (addr - op.addr < std::max<uint32_t>(op.size, 1)) {
        access = op.read ? "read" : "write";  // a read-modify-write reads first
        break;
      }
    }
    if (access.empty()) access = insn.pushes ? "write" : "read";
  }
  std::string what;
  if (addr >= kGuardPage && addr < kStackBottom)
    what = "stack overflow: " + access;
  else
    what = (r ? "protected " : "unmapped ") + access;
  return Fault{what, addr, eip};
}

}  // namespace ridemu::detail
