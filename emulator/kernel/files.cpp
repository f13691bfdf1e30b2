// A process's open files: descriptors, in-memory pipes, and the console and
// standard input that all processes of a run share.
//
// The console and standard input are the host's own descriptors 1 and 0,
// which may be pipes or terminals that make a guest wait. Such a wait and
// the run's time limit meet in one poll: the limit ends the run wherever the
// guest waits, and nothing spins while it waits.
#include <poll.h>
#include <unistd.h>

#include <climits>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kernel.h"

namespace ridemu::detail {

OpenFile::~OpenFile() {
  if (host_fd >= 0) ::close(host_fd);
}

size_t Pipe::write(const uint8_t* src, size_t n) {
  if (read_pos_ > 0 && available() == 0) {
    data_.clear();
    read_pos_ = 0;
  }
  const size_t room = kPipeCapacity - std::min(kPipeCapacity, available());
  const size_t k = std::min(room, n);
  data_.append(reinterpret_cast<const char*>(src), k);
  return k;
}

size_t Pipe::read(uint8_t* dst, size_t n) {
  const size_t k = std::min(n, available());
  std::memcpy(dst, data_.data() + read_pos_, k);
  read_pos_ += k;
  // Let go of what was read, or a pipe that never runs empty would grow for
  // ever.
  if (available() == 0 || read_pos_ >= kPipeCapacity) {
    data_.erase(0, read_pos_);
    read_pos_ = 0;
  }
  return k;
}

int Machine::alloc_fd(Process& p, std::shared_ptr<OpenFile> f) {
  for (int fd = 0; fd < kMaxFds; ++fd) {
    if (!p.fds.count(fd)) {
      p.fds[fd] = std::move(f);
      return fd;
    }
  }
  return -EMFILE;
}

bool Machine::wait_ready(int fd, short events) const {
  for (;;) {
    int timeout_ms = -1;
    if (config.time_limit_ms) {
      const int64_t left = time_left().count();
      if (left <= 0) return false;
      timeout_ms = static_cast<int>(std::min<int64_t>((left + 999) / 1000, INT_MAX));
    }
    pollfd pfd{fd, events, 0};
    const int r = ::poll(&pfd, 1, timeout_ms);
    // Ready, or a state the next read or write reports (a closed
    // descriptor, a pipe with no one at the other end).
    if (r > 0 || (r < 0 && errno != EINTR)) return true;
  }
}

void Machine::end_by_limit(Process& p) { p.cpu.fail(limit_fault(p.cpu.eip() - 2)); }

void Machine::end_by_broken_pipe(Process& p) {
  p.exited = true;
  p.exit_status = kStatusBrokenPipe;
  p.cpu.stop();
}

int32_t Machine::console_write(Process& p, const uint8_t* data, size_t n) {
  if (config.capture_console) outcome_.console.append(reinterpret_cast<const char*>(data), n);
  if (!config.console_to_stdout) return static_cast<int32_t>(n);
  size_t done = 0;
  while (done < n) {
    // Under a time limit the write waits for room first: once poll says a
    // pipe has room, a write of at most PIPE_BUF bytes does not wait.
    // Without one a write waits as long as a poll would, so it goes first.
    if (config.time_limit_ms && !wait_ready(1, POLLOUT)) return end_by_limit(p), kEnded;
    const ssize_t w = ::write(1, data + done, std::min<size_t>(n - done, PIPE_BUF));
    if (w < 0 && errno == EAGAIN && !wait_ready(1, POLLOUT)) return end_by_limit(p), kEnded;
    if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (w < 0 && errno == EPIPE) return end_by_broken_pipe(p), kEnded;
    if (w <= 0) break;  // a closed or failing stdout does not stop the guest
    done += static_cast<size_t>(w);
  }
  return static_cast<int32_t>(n);
}

int32_t Machine::stdin_read(Process& p, uint8_t* dst, size_t n) {
  if (n == 0) return 0;
  if (config.stdin_data) {
    const std::string& s = *config.stdin_data;
    const size_t k = std::min(n, s.size() - std::min(stdin_pos_, s.size()));
    std::memcpy(dst, s.data() + stdin_pos_, k);
    stdin_pos_ += k;
    return static_cast<int32_t>(k);
  }
  if (stdin_eof_) return 0;
  for (;;) {
    if (config.time_limit_ms && !wait_ready(0, POLLIN)) return end_by_limit(p), kEnded;
    const ssize_t r = ::read(0, dst, n);
    if (r < 0 && errno == EAGAIN && !wait_ready(0, POLLIN)) return end_by_limit(p), kEnded;
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (r <= 0) {
      stdin_eof_ = true;
      return 0;
    }
    return static_cast<int32_t>(r);
  }
}

}  // namespace ridemu::detail
