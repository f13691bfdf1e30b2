// A process's open files: descriptors, in-memory pipes, and the console and
// standard input that all processes of a run share.
#include <unistd.h>

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

void Machine::console_write(const uint8_t* data, size_t n) {
  if (config.capture_console) outcome_.console.append(reinterpret_cast<const char*>(data), n);
  if (!config.console_to_stdout) return;
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(1, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;  // a closed stdout does not stop the guest
    done += static_cast<size_t>(w);
  }
}

int Machine::stdin_read(uint8_t* dst, size_t n) {
  if (n == 0) return 0;
  if (config.stdin_data) {
    const std::string& s = *config.stdin_data;
    const size_t k = std::min(n, s.size() - std::min(stdin_pos_, s.size()));
    std::memcpy(dst, s.data() + stdin_pos_, k);
    stdin_pos_ += k;
    return static_cast<int>(k);
  }
  if (stdin_eof_) return 0;
  for (;;) {
    const ssize_t r = ::read(0, dst, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      stdin_eof_ = true;
      return 0;
    }
    return static_cast<int>(r);
  }
}

}  // namespace ridemu::detail
