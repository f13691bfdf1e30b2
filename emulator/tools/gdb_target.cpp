// What the debugger stub reads and changes in the program for GDB: its
// registers, its memory and the target description (see gdb_target.h).
#include "gdb_target.h"

#include <algorithm>
#include <cstring>

#include "gdb_packet.h"

namespace ridemu::detail::gdb {
namespace {

constexpr int kEflags = register_index("eflags");
constexpr int kFirstSegment = register_index("cs"), kLastSegment = register_index("gs");
// The flags a program may change itself (popf at level 3, trap flag aside).
constexpr uint32_t kUserFlags = 0x240CD5;  // CF PF AF ZF SF DF OF AC ID
// Bytes of memory read or written by one packet (hex doubles them).
constexpr uint32_t kMaxTransfer = (kMaxPacket - 32) / 2;

size_t bytes_of(int r) { return static_cast<size_t>(kRegisters[r].bits / 8); }
bool is_segment(int r) { return r >= kFirstSegment && r <= kLastSegment; }

// Register `r`'s bytes as GDB shows them; false when the engine cannot read it.
bool register_hex(Cpu& cpu, int r, std::string& out) {
  uint8_t buf[16] = {};
  if (uc_reg_read(cpu.engine(), kRegisters[r].uc, buf) != UC_ERR_OK) return false;
  out = to_hex(buf, bytes_of(r));
  return true;
}

}  // namespace

bool parse_range(std::string_view args, uint32_t& addr, uint32_t& len, std::string_view& rest) {
  const size_t comma = args.find(',');
  if (comma == std::string_view::npos) return false;
  size_t end = args.find_first_of(":;,", comma + 1);
  if (end == std::string_view::npos) end = args.size();
  rest = args.substr(end);
  return parse_u32(args.substr(0, comma), addr) &&
         parse_u32(args.substr(comma + 1, end - comma - 1), len);
}

const std::string& target_xml() {
  static const std::string s_xml = [] {
    std::string xml = R"(<?xml version="1.0"?>
<!DOCTYPE target SYSTEM "gdb-target.dtd">
<target version="1.0">
<architecture>i386</architecture>
<feature name="org.gnu.gdb.i386.core">
<flags id="i386_eflags" size="4">
<field name="CF" start="0" end="0"/><field name="" start="1" end="1"/>
<field name="PF" start="2" end="2"/><field name="AF" start="4" end="4"/>
<field name="ZF" start="6" end="6"/><field name="SF" start="7" end="7"/>
<field name="TF" start="8" end="8"/><field name="IF" start="9" end="9"/>
<field name="DF" start="10" end="10"/><field name="OF" start="11" end="11"/>
<field name="NT" start="14" end="14"/><field name="RF" start="16" end="16"/>
<field name="VM" start="17" end="17"/><field name="AC" start="18" end="18"/>
<field name="VIF" start="19" end="19"/><field name="VIP" start="20" end="20"/>
<field name="ID" start="21" end="21"/>
</flags>
)";
    for (int i = 0; i < kRegisterCount; ++i) {
      const Register& r = kRegisters[i];
      xml += std::string("<reg name=\"") + r.name + "\" bitsize=\"" + std::to_string(r.bits) +
             "\" type=\"" + r.type + "\"";
      if (i == 0) xml += " regnum=\"0\"";
      if (r.group) xml += std::string(" group=\"") + r.group + "\"";
      xml += "/>\n";
    }
    return xml + "</feature>\n</target>\n";
  }();
  return s_xml;
}

std::string read_register(Cpu& cpu, int r) {
  std::string hex;
  return register_hex(cpu, r, hex) ? hex : "E01";
}

std::string read_registers(Cpu& cpu) {
  std::string all, one;
  for (int r = 0; r < kRegisterCount; ++r) {
    if (!register_hex(cpu, r, one)) return "E01";
    all += one;
  }
  return all;
}

bool write_register(Cpu& cpu, int r, const std::string& value, bool& eip_written) {
  if (value.size() != bytes_of(r)) return false;
  uint8_t now[16] = {}, next[16] = {};
  if (uc_reg_read(cpu.engine(), kRegisters[r].uc, now) != UC_ERR_OK) return false;
  std::memcpy(next, value.data(), value.size());
  if (std::memcmp(now, next, value.size()) == 0) return true;
  // The segments are the system's: a program cannot load others.
  if (is_segment(r)) return false;
  if (r == kEflags) {
    uint32_t old, want;
    std::memcpy(&old, now, 4);
    std::memcpy(&want, next, 4);
    const uint32_t v = (old & ~kUserFlags) | (want & kUserFlags);
    std::memcpy(next, &v, 4);
  }
  if (r == kEip) eip_written = true;
  return uc_reg_write(cpu.engine(), kRegisters[r].uc, next) == UC_ERR_OK;
}

bool write_registers(Cpu& cpu, std::string_view hex, bool& eip_written) {
  std::string all;
  if (!from_hex(hex, all)) return false;
  size_t expected = 0;
  for (int r = 0; r < kRegisterCount; ++r) expected += bytes_of(r);
  if (all.size() != expected) return false;
  // Refused as a whole when a segment register would change.
  size_t at = 0;
  for (int r = 0; r < kRegisterCount; ++r) {
    const std::string value = all.substr(at, bytes_of(r));
    at += value.size();
    if (is_segment(r) && read_register(cpu, r) != to_hex(value.data(), value.size())) return false;
  }
  at = 0;
  bool ok = true;
  for (int r = 0; r < kRegisterCount; ++r) {
    const std::string value = all.substr(at, bytes_of(r));
    at += value.size();
    ok = write_register(cpu, r, value, eip_written) && ok;
  }
  return ok;
}

// Only the process's own mappings.
std::string read_memory(Cpu& cpu, std::string_view args) {
  uint32_t addr, len;
  std::string_view rest;
  if (!parse_range(args, addr, len, rest) || !rest.empty()) return "E01";
  len = std::min(len, kMaxTransfer);
  std::string data;
  uint64_t at = addr;
  const uint64_t end = uint64_t(addr) + len;
  while (at < end) {
    const Region* r = cpu.mem.find(static_cast<uint32_t>(at));
    if (!r) break;
    const uint64_t n = std::min<uint64_t>(end, r->end) - at;
    const size_t old = data.size();
    data.resize(old + n);
    if (uc_mem_read(cpu.engine(), at, data.data() + old, n) != UC_ERR_OK) {
      data.resize(old);
      break;
    }
    at += n;
  }
  // A read that runs into a hole gives what lies before it.
  if (data.empty() && len) return "E14";
  return to_hex(data.data(), data.size());
}

std::string write_memory(Cpu& cpu, std::string_view args, bool binary) {
  uint32_t addr, len;
  std::string_view rest;
  if (!parse_range(args, addr, len, rest) || rest.empty() || rest[0] != ':') return "E01";
  std::string data;
  const bool decoded = binary ? unescape(rest.substr(1), data) : from_hex(rest.substr(1), data);
  if (!decoded || data.size() != len) return "E01";
  if (len == 0) return "OK";
  // Any mapped page of the process, code included (the engine maps every
  // page writable for itself).
  if (!cpu.mem.check(addr, len, 0)) return "E14";
  if (uc_mem_write(cpu.engine(), addr, data.data(), len) != UC_ERR_OK) return "E14";
  // Code translated from these bytes is translated again.
  if (uc_ctl_remove_cache(cpu.engine(), addr, uint64_t(addr) + len) != UC_ERR_OK) return "E14";
  return "OK";
}

}  // namespace ridemu::detail::gdb
