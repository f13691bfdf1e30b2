// Symbols and source lines of an image: functions from its symbol table
// (<elf.h>), and, when it was built with -g, file and line from its DWARF
// line table (libdw).
#include <elf.h>
#include <elfutils/libdw.h>
#include <libelf.h>

#include <algorithm>
#include <cstring>

#include "../engine/engine.h"
#include "tools.h"

namespace ridemu::detail {

struct Symbols::Lines {
  std::vector<char> bytes;  // libdw reads the image from here
  Elf* elf = nullptr;
  Dwarf* dwarf = nullptr;
  std::vector<Dwarf_Die> units;

  ~Lines() {
    if (dwarf) dwarf_end(dwarf);
    if (elf) elf_end(elf);
  }
};

Symbols::Symbols(const Image& image) {
  const std::vector<uint8_t>& b = image.bytes;
  Elf32_Ehdr eh;
  if (b.size() < sizeof eh) return;
  std::memcpy(&eh, b.data(), sizeof eh);
  if (eh.e_shentsize != sizeof(Elf32_Shdr) ||
      uint64_t(eh.e_shoff) + uint64_t(eh.e_shnum) * sizeof(Elf32_Shdr) > b.size())
    return;
  std::vector<Elf32_Shdr> sections(eh.e_shnum);
  if (eh.e_shnum) std::memcpy(sections.data(), b.data() + eh.e_shoff, eh.e_shnum * sizeof(Elf32_Shdr));
  const auto inside = [&](const Elf32_Shdr& s) {
    return s.sh_type == SHT_NOBITS || uint64_t(s.sh_offset) + s.sh_size <= b.size();
  };
  bool debug_lines = false;
  if (eh.e_shstrndx < sections.size() && inside(sections[eh.e_shstrndx])) {
    const Elf32_Shdr& names = sections[eh.e_shstrndx];
    for (const Elf32_Shdr& s : sections)
      if (s.sh_name < names.sh_size &&
          std::strncmp(reinterpret_cast<const char*>(b.data() + names.sh_offset + s.sh_name),
                       ".debug_line", names.sh_size - s.sh_name) == 0)
        debug_lines = true;
  }

  struct Candidate {
    Symbol sym;
    int rank;  // a global function before a local label at the same address
  };
  std::vector<Candidate> found;
  for (const Elf32_Shdr& s : sections) {
    if (s.sh_type != SHT_SYMTAB || !inside(s) || s.sh_link >= sections.size()) continue;
    const Elf32_Shdr& strtab = sections[s.sh_link];
    if (!inside(strtab)) continue;
    for (uint64_t at = s.sh_offset; at + sizeof(Elf32_Sym) <= uint64_t(s.sh_offset) + s.sh_size;
         at += sizeof(Elf32_Sym)) {
      Elf32_Sym sym;
      std::memcpy(&sym, b.data() + at, sizeof sym);
      const int type = ELF32_ST_TYPE(sym.st_info);
      if ((type != STT_FUNC && type != STT_NOTYPE) || sym.st_name == 0 ||
          sym.st_name >= strtab.sh_size || sym.st_shndx == SHN_UNDEF ||
          sym.st_shndx >= sections.size() || !(sections[sym.st_shndx].sh_flags & SHF_EXECINSTR))
        continue;
      const char* name = reinterpret_cast<const char*>(b.data() + strtab.sh_offset + sym.st_name);
      const size_t len = strnlen(name, strtab.sh_size - sym.st_name);
      const int rank = (type == STT_FUNC ? 2 : 0) + (ELF32_ST_BIND(sym.st_info) != STB_LOCAL);
      // A label without a size reaches to the end of its section at most.
      const Elf32_Shdr& in = sections[sym.st_shndx];
      uint32_t size = sym.st_size;
      if (!size && sym.st_value >= in.sh_addr && sym.st_value - in.sh_addr < in.sh_size)
        size = in.sh_addr + in.sh_size - sym.st_value;
      found.push_back({{sym.st_value, size, std::string(name, len)}, rank});
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const Candidate& x, const Candidate& y) {
    return x.sym.addr != y.sym.addr ? x.sym.addr < y.sym.addr : x.rank > y.rank;
  });
  for (Candidate& c : found)
    if (symbols_.empty() || symbols_.back().addr != c.sym.addr) symbols_.push_back(std::move(c.sym));

  if (!debug_lines) return;
  lines_ = std::make_unique<Lines>();
  lines_->bytes.assign(b.begin(), b.end());
  elf_version(EV_CURRENT);
  lines_->elf = elf_memory(lines_->bytes.data(), lines_->bytes.size());
  if (lines_->elf) lines_->dwarf = dwarf_begin_elf(lines_->elf, DWARF_C_READ, nullptr);
  if (!lines_->dwarf) {
    lines_.reset();
    return;
  }
  Dwarf_Off off = 0, next = 0;
  size_t header = 0;
  while (dwarf_nextcu(lines_->dwarf, off, &next, &header, nullptr, nullptr, nullptr) == 0) {
    Dwarf_Die die;
    if (dwarf_offdie(lines_->dwarf, off + header, &die)) lines_->units.push_back(die);
    off = next;
  }
}

Symbols::~Symbols() = default;

bool Symbols::has_lines() const { return lines_ != nullptr; }

const std::string* Symbols::function(uint32_t addr, uint32_t* start) const {
  auto it = std::upper_bound(symbols_.begin(), symbols_.end(), addr,
                             [](uint32_t a, const Symbol& s) { return a < s.addr; });
  if (it == symbols_.begin()) return nullptr;
  --it;
  if (it->size && addr - it->addr >= it->size) return nullptr;
  if (start) *start = it->addr;
  return &it->name;
}

Symbols::Place Symbols::at(uint32_t addr) const {
  Place p;
  uint32_t start = 0;
  if (const std::string* f = function(addr, &start)) {
    p.function = *f;
    p.offset = addr - start;
  }
  if (lines_) {
    for (Dwarf_Die& unit : lines_->units) {
      if (dwarf_haspc(&unit, addr) != 1) continue;
      if (Dwarf_Line* l = dwarf_getsrc_die(&unit, addr)) {
        int line = 0;
        const char* file = dwarf_linesrc(l, nullptr, nullptr);
        if (dwarf_lineno(l, &line) == 0 && file) {
          p.file = file;
          p.line = line;
        }
      }
      break;
    }
  }
  return p;
}

const Symbols& ProcessView::symbols() const {
  if (!*symbol_cache) *symbol_cache = std::make_shared<const Symbols>(image);
  return **symbol_cache;
}

}  // namespace ridemu::detail
