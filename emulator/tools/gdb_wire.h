// The debugger stub's connection to GDB: the listening socket, the one
// session it accepts, and the bytes both ways, split into GDB's events by
// the packet reader (gdb_packet.h). It knows nothing of what the packets
// ask; gdb_stub.cpp answers them.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gdb_packet.h"

namespace ridemu::detail::gdb {

class Wire {
 public:
  using Clock = std::chrono::steady_clock;

  // Listens on 127.0.0.1:port; null with `error` set when it cannot.
  static std::unique_ptr<Wire> listen(int port, std::string& error);
  ~Wire();

  // Waits for GDB, until `deadline` when there is one; false, with a line
  // on stderr when something failed, when no connection came. The socket
  // stops listening either way: a run has one session.
  bool accept(std::optional<Clock::time_point> deadline);
  bool connected() const { return conn_ >= 0; }
  void close();

  // Called once when GDB goes away (a failed send or receive); the
  // connection is closed by then.
  void on_lost(std::function<void()> f) { on_lost_ = std::move(f); }

  // False when GDB is gone.
  bool send_raw(const std::string& bytes);
  void send_packet(const std::string& body);
  bool resend_last();
  // The next event from GDB, waiting for it; false when GDB is gone.
  bool next(Reader::Event& e);
  // Whether GDB asked to interrupt since the last look (without waiting);
  // other events stay queued.
  bool interrupted();

 private:
  Wire(int listener, int port) : listener_(listener), port_(port) {}
  bool receive(bool wait);
  void lost();

  int listener_;
  int port_;
  int conn_ = -1;
  Reader reader_;
  std::deque<Reader::Event> events_;
  std::string last_sent_;
  std::function<void()> on_lost_;
};

}  // namespace ridemu::detail::gdb
