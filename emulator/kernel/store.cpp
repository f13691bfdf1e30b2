// Whole-file stores (writefile and the stream services): the content goes
// to a file of its own in the target's directory, which replaces the target
// in one rename once it is complete. Where the host allows, that file has no
// name until then, so a store cut short, even with the emulator, leaves
// nothing behind; otherwise it is a hidden temporary file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kernel.h"

namespace ridemu::detail {
namespace {

std::string parent_of(const std::string& host) {
  const size_t slash = host.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return host.substr(0, slash);
}

}  // namespace

int make_temp(const std::string& target, std::string& temp) {
  temp.clear();
  static const bool s_unnamed_ok = access("/proc/self/fd", X_OK) == 0;
  if (s_unnamed_ok) {
    const int fd = ::open(parent_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) return fd;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return neg_errno();
  }
  std::string tmpl = parent_of(target) + "/.ridid-store-XXXXXX";
  const int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return neg_errno();
  temp = tmpl;
  return fd;
}

int32_t put_in_place(int fd, std::string temp, const std::string& target) {
  bool ok = fchmod(fd, 0644) == 0;
  int32_t err = -EIO;
  if (ok && temp.empty()) {  // an unnamed file gets a temporary name first
    static unsigned s_serial = 0;
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    int linked;
    do {
      temp = parent_of(target) + "/.ridid-store-" + std::to_string(getpid()) + "-" +
             std::to_string(++s_serial);
      linked = linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW);
    } while (linked != 0 && errno == EEXIST);
    if (linked != 0) {
      err = neg_errno();
      ok = false;
      temp.clear();
    }
  }
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return 0;
  if (ok) err = neg_errno();
  if (!temp.empty()) ::unlink(temp.c_str());
  return err;
}

void drop_temp(int fd, const std::string& temp) {
  ::close(fd);
  if (!temp.empty()) ::unlink(temp.c_str());
}

bool write_all(int fd, const uint8_t* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

}  // namespace ridemu::detail
