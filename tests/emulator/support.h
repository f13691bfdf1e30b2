// What the emulator's and the run command's tests share: files and
// directories, an image's ELF headers, a quiet emulator configuration.
#pragma once

#include <elf.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ridemu.h"

namespace test {

namespace fs = std::filesystem;
using Args = std::vector<std::optional<std::string>>;

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
inline bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }
inline std::set<std::string> listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
  return names;
}
inline std::string hex(uint32_t v) {
  char buf[16];
  return std::snprintf(buf, sizeof buf, "0x%08x", v), buf;
}

// A temporary directory, removed with everything in it.
struct TempDir {
  std::string path = [] { char t[] = "/tmp/ridid-test-XXXXXX"; return std::string(mkdtemp(t)); }();
  ~TempDir() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// An image's ELF headers, read with <elf.h>.
struct ElfImage {
  explicit ElfImage(const std::string& path) : bytes(slurp(path)) {
    eh = at<Elf32_Ehdr>(0);
    for (int i = 0; i < eh.e_phnum; ++i) phdrs.push_back(at<Elf32_Phdr>(eh.e_phoff + i * sizeof(Elf32_Phdr)));
    for (int i = 0; i < eh.e_shnum; ++i) shdrs.push_back(at<Elf32_Shdr>(eh.e_shoff + i * sizeof(Elf32_Shdr)));
  }
  template <typename T>
  T at(size_t offset) const {
    T v{};
    if (offset + sizeof v <= bytes.size()) std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
  }
  const char* name(const Elf32_Shdr& strtab, uint32_t off) const { return bytes.data() + strtab.sh_offset + off; }
  const Elf32_Shdr* section(const std::string& wanted) const {
    for (const Elf32_Shdr& sh : shdrs)
      if (wanted == name(shdrs[eh.e_shstrndx], sh.sh_name)) return &sh;
    return nullptr;
  }
  std::optional<Elf32_Sym> symbol(const std::string& wanted) const {
    const Elf32_Shdr* symtab = section(".symtab");
    for (size_t off = 0; symtab && off + sizeof(Elf32_Sym) <= symtab->sh_size; off += sizeof(Elf32_Sym)) {
      const auto s = at<Elf32_Sym>(symtab->sh_offset + off);
      if (wanted == name(shdrs[symtab->sh_link], s.st_name)) return s;
    }
    return std::nullopt;
  }
  std::string bytes;
  Elf32_Ehdr eh{};
  std::vector<Elf32_Phdr> phdrs;
  std::vector<Elf32_Shdr> shdrs;
};

// A run that shows nothing on the host, keeps its records and console
// output, never sleeps and cannot hang: in `root`, or a scratch root.
inline ridemu::Config quiet(const std::string& root = "") {
  ridemu::Config c;
  c.root = root;
  c.scratch_root = root.empty();
  c.console_to_stdout = c.sleep = c.faults_to_stderr = false;
  c.capture_console = c.record = true;
  c.time_limit_ms = 20000;
  c.stdin_data = std::string();
  return c;
}

// The results of the traps with service number `nr` of process `pid`.
inline std::vector<int32_t> results(const ridemu::Outcome& o, uint32_t nr, int pid = 1) {
  std::vector<int32_t> r;
  for (const auto& t : o.trace)
    if (t.nr == nr && t.pid == pid) r.push_back(t.result);
  return r;
}

}  // namespace test
