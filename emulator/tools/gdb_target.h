// What the debugger stub (gdb_stub.cpp) reads and changes in the program
// for GDB: the registers in GDB's order (engine/registers.h), the memory of
// the process's own mappings, and the target description GDB asks for.
// Each call takes a packet's arguments and gives its reply.
#pragma once

#include <string>
#include <string_view>

#include "../engine/engine.h"
#include "../engine/registers.h"

namespace ridemu::detail::gdb {

constexpr int kEip = register_index("eip"), kEsp = register_index("esp"), kEbp = register_index("ebp");

// "ADDR,LEN" (hex) at the start of `args`; the rest after it in `rest`.
bool parse_range(std::string_view args, uint32_t& addr, uint32_t& len, std::string_view& rest);

// The target description (qXfer:features:read:target.xml).
const std::string& target_xml();

// Register `r` (GDB's number) as GDB shows it, all of them ('g'), or "E01".
std::string read_register(Cpu& cpu, int r);
std::string read_registers(Cpu& cpu);
// Writes register `r` ('P' with its value) or all of them ('G' with their
// hex): false for one that cannot change (segment registers; of EFLAGS only
// the flags a program may change itself are taken). `eip_written` is set
// when EIP changed.
bool write_register(Cpu& cpu, int r, const std::string& value, bool& eip_written);
bool write_registers(Cpu& cpu, std::string_view hex, bool& eip_written);

// 'm ADDR,LEN' and 'M ADDR,LEN:HEX' or 'X ADDR,LEN:BINARY': the reply.
std::string read_memory(Cpu& cpu, std::string_view args);
std::string write_memory(Cpu& cpu, std::string_view args, bool binary);

}  // namespace ridemu::detail::gdb
