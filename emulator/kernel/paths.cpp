// Guest path resolution. The guest's "/" is the root directory on the host;
// paths are resolved component by component, chroot-style: ".." at the root
// stays at the root, and symbolic links are followed inside the guest's
// namespace (an absolute target starts again at the guest root, a relative
// one at the link's directory), so no path leads out of the root. The final
// open of a resolved path has the host kernel hold the same wall again.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <deque>

#include "kernel.h"

namespace ridemu::detail {
namespace {

void split(const std::string& path, std::deque<std::string>& out, bool front) {
  std::deque<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  if (front)
    out.insert(out.begin(), parts.begin(), parts.end());
  else
    out.insert(out.end(), parts.begin(), parts.end());
}

std::string join(const std::string& root, const std::vector<std::string>& comps) {
  std::string s = root;
  for (const auto& c : comps) s += "/" + c;
  return s;
}

// openat2 with links kept inside the root; -1 and errno on failure.
int open_beneath(int root_fd, const std::string& guest, int flags) {
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & O_CREAT) ? 0644 : 0;
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, root_fd, guest.c_str(), &how, sizeof how));
}

// Whether this host kernel serves openat2 (asked once, with the root itself).
bool have_openat2(int root_fd) {
  static const bool s_have = [&] {
    const int fd = open_beneath(root_fd, "/", O_PATH | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    return fd >= 0 || (errno != ENOSYS && errno != EPERM);
  }();
  return s_have;
}

}  // namespace

int resolve_path(const std::string& root, const std::string& cwd,
                 const std::string& path, bool follow_last, Resolved& out) {
  if (path.empty()) return -ENOENT;
  std::vector<std::string> comps;
  std::deque<std::string> todo;
  // The working directory is resolved again too: the host may have put a
  // link where it was.
  if (path[0] != '/') split(cwd, todo, false);
  split(path, todo, false);
  int links = 0;
  while (!todo.empty()) {
    std::string c = std::move(todo.front());
    todo.pop_front();
    if (c == ".") continue;
    if (c == "..") {
      if (!comps.empty()) comps.pop_back();
      continue;
    }
    comps.push_back(c);
    const bool last = todo.empty();
    const std::string host = join(root, comps);
    struct stat st;
    if (lstat(host.c_str(), &st) != 0) {
      if (last) break;  // may be created by the caller
      return errno == ENOTDIR ? -ENOTDIR : -ENOENT;
    }
    if (S_ISLNK(st.st_mode) && (!last || follow_last)) {
      if (++links > kMaxLinks) return -ELOOP;
      char target[kMaxPath];
      const ssize_t n = readlink(host.c_str(), target, sizeof target - 1);
      if (n <= 0) return -ENOENT;
      comps.pop_back();
      const std::string t(target, static_cast<size_t>(n));
      if (t[0] == '/') comps.clear();
      split(t, todo, true);
      continue;
    }
    if (!last && !S_ISDIR(st.st_mode)) return -ENOTDIR;
  }
  out.guest = comps.empty() ? "/" : join("", comps);
  // The root is "" when it is the host's own "/".
  out.host = comps.empty() ? (root.empty() ? "/" : root) : join(root, comps);
  return 0;
}

int open_in_root(int root_fd, const Resolved& r, int flags) {
  const int fd = have_openat2(root_fd) ? open_beneath(root_fd, r.guest, flags)
                                       : ::open(r.host.c_str(), flags, 0644);
  return fd >= 0 ? fd : -errno;
}

}  // namespace ridemu::detail
