// The traces of a run's traps: one JSON object per line (--trace), one line
// in the manner of strace (--strace), and the records kept for the library's
// caller. Names and argument kinds come from the kernel's services.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>

#include "../engine/engine.h"
#include "../kernel/services.h"
#include "tools.h"

namespace ridemu::detail {
namespace {

// Bytes as JSON text: each byte is the character of that code (so every
// byte survives, 0x80 and up escaped as \u0080...).
std::string latin1(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class JsonTrace : public Tool {
 public:
  JsonTrace(FILE* out, bool owned) : out_(out), owned_(owned) {}
  ~JsonTrace() override {
    if (owned_) std::fclose(out_);
  }
  void service(const ProcessView&, const TraceRecord& r) override {
    const std::string line = trace_json(r);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
  }

 private:
  FILE* out_;
  bool owned_;
};

// ---- strace ----

constexpr size_t kShown = 32;  // bytes of a string or buffer shown

std::string quoted(const std::string& s, bool cut) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\%o", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  if (cut) out += "...";
  return out;
}

std::string guest_bytes(Cpu& cpu, uint32_t ptr, int64_t count) {
  if (count < 0) return hex(ptr);
  const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, kShown));
  std::string data(n, '\0');
  if (!cpu.mem.read(ptr, data.data(), n)) return hex(ptr);
  return quoted(data, count > static_cast<int64_t>(kShown));
}

std::string guest_string(Cpu& cpu, uint32_t ptr, const std::optional<std::string>& known) {
  std::string s;
  if (known) {
    s = *known;
  } else if (cpu.mem.read_string(ptr, kMaxPath, s) != 0) {
    return ptr ? hex(ptr) : "NULL";
  }
  const bool cut = s.size() > kShown;
  if (cut) s.resize(kShown);
  return quoted(s, cut);
}

class Strace : public Tool {
 public:
  Strace(FILE* out, bool owned) : out_(out), owned_(owned) {}
  ~Strace() override {
    if (owned_) std::fclose(out_);
  }

  void service(const ProcessView& p, const TraceRecord& r) override {
    std::string line;
    if (p.pid > 1) line = "[pid " + std::to_string(p.pid) + "] ";
    const ServiceInfo* s = service_info(r.nr);
    const uint32_t regs[3] = {r.ebx, r.ecx, r.edx};
    if (r.script) {
      line += "run(" + quoted(r.line.value_or(""), false) + ")";
    } else if (!s) {
      line += "service_" + std::to_string(r.nr) + "(" + hex(r.ebx) + ", " + hex(r.ecx) + ", " +
              hex(r.edx) + ")";
    } else {
      line += std::string(s->name) + "(";
      const std::string kinds = s->kinds;
      for (size_t i = 0; i < kinds.size() && i < 3; ++i) {
        if (i) line += ", ";
        const uint32_t v = regs[i];
        switch (kinds[i]) {
          case 'd': line += std::to_string(static_cast<int32_t>(v)); break;
          case 'u': line += std::to_string(v); break;
          case 'x': line += v ? hex(v) : "0"; break;
          case 's': line += guest_string(p.cpu, v, r.path ? r.path : r.line); break;  // as read
          case 'b': line += guest_bytes(p.cpu, v, i + 1 < 3 ? static_cast<int32_t>(regs[i + 1]) : -1); break;
          case 'o': line += r.result > 0 ? guest_bytes(p.cpu, v, r.result) : hex(v); break;
          default: line += v ? hex(v) : "NULL"; break;
        }
      }
      line += ")";
    }
    if (r.nr == SYS_EXIT && !r.script && r.status) {
      line += " = ?";
    } else {
      line += " = " + std::to_string(r.result);
      if (r.result < 0 && r.result > -4096) {
        if (const char* name = strerrorname_np(-r.result)) line += std::string(" ") + name;
      }
    }
    if (r.packet) line += " (console packet)";
    if (r.status && r.nr != SYS_EXIT) line += " (status " + std::to_string(*r.status) + ")";
    if (r.script) line += " (from " + r.path.value_or("?") + ")";
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
  }

 private:
  FILE* out_;
  bool owned_;
};

class Recorder : public Tool {
 public:
  explicit Recorder(Outcome& outcome) : outcome_(outcome) {}
  void service(const ProcessView&, const TraceRecord& r) override {
    TraceRecord kept = r;
    kept.json = trace_json(r);
    if (r.packet) outcome_.packets.push_back(ConsolePacket{r.pid, *r.packet});
    outcome_.trace.push_back(std::move(kept));
  }

 private:
  Outcome& outcome_;
};

}  // namespace

std::string trace_json(const TraceRecord& r) {
  nlohmann::ordered_json j;
  j["pid"] = r.pid;
  j["nr"] = r.nr;
  j["name"] = r.name.empty() ? "unknown" : r.name;
  if (r.script) j["script"] = true;
  j["ebx"] = hex(r.ebx);
  j["ecx"] = hex(r.ecx);
  j["edx"] = hex(r.edx);
  j["result"] = r.result;
  if (r.path) j["path"] = latin1(*r.path);
  if (r.line) j["line"] = latin1(*r.line);
  if (r.status) j["status"] = *r.status;
  if (r.packet) j["packet"] = *r.packet;
  return j.dump(-1, ' ', true);
}

std::unique_ptr<Tool> make_json_trace(FILE* out, bool owned) {
  return std::make_unique<JsonTrace>(out, owned);
}
std::unique_ptr<Tool> make_strace(FILE* out, bool owned) {
  return std::make_unique<Strace>(out, owned);
}
std::unique_ptr<Tool> make_recorder(Outcome& outcome) { return std::make_unique<Recorder>(outcome); }

}  // namespace ridemu::detail
