// A root copied for one run (std::filesystem::copy). Files are hard links to
// the originals where the host allows (copies otherwise), which makes the
// copy nearly free; the kernel gives a linked file a private copy before
// anything writes into it in place (stores replace files whole, so they
// never write into one).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "kernel.h"

namespace ridemu::detail {

namespace fs = std::filesystem;

std::string clone_root(const std::string& from, const std::string& to) {
  using fs::copy_options;
  const copy_options tree = copy_options::recursive | copy_options::copy_symlinks;
  std::error_code ec;
  fs::copy(from, to, tree | copy_options::create_hard_links, ec);
  if (ec) {
    // Where files cannot be linked (another file system, or files of
    // another owner where the host protects those), they are copied.
    ec.clear();
    for (auto it = fs::directory_iterator(to, ec); !ec && it != fs::end(it); it.increment(ec))
      fs::remove_all(it->path(), ec);
    if (!ec) fs::copy(from, to, tree, ec);
  }
  // Directories are made with their originals' permissions: the run may
  // write in its copy of a root installed read-only.
  for (auto it = fs::recursive_directory_iterator(to, ec); !ec && it != fs::end(it); it.increment(ec))
    if (it->symlink_status(ec).type() == fs::file_type::directory)
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  return ec ? ec.message() : "";
}

int32_t privatize(const std::string& host) {
  struct stat st;
  if (lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink < 2) return 0;
  std::string temp;
  const int out = make_temp(host, temp);
  if (out < 0) return out;
  const int in = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = in >= 0;
  char buf[1 << 16];
  while (ok) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = write_all(out, reinterpret_cast<const uint8_t*>(buf), static_cast<size_t>(n));
  }
  if (in >= 0) ::close(in);
  if (!ok) {
    drop_temp(out, temp);
    return -EIO;
  }
  return put_in_place(out, temp, host);
}

}  // namespace ridemu::detail
