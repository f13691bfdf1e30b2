// The kernel services behind int 0x80: one function per service and one
// table of number and function (names and arguments come from the kernel's
// interface description, runtime/ridid_services.h). The services on
// descriptors, processes and time are here; those on the tree of names
// (directories, named pipes and whole-file stores) are in tree_services.cpp.
//
// Service number in EAX, arguments in EBX, ECX, EDX, signed result in EAX
// (negative: an error number from <cerrno>, which are the guest's too).
// Every guest pointer is checked against the process's mappings first; a
// bad one gives -EFAULT and nothing else happens. emulator/README.md
// describes each service.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kernel.h"

namespace ridemu::detail {

int32_t neg_errno() { return errno ? -errno : -EPERM; }

int32_t guest_bytes(Call& c, uint32_t addr, uint32_t count, std::vector<uint8_t>& data) {
  if (static_cast<int32_t>(count) < 0) return -EINVAL;
  if (!c.p.cpu.mem.check(addr, count, UC_PROT_READ)) return -EFAULT;
  data.resize(count);
  c.p.cpu.mem.read(addr, data.data(), count);
  return 0;
}

namespace {

#define SAME_NUMBER(NAME) static_assert(RIDID_##NAME == NAME, "the guest's " #NAME " is the host's");
RIDID_ERRORS(SAME_NUMBER)
#undef SAME_NUMBER

// Guest flags and numbers, and the host's for them.
struct Translation {
  uint32_t guest;
  int host;
};
constexpr Translation kAccessModes[] = {
    {RIDID_O_RDONLY, O_RDONLY}, {RIDID_O_WRONLY, O_WRONLY}, {RIDID_O_RDWR, O_RDWR}};
#define ROW(NAME) {RIDID_O_##NAME, O_##NAME},
constexpr Translation kOpenFlags[] = {RIDID_OPEN_FLAGS(ROW)};
#undef ROW
#define ROW(NAME) {RIDID_SEEK_##NAME, SEEK_##NAME},
constexpr Translation kSeekOrigins[] = {RIDID_SEEK_ORIGINS(ROW)};
#undef ROW

// The host's value for `guest`, or null when the table has none.
template <size_t N>
const int* host_value(const Translation (&table)[N], uint32_t guest) {
  for (const Translation& t : table)
    if (t.guest == guest) return &t.host;
  return nullptr;
}

constexpr size_t kChunk = 1u << 20;  // most bytes one read hands over

OpenFile* file(Call& c, uint32_t fd) {
  auto it = c.p.fds.find(static_cast<int>(fd));
  return it == c.p.fds.end() ? nullptr : it->second.get();
}

int32_t sys_write(Call& c) {
  OpenFile* f = file(c, c.ebx());
  if (!f || !f->can_write) return -EBADF;
  std::vector<uint8_t> data;
  if (int32_t e = guest_bytes(c, c.ecx(), c.edx(), data)) return e;
  if (data.empty()) return 0;
  switch (f->kind) {
    case OpenFile::Console:
      if (data.size() == RIDID_PACKET_SIZE && data[0] == RIDID_PACKET_MARKER) {
        std::array<uint8_t, RIDID_PACKET_SIZE> packet;
        std::copy(data.begin(), data.end(), packet.begin());
        c.rec.packet = packet;
      } else {
        return c.m.console_write(c.p, data.data(), data.size());
      }
      return static_cast<int32_t>(data.size());
    case OpenFile::Host:
      return c.m.file_write(f->host_fd, data.data(), data.size());
    case OpenFile::PipeWrite:
    case OpenFile::Fifo: {
      const size_t n = f->pipe->write(data.data(), data.size());
      return n ? static_cast<int32_t>(n) : -EAGAIN;
    }
    default:
      return -EBADF;
  }
}

int32_t sys_exit(Call& c) {
  c.p.exited = true;
  c.p.exit_status = static_cast<int32_t>(c.ebx());
  c.rec.status = static_cast<int32_t>(c.ebx());
  c.p.cpu.stop();
  return 0;
}

int32_t sys_read(Call& c) {
  OpenFile* f = file(c, c.ebx());
  if (!f || !f->can_read) return -EBADF;
  if (static_cast<int32_t>(c.edx()) < 0) return -EINVAL;
  if (c.edx() == 0) return 0;
  if (!c.p.cpu.mem.check(c.ecx(), c.edx(), UC_PROT_WRITE)) return -EFAULT;
  std::vector<uint8_t> data(std::min<size_t>(c.edx(), kChunk));
  int32_t n = 0;
  switch (f->kind) {
    case OpenFile::Stdin:
      n = c.m.stdin_read(c.p, data.data(), data.size());
      if (n == kEnded) return n;
      break;
    case OpenFile::Host: {
      ssize_t r;
      do r = ::read(f->host_fd, data.data(), data.size());
      while (r < 0 && errno == EINTR);
      if (r < 0) return neg_errno();
      n = static_cast<int32_t>(r);
      break;
    }
    case OpenFile::PipeRead:
    case OpenFile::Fifo:
      n = static_cast<int32_t>(f->pipe->read(data.data(), data.size()));
      break;
    default:
      return -EBADF;
  }
  c.p.cpu.mem.write(c.ecx(), data.data(), static_cast<uint32_t>(n));
  return n;
}

int32_t sys_open(Call& c) {
  const uint32_t acc = c.ecx() & RIDID_O_ACCMODE;
  const int* host_acc = host_value(kAccessModes, acc);
  if (!host_acc) return -EINVAL;
  Resolved r;
  if (int32_t e = c.m.path_arg(c.p, c.ebx(), true, r, c.rec)) return e;
  std::shared_ptr<OpenFile> f;
  if (auto fifo = c.m.fifos.find(r.guest); fifo != c.m.fifos.end()) {
    f = std::make_shared<OpenFile>(OpenFile::Fifo);
    f->pipe = fifo->second;
  } else {
    int flags = *host_acc | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    for (const Translation& t : kOpenFlags)
      if (c.ecx() & t.guest) flags |= t.host;
    // Never block on, or open, anything but a regular file.
    struct stat st;
    if (lstat(r.host.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return -EISDIR;
      if (!S_ISREG(st.st_mode)) return -EACCES;
    } else if ((flags & O_CREAT) && !c.m.disk_fits(kDiskBlock)) {
      return -ENOSPC;
    }
    const int64_t before = footprint(r.host);
    // A file shared with the tree the root was copied from gets a copy of
    // its own before it is written in place or truncated.
    if ((acc != RIDID_O_RDONLY || (flags & O_TRUNC)) && c.m.linked_root)
      if (int32_t e = privatize(r.host)) return e;
    const int fd = open_in_root(c.m.root_fd, r, flags);
    if (fd < 0) return fd;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return -EACCES;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    c.m.disk_count(footprint(r.host) - before);  // made, truncated, or a copy of its own
    f = std::make_shared<OpenFile>(OpenFile::Host);
    f->host_fd = fd;
  }
  f->can_read = acc != RIDID_O_WRONLY;
  f->can_write = acc != RIDID_O_RDONLY;
  return c.m.alloc_fd(c.p, std::move(f));
}

int32_t sys_close(Call& c) { return c.p.fds.erase(static_cast<int>(c.ebx())) ? 0 : -EBADF; }

int32_t sys_getkey(Call& c) {
  uint8_t b;
  const int32_t n = c.m.stdin_read(c.p, &b, 1);
  return n == kEnded ? n : n == 1 ? b : -1;
}

int32_t sys_usleep(Call& c) {
  if (!c.m.config.sleep || c.ebx() == 0) return 0;
  uint64_t usec = c.ebx();
  if (c.m.config.time_limit_ms)  // a sleep does not outlast the time limit
    usec = std::min<uint64_t>(usec, std::max<int64_t>(c.m.time_left().count(), 0));
  struct timespec ts{static_cast<time_t>(usec / 1000000), static_cast<long>(usec % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
  return 0;
}

int32_t sys_lseek(Call& c) {
  OpenFile* f = file(c, c.ebx());
  if (!f) return -EBADF;
  const int* whence = host_value(kSeekOrigins, c.edx());
  if (!whence) return -EINVAL;
  if (f->kind != OpenFile::Host) return -ESPIPE;
  const off_t here = ::lseek(f->host_fd, 0, SEEK_CUR);
  const off_t pos = ::lseek(f->host_fd, static_cast<int32_t>(c.ecx()), *whence);
  if (pos < 0) return neg_errno();
  if (pos > 0x7fffffff) {
    ::lseek(f->host_fd, here, SEEK_SET);
    return -EOVERFLOW;
  }
  return static_cast<int32_t>(pos);
}

int32_t sys_pipe(Call& c) {
  if (!c.p.cpu.mem.check(c.ebx(), 8, UC_PROT_WRITE)) return -EFAULT;
  auto pipe = std::make_shared<Pipe>();
  auto rd = std::make_shared<OpenFile>(OpenFile::PipeRead);
  rd->can_read = true;
  rd->pipe = pipe;
  auto wr = std::make_shared<OpenFile>(OpenFile::PipeWrite);
  wr->can_write = true;
  wr->pipe = pipe;
  const int a = c.m.alloc_fd(c.p, rd);
  if (a < 0) return a;
  const int b = c.m.alloc_fd(c.p, wr);
  if (b < 0) {
    c.p.fds.erase(a);
    return b;
  }
  const int32_t both[2] = {a, b};
  c.p.cpu.mem.write(c.ebx(), both, 8);
  return 0;
}

int32_t sys_dup(Call& c) {
  auto it = c.p.fds.find(static_cast<int>(c.ebx()));
  if (it == c.p.fds.end()) return -EBADF;
  return c.m.alloc_fd(c.p, it->second);
}

int32_t sys_dup2(Call& c) {
  auto it = c.p.fds.find(static_cast<int>(c.ebx()));
  if (it == c.p.fds.end()) return -EBADF;
  const int32_t nfd = static_cast<int32_t>(c.ecx());
  if (nfd < 0 || nfd >= kMaxFds) return -EBADF;
  if (nfd != it->first) c.p.fds[nfd] = it->second;
  return nfd;
}

// Descriptor flags mean nothing here: accepted (and seen in the traces).
int32_t sys_accept(Call&) { return 0; }

int32_t sys_waitpid(Call& c) {
  const int32_t want = static_cast<int32_t>(c.ebx());
  if (c.ecx() && !c.p.cpu.mem.check(c.ecx(), 4, UC_PROT_WRITE)) return -EFAULT;
  auto it = want > 0 ? c.p.children.find(want) : c.p.children.begin();
  if (it == c.p.children.end()) return -ECHILD;
  const int32_t pid = it->first, status = it->second;
  if (c.ecx()) c.p.cpu.mem.write(c.ecx(), &status, 4);
  c.p.children.erase(it);
  c.rec.status = status;
  return pid;
}

const std::vector<Service> kServices = {
    {SYS_WRITE, sys_write},
    {SYS_EXIT, sys_exit},
    {SYS_READ, sys_read},
    {SYS_OPEN, sys_open},
    {SYS_CLOSE, sys_close},
    {SYS_GETKEY, sys_getkey},
    {SYS_WRITEFILE, sys_writefile},
    {SYS_USLEEP, sys_usleep},
    {SYS_MKDIR, sys_mkdir},
    {SYS_UNLINK, sys_unlink},
    {SYS_RMDIR, sys_rmdir},
    {SYS_GETCWD, sys_getcwd},
    {SYS_STREAM_BEGIN, sys_stream_begin},
    {SYS_STREAM_WRITE, sys_stream_write},
    {SYS_STREAM_END, sys_stream_end},
    {SYS_CHDIR, sys_chdir},
    {SYS_RUN, nullptr, run_request},  // launch.cpp, as spawn
    {SYS_LSEEK, sys_lseek},
    {SYS_PIPE, sys_pipe},
    {SYS_MKFIFO, sys_mkfifo},
    {SYS_DUP, sys_dup},
    {SYS_DUP2, sys_dup2},
    {SYS_FD_SET_INHERIT, sys_accept},
    {SYS_FD_SET_STDIO, sys_accept},
    {SYS_FD_SET_NONBLOCK, sys_accept},
    {SYS_SPAWN, nullptr, spawn},
    {SYS_WAITPID, sys_waitpid},
};

#define ROW(number, NAME, name, kinds) {number, #name, kinds},
const ServiceInfo kDescribed[] = {RIDID_SERVICES(ROW)};
#undef ROW

// Services are found by number on every trap: both tables indexed once.
struct Found {
  const ServiceInfo* info = nullptr;
  const Service* row = nullptr;
};
const Found* by_number(uint32_t nr) {
  static const std::vector<Found> s_index = [] {
    uint32_t top = 0;
    for (const ServiceInfo& i : kDescribed) top = std::max(top, i.nr);
    for (const Service& s : kServices) top = std::max(top, s.nr);
    std::vector<Found> v(top + 1);
    for (const ServiceInfo& i : kDescribed) v[i.nr].info = &i;
    for (const Service& s : kServices) v[s.nr].row = &s;
    return v;
  }();
  return nr < s_index.size() ? &s_index[nr] : nullptr;
}

}  // namespace

const std::vector<Service>& services() { return kServices; }

const Service* find_service(uint32_t nr) {
  const Found* f = by_number(nr);
  return f ? f->row : nullptr;
}

const ServiceInfo* service_info(uint32_t nr) {
  const Found* f = by_number(nr);
  return f ? f->info : nullptr;
}

}  // namespace ridemu::detail
