// What the processor reports while the guest runs: the engine's callbacks.
// Interrupts are the guest's traps (int 0x80, served by the kernel room) and
// the processor's exceptions; page faults and the instructions Unicorn
// reports by themselves (port I/O, the fast system calls) become the fault
// that names the exact instruction; blocks are counted against the budget
// and shown to the tools that ask.
#include <capstone/x86.h>

#include <algorithm>
#include <cstdio>

#include "engine.h"

namespace ridemu::detail {
namespace {

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

  static void intr(uc_engine*, uint32_t intno, void* user) {
    Cpu& c = of(user);
    // Nothing more is served once the process has faulted.
    if (c.fault) {
      c.stop();
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
    const Slot& s = c.slot(static_cast<uint32_t>(addr), size);
    c.current_ = s.block;
    if (Counter* k = c.options_.counter) {
      if (k->max && k->count + s.insns > k->max) return over_budget(c, *k, *s.block);
      k->count += s.insns;
    }
    if (c.options_.blocks) c.events_->block(c, *s.block);
  }
  // The budget ends inside this block: it is not run at all, and the fault
  // names the first instruction past the budget.
  [[gnu::cold, gnu::noinline]] static void over_budget(Cpu& c, Counter& k, const Block& b) {
    const uint32_t at = b.insns[k.max - k.count];
    k.count = k.max + 1;
    c.current_ = nullptr;
    c.fail(limit_fault(k, at));
  }

  static void code(uc_engine*, uint64_t addr, uint32_t, void* user) {
    Cpu& c = of(user);
    if (!c.fault) c.events_->instruction(c, static_cast<uint32_t>(addr));
  }
};

std::string Cpu::add_hooks() {
  uc_err e = UC_ERR_OK;
  const auto add = [&](int type, void* fn, uint64_t begin, uint64_t end, int insn = 0) {
    uc_hook h;
    if (e == UC_ERR_OK)
      e = insn ? uc_hook_add(uc_, &h, type, fn, this, begin, end, insn)
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
  return e == UC_ERR_OK ? "" : std::string("cannot watch the processor: ") + uc_strerror(e);
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
