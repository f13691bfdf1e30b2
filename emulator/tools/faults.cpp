// The one line that reports a guest fault: what went wrong and where, in
// the function and source line it happened, and the instruction itself;
// and the calls that led there, found from the saved frame pointers.
#include <capstone/x86.h>

#include <cinttypes>
#include <cstdio>

#include "../engine/engine.h"
#include "tools.h"

namespace ridemu::detail {

namespace {

// " in crash+0x13 (tools.c:52)": the function and source line of `addr`.
std::string place(const Symbols* symbols, uint32_t addr) {
  if (!symbols) return "";
  std::string text;
  const Symbols::Place at = symbols->at(addr);
  if (!at.function.empty()) {
    text += " in " + at.function;
    if (at.offset) {
      char off[16];
      std::snprintf(off, sizeof off, "+0x%" PRIx32, at.offset);
      text += off;
    }
  }
  if (!at.file.empty()) {
    const size_t slash = at.file.rfind('/');
    text += " (" + (slash == std::string::npos ? at.file : at.file.substr(slash + 1)) + ":" +
            std::to_string(at.line) + ")";
  }
  return text;
}

// The call instruction that returns to `ret`, or 0 when none ends there.
uint32_t call_before(Cpu& cpu, uint32_t ret) {
  for (uint32_t n : {5u, 2u, 3u, 6u, 7u, 4u}) {  // the lengths a call can have
    Insn insn;
    if (ret > n && cpu.insn_at(ret - n, insn) && insn.size == n && insn.id == X86_INS_CALL)
      return ret - n;
  }
  return 0;
}

// Where the innermost function keeps its return address when its frame is
// not (or no longer) made: at its first instruction, after `push ebp`, at
// `ret`, and in a function that makes none. 0 when the frame is made.
uint32_t return_slot(Cpu& cpu, const Symbols* symbols, uint32_t eip, uint32_t esp) {
  Insn insn;
  if (cpu.insn_at(eip, insn) && insn.id == X86_INS_RET) return esp;
  uint32_t start = 0;
  uint8_t head[3] = {};
  if (!symbols || !symbols->function(eip, &start) || !cpu.mem.read(start, head, 3)) return esp;
  const bool makes_frame = head[0] == 0x55 && head[1] == 0x89 && head[2] == 0xE5;  // push ebp; mov ebp, esp
  if (!makes_frame || eip == start) return esp;
  if (eip == start + 1) return esp + 4;
  return 0;
}

}  // namespace

std::string fault_line(const Fault& f, Cpu& cpu, const Symbols* symbols) {
  char head[160];
  std::snprintf(head, sizeof head, "%s at 0x%08" PRIx32 " (eip 0x%08" PRIx32 ")", f.what.c_str(),
                f.addr, f.eip);
  std::string line = head + place(symbols, f.eip);
  Insn insn;
  if (cpu.insn_at(f.eip, insn)) line += ": " + insn.text;
  return line;
}

std::vector<std::string> caller_lines(const Fault& f, Cpu& cpu, const Symbols* symbols,
                                      size_t max) {
  std::vector<uint32_t> sites;
  const auto regs = cpu.regs();
  const uint32_t esp = regs[4];
  uint32_t ebp = regs[5], ret = 0, next = 0;
  if (const uint32_t slot = return_slot(cpu, symbols, f.eip, esp)) {
    // A guess when the function makes no frame: it holds if a call ends there.
    if (cpu.mem.read(slot, &ret, 4))
      if (const uint32_t site = call_before(cpu, ret)) sites.push_back(site);
  }
  // Each frame holds its caller's frame pointer, and the return address above it.
  while (sites.size() < max && ebp && cpu.mem.read(ebp, &next, 4) &&
         cpu.mem.read(ebp + 4, &ret, 4)) {
    const uint32_t site = call_before(cpu, ret);
    if (!site) break;
    sites.push_back(site);
    if (next <= ebp) break;  // a caller's frame lies above its callee's
    ebp = next;
  }
  std::vector<std::string> lines;
  for (uint32_t site : sites) {
    char at[16];
    std::snprintf(at, sizeof at, "0x%08" PRIx32, site);
    lines.push_back(at + place(symbols, site));
  }
  return lines;
}

}  // namespace ridemu::detail
