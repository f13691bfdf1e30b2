// Internal pieces of the emulator shared by its sources. Not installed.
#pragma once

#include <unicorn/unicorn.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ridemu.h"

namespace ridemu::detail {

constexpr uint32_t kPage = 0x1000;
constexpr uint32_t kStackTop = 0xC0000000u;
constexpr uint32_t kStackSize = 1u << 20;
constexpr uint32_t kStackBottom = kStackTop - kStackSize;
constexpr size_t kMaxImageFile = 64u << 20;   // bytes of an image file
constexpr uint64_t kMaxImageMemory = 256u << 20;  // bytes mapped for one image
constexpr size_t kMaxPath = 4096;             // longest path string read
constexpr size_t kMaxLine = 4096;             // longest run request line
constexpr int kMaxDepth = 16;                 // nesting of children
constexpr int kMaxProcesses = 4096;           // processes in one run
constexpr int kMaxScripts = 4096;             // scripts run in one run
constexpr int kMaxFds = 256;                  // descriptors per process
constexpr size_t kPipeCapacity = 64u << 10;   // bytes buffered in one pipe
constexpr size_t kMaxFifos = 256;             // named pipes in one run

// ---- images (loader.cpp) ----
struct Segment {
  uint32_t vaddr, memsz, offset, filesz, flags;
};
struct Image {
  uint32_t entry = 0;
  std::vector<Segment> segments;
  std::vector<uint8_t> bytes;
};
// "" and fills `out`, or the reason the bytes are not a loadable image.
std::string parse_image(std::vector<uint8_t> bytes, Image& out);
// Reads a whole host file of at most `max` bytes; "" or a reason.
std::string read_host_file(const std::string& path, size_t max,
                           std::vector<uint8_t>& out);

// ---- guest memory (memory.cpp) ----
struct Region {
  uint32_t begin, end;  // [begin, end), page aligned; end 0 never used
  uint32_t prot;        // UC_PROT_*
};
class GuestMemory {
 public:
  uc_engine* uc = nullptr;
  std::vector<Region> regions;  // sorted, non-overlapping

  bool map(uint32_t begin, uint32_t size, uint32_t prot);
  // True when [p, p+n) lies in mappings that all have `prot`.
  bool check(uint32_t p, uint32_t n, uint32_t prot) const;
  bool read(uint32_t p, void* dst, uint32_t n) const;   // checked
  bool write(uint32_t p, const void* src, uint32_t n);  // checked
  // Reads a NUL-terminated string of at most max-1 bytes: 0, -14 or -36.
  int read_string(uint32_t p, size_t max, std::string& out) const;
};
// Maps the image and builds the stack: "" or a reason.
std::string load_image(GuestMemory& mem, const Image& image,
                       const std::vector<std::optional<std::string>>& argv,
                       uint32_t& esp);

// ---- paths (paths.cpp) ----
struct Resolved {
  std::string guest;  // canonical guest path, "/" or "/a/b"
  std::string host;   // host path under the root
};
// Resolves `path` (absolute, or relative to the guest directory `cwd`) inside
// `root`; symbolic links are followed inside the guest's namespace (the last
// component only when follow_last). 0 or a negative error number.
int resolve_path(const std::string& root, const std::string& cwd,
                 const std::string& path, bool follow_last, Resolved& out);

// ---- kernel (kernel.cpp, machine.cpp) ----
struct Pipe {
  std::string data;
  size_t read_pos = 0;
};

struct OpenFile {
  enum Kind { Console, Stdin, Host, PipeRead, PipeWrite, Fifo } kind;
  int host_fd = -1;
  bool can_read = false, can_write = false;
  std::shared_ptr<Pipe> pipe;
  explicit OpenFile(Kind k) : kind(k) {}
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
};

class Machine;

struct Process {
  Machine* machine = nullptr;
  uc_engine* uc = nullptr;
  GuestMemory mem;
  int pid = 0;
  int depth = 0;
  std::string cwd = "/";
  std::map<int, std::shared_ptr<OpenFile>> fds;
  std::map<int, int> children;  // finished children: pid -> status
  // Why the engine stopped.
  bool exited = false;
  int exit_status = 0;
  std::optional<std::string> fault;
  std::string mem_fault;  // kind of a bad access, until the engine stopped
  uint32_t fault_addr = 0;
  enum class Pending { None, RunRequest, Spawn } pending = Pending::None;
  TraceRecord pending_record;  // the trap that is finished after the stop

  ~Process();
};

struct Stream {
  int owner = 0;
  int fd = -1;
  std::string temp, target;  // temp: "" while the file has no name
};
// Closes the file of an unfinished store and removes its temporary name.
void drop_temp(int fd, const std::string& temp);

class Machine {
 public:
  explicit Machine(const Config& config);
  ~Machine();
  Outcome run_top(const std::string& image,
                  const std::vector<std::optional<std::string>>& argv);

  // Runs an already parsed image as a process to its end. Returns the
  // process's status (exit status & 0xFF, or kStatusFault) and its pid.
  int run_process(const Image& image,
                  const std::vector<std::optional<std::string>>& argv,
                  const std::string& cwd, int depth, int& pid,
                  std::string& fault_message);

  // Services (kernel.cpp).
  void serve(Process& p);                       // from the trap hook
  // After the engine stopped for a run request or spawn; `status` gets the
  // child's status when one ran.
  int32_t finish_run_request(Process& p, TraceRecord& rec, int& status);
  int32_t finish_spawn(Process& p, TraceRecord& rec, int& status);

  void count_instruction(Process& p, uint32_t eip);
  bool counting() const { return counting_; }

  const Config& config;
  std::string root;  // realpath of the root
  std::string setup_error;

 private:
  friend struct Services;
  int32_t run_line(Process& p, const std::string& line, int depth, int& status);
  // Reads, checks and runs the image at a resolved host path as a child of
  // p: its status, or a negative error when it could not be started.
  int run_child(Process& p, const std::string& host,
                const std::vector<std::optional<std::string>>& argv, int depth, int& pid);
  int32_t dispatch(Process& p, ServiceCall& call, TraceRecord& rec);
  int alloc_fd(Process& p, std::shared_ptr<OpenFile> f, int lowest = 0);
  int32_t path_arg(Process& p, uint32_t ptr, bool follow, Resolved& r, TraceRecord& rec);
  void console_write(Process& p, const uint8_t* data, size_t n);
  int stdin_read(uint8_t* dst, size_t n);
  void trace(TraceRecord record);
  void stream_drop_owned(int pid);

  Outcome outcome_;
  FILE* trace_file_ = nullptr;
  bool counting_ = false;
  uint64_t instructions_ = 0;
  bool budget_exceeded_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::string scratch_;
  size_t stdin_pos_ = 0;
  bool stdin_eof_ = false;
  int next_pid_ = 1;
  int processes_ = 0;
  int scripts_ = 0;
  std::map<std::string, std::shared_ptr<Pipe>> fifos_;  // by guest path
  std::map<int, Stream> streams_;
  int next_stream_ = 1;
};

std::string json_escape(const std::string& s);
// " at 0x........ (eip 0x........)", the tail of a fault message.
std::string at_eip(uint64_t addr, uint32_t eip);

inline uint32_t reg_value(uc_engine* uc, int r) {
  uint32_t v = 0;
  uc_reg_read(uc, r, &v);
  return v;
}

}  // namespace ridemu::detail
