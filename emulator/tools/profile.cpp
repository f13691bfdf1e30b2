// The profiler (--profile FILE): instructions executed (event Ir) per
// function and source line, and call edges with inclusive costs, in
// callgrind's file format. The first process writes FILE, every child
// FILE.<pid>.
//
// While the guest runs only blocks are counted (block_counts.h), and a
// shadow call stack is fed by the blocks that end in a call or a return. The
// instructions are given to functions and lines once, when the process ends.
//
// The shadow stack: a block ending in a call pushes its return address; the
// next block is the callee. A block after a return that starts at one of the
// return addresses near the top closes that frame and the ones above it (a
// return that skips frames, as longjmp does). Frames still open when the
// process ends are closed there. A call to the very next instruction (the
// way position-independent code finds its own address) is no call.
#include <algorithm>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>

#include "../engine/engine.h"
#include "block_counts.h"
#include "tools.h"

namespace ridemu::detail {
namespace {

constexpr size_t kMaxFrames = 1u << 20;  // a deeper stack stops recording calls
constexpr size_t kReturnSearch = 8;      // frames a return may skip

struct Frame {
  uint32_t ret, site, callee;  // callee 0 until the callee's first block ran
  uint64_t start;              // the process's instructions at the call
};

struct Edge {
  uint64_t calls = 0, inclusive = 0;
};

struct State {
  int pid = 0;
  std::unique_ptr<Report> out;  // the first process's file, made at setup
  uint64_t total = 0;  // instructions run so far
  BlockCounts counts;
  std::vector<Frame> frames;
  std::unordered_map<uint64_t, Edge> edges;  // by (site << 32 | callee)
  bool callee_next = false;  // the last block ended in a call
  bool returned = false;     // the last block ended in a return
};

// A function as the profile shows it.
struct Function {
  std::string name, file;  // file: of its first instruction, "???" without lines
  int line = 0;            // of its first instruction
  bool segment = false;    // no symbol: all of a segment's code without one
  std::map<std::pair<std::string, int>, int64_t> self;  // (file, line) -> Ir
  struct Call {
    std::string file;
    int line;
    const Function* callee;
    bool operator<(const Call& o) const {
      return std::tie(file, line, callee) < std::tie(o.file, o.line, o.callee);
    }
  };
  std::map<Call, Edge> calls;
};

class Profiler : public Tool {
 public:
  Profiler(std::string path, std::unique_ptr<Report> first)
      : path_(std::move(path)), first_(std::move(first)) {}

  bool wants_blocks() const override { return true; }

  void started(const ProcessView& p) override {
    auto s = std::make_unique<State>();
    s->pid = p.pid;
    s->out = std::move(first_);
    running_.push_back(std::move(s));
  }

  void block(const ProcessView& p, const Block& b) override {
    State& s = state(p);
    s.counts.ran(b);
    const uint64_t before = s.total;
    s.total += b.insns.size();
    if (s.callee_next) {
      s.callee_next = false;
      Frame& f = s.frames.back();
      if (b.addr == f.ret)
        s.frames.pop_back();
      else
        f.callee = b.addr;
    } else if (s.returned && !s.frames.empty()) {
      returned_to(s, b.addr, before);
    }
    s.returned = b.end == Block::Return;
    if (b.end == Block::Call && !b.insns.empty() && s.frames.size() < kMaxFrames) {
      s.frames.push_back(Frame{b.next(), b.insns.back(), 0, s.total});
      s.callee_next = true;
    }
  }

  void block_cut(const ProcessView& p, const Block& b, uint32_t ran) override {
    State& s = state(p);
    s.counts.cut(b, ran);
    s.total -= b.insns.size() - ran;
    // This block's call did not happen.
    if (s.callee_next) {
      s.callee_next = false;
      s.frames.pop_back();
    }
  }

  void ended(const ProcessView& p, int, const Fault*, const std::string&) override {
    State& s = state(p);
    while (!s.frames.empty()) close_frame(s, s.total);
    std::unique_ptr<Report> out = std::move(s.out);
    if (!out) out = std::make_unique<Report>(path_ + "." + std::to_string(p.pid), "profile");
    out->write([&](FILE* f) { write(p, s, f); });
    for (auto it = running_.begin(); it != running_.end(); ++it) {
      if (it->get() == &s) {
        running_.erase(it);
        break;
      }
    }
  }

 private:
  State& state(const ProcessView& p) {
    State& top = *running_.back();  // the running process is the innermost
    if (top.pid == p.pid) return top;
    for (auto& s : running_)
      if (s->pid == p.pid) return *s;
    return top;
  }

  static void close_frame(State& s, uint64_t now) {
    const Frame f = s.frames.back();
    s.frames.pop_back();
    if (!f.callee) return;
    Edge& e = s.edges[(uint64_t(f.site) << 32) | f.callee];
    ++e.calls;
    e.inclusive += now - f.start;
  }

