// The one line that reports a guest fault: what went wrong and where, in
// the function and source line it happened, and the instruction itself.
#include <cinttypes>
#include <cstdio>

#include "../engine/engine.h"
#include "tools.h"

namespace ridemu::detail {

std::string fault_line(const Fault& f, Cpu& cpu, const Symbols* symbols) {
  char head[160];
  std::snprintf(head, sizeof head, "%s at 0x%08" PRIx32 " (eip 0x%08" PRIx32 ")", f.what.c_str(),
                f.addr, f.eip);
  std::string line = head;
  if (symbols) {
    const Symbols::Place at = symbols->at(f.eip);
    if (!at.function.empty()) {
      line += " in " + at.function;
      if (at.offset) {
        char off[16];
        std::snprintf(off, sizeof off, "+0x%" PRIx32, at.offset);
        line += off;
      }
    }
    if (!at.file.empty()) {
      const size_t slash = at.file.rfind('/');
      line += " (" + (slash == std::string::npos ? at.file : at.file.substr(slash + 1)) + ":" +
              std::to_string(at.line) + ")";
    }
  }
  Insn insn;
  if (cpu.insn_at(f.eip, insn)) line += ": " + insn.text;
  return line;
}

}  // namespace ridemu::detail
