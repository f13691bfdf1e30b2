// The strace-like trace (--strace, --strace-file, --strace-only,
// --strace-summary): one line per trap with its arguments decoded as strace
// shows them, and a table of calls, errors and time per service at the end.
// Names and argument kinds come from the kernel's services.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

#include "../engine/engine.h"
#include "../kernel/services.h"
#include "tools.h"

namespace ridemu::detail {
namespace {

constexpr size_t kShown = 32;  // bytes of a string, entries of a vector shown

// Bytes in double quotes with C escapes, and "..." after the quotes when the
// text was cut.
std::string quoted(const std::string& s, bool cut) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\v': out += "\\v"; break;
      case '\f': out += "\\f"; break;
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

std::string pointer(uint32_t v) { return v ? hex(v) : "NULL"; }

std::string guest_bytes(Cpu& cpu, uint32_t ptr, int64_t count) {
  if (count < 0) return pointer(ptr);
  const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, kShown));
  std::string data(n, '\0');
  if (!cpu.mem.read(ptr, data.data(), n)) return pointer(ptr);
  return quoted(data, count > static_cast<int64_t>(kShown));
}

std::string guest_string(Cpu& cpu, uint32_t ptr, const std::optional<std::string>& known) {
  std::string s;
  if (known) {
    s = *known;
  } else if (cpu.mem.read_string(ptr, kMaxPath, s) != 0) {
    return pointer(ptr);
  }
  const bool cut = s.size() > kShown;
  if (cut) s.resize(kShown);
  return quoted(s, cut);
}

// `count` string pointers at `ptr`: ["a", "b", NULL], the first 32 of them.
std::string guest_vector(Cpu& cpu, uint32_t ptr, int32_t count) {
  if (count <= 0 || static_cast<uint32_t>(count) > kMaxSpawnArgs) return pointer(ptr);
  const uint32_t n = std::min<uint32_t>(count, kShown);
  std::vector<uint32_t> entries(n);
  if (!cpu.mem.read(ptr, entries.data(), n * 4)) return pointer(ptr);
  std::string out = "[";
  for (uint32_t i = 0; i < n; ++i) {
    if (i) out += ", ";
    out += entries[i] ? guest_string(cpu, entries[i], std::nullopt) : "NULL";
  }
  if (n < static_cast<uint32_t>(count)) out += ", ...";
  return out + "]";
}

std::string open_flags(uint32_t v) {
  static const char* const kModes[] = {"O_RDONLY", "O_WRONLY", "O_RDWR"};
  struct Flag {
    uint32_t bit;
    const char* name;
  };
#define FLAG(NAME) {RIDID_O_##NAME, "O_" #NAME},
  static const Flag kFlags[] = {RIDID_OPEN_FLAGS(FLAG)};
#undef FLAG
  const uint32_t mode = v & RIDID_O_ACCMODE;
  std::string out = mode < 3 ? kModes[mode] : "O_ACCMODE";
  v &= ~uint32_t(RIDID_O_ACCMODE);
  for (const Flag& f : kFlags) {
    if (!(v & f.bit)) continue;
    out += std::string("|") + f.name;
    v &= ~f.bit;
  }
  if (v) out += "|" + hex(v);
  return out;
}

std::string seek_origin(uint32_t v) {
  static const char* const kOrigins[] = {
#define ORIGIN(NAME) "SEEK_" #NAME,
      RIDID_SEEK_ORIGINS(ORIGIN)
#undef ORIGIN
  };
  return v < std::size(kOrigins) ? kOrigins[v] : std::to_string(static_cast<int32_t>(v));
}

bool is_error(const TraceRecord& r) { return r.result < 0 && r.result > -4096; }

// The arguments as the service's kinds say to show them.
std::string arguments(Cpu& cpu, const ServiceInfo& s, const TraceRecord& r) {
  const uint32_t regs[3] = {r.ebx, r.ecx, r.edx};
  const auto next = [&](size_t i) { return i + 1 < 3 ? static_cast<int32_t>(regs[i + 1]) : -1; };
  std::string out;
  for (size_t i = 0; s.kinds[i] && i < 3; ++i) {
    if (i) out += ", ";
    const uint32_t v = regs[i];
    switch (s.kinds[i]) {
      case 'd': out += std::to_string(static_cast<int32_t>(v)); break;
      case 'u': out += std::to_string(v); break;
      case 'x': out += v ? hex(v) : "0"; break;
      case 'f': out += open_flags(v); break;
      case 'w': out += seek_origin(v); break;
      case 's': out += guest_string(cpu, v, r.path ? r.path : r.line); break;  // as read
      case 'b': out += guest_bytes(cpu, v, next(i)); break;
      case 'o': out += is_error(r) ? pointer(v) : guest_bytes(cpu, v, r.result); break;
      case 'v': out += guest_vector(cpu, v, next(i)); break;
      default: out += pointer(v); break;
    }
  }
  return out;
}