  static void returned_to(State& s, uint32_t addr, uint64_t now) {
    const size_t n = s.frames.size();
    for (size_t k = 0; k < std::min(n, kReturnSearch); ++k) {
      if (s.frames[n - 1 - k].ret != addr) continue;
      for (size_t j = 0; j <= k; ++j) close_frame(s, now);
      return;
    }
  }

  void write(const ProcessView& p, const State& s, FILE* out) {
    const std::unordered_map<uint32_t, int64_t> cost = s.counts.per_instruction();

    const Symbols& symbols = p.symbols();
    std::map<uint64_t, Function> functions;  // by start address (segments after 1 << 32)
    std::unordered_map<uint32_t, Symbols::Place> places;
    const auto place = [&](uint32_t a) -> const Symbols::Place& {
      auto it = places.find(a);
      if (it == places.end()) it = places.emplace(a, symbols.at(a)).first;
      return it->second;
    };
    const auto function_of = [&](uint32_t a) -> Function& {
      uint32_t start = 0;
      uint64_t key;
      std::string name;
      if (const std::string* f = symbols.function(a, &start)) {
        key = start;
        name = *f;
      } else {
        // No symbol: one pseudo-function for each segment.
        size_t i = 0;
        while (i < p.image.segments.size()) {
          const Segment& g = p.image.segments[i];
          const uint32_t lo = g.vaddr & ~(kPage - 1);
          if (a >= lo && uint64_t(a) < uint64_t(g.vaddr) + g.memsz) break;
          ++i;
        }
        const bool known = i < p.image.segments.size();
        key = (uint64_t(1) << 32) + i;
        start = known ? p.image.segments[i].vaddr : a;
        name = known ? "segment " + std::to_string(i + 1) + " (" + hex(start) + ")"
                     : "outside the image";
      }
      Function& f = functions[key];
      if (f.name.empty()) {
        f.name = name;
        f.segment = key >> 32;
        const Symbols::Place& at = place(start);
        f.file = at.file.empty() ? "???" : at.file;
        f.line = at.line;
      }
      return f;
    };
    const auto position = [&](const Function& f, uint32_t a) {
      const Symbols::Place& at = place(a);
      return at.file.empty() ? std::make_pair(f.file, 0) : std::make_pair(at.file, at.line);
    };

    int64_t total = 0;
    for (const auto& [a, n] : cost) {
      if (!n) continue;
      Function& f = function_of(a);
      f.self[position(f, a)] += n;
      total += n;
    }
    for (const auto& [key, e] : s.edges) {
      const uint32_t site = static_cast<uint32_t>(key >> 32), callee = static_cast<uint32_t>(key);
      Function& caller = function_of(site);
      const Function* target = &function_of(callee);
      if (target == &caller && caller.segment) continue;  // calls inside unnamed code
      const auto [file, line] = position(caller, site);
      Edge& sum = caller.calls[Function::Call{file, line, target}];
      sum.calls += e.calls;
      sum.inclusive += e.inclusive;
    }

    std::fprintf(out,
                 "# callgrind format\nversion: 1\ncreator: ridid-emu\npid: %d\ncmd: %s\n"
                 "part: 1\n\npositions: line\nevents: Ir\nsummary: %" PRId64 "\n",
                 p.pid, p.path.c_str(), total);
    for (const auto& [key, f] : functions) {
      std::fprintf(out, "\nfl=%s\nfn=%s\n", f.file.c_str(), f.name.c_str());
      const std::string* file = &f.file;
      const auto in_file = [&](const std::string& name) {
        if (name == *file) return;
        std::fprintf(out, "fi=%s\n", name.c_str());
        file = &name;
      };
      // Self costs and calls in the order of their lines.
      auto call = f.calls.begin();
      const auto calls_up_to = [&](const std::pair<std::string, int>* at) {
        for (; call != f.calls.end(); ++call) {
          const Function::Call& c = call->first;
          if (at && std::tie(c.file, c.line) > std::tie(at->first, at->second)) break;
          in_file(c.file);
          std::fprintf(out, "cfi=%s\ncfn=%s\ncalls=%" PRIu64 " %d\n%d %" PRIu64 "\n",
                       c.callee->file.c_str(), c.callee->name.c_str(), call->second.calls,
                       c.callee->line, c.line, call->second.inclusive);
        }
      };
      for (const auto& [at, n] : f.self) {
        calls_up_to(&at);
        in_file(at.first);
        std::fprintf(out, "%d %" PRId64 "\n", at.second, n);
      }
      calls_up_to(nullptr);
    }
    std::fprintf(out, "\ntotals: %" PRId64 "\n", total);
  }

  std::string path_;
  std::unique_ptr<Report> first_;  // for the first process to start
  std::vector<std::unique_ptr<State>> running_;  // the innermost last
};

}  // namespace

std::unique_ptr<Tool> make_profiler(const std::string& path, std::string& error) {
  auto first = Report::make(path, "profile", error);
  return first ? std::make_unique<Profiler>(path, std::move(first)) : nullptr;
}

}  // namespace ridemu::detail
