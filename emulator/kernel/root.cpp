// A root copied for one run. Files are hard links to the originals where the
// file system allows (a copy otherwise), which makes the copy nearly free;
// the kernel gives a linked file a private copy before anything writes into
// it in place (stores replace files whole, so they never write into one).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "kernel.h"

namespace ridemu::detail {

namespace fs = std::filesystem;

std::string clone_root(const std::string& from, const std::string& to) {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(from, ec)) {
    const std::string name = e.path().filename().string();
    const std::string source = from + "/" + name, target = to + "/" + name;
    const fs::file_status st = e.symlink_status(ec);
    if (ec) break;
    if (fs::is_directory(st)) {
      if (::mkdir(target.c_str(), 0755) != 0) return std::strerror(errno);
      if (std::string why = clone_root(source, target); !why.empty()) return why;
    } else if (fs::is_symlink(st)) {
      fs::copy_symlink(source, target, ec);
    } else if (fs::is_regular_file(st) && ::link(source.c_str(), target.c_str()) != 0) {
      fs::copy_file(source, target, ec);
    }
    if (ec) break;
  }
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
