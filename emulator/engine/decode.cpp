// Guest instructions decoded with Capstone: the length of each instruction
// of a block (to count them), how a block ends (for call graphs), and one
// instruction's text and memory operands (for fault reports).
#include <capstone/capstone.h>

#include <algorithm>

#include "engine.h"
#include "registers.h"

namespace ridemu::detail {
namespace {

// Capstone's register id to its place among the general registers; -1 for
// anything else (segment bases are 0 for a ridid process).
int gpr(unsigned reg) {
  for (int i = 0; i < kGeneralRegisters; ++i)
    if (kRegisters[i].cs == reg) return i;
  return -1;
}

bool is_call(unsigned id) { return id == X86_INS_CALL; }
bool is_return(unsigned id) { return id == X86_INS_RET || id == X86_INS_RETF; }

}  // namespace

uint32_t Block::executed_through(uint32_t eip) const {
  const auto it = std::upper_bound(insns.begin(), insns.end(), eip);
  return static_cast<uint32_t>(it - insns.begin());
}

Decoder::Decoder() {
  csh h = 0;
  if (cs_open(CS_ARCH_X86, CS_MODE_32, &h) == CS_ERR_OK) {
    cs_option(h, CS_OPT_DETAIL, CS_OPT_ON);
    handle_ = h;
  }
}

Decoder::~Decoder() {
  csh h = handle_;
  if (h) cs_close(&h);
}

bool Decoder::decode(const uint8_t* code, size_t n, uint32_t addr, const uint32_t regs[8],
                     Insn& out) {
  if (!handle_) return false;
  cs_insn* insn = nullptr;
  if (cs_disasm(handle_, code, n, addr, 1, &insn) != 1) return false;
  out = Insn{};
  out.addr = addr;
  out.size = insn->size;
  out.id = insn->id;
  out.text = insn->mnemonic;
  if (insn->op_str[0]) out.text += std::string(" ") + insn->op_str;
  const cs_x86& x = insn->detail->x86;
  for (uint8_t i = 0; i < x.op_count; ++i) {
    const cs_x86_op& op = x.operands[i];
    if (op.type != X86_OP_MEM) continue;
    uint32_t ea = static_cast<uint32_t>(op.mem.disp);
    if (int b = gpr(op.mem.base); b >= 0) ea += regs[b];
    if (int k = gpr(op.mem.index); k >= 0) ea += regs[k] * static_cast<uint32_t>(op.mem.scale);
    // lea computes an address without touching memory.
    if (insn->id == X86_INS_LEA) continue;
    out.memory.push_back(Operand{ea, op.size, (op.access & CS_AC_READ) != 0,
                                 (op.access & CS_AC_WRITE) != 0});
  }
  switch (insn->id) {
    case X86_INS_PUSH: case X86_INS_PUSHAL: case X86_INS_PUSHAW: case X86_INS_PUSHFD:
    case X86_INS_PUSHF: case X86_INS_CALL: case X86_INS_ENTER:
      out.pushes = true;
      break;
    case X86_INS_POP: case X86_INS_POPAL: case X86_INS_POPAW: case X86_INS_POPFD:
    case X86_INS_POPF: case X86_INS_RET: case X86_INS_RETF: case X86_INS_IRETD:
    case X86_INS_IRET: case X86_INS_LEAVE:
      out.pops = true;
      break;
    default:
      break;
  }
  cs_free(insn, 1);
  return true;
}

void Decoder::split(const uint8_t* code, size_t n, Block& out) {
  out.insns.clear();
  out.end = Block::Plain;
  if (!handle_ || n == 0) return;
  cs_option(handle_, CS_OPT_DETAIL, CS_OPT_OFF);
  const uint8_t* p = code;
  size_t left = n;
  uint64_t at = out.addr;
  cs_insn* insn = cs_malloc(handle_);
  unsigned last = 0;
  while (left > 0) {
    const uint64_t here = at;
    if (!cs_disasm_iter(handle_, &p, &left, &at, insn)) {
      // Bytes the decoder does not know: the processor found one
      // instruction there (which faulted).
      out.insns.push_back(static_cast<uint32_t>(here));
      last = 0;
      break;
    }
    out.insns.push_back(static_cast<uint32_t>(here));
    last = insn->id;
  }
  cs_free(insn, 1);
  cs_option(handle_, CS_OPT_DETAIL, CS_OPT_ON);
  if (is_call(last)) out.end = Block::Call;
  if (is_return(last)) out.end = Block::Return;
}

}  // namespace ridemu::detail
