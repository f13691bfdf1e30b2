// The i386 registers, listed once in the order GDB numbers them: name, size,
// Unicorn's id, Capstone's and how GDB shows it. The processor, the decoder
// and the debugger stub all read them here. The first kGeneralRegisters are
// the general registers in the processor's own order (EAX, ECX, EDX, EBX,
// ESP, EBP, ESI, EDI); then EIP, EFLAGS, the segment registers and the x87
// unit (st0-st7 relative to the top of its stack, as GDB numbers them).
#pragma once

#include <capstone/x86.h>
#include <unicorn/unicorn.h>

#include <iterator>
#include <string_view>

namespace ridemu::detail {

struct Register {
  const char* name;
  int bits;
  int uc;                 // Unicorn's id
  x86_reg cs;             // Capstone's, for the general registers (the decoder reads no other)
  const char* type;       // GDB's type
  const char* group;      // GDB's register group, or null
};

inline constexpr Register kRegisters[] = {
    {"eax", 32, UC_X86_REG_EAX, X86_REG_EAX, "int32", nullptr},
    {"ecx", 32, UC_X86_REG_ECX, X86_REG_ECX, "int32", nullptr},
    {"edx", 32, UC_X86_REG_EDX, X86_REG_EDX, "int32", nullptr},
    {"ebx", 32, UC_X86_REG_EBX, X86_REG_EBX, "int32", nullptr},
    {"esp", 32, UC_X86_REG_ESP, X86_REG_ESP, "data_ptr", nullptr},
    {"ebp", 32, UC_X86_REG_EBP, X86_REG_EBP, "data_ptr", nullptr},
    {"esi", 32, UC_X86_REG_ESI, X86_REG_ESI, "int32", nullptr},
    {"edi", 32, UC_X86_REG_EDI, X86_REG_EDI, "int32", nullptr},
    {"eip", 32, UC_X86_REG_EIP, X86_REG_INVALID, "code_ptr", nullptr},
    {"eflags", 32, UC_X86_REG_EFLAGS, X86_REG_INVALID, "i386_eflags", nullptr},
    {"cs", 32, UC_X86_REG_CS, X86_REG_INVALID, "int32", nullptr},
    {"ss", 32, UC_X86_REG_SS, X86_REG_INVALID, "int32", nullptr},
    {"ds", 32, UC_X86_REG_DS, X86_REG_INVALID, "int32", nullptr},
    {"es", 32, UC_X86_REG_ES, X86_REG_INVALID, "int32", nullptr},
    {"fs", 32, UC_X86_REG_FS, X86_REG_INVALID, "int32", nullptr},
    {"gs", 32, UC_X86_REG_GS, X86_REG_INVALID, "int32", nullptr},
    {"st0", 80, UC_X86_REG_ST0, X86_REG_INVALID, "i387_ext", nullptr},
    {"st1", 80, UC_X86_REG_ST1, X86_REG_INVALID, "i387_ext", nullptr},
    {"st2", 80, UC_X86_REG_ST2, X86_REG_INVALID, "i387_ext", nullptr},
    {"st3", 80, UC_X86_REG_ST3, X86_REG_INVALID, "i387_ext", nullptr},
    {"st4", 80, UC_X86_REG_ST4, X86_REG_INVALID, "i387_ext", nullptr},
    {"st5", 80, UC_X86_REG_ST5, X86_REG_INVALID, "i387_ext", nullptr},
    {"st6", 80, UC_X86_REG_ST6, X86_REG_INVALID, "i387_ext", nullptr},
    {"st7", 80, UC_X86_REG_ST7, X86_REG_INVALID, "i387_ext", nullptr},
    {"fctrl", 32, UC_X86_REG_FPCW, X86_REG_INVALID, "int", "float"},
    {"fstat", 32, UC_X86_REG_FPSW, X86_REG_INVALID, "int", "float"},
    {"ftag", 32, UC_X86_REG_FPTAG, X86_REG_INVALID, "int", "float"},
    {"fiseg", 32, UC_X86_REG_FCS, X86_REG_INVALID, "int", "float"},
    {"fioff", 32, UC_X86_REG_FIP, X86_REG_INVALID, "int", "float"},
    {"foseg", 32, UC_X86_REG_FDS, X86_REG_INVALID, "int", "float"},
    {"fooff", 32, UC_X86_REG_FDP, X86_REG_INVALID, "int", "float"},
    {"fop", 32, UC_X86_REG_FOP, X86_REG_INVALID, "int", "float"},
};
constexpr int kRegisterCount = static_cast<int>(std::size(kRegisters));
constexpr int kGeneralRegisters = 8;

// The place of the register called `name` in kRegisters.
constexpr int register_index(std::string_view name) {
  for (int i = 0; i < kRegisterCount; ++i)
    if (name == kRegisters[i].name) return i;
  return -1;
}

}  // namespace ridemu::detail
