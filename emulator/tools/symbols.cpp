// Symbols and source lines of an image: functions from its symbol table
// (libelf's gelf_*), and, when it was built with -g, file and line from its
// DWARF line table (libdw). Names come from the image, so they are kept with
// every byte outside printable ASCII (and the backslash) escaped as \xNN: a
// name cannot end a fault line early or drive the terminal.
#include <elfutils/libdw.h>
#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "../engine/engine.h"
#include "tools.h"

namespace ridemu::detail {

namespace {

std::string printable(const char* name) {
  std::string out;
  for (const unsigned char c : std::string_view(name)) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    }
  }
  return out;
}

}  // namespace

struct Symbols::Lines {
  std::vector<char> bytes;  // libelf and libdw read the image from here
  Elf* elf = nullptr;
  Dwarf* dwarf = nullptr;
  std::vector<Dwarf_Die> units;

  ~Lines() {
    if (dwarf) dwarf_end(dwarf);
    if (elf) elf_end(elf);
  }
};

Symbols::Symbols(const Image& image) {
  // libelf reads the image from a copy of its own, kept while it has lines.
  auto elf = std::make_unique<Lines>();
  elf->bytes.assign(image.bytes.begin(), image.bytes.end());
  elf_version(EV_CURRENT);
  elf->elf = elf_memory(elf->bytes.data(), elf->bytes.size());
  if (!elf->elf) return;
  size_t names = 0;
  if (elf_getshdrstrndx(elf->elf, &names) != 0) names = SHN_UNDEF;
  const auto runs_code = [&](size_t section) {
    GElf_Shdr sh;
    Elf_Scn* scn = section == SHN_UNDEF ? nullptr : elf_getscn(elf->elf, section);
    return scn && gelf_getshdr(scn, &sh) && (sh.sh_flags & SHF_EXECINSTR) ? std::optional(sh)
                                                                          : std::nullopt;
  };

  struct Candidate {
    Symbol sym;
    int rank;  // a global function before a local label at the same address
  };
  std::vector<Candidate> found;
  bool debug_lines = false;
  for (Elf_Scn* scn = nullptr; (scn = elf_nextscn(elf->elf, scn)) != nullptr;) {
    GElf_Shdr sh;
    if (!gelf_getshdr(scn, &sh)) continue;
    const char* name = names == SHN_UNDEF ? nullptr : elf_strptr(elf->elf, names, sh.sh_name);
    if (name && std::strcmp(name, ".debug_line") == 0) debug_lines = true;
    Elf_Data* data = sh.sh_type == SHT_SYMTAB ? elf_getdata(scn, nullptr) : nullptr;
    GElf_Sym sym;
    for (int i = 0; data && gelf_getsym(data, i, &sym); ++i) {
      const int type = GELF_ST_TYPE(sym.st_info);
      if ((type != STT_FUNC && type != STT_NOTYPE) || sym.st_name == 0) continue;
      const auto in = runs_code(sym.st_shndx);
      const char* label = in ? elf_strptr(elf->elf, sh.sh_link, sym.st_name) : nullptr;
      if (!label) continue;
      const int rank = (type == STT_FUNC ? 2 : 0) + (GELF_ST_BIND(sym.st_info) != STB_LOCAL);
      // A label without a size reaches to the end of its section at most.
      uint32_t size = static_cast<uint32_t>(sym.st_size);
      if (!size && sym.st_value >= in->sh_addr && sym.st_value - in->sh_addr < in->sh_size)
        size = static_cast<uint32_t>(in->sh_addr + in->sh_size - sym.st_value);
      found.push_back({{static_cast<uint32_t>(sym.st_value), size, printable(label)}, rank});
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const Candidate& x, const Candidate& y) {
    return x.sym.addr != y.sym.addr ? x.sym.addr < y.sym.addr : x.rank > y.rank;
  });
  for (Candidate& c : found)
    if (symbols_.empty() || symbols_.back().addr != c.sym.addr) symbols_.push_back(std::move(c.sym));

  if (!debug_lines) return;
  lines_ = std::move(elf);
  lines_->dwarf = dwarf_begin_elf(lines_->elf, DWARF_C_READ, nullptr);
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
          p.file = printable(file);
          p.line = line;
        }
      }
      break;
    }
  }
  return p;
}

std::vector<Symbols::LineRange> Symbols::line_ranges() const {
  std::vector<LineRange> ranges;
  if (!lines_) return ranges;
  for (Dwarf_Die& unit : lines_->units) {
    Dwarf_Lines* table = nullptr;
    size_t n = 0;
    if (dwarf_getsrclines(&unit, &table, &n) != 0) continue;
    for (size_t i = 0; i + 1 < n; ++i) {
      Dwarf_Line* row = dwarf_onesrcline(table, i);
      Dwarf_Line* next = dwarf_onesrcline(table, i + 1);
      Dwarf_Addr begin = 0, end = 0;
      bool last = false;
      int line = 0;
      const char* file = dwarf_linesrc(row, nullptr, nullptr);
      if (!file || dwarf_lineendsequence(row, &last) != 0 || last ||
          dwarf_lineno(row, &line) != 0 || line <= 0 || dwarf_lineaddr(row, &begin) != 0 ||
          dwarf_lineaddr(next, &end) != 0 || end <= begin)
        continue;
      ranges.push_back(
          {static_cast<uint32_t>(begin), static_cast<uint32_t>(end), printable(file), line});
    }
  }
  return ranges;
}

const Symbols& ProcessView::symbols() const {
  if (!*symbol_cache) *symbol_cache = std::make_shared<const Symbols>(image);
  return **symbol_cache;
}

}  // namespace ridemu::detail
