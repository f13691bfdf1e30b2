// ridid-emu: runs ridid ELF32 images on the host and serves their traps.
//
// This header is the library's whole public surface. One call, ridemu::run,
// loads an image, runs it (and every child it starts) to the end and reports
// what happened. The command ridid-emu is a thin wrapper around it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ridemu_limits.h"

namespace ridemu {

// Exit statuses of the ridid-emu command (and Outcome::status).
constexpr int kStatusFault = 139;    // the guest faulted (see Outcome::message)
constexpr int kStatusRefused = 126;  // the image was refused by the loader
constexpr int kStatusNoImage = 127;  // the image file could not be read
constexpr int kStatusUsage = 125;    // bad command line or host failure
constexpr int kStatusTooLong = 124;  // the argument vector does not fit the stack
// A process that writes to the console once the reader of the host's
// standard output has gone ends with this status, as a program that
// SIGPIPE ends does in a shell (128 + 13).
constexpr int kStatusBrokenPipe = 141;

// One service request, as seen by Config::service_hook before it is served.
// The hook may change the arguments (they are then served as changed) or set
// `result`, in which case the service is not performed and `result` is what
// the guest gets in EAX.
struct ServiceCall {
  int pid = 0;
  int depth = 0;  // 0 for the first program, 1 for its children, ...
  uint32_t nr = 0;
  uint32_t ebx = 0, ecx = 0, edx = 0;
  std::optional<int32_t> result;
};
using ServiceHook = std::function<void(ServiceCall&)>;

struct Config {
  // Host directory that is the guest's "/". Empty means the current directory.
  std::string root;
  // Run in a fresh temporary copy of `root`, removed when the run ends:
  // nothing the guest does reaches `root` itself.
  bool copy_root = false;
  // Run in a fresh empty temporary root, removed when the run ends.
  bool scratch_root = false;
  // usleep really sleeps unless this is false.
  bool sleep = true;
  // Instructions allowed over the whole run (all processes); 0 = no limit.
  uint64_t max_instructions = 0;
  // Wall-clock time allowed for the whole run in milliseconds; 0 = no limit.
  // Running out is a guest fault like the instruction budget, and costs
  // nothing per instruction.
  uint64_t time_limit_ms = 0;
  // Guest memory that all processes of the run may map at once: a process
  // that would pass it is not started (-ENOMEM; the first: refused).
  uint64_t max_memory = detail::kDefaultMaxMemory;
  // Bytes the run may add to its root; past it a write fails with -ENOSPC.
  uint64_t max_disk = detail::kDefaultMaxDisk;
  // Processes the run may start (-EAGAIN after that).
  int max_processes = detail::kDefaultMaxProcesses;
  // Count executed instructions (Outcome::instructions). Implied by a budget.
  bool count = false;
  // One JSON line per trap to this host file ("-": standard error; "": none).
  std::string trace_file;
  // One line per trap, as strace writes them, to this file ("-": standard
  // error; "": none).
  std::string strace_file;
  // Only these services (by name) in the strace lines and table; empty: all.
  std::vector<std::string> strace_only;
  // A table of calls, errors and time per service at the end of the run, as
  // strace -c writes it, after the lines in strace_file (standard error
  // without one).
  bool strace_summary = false;
  // Write a profile in callgrind's format to this file ("": none); a child
  // process writes FILE.<pid>.
  std::string profile_file;
  // Write the lines and functions the guest ran (all its processes) as an
  // lcov tracefile to this file ("": none).
  std::string coverage_file;
  // Serve GDB's remote protocol on 127.0.0.1:gdb_port (0: no debugger) and
  // wait for it before the first instruction.
  int gdb_port = 0;
  // Keep trace records and console packets in the Outcome.
  bool record = false;
  // Console output goes to the host's standard output ...
  bool console_to_stdout = true;
  // ... and/or is collected in Outcome::console.
  bool capture_console = false;
  // Guest standard input; without it descriptor 0 reads the host's stdin.
  std::optional<std::string> stdin_data;
  // Fault messages ("ridid-emu: guest fault: ...") are printed on stderr.
  bool faults_to_stderr = true;
  // Called before every service (see ServiceCall). It runs inside the
  // engine's callback and must not throw.
  ServiceHook service_hook;
};

struct TraceRecord {
  int pid = 0;
  uint32_t nr = 0, ebx = 0, ecx = 0, edx = 0;
  std::string name;                   // the service's name ("" if unknown)
  int32_t result = 0;
  std::optional<std::string> path;    // decoded path argument
  std::optional<std::string> line;    // run request / script line
  std::optional<int> status;          // _exit status, or a child's status
  std::optional<std::array<uint8_t, 4>> packet;  // console control packet
  bool script = false;                // a script's line, not a trap
  std::string json;                   // the line written to the trace file
};

struct ConsolePacket {
  int pid = 0;
  std::array<uint8_t, 4> bytes{};
};

struct Outcome {
  enum Kind { Exited, Faulted, Refused };
  Kind kind = Refused;
  int status = 0;          // what ridid-emu exits with
  std::string message;     // fault or refusal text (without the prefix)
  std::vector<std::string> callers;  // under a fault line: the calls that led there
  uint64_t instructions = 0;
  std::string console;     // with Config::capture_console
  std::vector<TraceRecord> trace;       // with Config::record
  std::vector<ConsolePacket> packets;   // with Config::record
};

// Runs the image at host path `image` with the given argument vector
// (argv[0] is normally the program name; std::nullopt entries become null
// pointers in the guest's vector).
Outcome run(const std::string& image,
            const std::vector<std::optional<std::string>>& argv,
            const Config& config);

// Checks an image's bytes the way the loader does: "" when it would be
// loaded, otherwise the reason it would be refused.
std::string check_image(const std::vector<uint8_t>& bytes);

}  // namespace ridemu
