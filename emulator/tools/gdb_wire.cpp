// The debugger stub's connection to GDB (gdb_wire.h).
#include "gdb_wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace ridemu::detail::gdb {

std::unique_ptr<Wire> Wire::listen(int port, std::string& error) {
  if (port < 1 || port > 65535) {
    error = "bad GDB port " + std::to_string(port) + " (1 to 65535)";
    return nullptr;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("cannot open a socket for GDB: ") + std::strerror(errno);
    return nullptr;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0) {
    error = "cannot listen for GDB on 127.0.0.1:" + std::to_string(port) + ": " +
            std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<Wire>(new Wire(fd, port));
}

Wire::~Wire() {
  if (conn_ >= 0) ::close(conn_);
  if (listener_ >= 0) ::close(listener_);
}

bool Wire::accept(std::optional<Clock::time_point> deadline) {
  std::fprintf(stderr, "ridid-emu: waiting for GDB on 127.0.0.1:%d\n", port_);
  std::fflush(stderr);
  int why = 0;
  while (listener_ >= 0 && conn_ < 0 && !why) {
    int timeout_ms = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left.count() <= 0) break;
      timeout_ms = static_cast<int>(std::min<int64_t>(left.count(), INT_MAX));
    }
    pollfd pfd{listener_, POLLIN, 0};
    const int r = ::poll(&pfd, 1, timeout_ms);
    if (r < 0 && errno != EINTR) why = errno;
    if (r <= 0) continue;
    conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn_ < 0 && errno != EINTR) why = errno;
  }
  if (listener_ >= 0) ::close(listener_);  // one session
  listener_ = -1;
  if (conn_ < 0) {
    if (why) std::fprintf(stderr, "ridid-emu: no connection from GDB: %s\n", std::strerror(why));
    return false;
  }
  const int one = 1;
  ::setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

void Wire::close() {
  if (conn_ >= 0) ::close(conn_);
  conn_ = -1;
}

void Wire::lost() {
  close();
  if (on_lost_) on_lost_();
}

bool Wire::send_raw(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size() && conn_ >= 0) {
    const ssize_t n = ::send(conn_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lost();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return conn_ >= 0;
}

void Wire::send_packet(const std::string& body) {
  last_sent_ = frame(body);
  send_raw(last_sent_);
}

bool Wire::resend_last() { return last_sent_.empty() || send_raw(last_sent_); }

// Reads what GDB sent: waits when `wait`; false when GDB is gone.
bool Wire::receive(bool wait) {
  char buf[4096];
  for (;;) {
    if (conn_ < 0) return false;
    if (!wait) {
      pollfd pfd{conn_, POLLIN, 0};
      const int r = ::poll(&pfd, 1, 0);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return true;
    }
    const ssize_t n = ::recv(conn_, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lost();
      return false;
    }
    reader_.feed(buf, static_cast<size_t>(n));
    for (auto& e : reader_.take()) events_.push_back(std::move(e));
    return true;
  }
}

bool Wire::next(Reader::Event& e) {
  while (events_.empty()) {
    if (!receive(true)) return false;  // a packet may still be on its way
  }
  e = std::move(events_.front());
  events_.pop_front();
  return true;
}

bool Wire::interrupted() {
  if (!receive(false)) return false;
  const auto before = events_.size();
  events_.erase(std::remove_if(events_.begin(), events_.end(),
                               [](const Reader::Event& e) { return e.kind == Reader::Event::Interrupt; }),
                events_.end());
  return events_.size() != before;
}

}  // namespace ridemu::detail::gdb
