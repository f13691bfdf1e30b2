// The kernel services behind int 0x80.
//
// Service number in EAX, arguments in EBX, ECX, EDX, signed result in EAX
// (negative: a Linux error number). Every guest pointer is checked against the
// process's mappings first; a bad one gives -14 (EFAULT) and nothing else
// happens. emulator/README.md describes each service.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "internal.h"

namespace ridemu::detail {
namespace {

constexpr int32_t EPERM_ = -1, ENOENT_ = -2, E2BIG_ = -7, ENOEXEC_ = -8,
                  EBADF_ = -9, ECHILD_ = -10, EAGAIN_ = -11, EFAULT_ = -14,
                  EBUSY_ = -16, EEXIST_ = -17, ENOTDIR_ = -20, EISDIR_ = -21,
                  EINVAL_ = -22, EMFILE_ = -24, ESPIPE_ = -29, ERANGE_ = -34,
                  ENOSYS_ = -38, ENOTEMPTY_ = -39, ELOOP_ = -40, EOVERFLOW_ = -75;
constexpr size_t kMaxScript = 1u << 20;
constexpr size_t kMaxArg = 64u << 10;
constexpr uint32_t kMaxSpawnArgs = 1024;
constexpr size_t kMaxStreams = 64;
constexpr size_t kChunk = 1u << 20;

int32_t neg_errno() { return errno ? -errno : EPERM_; }

std::string parent_of(const std::string& host) {
  const size_t slash = host.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return host.substr(0, slash);
}

// The file a store is written to, in the directory of `target`. Where the
// host allows, it has no name until the store ends (`temp` stays empty), so a
// store cut short, even with the emulator, leaves nothing behind; otherwise
// it is a hidden temporary file.
int make_temp(const std::string& target, std::string& temp) {
  temp.clear();
  static const bool s_unnamed_ok = access("/proc/self/fd", X_OK) == 0;
  if (s_unnamed_ok) {
    const int fd = ::open(parent_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) return fd;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return neg_errno();
  }
  std::string tmpl = parent_of(target) + "/.ridid-store-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  const int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) return neg_errno();
  temp = buf.data();
  return fd;
}

// Ends a store from make_temp: its file replaces `target` in one rename.
// 0 or an error; no temporary file is left either way.
int32_t put_in_place(int fd, std::string temp, const std::string& target) {
  bool ok = fchmod(fd, 0644) == 0;
  int32_t err = -5;  // EIO
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

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    size_t j = line.find(' ', i);
    if (j == std::string::npos) j = line.size();
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j + 1;
  }
  return words;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool is_regular(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

size_t pipe_avail(const Pipe& p) { return p.data.size() - p.read_pos; }

}  // namespace

void drop_temp(int fd, const std::string& temp) {
  ::close(fd);
  if (!temp.empty()) ::unlink(temp.c_str());
}

int Machine::alloc_fd(Process& p, std::shared_ptr<OpenFile> f, int lowest) {
  for (int fd = lowest; fd < kMaxFds; ++fd) {
    if (!p.fds.count(fd)) {
      p.fds[fd] = std::move(f);
      return fd;
    }
  }
  return EMFILE_;
}

int32_t Machine::path_arg(Process& p, uint32_t ptr, bool follow, Resolved& r,
                          TraceRecord& rec) {
  std::string path;
  const int e = p.mem.read_string(ptr, kMaxPath, path);
  if (e) return e;
  rec.path = path;
  return resolve_path(root, p.cwd, path, follow, r);
}

void Machine::stream_drop_owned(int pid) {
  for (auto it = streams_.begin(); it != streams_.end();) {
    if (it->second.owner == pid) {
      drop_temp(it->second.fd, it->second.temp);
      it = streams_.erase(it);
    } else {
      ++it;
    }
  }
}

void Machine::serve(Process& p) {
  // Past the time limit no trap is served (the engine's own timer may not
  // have stopped it yet).
  if (config.time_limit_ms && std::chrono::steady_clock::now() >= deadline_) {
    const uint32_t eip = reg_value(p.uc, UC_X86_REG_EIP) - 2;  // the int 0x80
    p.fault = "time limit exceeded" + at_eip(eip, eip);
    uc_emu_stop(p.uc);
    return;
  }
  ServiceCall call;
  call.pid = p.pid;
  call.depth = p.depth;
  call.nr = reg_value(p.uc, UC_X86_REG_EAX);
  call.ebx = reg_value(p.uc, UC_X86_REG_EBX);
  call.ecx = reg_value(p.uc, UC_X86_REG_ECX);
  call.edx = reg_value(p.uc, UC_X86_REG_EDX);
  if (config.service_hook) config.service_hook(call);

  TraceRecord rec;
  rec.pid = p.pid;
  rec.nr = call.nr;
  rec.ebx = call.ebx;
  rec.ecx = call.ecx;
  rec.edx = call.edx;
  int32_t result;
  if (call.result) {
    result = *call.result;
  } else {
    result = dispatch(p, call, rec);
    if (p.pending != Process::Pending::None) {
      // Finished by the run loop once the engine has stopped.
      p.pending_record = std::move(rec);
      uc_emu_stop(p.uc);
      return;
    }
  }
  rec.result = result;
  uc_reg_write(p.uc, UC_X86_REG_EAX, &result);
  if (call.nr == 2 && !call.result) uc_emu_stop(p.uc);
  trace(std::move(rec));
}

int32_t Machine::dispatch(Process& p, ServiceCall& c, TraceRecord& rec) {
  const auto find = [&](uint32_t fd) -> OpenFile* {
    auto it = p.fds.find(static_cast<int>(fd));
    return it == p.fds.end() ? nullptr : it->second.get();
  };
  // The count bytes the guest hands over at addr: -22 for a count with the
  // top bit set, -14 for memory it cannot read.
  const auto guest_bytes = [&](uint32_t addr, uint32_t count, std::vector<uint8_t>& data) {
    if (static_cast<int32_t>(count) < 0) return EINVAL_;
    if (!p.mem.check(addr, count, UC_PROT_READ)) return EFAULT_;
    data.resize(count);
    p.mem.read(addr, data.data(), count);
    return 0;
  };
  // Where a whole-file store goes: a path that is neither a named pipe nor
  // a directory.
  const auto store_target = [&](uint32_t path, Resolved& r) {
    int32_t e = path_arg(p, path, true, r, rec);
    if (e) return e;
    if (fifos_.count(r.guest)) return EINVAL_;
    struct stat st;
    if (r.guest == "/" || (lstat(r.host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      return EISDIR_;
    return 0;
  };
  switch (c.nr) {
    case 1: {  // write(fd, buf, count)
      OpenFile* f = find(c.ebx);
      if (!f || !f->can_write) return EBADF_;
      std::vector<uint8_t> data;
      if (int32_t e = guest_bytes(c.ecx, c.edx, data)) return e;
      if (data.empty()) return 0;
      switch (f->kind) {
        case OpenFile::Console:
          if (c.edx == 4 && data[0] == 0xFF) {
            rec.packet = std::array<uint8_t, 4>{data[0], data[1], data[2], data[3]};
          } else {
            console_write(p, data.data(), data.size());
          }
          return static_cast<int32_t>(c.edx);
        case OpenFile::Host: {
          ssize_t w;
          do w = ::write(f->host_fd, data.data(), data.size());
          while (w < 0 && errno == EINTR);
          return w < 0 ? neg_errno() : static_cast<int32_t>(w);
        }
        case OpenFile::PipeWrite:
        case OpenFile::Fifo: {
          Pipe& pipe = *f->pipe;
          if (pipe.read_pos > 0 && pipe.read_pos == pipe.data.size()) {
            pipe.data.clear();
            pipe.read_pos = 0;
          }
          const size_t room = kPipeCapacity - std::min(kPipeCapacity, pipe_avail(pipe));
          if (room == 0) return EAGAIN_;
          const size_t n = std::min(room, data.size());
          pipe.data.append(reinterpret_cast<const char*>(data.data()), n);
          return static_cast<int32_t>(n);
        }
        default:
          return EBADF_;
      }
    }
    case 2:  // _exit(status)
      p.exited = true;
      p.exit_status = static_cast<int32_t>(c.ebx);
      rec.status = static_cast<int32_t>(c.ebx);
      return 0;
    case 3: {  // read(fd, buf, count)
      OpenFile* f = find(c.ebx);
      if (!f || !f->can_read) return EBADF_;
      if (static_cast<int32_t>(c.edx) < 0) return EINVAL_;
      if (c.edx == 0) return 0;
      if (!p.mem.check(c.ecx, c.edx, UC_PROT_WRITE)) return EFAULT_;
      std::vector<uint8_t> data(std::min<size_t>(c.edx, kChunk));
      int32_t n = 0;
      switch (f->kind) {
        case OpenFile::Stdin:
          n = stdin_read(data.data(), data.size());
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
        case OpenFile::Fifo: {
          Pipe& pipe = *f->pipe;
          const size_t k = std::min(data.size(), pipe_avail(pipe));
          std::memcpy(data.data(), pipe.data.data() + pipe.read_pos, k);
          pipe.read_pos += k;
          // Let go of what was read, or a pipe that never runs empty would
          // grow for ever.
          if (pipe.read_pos == pipe.data.size() || pipe.read_pos >= kPipeCapacity) {
            pipe.data.erase(0, pipe.read_pos);
            pipe.read_pos = 0;
          }
          n = static_cast<int32_t>(k);
          break;
        }
        default:
          return EBADF_;
      }
      p.mem.write(c.ecx, data.data(), static_cast<uint32_t>(n));
      return n;
    }
    case 4: {  // open(path, flags, mode)
      const uint32_t acc = c.ecx & 3;
      if (acc == 3) return EINVAL_;
      Resolved r;
      int32_t e = path_arg(p, c.ebx, true, r, rec);
      if (e) return e;
      std::shared_ptr<OpenFile> f;
      auto fifo = fifos_.find(r.guest);
      if (fifo != fifos_.end()) {
        f = std::make_shared<OpenFile>(OpenFile::Fifo);
        f->pipe = fifo->second;
      } else {
        int flags = static_cast<int>(acc) | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
        if (c.ecx & 0x40) flags |= O_CREAT;
        if (c.ecx & 0x80) flags |= O_EXCL;
        if (c.ecx & 0x200) flags |= O_TRUNC;
        if (c.ecx & 0x400) flags |= O_APPEND;
        // Never block on, or open, anything but a regular file.
        struct stat st;
        if (lstat(r.host.c_str(), &st) == 0) {
          if (S_ISDIR(st.st_mode)) return EISDIR_;
          if (!S_ISREG(st.st_mode)) return -13;  // EACCES
        }
        const int fd = ::open(r.host.c_str(), flags, 0644);
        if (fd < 0) return neg_errno();
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
          ::close(fd);
          return -13;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        f = std::make_shared<OpenFile>(OpenFile::Host);
        f->host_fd = fd;
      }
      f->can_read = acc == 0 || acc == 2;
      f->can_write = acc == 1 || acc == 2;
      return alloc_fd(p, std::move(f));
    }
    case 5:  // close(fd)
      return p.fds.erase(static_cast<int>(c.ebx)) ? 0 : EBADF_;
    case 6: {  // getkey()
      uint8_t b;
      return stdin_read(&b, 1) == 1 ? b : -1;
    }
    case 21: {  // writefile(path, buf, count)
      std::vector<uint8_t> data;
      if (int32_t e = guest_bytes(c.ecx, c.edx, data)) return e;
      Resolved r;
      if (int32_t e = store_target(c.ebx, r)) return e;
      std::string temp;
      const int fd = make_temp(r.host, temp);
      if (fd < 0) return fd;
      if (!write_all(fd, data.data(), data.size())) {
        drop_temp(fd, temp);
        return -5;  // EIO
      }
      const int32_t err = put_in_place(fd, temp, r.host);
      return err ? err : static_cast<int32_t>(c.edx);
    }
    case 22: {  // usleep(usec)
      if (config.sleep && c.ebx) {
        uint64_t usec = c.ebx;
        if (config.time_limit_ms) {  // a sleep does not outlast the time limit
          const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
              deadline_ - std::chrono::steady_clock::now());
          usec = std::min<uint64_t>(usec, left.count() > 0 ? left.count() : 0);
        }
        struct timespec ts{static_cast<time_t>(usec / 1000000),
                           static_cast<long>(usec % 1000000) * 1000};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
      }
      return 0;
    }
    case 49: {  // mkdir(path)
      Resolved r;
      int32_t e = path_arg(p, c.ebx, false, r, rec);
      if (e) return e;
      if (fifos_.count(r.guest)) return EEXIST_;
      return ::mkdir(r.host.c_str(), 0755) == 0 ? 0 : neg_errno();
    }
    case 50: {  // unlink(path)
      Resolved r;
      int32_t e = path_arg(p, c.ebx, false, r, rec);
      if (e) return e;
      if (fifos_.erase(r.guest)) return 0;
      if (r.guest == "/") return EISDIR_;
      return ::unlink(r.host.c_str()) == 0 ? 0 : neg_errno();
    }
    case 51: {  // rmdir(path)
      Resolved r;
      int32_t e = path_arg(p, c.ebx, false, r, rec);
      if (e) return e;
      if (r.guest == "/") return EBUSY_;
      if (fifos_.count(r.guest)) return ENOTDIR_;
      const std::string prefix = r.guest + "/";
      for (const auto& [name, pipe] : fifos_)
        if (name.compare(0, prefix.size(), prefix) == 0) return ENOTEMPTY_;
      return ::rmdir(r.host.c_str()) == 0 ? 0 : neg_errno();
    }
    case 52: {  // getcwd(buf, size)
      if (static_cast<int32_t>(c.ecx) < 0) return EINVAL_;
      if (c.ecx < p.cwd.size() + 1) return ERANGE_;
      if (!p.mem.write(c.ebx, p.cwd.c_str(), static_cast<uint32_t>(p.cwd.size() + 1)))
        return EFAULT_;
      return static_cast<int32_t>(p.cwd.size());
    }
    case 53: {  // zoror_stream_begin(path)
      Resolved r;
      if (int32_t e = store_target(c.ebx, r)) return e;
      if (streams_.size() >= kMaxStreams) return EMFILE_;
      Stream s;
      s.owner = p.pid;
      s.target = r.host;
      s.fd = make_temp(r.host, s.temp);
      if (s.fd < 0) return s.fd;
      const int h = next_stream_++;
      streams_[h] = s;
      return h;
    }
    case 54: {  // zoror_stream_write(handle, buf, count)
      auto it = streams_.find(static_cast<int>(c.ebx));
      if (it == streams_.end() || it->second.owner != p.pid) return EBADF_;
      std::vector<uint8_t> data;
      if (int32_t e = guest_bytes(c.ecx, c.edx, data)) return e;
      if (!write_all(it->second.fd, data.data(), data.size())) return -5;
      return static_cast<int32_t>(c.edx);
    }
    case 55: {  // zoror_stream_end(handle)
      auto it = streams_.find(static_cast<int>(c.ebx));
      if (it == streams_.end() || it->second.owner != p.pid) return EBADF_;
      Stream s = it->second;
      streams_.erase(it);
      return put_in_place(s.fd, s.temp, s.target);
    }
    case 95: {  // chdir(path)
      Resolved r;
      int32_t e = path_arg(p, c.ebx, true, r, rec);
      if (e) return e;
      struct stat st;
      if (stat(r.host.c_str(), &st) != 0) return neg_errno();
      if (!S_ISDIR(st.st_mode)) return ENOTDIR_;
      p.cwd = r.guest;
      return 0;
    }
    case 96:  // run request(line)
      p.pending = Process::Pending::RunRequest;
      return 0;
    case 110: {  // lseek(fd, offset, whence)
      OpenFile* f = find(c.ebx);
      if (!f) return EBADF_;
      if (c.edx > 2) return EINVAL_;
      if (f->kind != OpenFile::Host) return ESPIPE_;
      const off_t here = ::lseek(f->host_fd, 0, SEEK_CUR);
      const off_t pos = ::lseek(f->host_fd, static_cast<int32_t>(c.ecx),
                                static_cast<int>(c.edx));
      if (pos < 0) return neg_errno();
      if (pos > 0x7fffffff) {
        ::lseek(f->host_fd, here, SEEK_SET);
        return EOVERFLOW_;
      }
      return static_cast<int32_t>(pos);
    }
    case 124: {  // pipe(fds)
      if (!p.mem.check(c.ebx, 8, UC_PROT_WRITE)) return EFAULT_;
      auto pipe = std::make_shared<Pipe>();
      auto rd = std::make_shared<OpenFile>(OpenFile::PipeRead);
      rd->can_read = true;
      rd->pipe = pipe;
      auto wr = std::make_shared<OpenFile>(OpenFile::PipeWrite);
      wr->can_write = true;
      wr->pipe = pipe;
      const int a = alloc_fd(p, rd);
      if (a < 0) return a;
      const int b = alloc_fd(p, wr);
      if (b < 0) {
        p.fds.erase(a);
        return b;
      }
      const int32_t both[2] = {a, b};
      p.mem.write(c.ebx, both, 8);
      return 0;
    }
    case 125: {  // mkfifo(path)
      Resolved r;
      int32_t e = path_arg(p, c.ebx, false, r, rec);
      if (e) return e;
      struct stat st;
      if (fifos_.count(r.guest) || lstat(r.host.c_str(), &st) == 0) return EEXIST_;
      if (stat(parent_of(r.host).c_str(), &st) != 0) return ENOENT_;
      if (!S_ISDIR(st.st_mode)) return ENOTDIR_;
      if (fifos_.size() >= kMaxFifos) return -28;  // ENOSPC
      fifos_[r.guest] = std::make_shared<Pipe>();
      return 0;
    }
    case 126: {  // dup(fd)
      auto it = p.fds.find(static_cast<int>(c.ebx));
      if (it == p.fds.end()) return EBADF_;
      return alloc_fd(p, it->second);
    }
    case 127: {  // dup2(oldfd, newfd)
      auto it = p.fds.find(static_cast<int>(c.ebx));
      if (it == p.fds.end()) return EBADF_;
      const int32_t nfd = static_cast<int32_t>(c.ecx);
      if (nfd < 0 || nfd >= kMaxFds) return EBADF_;
      if (nfd != it->first) p.fds[nfd] = it->second;
      return nfd;
    }
    case 128:  // fd_set_inherit(on)
    case 129:  // fd_set_stdio(a, b, c)
    case 130:  // fd_set_nonblock(fd, on)
      return 0;
    case 131:  // spawn(path, argv, count)
      p.pending = Process::Pending::Spawn;
      return 0;
    case 132: {  // waitpid(pid, status, options)
      const int32_t want = static_cast<int32_t>(c.ebx);
      if (c.ecx && !p.mem.check(c.ecx, 4, UC_PROT_WRITE)) return EFAULT_;
      auto it = want > 0 ? p.children.find(want) : p.children.begin();
      if (it == p.children.end()) return ECHILD_;
      const int32_t pid = it->first, status = it->second;
      if (c.ecx) p.mem.write(c.ecx, &status, 4);
      p.children.erase(it);
      rec.status = status;
      return pid;
    }
    default:
      return ENOSYS_;
  }
}

int32_t Machine::finish_run_request(Process& p, TraceRecord& rec, int& status) {
  std::string line;
  const int e = p.mem.read_string(rec.ebx, kMaxLine, line);
  if (e) return e;
  rec.line = line;
  return run_line(p, line, p.depth + 1, status);
}

int32_t Machine::run_line(Process& p, const std::string& line, int depth, int& status) {
  const std::vector<std::string> words = split_words(line);
  if (words.empty()) return EINVAL_;
  if (depth > kMaxDepth) return ELOOP_;
  const std::string& name = words[0];
  std::vector<std::string> candidates{name};
  if (name.find('/') == std::string::npos) candidates.push_back("/bin/" + name);
  Resolved found;
  bool have = false;
  for (const auto& c : candidates) {
    Resolved r;
    if (resolve_path(root, p.cwd, c, true, r) == 0 && is_regular(r.host)) {
      found = r;
      have = true;
      break;
    }
  }
  if (!have) return ENOENT_;

  if (ends_with(name, ".shell")) {
    // Scripts start no process, so the process limit does not bound them.
    if (scripts_ >= kMaxScripts) return EAGAIN_;
    ++scripts_;
    std::vector<uint8_t> text;
    if (!read_host_file(found.host, kMaxScript, text).empty()) return -13;
    std::string all(text.begin(), text.end());
    size_t i = 0;
    while (i < all.size()) {
      size_t j = all.find('\n', i);
      if (j == std::string::npos) j = all.size();
      std::string l = all.substr(i, j - i);
      i = j + 1;
      while (!l.empty() && (l.back() == '\r' || l.back() == ' ' || l.back() == '\t'))
        l.pop_back();
      const size_t start = l.find_first_not_of(" \t");
      if (start == std::string::npos || l[start] == '#') continue;
      l = l.substr(start);
      int child_status = -1;
      TraceRecord rec;
      rec.pid = p.pid;
      rec.nr = 96;
      rec.path = found.guest;
      rec.line = l;
      rec.result = run_line(p, l, depth + 1, child_status);
      if (child_status >= 0) rec.status = child_status;
      const int32_t r = rec.result;
      trace(std::move(rec));
      if (r < 0) return r;  // a line that cannot run ends the script
    }
    return 0;
  }

  std::vector<std::optional<std::string>> argv(words.begin(), words.end());
  int pid = 0;
  const int st = run_child(p, found.host, argv, depth, pid);
  if (st < 0) return st;
  status = st;
  return 0;
}

int Machine::run_child(Process& p, const std::string& host,
                       const std::vector<std::optional<std::string>>& argv, int depth,
                       int& pid) {
  std::vector<uint8_t> bytes;
  if (!read_host_file(host, kMaxImageFile, bytes).empty()) return -13;
  Image image;
  if (!parse_image(std::move(bytes), image).empty()) return ENOEXEC_;
  std::string fault;
  return run_process(image, argv, p.cwd, depth, pid, fault);
}

int32_t Machine::finish_spawn(Process& p, TraceRecord& rec, int& status) {
  std::string path;
  int e = p.mem.read_string(rec.ebx, kMaxPath, path);
  if (e) return e;
  rec.path = path;
  const int32_t count = static_cast<int32_t>(rec.edx);
  if (count < 0) return EINVAL_;
  if (static_cast<uint32_t>(count) > kMaxSpawnArgs) return E2BIG_;
  std::vector<std::optional<std::string>> argv;
  if (count == 0) {
    argv.push_back(path);
  } else {
    std::vector<uint32_t> ptrs(static_cast<size_t>(count));
    if (!p.mem.read(rec.ecx, ptrs.data(), static_cast<uint32_t>(count) * 4)) return EFAULT_;
    for (uint32_t ptr : ptrs) {
      if (!ptr) {
        argv.push_back(std::nullopt);
        continue;
      }
      std::string a;
      if (const int bad = p.mem.read_string(ptr, kMaxArg, a)) return bad;
      argv.push_back(std::move(a));
    }
  }
  if (p.depth + 1 > kMaxDepth) return ELOOP_;
  Resolved r;
  e = resolve_path(root, p.cwd, path, true, r);
  if (e) return e;
  if (!is_regular(r.host)) return ENOENT_;
  int pid = 0;
  const int st = run_child(p, r.host, argv, p.depth + 1, pid);
  if (st < 0) return st;
  p.children[pid] = st;
  status = st;
  return pid;
}

}  // namespace ridemu::detail
