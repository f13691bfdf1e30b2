// The debugger stub (--gdb PORT): serves GDB's remote protocol for the first
// program of a run.
//
// The stub listens on 127.0.0.1 from the start, so a port that cannot be had
// is an error before the guest runs. Before the program's first instruction
// it waits for GDB and answers it; from then on it watches every instruction
// of that program (its children run freely) for the stub's breakpoints, a
// single step, or an interrupt from GDB. A fault stops the program at the
// faulting instruction with the signal a user program would get; resuming
// after that ends it, and GDB is told that the signal ended it.
//
// Watchpoints stop the program before the instruction after a watched
// access (gdb_watch.h).
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
#include <deque>
#include <set>
#include <vector>

#include "gdb_packet.h"
#include "gdb_target.h"
#include "gdb_watch.h"
#include "tools.h"

namespace ridemu::detail {
namespace {

// GDB's signal numbers (the same on every host).
constexpr int kSigInt = 2, kSigIll = 4, kSigTrap = 5, kSigFpe = 8, kSigBus = 10, kSigSegv = 11,
              kSigXcpu = 24;

// A fault's signal, in the order of Fault::Kind.
constexpr int kFaultSignal[] = {kSigSegv, kSigIll, kSigFpe, kSigTrap, kSigBus, kSigXcpu};

// Instructions run between two looks for an interrupt from GDB.
constexpr uint32_t kPollEvery = 1u << 16;
// The packet size GDB is told leaves room below what the reader takes.
constexpr size_t kPacketSlack = 0x100;

bool starts_with(std::string_view s, std::string_view head) {
  return s.size() >= head.size() && s.compare(0, head.size(), head) == 0;
}

class GdbStub : public Tool {
 public:
  GdbStub(int listener, int port, std::optional<Clock::time_point> deadline)
      : listener_(listener), port_(port), deadline_(deadline) {}
  ~GdbStub() override {
    if (conn_ >= 0) ::close(conn_);
    if (listener_ >= 0) ::close(listener_);
  }

  bool wants_instructions(const ProcessView& p) const override {
    return p.depth == 0 && mode_ != Mode::Free;
  }

  void instruction(const ProcessView& p, uint32_t eip) override {
    if (p.depth != 0 || mode_ == Mode::Free) return;
    if (mode_ == Mode::Waiting) {
      if (!accept_gdb()) {
        // Nothing runs past the time limit that ended the wait.
        if (deadline_ && Clock::now() >= *deadline_) p.cpu.fail(limit_fault(Counter{}, eip));
        return;
      }
      stop(p.cpu, kSigTrap, "", false);
      return;
    }
    if (moved_) {
      // GDB moved EIP, or the engine started over: nothing has run at the
      // new place yet.
      moved_ = false;
      if (breakpoints_.count(eip)) stop(p.cpu, kSigTrap, swbreak_ ? "swbreak:;" : "", true);
      return;
    }
    if (auto why = watches_.take_hit()) {
      // The instruction before this one touched a watched address.
      stop(p.cpu, kSigTrap, *why, true);
    } else if (mode_ == Mode::Step) {
      stop(p.cpu, kSigTrap, "", true);
    } else if (breakpoints_.count(eip)) {
      stop(p.cpu, kSigTrap, swbreak_ ? "swbreak:;" : "", true);
    } else if (++ticks_ == kPollEvery) {
      ticks_ = 0;
      if (interrupted()) stop(p.cpu, kSigInt, "", true);
    }
  }

  void ended(const ProcessView& p, int status, const Fault* fault,
             const std::string&) override {
    if (p.depth != 0 || conn_ < 0) return;
    if (!fault) {
      char reply[8];
      std::snprintf(reply, sizeof reply, "W%02x", status & 0xFF);
      send_packet(reply);
      hang_up();
      return;
    }
    if (killed_) return hang_up();
    // The state is the one before the faulting instruction: GDB may look
    // at it, and whatever it does next ends the program.
    const int signal = kFaultSignal[fault->kind];
    dead_ = true;
    stop(p.cpu, signal, "", true);
    if (mode_ == Mode::Continue || mode_ == Mode::Step) {
      char reply[8];
      std::snprintf(reply, sizeof reply, "X%02x", signal);
      send_packet(reply);
    }
    hang_up();
  }

 private:
  enum class Mode {
    Waiting,   // for GDB, before the first instruction
    Stopped,   // answering GDB
    Continue,  // running to a breakpoint
    Step,      // running one instruction
    Free,      // detached, killed or GDB gone: never stops again
  };

  // Waits for GDB, until the run's time limit when it has one (the limit's
  // fault then ends the program).
  bool accept_gdb() {
    std::fprintf(stderr, "ridid-emu: waiting for GDB on 127.0.0.1:%d\n", port_);
    std::fflush(stderr);
    int why = 0;
    while (conn_ < 0 && !why) {
      int timeout_ms = -1;
      if (deadline_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now());
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
    ::close(listener_);  // one session
    listener_ = -1;
    if (conn_ < 0) {
      if (why) std::fprintf(stderr, "ridid-emu: no connection from GDB: %s\n", std::strerror(why));
      mode_ = Mode::Free;
      return false;
    }
    const int one = 1;
    ::setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
  }

  void hang_up() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
    mode_ = Mode::Free;
  }

