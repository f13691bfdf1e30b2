// The tools room: what watches a run (the traces, the profiler, the
// debugger stub, fault reports with symbols).
//
// Every tool sees a run through one interface, Tool: processes starting and
// ending, each service after it was served, and, for the tools that ask,
// each block or instruction the processor runs. The kernel calls it; a tool
// never changes what a service does. A service added to the kernel's table
// reaches every tool by itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../ridemu.h"

namespace ridemu::detail {

class Cpu;
struct Block;
struct Fault;
struct Image;
class Symbols;

// A process as tools see it.
struct ProcessView {
  int pid = 0;
  int depth = 0;            // 0 for the first program, 1 for its children...
  const std::string& path;  // host path of its image
  const Image& image;
  Cpu& cpu;  // registers and memory; only the debugger changes them
  std::shared_ptr<const Symbols>* symbol_cache;
  // The image's symbols and lines, read when first asked for.
  const Symbols& symbols() const;
};

class Tool {
 public:
  virtual ~Tool() = default;
  virtual bool wants_blocks() const { return false; }
  virtual bool wants_instructions(const ProcessView&) const { return false; }
  virtual void started(const ProcessView&) {}
  // A trap for service `nr` is about to be served (`service` follows, after
  // the children a run request or spawn starts).
  virtual void serving(const ProcessView&, uint32_t /*nr*/) {}
  virtual void service(const ProcessView&, const TraceRecord&) {}
  virtual void block(const ProcessView&, const Block&) {}
  // A fault ended the last block after `ran` of its instructions.
  virtual void block_cut(const ProcessView&, const Block&, uint32_t /*ran*/) {}
  virtual void instruction(const ProcessView&, uint32_t /*eip*/) {}
  // The process ended: its status, and its fault (with the line that was
  // reported) when it faulted.
  virtual void ended(const ProcessView&, int /*status*/, const Fault* /*fault*/,
                     const std::string& /*line*/) {}
};

// The tools of one run, called in the order they were added.
class Tools {
 public:
  void add(std::unique_ptr<Tool> tool);
  bool wants_blocks() const;
  bool wants_instructions(const ProcessView& p) const;
  void started(const ProcessView& p);
  void serving(const ProcessView& p, uint32_t nr);
  void service(const ProcessView& p, const TraceRecord& r);
  void block(const ProcessView& p, const Block& b);
  void block_cut(const ProcessView& p, const Block& b, uint32_t ran);
  void instruction(const ProcessView& p, uint32_t eip);
  void ended(const ProcessView& p, int status, const Fault* fault, const std::string& line);

 private:
  std::vector<std::unique_ptr<Tool>> all_;
};

// ---- symbols and source lines of an image (symbols.cpp) ----
class Symbols {
 public:
  explicit Symbols(const Image& image);
  ~Symbols();
  struct Place {
    std::string function;  // "" when no symbol covers the address
    uint32_t offset = 0;   // from the function's start
    std::string file;      // "" without line information
    int line = 0;
  };
  Place at(uint32_t addr) const;
  // Just the function, without looking up a line (cheap).
  const std::string* function(uint32_t addr, uint32_t* start = nullptr) const;
  bool has_lines() const;
  // The code symbols, one per address, sorted by address.
  struct Symbol {
    uint32_t addr, size;
    std::string name;
  };
  const std::vector<Symbol>& symbols() const { return symbols_; }
  // The code of each source line as the line table gives it: [begin, end),
  // its file and line (none without line information).
  struct LineRange {
    uint32_t begin, end;
    std::string file;
    int line;
  };
  std::vector<LineRange> line_ranges() const;

 private:
  std::vector<Symbol> symbols_;  // sorted by address
  struct Lines;
  std::unique_ptr<Lines> lines_;
};

// An address or register as the traces and profiles show it: "0x0040001c".
std::string hex(uint32_t v);

// Opens the host file `path` for a tool to write ("-": standard error)
// without ever waiting: a named pipe that no one reads is refused. Null and
// the reason in `error` when it cannot be had.
FILE* open_output(const std::string& path, std::string& error);

// A file a tool writes when a process ends (the profile, the coverage). It is
// made at once, before the guest starts, so that a path that cannot be
// written stops the run there; a report never written is removed again (no
// process started).
class Report {
 public:
  // `what` names it in messages: "cannot write the profile PATH: reason".
  Report(std::string path, const std::string& what);
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;
  // The report when its file could be made; else null and why in `error`.
  static std::unique_ptr<Report> make(std::string path, const std::string& what,
                                      std::string& error);
  // Writes the report with `body` and closes it; a file that could not be
  // made or written is one line on standard error. Once only.
  void write(const std::function<void(FILE*)>& body);

 private:
  std::string path_, what_, error_;
  FILE* file_;
};

// The one line that reports a fault (faults.cpp): what, where accessed, the
// instruction's address, function and source line, and its text:
// "stack overflow: write at 0xbfeffffc (eip 0x00400093) in recurse+0x3 (pit.c:19): push ebp"
std::string fault_line(const Fault& fault, Cpu& cpu, const Symbols* symbols);
// The calls that led there, innermost first, at most `max`, each named as
// the fault line names its instruction: "0x00400123 in main+0x2b (probe.c:7)".
// Found from the saved frame pointers (ridid programs keep them).
std::vector<std::string> caller_lines(const Fault& fault, Cpu& cpu, const Symbols* symbols,
                                      size_t max);

// ---- the tools (one source each) ----
// One JSON object per line for every trap (trace.cpp).
std::unique_ptr<Tool> make_json_trace(FILE* out, bool owned);
std::string trace_json(const TraceRecord& r);
// One line per trap in the manner of strace, and a table of calls, errors
// and time per service at the end of the run (strace.cpp). Null and `error`
// for a name in `only` that no service has.
struct StraceOptions {
  bool lines = true;               // a line per trap
  bool summary = false;            // the table when the first process ends
  std::vector<std::string> only;   // these services alone (names); empty: all
};
std::unique_ptr<Tool> make_strace(FILE* out, bool owned, const StraceOptions& options,
                                  std::string& error);
// Keeps trace records and console packets in an Outcome (trace.cpp).
std::unique_ptr<Tool> make_recorder(Outcome& outcome);
// Instructions per function and line, and call edges, in callgrind's format
// to `path` (a child process: path.<pid>) (profile.cpp). Null and `error`
// when the file cannot be made.
std::unique_ptr<Tool> make_profiler(const std::string& path, std::string& error);
// Line coverage of every process of the run, as an lcov tracefile at `path`
// (coverage.cpp). Null and `error` when the file cannot be made.
std::unique_ptr<Tool> make_coverage(const std::string& path, std::string& error);
// Serves GDB's remote protocol on 127.0.0.1:port for the first program
// (gdb_stub.cpp), waiting for GDB until `deadline` (the run's time limit)
// if there is one; nullptr and `error` when the port cannot be had.
using Clock = std::chrono::steady_clock;
std::unique_ptr<Tool> make_gdb_stub(int port, std::optional<Clock::time_point> deadline,
                                    std::string& error);

}  // namespace ridemu::detail