// Calls, errors and time of one service.
struct Tally {
  uint64_t calls = 0, errors = 0;
  std::chrono::nanoseconds time{0};
};

class Strace : public Tool {
 public:
  Strace(FILE* out, bool owned, const StraceOptions& options, std::set<uint32_t> only)
      : out_(out), owned_(owned), options_(options), only_(std::move(only)) {}
  ~Strace() override {
    if (owned_) std::fclose(out_);
  }

  void serving(const ProcessView& p, uint32_t) override {
    if (options_.summary) began_[p.pid] = std::chrono::steady_clock::now();
  }

  void service(const ProcessView& p, const TraceRecord& r) override {
    if (!shown(r.nr)) return;
    if (options_.summary && !r.script) count(p.pid, r);
    if (options_.lines) line(p, r);
  }

  void ended(const ProcessView& p, int, const Fault*, const std::string&) override {
    if (options_.summary && p.depth == 0) summary();
  }

 private:
  bool shown(uint32_t nr) const { return only_.empty() || only_.count(nr); }

  void count(int pid, const TraceRecord& r) {
    Tally& t = tallies_[r.nr];
    ++t.calls;
    if (is_error(r) && r.nr != SYS_EXIT) ++t.errors;
    const auto began = began_.find(pid);
    if (began == began_.end()) return;
    t.time += std::chrono::steady_clock::now() - began->second;
    began_.erase(began);
  }

  void line(const ProcessView& p, const TraceRecord& r) {
    std::string line;
    if (p.pid > 1) line = "[pid " + std::to_string(p.pid) + "] ";
    const ServiceInfo* s = service_info(r.nr);
    if (r.script) {
      line += "run(" + quoted(r.line.value_or(""), false) + ")";
    } else if (!s) {
      line += "service_" + std::to_string(r.nr) + "(" + hex(r.ebx) + ", " + hex(r.ecx) + ", " +
              hex(r.edx) + ")";
    } else {
      line += std::string(s->name) + "(" + arguments(p.cpu, *s, r) + ")";
    }
    if (r.nr == SYS_EXIT && !r.script && r.status) {
      line += " = ?";
    } else {
      line += " = " + std::to_string(r.result);
      if (is_error(r)) {
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

  // As strace -c: the services by the time spent in them, the most first.
  void summary() {
    std::vector<std::pair<uint32_t, Tally>> rows(tallies_.begin(), tallies_.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second.time > b.second.time; });
    Tally all;
    for (const auto& [nr, t] : rows) {
      all.calls += t.calls;
      all.errors += t.errors;
      all.time += t.time;
    }
    const char* rule = "------ ----------- ----------- --------- --------- ----------------\n";
    std::fprintf(out_, "%% time     seconds  usecs/call     calls    errors service\n%s", rule);
    const auto row = [&](const Tally& t, const std::string& name) {
      const double share = all.time.count() ? 100.0 * t.time.count() / all.time.count() : 0;
      const uint64_t us = std::chrono::duration_cast<std::chrono::microseconds>(t.time).count();
      char errors[24] = "";
      if (t.errors) std::snprintf(errors, sizeof errors, "%" PRIu64, t.errors);
      std::fprintf(out_, "%6.2f %11.6f %11" PRIu64 " %9" PRIu64 " %9s %s\n", share, us / 1e6,
                   t.calls ? us / t.calls : 0, t.calls, errors, name.c_str());
    };
    for (const auto& [nr, t] : rows) {
      const ServiceInfo* s = service_info(nr);
      row(t, s ? s->name : "service_" + std::to_string(nr));
    }
    std::fputs(rule, out_);
    row(all, "total");
    std::fflush(out_);
  }

  FILE* out_;
  bool owned_;
  StraceOptions options_;
  std::set<uint32_t> only_;  // empty: every service
  std::map<uint32_t, Tally> tallies_;
  std::unordered_map<int, std::chrono::steady_clock::time_point> began_;  // by pid
};

}  // namespace

std::unique_ptr<Tool> make_strace(FILE* out, bool owned, const StraceOptions& options,
                                  std::string& error) {
  struct Named {
    const char* name;
    uint32_t nr;
  };
#define NAMED(number, NAME, name, kinds) {#name, number},
  static const Named kNamed[] = {RIDID_SERVICES(NAMED)};
#undef NAMED
  std::set<uint32_t> only;
  for (const std::string& name : options.only) {
    const auto it = std::find_if(std::begin(kNamed), std::end(kNamed),
                                 [&](const Named& n) { return name == n.name; });
    if (it == std::end(kNamed)) {
      error = "no service is named " + name;
      if (owned) std::fclose(out);
      return nullptr;
    }
    only.insert(it->nr);
  }
  return std::make_unique<Strace>(out, owned, options, std::move(only));
}

}  // namespace ridemu::detail
