// Guest memory as the kernel sees it: every pointer and length a service gets
// is checked against the process's own mappings before it is used.
#include <algorithm>
#include <cerrno>

#include "engine.h"

namespace ridemu::detail {

void GuestMemory::add(uint32_t begin, uint32_t size, uint32_t prot) {
  regions.push_back(Region{begin, begin + size, prot});
  std::sort(regions.begin(), regions.end(),
            [](const Region& a, const Region& b) { return a.begin < b.begin; });
}

const Region* GuestMemory::find(uint32_t addr) const {
  for (const Region& r : regions)
    if (addr >= r.begin && addr - r.begin < r.end - r.begin) return &r;
  return nullptr;
}

bool GuestMemory::check(uint32_t p, uint32_t n, uint32_t prot) const {
  if (n == 0) return true;
  uint64_t at = p;
  const uint64_t end = uint64_t(p) + n;
  for (const Region& r : regions) {
    if (r.end <= at) continue;
    if (r.begin > at) return false;  // a hole
    if ((r.prot & prot) != prot) return false;
    at = r.end;
    if (at >= end) return true;
  }
  return false;
}

bool GuestMemory::read(uint32_t p, void* dst, uint32_t n) const {
  if (!check(p, n, UC_PROT_READ)) return false;
  return n == 0 || uc_mem_read(uc, p, dst, n) == UC_ERR_OK;
}

bool GuestMemory::write(uint32_t p, const void* src, uint32_t n) {
  if (!check(p, n, UC_PROT_WRITE)) return false;
  return n == 0 || uc_mem_write(uc, p, src, n) == UC_ERR_OK;
}

int GuestMemory::read_string(uint32_t p, size_t max, std::string& out) const {
  out.clear();
  uint64_t at = p;
  char chunk[256];
  while (out.size() < max) {
    // Read up to the end of the current page so a string that ends right
    // before an unmapped page is still accepted.
    const uint64_t page_end = (at | (kPage - 1)) + 1;
    uint32_t n = static_cast<uint32_t>(
        std::min<uint64_t>({page_end - at, sizeof chunk, max - out.size()}));
    if (at > 0xFFFFFFFFull || !read(static_cast<uint32_t>(at), chunk, n)) return -EFAULT;
    for (uint32_t i = 0; i < n; ++i) {
      if (chunk[i] == '\0') return 0;
      out.push_back(chunk[i]);
    }
    at += n;
  }
  return -ENAMETOOLONG;
}

}  // namespace ridemu::detail
