// The traces of a run's traps: one JSON object per line (--trace) and the
// records kept for the library's caller (the strace-like one is strace.cpp).
#include <nlohmann/json.hpp>

#include <cstdio>

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
std::unique_ptr<Tool> make_recorder(Outcome& outcome) { return std::make_unique<Recorder>(outcome); }

}  // namespace ridemu::detail
