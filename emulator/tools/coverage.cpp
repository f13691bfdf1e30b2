// Line coverage (--coverage FILE): which source lines and functions of the
// guest ran, and how often, as an lcov tracefile that genhtml turns into a
// report. Every process of the run adds to the same file: a child's lines
// count with its parent's, source file by source file.
//
// While the guest runs only blocks are counted (block_counts.h). When a
// process ends its instructions are given to the lines of its line table: a
// line ran as often as its most-run instruction, and a line with code that
// never ran counts 0. A function ran as often as its first instruction.
#include <algorithm>
#include <cinttypes>
#include <filesystem>
#include <map>
#include <memory>

#include "../engine/engine.h"
#include "block_counts.h"
#include "tools.h"

namespace ridemu::detail {
namespace {

struct SourceFile {
  std::map<int, uint64_t> lines;  // line -> executions
  struct Function {
    int line = 0;
    uint64_t calls = 0;
  };
  std::map<std::string, Function> functions;  // by name
};

class Coverage : public Tool {
 public:
  explicit Coverage(std::unique_ptr<Report> out) : out_(std::move(out)) {}

  bool wants_blocks() const override { return true; }
  void started(const ProcessView& p) override { running_.push_back({p.pid, BlockCounts()}); }
  void block(const ProcessView& p, const Block& b) override { counts(p).ran(b); }
  void block_cut(const ProcessView& p, const Block& b, uint32_t ran) override {
    counts(p).cut(b, ran);
  }

  void ended(const ProcessView& p, int, const Fault*, const std::string&) override {
    auto it = std::find_if(running_.begin(), running_.end(),
                           [&](const auto& r) { return r.first == p.pid; });
    if (it == running_.end()) return;
    add(p, it->second.per_instruction());
    running_.erase(it);
    if (p.depth == 0) out_->write([&](FILE* f) { write(f); });
  }

 private:
  BlockCounts& counts(const ProcessView& p) {
    if (running_.back().first == p.pid) return running_.back().second;  // the innermost runs
    for (auto& [pid, c] : running_)
      if (pid == p.pid) return c;
    return running_.back().second;
  }

  void add(const ProcessView& p, const std::unordered_map<uint32_t, int64_t>& per_insn) {
    const std::map<uint32_t, int64_t> ran(per_insn.begin(), per_insn.end());
    const Symbols& symbols = p.symbols();
    // Lines: each as often as its most-run instruction.
    std::map<std::pair<std::string, int>, uint64_t> lines;
    for (const Symbols::LineRange& r : symbols.line_ranges()) {
      uint64_t most = 0;
      for (auto at = ran.lower_bound(r.begin); at != ran.end() && at->first < r.end; ++at)
        most = std::max<uint64_t>(most, std::max<int64_t>(at->second, 0));
      uint64_t& n = lines[{r.file, r.line}];
      n = std::max(n, most);
    }
    for (const auto& [where, n] : lines) files_[where.first].lines[where.second] += n;
    // Functions: as often as their first instruction, in the file of its line.
    for (const Symbols::Symbol& s : symbols.symbols()) {
      const Symbols::Place at = symbols.at(s.addr);
      if (at.file.empty()) continue;
      const auto first = ran.find(s.addr);
      SourceFile::Function& f = files_[at.file].functions[s.name];
      f.line = at.line;
      if (first != ran.end() && first->second > 0) f.calls += static_cast<uint64_t>(first->second);
    }
  }

  // The tracefile: one record per source file this host has (genhtml shows
  // each file's text, and stops at a file it cannot read; code built on
  // another machine names files that are not here).
  void write(FILE* out) const {
    for (const auto& [name, file] : files_) {
      std::error_code ec;
      if (!std::filesystem::is_regular_file(name, ec)) continue;
      std::fprintf(out, "TN:\nSF:%s\n", name.c_str());
      size_t hit = 0;
      for (const auto& [fn, f] : file.functions)
        std::fprintf(out, "FN:%d,%s\n", f.line, fn.c_str());
      for (const auto& [fn, f] : file.functions) {
        std::fprintf(out, "FNDA:%" PRIu64 ",%s\n", f.calls, fn.c_str());
        hit += f.calls > 0;
      }
      std::fprintf(out, "FNF:%zu\nFNH:%zu\n", file.functions.size(), hit);
      hit = 0;
      for (const auto& [line, n] : file.lines) {
        std::fprintf(out, "DA:%d,%" PRIu64 "\n", line, n);
        hit += n > 0;
      }
      std::fprintf(out, "LF:%zu\nLH:%zu\nend_of_record\n", file.lines.size(), hit);
    }
  }

  std::unique_ptr<Report> out_;  // written when the first process ends
  std::vector<std::pair<int, BlockCounts>> running_;  // by pid, the innermost last
  std::map<std::string, SourceFile> files_;             // by path
};

}  // namespace

std::unique_ptr<Tool> make_coverage(const std::string& path, std::string& error) {
  auto out = Report::make(path, "coverage file", error);
  return out ? std::make_unique<Coverage>(std::move(out)) : nullptr;
}

}  // namespace ridemu::detail