  void lost() {
    if (mode_ != Mode::Free)
      std::fprintf(stderr, "ridid-emu: GDB went away%s\n", dead_ ? "" : "; the program runs on");
    hang_up();
  }

  // ---- the wire ----

  bool send_raw(const std::string& bytes) {
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

  void send_packet(const std::string& body) {
    last_sent_ = gdb::frame(body);
    send_raw(last_sent_);
  }

  // Reads what GDB sent: waits when `wait`; false when GDB is gone.
  bool receive(bool wait) {
    char buf[4096];
    for (;;) {
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

  bool interrupted() {
    if (!receive(false)) return false;
    bool hit = false;
    for (auto it = events_.begin(); it != events_.end();) {
      if (it->kind == gdb::Reader::Event::Interrupt) {
        hit = true;
        it = events_.erase(it);
      } else {
        ++it;
      }
    }
    return hit;
  }

  // ---- stopping ----

  // `why`: what GDB is told besides the signal ("swbreak:;", "watch:ADDR;").
  std::string stop_reply(Cpu& cpu, int signal, const std::string& why) {
    char head[8];
    std::snprintf(head, sizeof head, "T%02x", signal);
    std::string reply = head;
    for (int r : {gdb::kEip, gdb::kEsp, gdb::kEbp}) {
      char num[4];
      std::snprintf(num, sizeof num, "%02x", r);
      reply += std::string(num) + ":" + gdb::read_register(cpu, r) + ";";
    }
    return reply + why;
  }

  // Stops the program and answers GDB until it resumes it (or goes).
  // `announce`: GDB waits for this stop.
  void stop(Cpu& cpu, int signal, const std::string& why, bool announce) {
    mode_ = Mode::Stopped;
    ticks_ = 0;
    stop_ = stop_reply(cpu, signal, why);
    if (announce) send_packet(stop_);
    const uint32_t eip = cpu.eip();
    eip_written_ = false;
    while (mode_ == Mode::Stopped) {
      if (events_.empty()) {
        if (!receive(true)) return;
        continue;  // a packet may still be on its way
      }
      const gdb::Reader::Event e = std::move(events_.front());
      events_.pop_front();
      switch (e.kind) {
        case gdb::Reader::Event::Packet:
          if (!send_raw("+")) return;
          answer(cpu, e.body);
          break;
        case gdb::Reader::Event::BadPacket:
          if (!send_raw("-")) return;
          break;
        case gdb::Reader::Event::Nak:
          if (!last_sent_.empty() && !send_raw(last_sent_)) return;
          break;
        default:
          break;
      }
    }
    if (kill_) {
      kill_ = false;
      killed_ = true;
      if (!dead_) cpu.fail({"killed by the debugger", eip, eip});
      return;
    }
    // A detached program runs on without the hook.
    if (mode_ == Mode::Free) watches_.clear();
    if (!dead_ && watches_.changed()) {
      watches_.apply(cpu);
      moved_ = true;
    }
    // A write to EIP takes effect at once: the engine starts over there, and
    // the next instruction event is for it, before it runs.
    if (!dead_ && mode_ != Mode::Free && eip_written_) moved_ = true;
  }

  // ---- commands ----

  void answer(Cpu& cpu, const std::string& body) {
    if (body.empty()) return send_packet("");
    const std::string_view args = std::string_view(body).substr(1);
    switch (body[0]) {
      case '?': return send_packet(stop_);
      case 'g': return send_packet(gdb::read_registers(cpu));
      case 'G': return send_packet(gdb::write_registers(cpu, args, eip_written_) ? "OK" : "E01");
      case 'p': {
        uint32_t r;
        if (!gdb::parse_u32(args, r) || r >= kRegisterCount) return send_packet("E01");
        return send_packet(gdb::read_register(cpu, static_cast<int>(r)));
      }
      case 'P': {
        const size_t eq = args.find('=');
        uint32_t r;
        std::string value;
        if (eq == std::string_view::npos || !gdb::parse_u32(args.substr(0, eq), r) ||
            r >= kRegisterCount || !gdb::from_hex(args.substr(eq + 1), value))
          return send_packet("E01");
        return send_packet(gdb::write_register(cpu, static_cast<int>(r), value, eip_written_) ? "OK" : "E01");
      }
      case 'm': return send_packet(gdb::read_memory(cpu, args));
      case 'M':
      case 'X': return send_packet(gdb::write_memory(cpu, args, body[0] == 'X'));
      case 'Z':
      case 'z': return send_packet(breakpoint(args, body[0] == 'Z'));
      case 'c':
      case 's':
      case 'C':
      case 'S': return resume(cpu, body);
      case 'v': return answer_v(cpu, body);
      case 'D':
        send_packet("OK");
        hang_up();
        return;
      case 'k':
        kill_ = true;
        mode_ = Mode::Free;
        return;
      case 'H':
      case 'T': return send_packet("OK");
      case 'q': return answer_query(body);
      default: return send_packet("");
    }
  }

  // c [ADDR], s [ADDR], C SIG [;ADDR], S SIG [;ADDR]: the signal is not
  // delivered (a ridid program has no handlers).
  void resume(Cpu& cpu, const std::string& body) {
    std::string_view addr = std::string_view(body).substr(1);
    if (body[0] == 'C' || body[0] == 'S') {
      const size_t semi = addr.find(';');
      uint32_t signal;
      if (!gdb::parse_u32(addr.substr(0, semi), signal)) return send_packet("E01");
      addr = semi == std::string_view::npos ? std::string_view() : addr.substr(semi + 1);
    }
    if (!addr.empty()) {
      uint32_t to;
      if (!gdb::parse_u32(addr, to)) return send_packet("E01");
      if (!dead_ && to != cpu.eip()) {
        cpu.set_reg(UC_X86_REG_EIP, to);
        eip_written_ = true;
      }
    }
    mode_ = (body[0] == 's' || body[0] == 'S') ? Mode::Step : Mode::Continue;
  }

  void answer_v(Cpu& cpu, const std::string& body) {
    if (body == "vCont?") return send_packet("vCont;c;C;s;S");
    if (starts_with(body, "vKill")) {
      send_packet("OK");
      kill_ = true;
      mode_ = Mode::Free;
      return;
    }
    if (starts_with(body, "vCont;")) {
      // One thread: the first action is the one for it.
      const char action = body.size() > 6 ? body[6] : '\0';
      if (action == 'c' || action == 'C') return resume(cpu, "c");
      if (action == 's' || action == 'S') return resume(cpu, "s");
      return send_packet("E01");
    }
    return send_packet("");
  }

  void answer_query(const std::string& body) {
    if (starts_with(body, "qSupported")) {
      swbreak_ = body.find("swbreak+") != std::string::npos;
      char reply[96];
      std::snprintf(reply, sizeof reply, "PacketSize=%zx;qXfer:features:read+%s",
                    gdb::kMaxPacket - kPacketSlack, swbreak_ ? ";swbreak+" : "");
      return send_packet(reply);
    }
    if (starts_with(body, "qXfer:features:read:")) {
      const std::string_view rest = std::string_view(body).substr(20);
      const size_t colon = rest.find(':');
      uint32_t offset, len;
      std::string_view tail;
      if (colon == std::string_view::npos || rest.substr(0, colon) != "target.xml" ||
          !gdb::parse_range(rest.substr(colon + 1), offset, len, tail) || !tail.empty())
        return send_packet("E00");
      const std::string_view xml = gdb::target_xml();
      if (offset >= xml.size()) return send_packet("l");
      const std::string_view part = xml.substr(offset, len);
      return send_packet((offset + part.size() < xml.size() ? "m" : "l") + gdb::escape(part));
    }
    if (body == "qAttached" || starts_with(body, "qAttached:")) return send_packet("0");
    if (body == "qfThreadInfo") return send_packet("m1");
    if (body == "qsThreadInfo") return send_packet("l");
    if (body == "qC") return send_packet("QC1");
    if (starts_with(body, "qSymbol")) return send_packet("OK");
    return send_packet("");
  }

  // Z0/z0 and Z1/z1 (the same here): the stub keeps the breakpoints and
  // never writes int3 into the program. Z2 to Z4: a watchpoint on LEN bytes
  // for writes, reads or both, in force from the next resume.
  std::string breakpoint(std::string_view args, bool insert) {
    if (args.size() < 2 || args[0] < '0' || args[0] > '4' || args[1] != ',') return "";
    const int type = args[0] - '0';
    uint32_t addr, len;
    std::string_view rest;
    if (!gdb::parse_range(args.substr(2), addr, len, rest)) return "E01";
    if (type < 2) {
      if (insert)
        breakpoints_.insert(addr);
      else
        breakpoints_.erase(addr);
      return "OK";
    }
    return watches_.change(type, addr, len, insert);
  }

  int listener_;
  int port_;
  std::optional<Clock::time_point> deadline_;
  int conn_ = -1;
  Mode mode_ = Mode::Waiting;
  gdb::Reader reader_;
  std::deque<gdb::Reader::Event> events_;
  std::string last_sent_;
  std::string stop_;  // the last stop reply, for "?"
  std::set<uint32_t> breakpoints_;
  gdb::Watchpoints watches_;
  uint32_t ticks_ = 0;
  bool swbreak_ = false;  // GDB understands "swbreak" in a stop reply
  bool eip_written_ = false;  // GDB wrote EIP while stopped ...
  bool moved_ = false;        // ... so the next event is before anything ran
  bool kill_ = false;     // GDB asked to end the program
  bool killed_ = false;
  bool dead_ = false;     // the program faulted: it cannot run again
};

}  // namespace

std::unique_ptr<Tool> make_gdb_stub(int port, std::optional<Clock::time_point> deadline,
                                    std::string& error) {
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
  return std::make_unique<GdbStub>(fd, port, deadline);
}

}  // namespace ridemu::detail
