// The image loader: checks an ELF32 i386 executable and maps it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "internal.h"

namespace ridemu::detail {
namespace {

uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) |
         (static_cast<uint32_t>(b[at + 3]) << 24);
}

constexpr uint32_t kPtLoad = 1, kPtDynamic = 2, kPtInterp = 3;
constexpr uint32_t kPfX = 1, kPfW = 2, kPfR = 4;
constexpr size_t kEhdrSize = 52, kPhdrSize = 32;
constexpr int kMaxPhdrs = 64, kMaxLoads = 16;

uint64_t page_down(uint64_t v) { return v & ~uint64_t(kPage - 1); }
uint64_t page_up(uint64_t v) { return (v + kPage - 1) & ~uint64_t(kPage - 1); }

}  // namespace

std::string parse_image(std::vector<uint8_t> b, Image& out) {
  if (b.size() < 4 || b[0] != 0x7f || b[1] != 'E' || b[2] != 'L' || b[3] != 'F')
    return "not an ELF image";
  if (b.size() < kEhdrSize) return "truncated ELF header";
  if (b[4] != 1) return "not a 32-bit ELF image";
  if (b[5] != 1) return "not a little-endian ELF image";
  if (b[6] != 1) return "unsupported ELF version";
  if (le16(b, 16) != 2) return "not an executable (ELF type is not ET_EXEC)";
  if (le16(b, 18) != 3) return "not an i386 image (wrong machine)";
  if (le32(b, 20) != 1) return "unsupported ELF version";
  const uint32_t entry = le32(b, 24);
  const uint64_t phoff = le32(b, 28);
  const uint16_t phentsize = le16(b, 42);
  const uint16_t phnum = le16(b, 44);
  if (phnum == 0) return "no program headers";
  if (phnum > kMaxPhdrs) return "too many program headers";
  if (phentsize != kPhdrSize) return "bad program header size";
  if (phoff + uint64_t(phnum) * kPhdrSize > b.size())
    return "program headers lie outside the file";

  std::vector<Segment> segs;
  for (unsigned i = 0; i < phnum; ++i) {
    const size_t at = static_cast<size_t>(phoff) + i * kPhdrSize;
    const uint32_t type = le32(b, at);
    if (type == kPtInterp) return "has an interpreter (not statically linked)";
    if (type == kPtDynamic) return "has a dynamic section (not statically linked)";
    if (type != kPtLoad) continue;
    Segment s{le32(b, at + 8), le32(b, at + 20), le32(b, at + 4),
              le32(b, at + 16), le32(b, at + 24)};
    const std::string which = "segment " + std::to_string(segs.size() + 1);
    if (uint64_t(s.offset) + s.filesz > b.size())
      return which + " lies outside the file";
    if (s.filesz > s.memsz) return which + " has a file size above its memory size";
    if (s.memsz == 0) continue;
    if (uint64_t(s.vaddr) + s.memsz > 0x100000000ull)
      return which + " wraps around the address space";
    if (s.vaddr < kPage) return which + " lies in the first page";
    // The page below the stack stays unmapped, so an overflow is a fault.
    if (uint64_t(s.vaddr) + s.memsz > kStackBottom - kPage)
      return which + " reaches into the stack area";
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
        return "segments " + std::to_string(j + 1) + " and " +
               std::to_string(i + 1) + " overlap";
    }
  }
  if (total > kMaxImageMemory) return "image too large";

  bool entry_ok = false;
  for (const Segment& s : segs)
    if ((s.flags & kPfX) && entry >= s.vaddr && entry - s.vaddr < s.memsz)
      entry_ok = true;
  if (!entry_ok) return "entry point is not in an executable segment";

  out.entry = entry;
  out.segments = std::move(segs);
  out.bytes = std::move(b);
  return "";
}

std::string read_host_file(const std::string& path, size_t max,
                           std::vector<uint8_t>& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
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

std::string load_image(GuestMemory& mem, const Image& image,
                       const std::vector<std::optional<std::string>>& argv,
                       uint32_t& esp) {
  for (const Segment& s : image.segments) {
    const uint32_t a0 = static_cast<uint32_t>(page_down(s.vaddr));
    const uint32_t a1 = static_cast<uint32_t>(page_up(uint64_t(s.vaddr) + s.memsz));
    uint32_t prot = 0;
    if (s.flags & kPfR) prot |= UC_PROT_READ;
    if (s.flags & kPfW) prot |= UC_PROT_WRITE;
    if (s.flags & kPfX) prot |= UC_PROT_EXEC;
    if (!mem.map(a0, a1 - a0, prot)) return "cannot map segment";
    // Fresh mappings are zero; copy the file part (the rest stays zero).
    if (s.filesz &&
        uc_mem_write(mem.uc, s.vaddr, image.bytes.data() + s.offset, s.filesz) !=
            UC_ERR_OK)
      return "cannot fill segment";
  }
  if (!mem.map(kStackBottom, kStackSize, UC_PROT_READ | UC_PROT_WRITE))
    return "cannot map the stack";

  // Strings at the top of the stack, then the count and the vector below.
  size_t strings = 0;
  for (const auto& a : argv)
    if (a) strings += a->size() + 1;
  const size_t vector = 4 * (argv.size() + 2);
  if (strings + vector + 64 > kStackSize / 4) return "argument list too long";

  std::vector<uint32_t> ptrs;
  uint32_t top = kStackTop - static_cast<uint32_t>(strings);
  top &= ~3u;
  uint32_t cursor = top;
  for (const auto& a : argv) {
    if (!a) {
      ptrs.push_back(0);
      continue;
    }
    uc_mem_write(mem.uc, cursor, a->c_str(), a->size() + 1);
    ptrs.push_back(cursor);
    cursor += static_cast<uint32_t>(a->size() + 1);
  }
  uint32_t sp = (top - static_cast<uint32_t>(vector)) & ~15u;
  std::vector<uint32_t> words;
  words.push_back(static_cast<uint32_t>(argv.size()));
  words.insert(words.end(), ptrs.begin(), ptrs.end());
  words.push_back(0);
  uc_mem_write(mem.uc, sp, words.data(), words.size() * 4);  // little-endian host
  esp = sp;
  return "";
}

}  // namespace ridemu::detail
