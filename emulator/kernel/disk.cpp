// The run's disk budget: what its files add to the root. A regular file
// counts its bytes, and each file or directory the run makes one block
// besides, as a disk counts them; a file still linked to the tree the root
// was copied from is not the run's and counts nothing. Removals give back
// what they free, and a write past the budget fails as on a full disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "kernel.h"

namespace ridemu::detail {

int64_t footprint(const std::string& host) {
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return kDiskBlock;
  if (st.st_nlink > 1) return 0;
  return kDiskBlock + (S_ISREG(st.st_mode) ? st.st_size : 0);
}

bool Machine::disk_fits(int64_t bytes) const {
  return bytes <= 0 || disk_used_ + bytes <= static_cast<int64_t>(config.max_disk);
}

void Machine::disk_count(int64_t bytes) { disk_used_ += bytes; }

int32_t Machine::file_write(int fd, const uint8_t* data, size_t n) {
  struct stat before;
  if (fstat(fd, &before) != 0) return errno ? -errno : -EIO;
  const off_t at = (fcntl(fd, F_GETFL) & O_APPEND) ? before.st_size : lseek(fd, 0, SEEK_CUR);
  // The file grows by what the write puts past its end (a hole included).
  const int64_t growth = std::max<int64_t>(0, at + static_cast<int64_t>(n) - before.st_size);
  const int64_t room = std::max<int64_t>(0, static_cast<int64_t>(config.max_disk) - disk_used_);
  if (growth > room) {
    const int64_t cut = growth - room;
    if (cut >= static_cast<int64_t>(n)) return -ENOSPC;
    n -= static_cast<size_t>(cut);
  }
  ssize_t w;
  do w = ::write(fd, data, n);
  while (w < 0 && errno == EINTR);
  if (w < 0) return errno ? -errno : -EIO;
  struct stat after;
  if (fstat(fd, &after) == 0) disk_count(after.st_size - before.st_size);
  return static_cast<int32_t>(w);
}

}  // namespace ridemu::detail
