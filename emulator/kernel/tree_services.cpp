// The services on the tree of names: directories, named pipes, the working
// directory, and whole-file stores, in one call (writefile) or streamed (the stream
// services). Each is a row of the kernel's table (services.cpp); the
// stores' files are store.cpp's.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kernel.h"

namespace ridemu::detail {
namespace {

// Where a whole-file store goes: a path that is neither a named pipe nor a
// directory.
int32_t store_target(Call& c, uint32_t path, Resolved& r) {
  if (int32_t e = c.m.path_arg(c.p, path, true, r, c.rec)) return e;
  if (c.m.fifos.count(r.guest)) return -EINVAL;
  struct stat st;
  if (r.guest == "/" || (lstat(r.host.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return -EISDIR;
  return 0;
}

// A path argument resolved without following a link in its last component.
int32_t plain_path(Call& c, Resolved& r) { return c.m.path_arg(c.p, c.ebx(), false, r, c.rec); }

// The stream numbered EBX, when the calling process began it.
Stream* own_stream(Call& c) {
  auto it = c.m.streams.find(static_cast<int>(c.ebx()));
  return it == c.m.streams.end() || it->second.owner != c.p.pid ? nullptr : &it->second;
}

}  // namespace

int32_t sys_writefile(Call& c) {
  std::vector<uint8_t> data;
  if (int32_t e = guest_bytes(c, c.ecx(), c.edx(), data)) return e;
  Resolved r;
  if (int32_t e = store_target(c, c.ebx(), r)) return e;
  const int64_t before = footprint(r.host);
  if (!c.m.disk_fits(kDiskBlock + static_cast<int64_t>(data.size()) - before)) return -ENOSPC;
  std::string temp;
  const int fd = make_temp(r.host, temp);
  if (fd < 0) return fd;
  if (!write_all(fd, data.data(), data.size())) {
    drop_temp(fd, temp);
    return -EIO;
  }
  const int32_t err = put_in_place(fd, temp, r.host);
  c.m.disk_count(footprint(r.host) - before);
  return err ? err : static_cast<int32_t>(data.size());
}

int32_t sys_mkdir(Call& c) {
  Resolved r;
  if (int32_t e = plain_path(c, r)) return e;
  if (c.m.fifos.count(r.guest)) return -EEXIST;
  if (!c.m.disk_fits(kDiskBlock)) return -ENOSPC;
  if (::mkdir(r.host.c_str(), 0755) != 0) return neg_errno();
  c.m.disk_count(kDiskBlock);
  return 0;
}

int32_t sys_unlink(Call& c) {
  Resolved r;
  if (int32_t e = plain_path(c, r)) return e;
  if (c.m.fifos.erase(r.guest)) return 0;
  if (r.guest == "/") return -EISDIR;
  const int64_t before = footprint(r.host);
  if (::unlink(r.host.c_str()) != 0) return neg_errno();
  c.m.disk_count(-before);
  return 0;
}

int32_t sys_rmdir(Call& c) {
  Resolved r;
  if (int32_t e = plain_path(c, r)) return e;
  if (r.guest == "/") return -EBUSY;
  if (c.m.fifos.count(r.guest)) return -ENOTDIR;
  const std::string prefix = r.guest + "/";
  for (const auto& [name, pipe] : c.m.fifos)
    if (name.compare(0, prefix.size(), prefix) == 0) return -ENOTEMPTY;
  if (::rmdir(r.host.c_str()) != 0) return neg_errno();
  c.m.disk_count(-kDiskBlock);
  return 0;
}

int32_t sys_getcwd(Call& c) {
  if (static_cast<int32_t>(c.ecx()) < 0) return -EINVAL;
  const std::string& cwd = c.p.cwd;
  if (c.ecx() < cwd.size() + 1) return -ERANGE;
  if (!c.p.cpu.mem.write(c.ebx(), cwd.c_str(), static_cast<uint32_t>(cwd.size() + 1)))
    return -EFAULT;
  return static_cast<int32_t>(cwd.size());
}

int32_t sys_stream_begin(Call& c) {
  Resolved r;
  if (int32_t e = store_target(c, c.ebx(), r)) return e;
  if (c.m.streams.size() >= kMaxStreams) return -EMFILE;
  if (!c.m.disk_fits(kDiskBlock)) return -ENOSPC;
  Stream s;
  s.owner = c.p.pid;
  s.target = r.host;
  s.fd = make_temp(r.host, s.temp);
  if (s.fd < 0) return s.fd;
  s.counted = kDiskBlock;  // the name it gets at its end
  c.m.disk_count(s.counted);
  const int h = c.m.next_stream++;
  c.m.streams[h] = s;
  return h;
}

int32_t sys_stream_write(Call& c) {
  Stream* s = own_stream(c);
  if (!s) return -EBADF;
  std::vector<uint8_t> data;
  if (int32_t e = guest_bytes(c, c.ecx(), c.edx(), data)) return e;
  const int64_t n = static_cast<int64_t>(data.size());
  if (!c.m.disk_fits(n)) return -ENOSPC;
  if (!write_all(s->fd, data.data(), data.size())) return -EIO;
  s->counted += n;
  c.m.disk_count(n);
  return static_cast<int32_t>(n);
}

int32_t sys_stream_end(Call& c) {
  Stream* s = own_stream(c);
  if (!s) return -EBADF;
  const Stream done = *s;
  c.m.streams.erase(static_cast<int>(c.ebx()));
  const int64_t before = footprint(done.target);
  const int32_t err = put_in_place(done.fd, done.temp, done.target);
  c.m.disk_count(footprint(done.target) - before - done.counted);
  return err;
}

int32_t sys_chdir(Call& c) {
  Resolved r;
  if (int32_t e = c.m.path_arg(c.p, c.ebx(), true, r, c.rec)) return e;
  struct stat st;
  if (stat(r.host.c_str(), &st) != 0) return neg_errno();
  if (!S_ISDIR(st.st_mode)) return -ENOTDIR;
  c.p.cwd = r.guest;
  return 0;
}

int32_t sys_mkfifo(Call& c) {
  Resolved r;
  if (int32_t e = plain_path(c, r)) return e;
  struct stat st;
  if (c.m.fifos.count(r.guest) || lstat(r.host.c_str(), &st) == 0) return -EEXIST;
  const std::string parent = r.host.substr(0, r.host.rfind('/'));
  if (stat(parent.empty() ? "/" : parent.c_str(), &st) != 0) return -ENOENT;
  if (!S_ISDIR(st.st_mode)) return -ENOTDIR;
  if (c.m.fifos.size() >= kMaxFifos) return -ENOSPC;
  c.m.fifos[r.guest] = std::make_shared<Pipe>();
  return 0;
}

}  // namespace ridemu::detail
