// The image loader's checks: an ELF32 i386 executable, statically linked,
// whose segments fit the guest's address space.
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine.h"

namespace ridemu::detail {
namespace {

constexpr unsigned kMaxPhdrs = 64, kMaxLoads = 16;

uint64_t page_down(uint64_t v) { return v & ~uint64_t(kPage - 1); }
uint64_t page_up(uint64_t v) { return (v + kPage - 1) & ~uint64_t(kPage - 1); }

// Whether the notes in b[at, at+n) hold the GNU ABI tag.
bool has_abi_note(const std::vector<uint8_t>& b, uint64_t at, uint64_t n) {
  const uint64_t end = std::min<uint64_t>(at + n, b.size());
  while (at + sizeof(Elf32_Nhdr) <= end) {
    Elf32_Nhdr nh;
    std::memcpy(&nh, b.data() + at, sizeof nh);
    const uint64_t name = at + sizeof nh;
    if (nh.n_type == NT_GNU_ABI_TAG && nh.n_namesz == 4 && name + 4 <= end &&
        std::memcmp(b.data() + name, "GNU", 4) == 0)
      return true;
    at = name + ((uint64_t(nh.n_namesz) + 3) & ~3ull) + ((uint64_t(nh.n_descsz) + 3) & ~3ull);
  }
  return false;
}

// What shows that an i386 ELF file is a program for Linux, which a ridid
// image never has, or "".
std::string linux_mark(const std::vector<uint8_t>& b, const Elf32_Ehdr& eh) {
  if (eh.e_ident[EI_OSABI] == ELFOSABI_GNU) return "its ABI is GNU";
  if (eh.e_type == ET_DYN) return "it is position-independent";
  if (eh.e_phentsize != sizeof(Elf32_Phdr) ||
      uint64_t(eh.e_phoff) + uint64_t(eh.e_phnum) * sizeof(Elf32_Phdr) > b.size())
    return "";  // the checks that follow refuse it
  for (unsigned i = 0; i < eh.e_phnum; ++i) {
    Elf32_Phdr ph;
    std::memcpy(&ph, b.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
    if (ph.p_type == PT_INTERP) return "it names an interpreter";
    if (ph.p_type == PT_DYNAMIC) return "it has a dynamic section";
    if (ph.p_type == PT_NOTE && has_abi_note(b, ph.p_offset, ph.p_filesz))
      return "it has a GNU ABI note";
  }
  return "";
}

}  // namespace

std::string parse_image(std::vector<uint8_t> b, Image& out) {
  if (b.size() < SELFMAG || std::memcmp(b.data(), ELFMAG, SELFMAG) != 0)
    return "not an ELF image";
  Elf32_Ehdr eh;
  if (b.size() < sizeof eh) return "truncated ELF header";
  std::memcpy(&eh, b.data(), sizeof eh);
  if (eh.e_ident[EI_CLASS] != ELFCLASS32) return "not a 32-bit ELF image";
  if (eh.e_ident[EI_DATA] != ELFDATA2LSB) return "not a little-endian ELF image";
  if (eh.e_ident[EI_VERSION] != EV_CURRENT) return "unsupported ELF version";
  if (eh.e_machine == EM_386) {
    const std::string mark = linux_mark(b, eh);
    if (!mark.empty()) return "a Linux i386 program (" + mark + "), not a ridid image";
  }
  if (eh.e_type != ET_EXEC) return "not an executable (ELF type is not ET_EXEC)";
  if (eh.e_machine != EM_386) return "not an i386 image (wrong machine)";
  if (eh.e_version != EV_CURRENT) return "unsupported ELF version";
  if (eh.e_phnum == 0) return "no program headers";
  if (eh.e_phnum > kMaxPhdrs) return "too many program headers";
  if (eh.e_phentsize != sizeof(Elf32_Phdr)) return "bad program header size";
  if (uint64_t(eh.e_phoff) + uint64_t(eh.e_phnum) * sizeof(Elf32_Phdr) > b.size())
    return "program headers lie outside the file";

  std::vector<Segment> segs;
  for (unsigned i = 0; i < eh.e_phnum; ++i) {
    Elf32_Phdr ph;
    std::memcpy(&ph, b.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
    if (ph.p_type != PT_LOAD) continue;
    const Segment s{ph.p_vaddr, ph.p_memsz, ph.p_offset, ph.p_filesz, ph.p_flags};
    const std::string which = "segment " + std::to_string(segs.size() + 1);
    if (uint64_t(s.offset) + s.filesz > b.size()) return which + " lies outside the file";
    if (s.filesz > s.memsz) return which + " has a file size above its memory size";
    if (s.memsz == 0) continue;
    if (uint64_t(s.vaddr) + s.memsz > 0x100000000ull)
      return which + " wraps around the address space";
    if (s.vaddr < kPage) return which + " lies in the first page";
    // The page below the stack stays unmapped, so an overflow is a fault.
    if (uint64_t(s.vaddr) + s.memsz > kGuardPage) return which + " reaches into the stack area";
    segs.push_back(s);
    if (segs.size() > kMaxLoads) return "too many loadable segments";
  }
  if (segs.empty()) return "no loadable segment";

  uint64_t total = 0;
  for (size_t i = 0; i < segs.size(); ++i) {
    const uint64_t a0 = page_down(segs[i].vaddr);
    const uint64_t a1 = page_up(uint64_t(segs[i].vaddr) + segs[i].memsz);
    total += a1 - a0;
    for (size_t j = 0; j < i; ++j) {
      const uint64_t b0 = page_down(segs[j].vaddr);
      const uint64_t b1 = page_up(uint64_t(segs[j].vaddr) + segs[j].memsz);
      if (a0 < b1 && b0 < a1)
        return "segments " + std::to_string(j + 1) + " and " + std::to_string(i + 1) +
               " overlap";
    }
  }
  if (total > kMaxImageMemory) return "image too large";

  bool entry_ok = false;
  for (const Segment& s : segs)
    if ((s.flags & PF_X) && eh.e_entry >= s.vaddr && eh.e_entry - s.vaddr < s.memsz)
      entry_ok = true;
  if (!entry_ok) return "entry point is not in an executable segment";

  out.entry = eh.e_entry;
  out.segments = std::move(segs);
  out.mapped = total;
  out.bytes = std::move(b);
  return "";
}

std::string read_host_file(const std::string& path, size_t max, std::vector<uint8_t>& out) {
  // Non-blocking: opening a named pipe must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::strerror(errno);
  return read_host_file(fd, max, out);
}

std::string read_host_file(int fd, size_t max, std::vector<uint8_t>& out) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return "not a regular file";
  }
  if (static_cast<uint64_t>(st.st_size) > max) {
    ::close(fd);
    return "file too large";
  }
  out.assign(static_cast<size_t>(st.st_size), 0);
  size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  out.resize(got);
  return "";
}

}  // namespace ridemu::detail
