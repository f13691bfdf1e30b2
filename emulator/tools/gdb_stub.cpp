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
// access (gdb_watch.h); the socket and the bytes on it are gdb_wire.h's.
#include <cstdio>
#include <set>
#include <vector>

#include "gdb_packet.h"
#include "gdb_target.h"
#include "gdb_watch.h"
#include "gdb_wire.h"
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
  GdbStub(std::unique_ptr<gdb::Wire> wire, std::optional<Clock::time_point> deadline)
      : wire_(std::move(wire)), deadline_(deadline) {
    wire_->on_lost([this] {
      if (mode_ != Mode::Free)
        std::fprintf(stderr, "ridid-emu: GDB went away%s\n", dead_ ? "" : "; the program runs on");
      mode_ = Mode::Free;
    });
  }

  bool wants_instructions(const ProcessView& p) const override {
    return p.depth == 0 && mode_ != Mode::Free;
  }

  void instruction(const ProcessView& p, uint32_t eip) override {
    if (p.depth != 0 || mode_ == Mode::Free) return;
    if (mode_ == Mode::Waiting) {
      if (!wire_->accept(deadline_)) {
        mode_ = Mode::Free;
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
      if (wire_->interrupted()) stop(p.cpu, kSigInt, "", true);
    }
  }

  void ended(const ProcessView& p, int status, const Fault* fault,
             const std::string&) override {
    if (p.depth != 0 || !wire_->connected()) return;
    if (!fault) {
      char reply[8];
      std::snprintf(reply, sizeof reply, "W%02x", status & 0xFF);
      wire_->send_packet(reply);
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
      wire_->send_packet(reply);
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

  void hang_up() {
    wire_->close();
    mode_ = Mode::Free;
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
    if (announce) wire_->send_packet(stop_);
    const uint32_t eip = cpu.eip();
    eip_written_ = false;
    while (mode_ == Mode::Stopped) {
      gdb::Reader::Event e;
      if (!wire_->next(e)) return;
      switch (e.kind) {
        case gdb::Reader::Event::Packet:
          if (!wire_->send_raw("+")) return;
          answer(cpu, e.body);
          break;
        case gdb::Reader::Event::BadPacket:
          if (!wire_->send_raw("-")) return;
          break;
        case gdb::Reader::Event::Nak:
          if (!wire_->resend_last()) return;
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
    if (body.empty()) return wire_->send_packet("");
    const std::string_view args = std::string_view(body).substr(1);
    switch (body[0]) {
      case '?': return wire_->send_packet(stop_);
      case 'g': return wire_->send_packet(gdb::read_registers(cpu));
      case 'G': return wire_->send_packet(gdb::write_registers(cpu, args, eip_written_) ? "OK" : "E01");
      case 'p': {
        uint32_t r;
        if (!gdb::parse_u32(args, r) || r >= kRegisterCount) return wire_->send_packet("E01");
        return wire_->send_packet(gdb::read_register(cpu, static_cast<int>(r)));
      }
      case 'P': {
        const size_t eq = args.find('=');
        uint32_t r;
        std::string value;
        if (eq == std::string_view::npos || !gdb::parse_u32(args.substr(0, eq), r) ||
            r >= kRegisterCount || !gdb::from_hex(args.substr(eq + 1), value))
          return wire_->send_packet("E01");
        return wire_->send_packet(gdb::write_register(cpu, static_cast<int>(r), value, eip_written_) ? "OK" : "E01");
      }
      case 'm': return wire_->send_packet(gdb::read_memory(cpu, args));
      case 'M':
      case 'X': return wire_->send_packet(gdb::write_memory(cpu, args, body[0] == 'X'));
      case 'Z':
      case 'z': return wire_->send_packet(breakpoint(args, body[0] == 'Z'));
      case 'c':
      case 's':
      case 'C':
      case 'S': return resume(cpu, body);
      case 'v': return answer_v(cpu, body);
      case 'D':
        wire_->send_packet("OK");
        hang_up();
        return;
      case 'k':
        kill_ = true;
        mode_ = Mode::Free;
        return;
      case 'H':
      case 'T': return wire_->send_packet("OK");
      case 'q': return answer_query(body);
      default: return wire_->send_packet("");
    }
  }

  // c [ADDR], s [ADDR], C SIG [;ADDR], S SIG [;ADDR]: the signal is not
  // delivered (a ridid program has no handlers).
  void resume(Cpu& cpu, const std::string& body) {
    std::string_view addr = std::string_view(body).substr(1);
    if (body[0] == 'C' || body[0] == 'S') {
      const size_t semi = addr.find(';');
      uint32_t signal;
      if (!gdb::parse_u32(addr.substr(0, semi), signal)) return wire_->send_packet("E01");
      addr = semi == std::string_view::npos ? std::string_view() : addr.substr(semi + 1);
    }
    if (!addr.empty()) {
      uint32_t to;
      if (!gdb::parse_u32(addr, to)) return wire_->send_packet("E01");
      if (!dead_ && to != cpu.eip()) {
        cpu.set_reg(UC_X86_REG_EIP, to);
        eip_written_ = true;
      }
    }
    mode_ = (body[0] == 's' || body[0] == 'S') ? Mode::Step : Mode::Continue;
  }

  void answer_v(Cpu& cpu, const std::string& body) {
    if (body == "vCont?") return wire_->send_packet("vCont;c;C;s;S");
    if (starts_with(body, "vKill")) {
      wire_->send_packet("OK");
      kill_ = true;
      mode_ = Mode::Free;
      return;
    }
    if (starts_with(body, "vCont;")) {
      // One thread: the first action is the one for it.
      const char action = body.size() > 6 ? body[6] : '\0';
      if (action == 'c' || action == 'C') return resume(cpu, "c");
      if (action == 's' || action == 'S') return resume(cpu, "s");
      return wire_->send_packet("E01");
    }
    return wire_->send_packet("");
  }

  void answer_query(const std::string& body) {
    if (starts_with(body, "qSupported")) {
      swbreak_ = body.find("swbreak+") != std::string::npos;
      char reply[96];
      std::snprintf(reply, sizeof reply, "PacketSize=%zx;qXfer:features:read+%s",
                    gdb::kMaxPacket - kPacketSlack, swbreak_ ? ";swbreak+" : "");
      return wire_->send_packet(reply);
    }
    if (starts_with(body, "qXfer:features:read:")) {
      const std::string_view rest = std::string_view(body).substr(20);
      const size_t colon = rest.find(':');
      uint32_t offset, len;
      std::string_view tail;
      if (colon == std::string_view::npos || rest.substr(0, colon) != "target.xml" ||
          !gdb::parse_range(rest.substr(colon + 1), offset, len, tail) || !tail.empty())
        return wire_->send_packet("E00");
      const std::string_view xml = gdb::target_xml();
      if (offset >= xml.size()) return wire_->send_packet("l");
      const std::string_view part = xml.substr(offset, len);
      return wire_->send_packet((offset + part.size() < xml.size() ? "m" : "l") + gdb::escape(part));
    }
    if (body == "qAttached" || starts_with(body, "qAttached:")) return wire_->send_packet("0");
    if (body == "qfThreadInfo") return wire_->send_packet("m1");
    if (body == "qsThreadInfo") return wire_->send_packet("l");
    if (body == "qC") return wire_->send_packet("QC1");
    if (starts_with(body, "qSymbol")) return wire_->send_packet("OK");
    return wire_->send_packet("");
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

  std::unique_ptr<gdb::Wire> wire_;
  std::optional<Clock::time_point> deadline_;
  Mode mode_ = Mode::Waiting;
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
  std::unique_ptr<gdb::Wire> wire = gdb::Wire::listen(port, error);
  if (!wire) return nullptr;
  return std::make_unique<GdbStub>(std::move(wire), deadline);
}

}  // namespace ridemu::detail
