// The kernel room: the services behind int 0x80 (one table of number, name
// and handler), guest paths, pipes, stores and processes. Not installed.
//
// A process is a processor (engine room) plus what the kernel keeps for it.
// Tools watch every process and service through tools/tools.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../engine/engine.h"
#include "../ridemu.h"
#include "../tools/tools.h"
#include "services.h"

namespace ridemu::detail {

// ---- paths (paths.cpp) ----
struct Resolved {
  std::string guest;  // canonical guest path, "/" or "/a/b"
  std::string host;   // host path under the root
};
// Resolves `path` (absolute, or relative to the guest directory `cwd`) inside
// `root`; symbolic links are followed inside the guest's namespace (the last
// component only when follow_last). 0 or a negative error number.
int resolve_path(const std::string& root, const std::string& cwd, const std::string& path,
                 bool follow_last, Resolved& out);
// Opens a resolved path with the host's open `flags` (files are made 0644):
// a descriptor or a negative error. The open goes through openat2 with
// RESOLVE_IN_ROOT below `root_fd` (the root, opened with O_PATH), a second
// wall should the host change the tree after resolve_path; where the host
// kernel has no openat2 (before Linux 5.6, or a sandbox that refuses it),
// by the resolved host path.
int open_in_root(int root_fd, const Resolved& r, int flags);

// ---- whole-file stores (store.cpp) ----
// The file a store is written to, in the directory of `target`: a descriptor
// or a negative error; `temp` is its name, "" while it has none.
int make_temp(const std::string& target, std::string& temp);
// Puts a finished store in place of `target` in one rename: 0 or an error.
int32_t put_in_place(int fd, std::string temp, const std::string& target);
// Closes an unfinished store and removes its temporary name.
void drop_temp(int fd, const std::string& temp);
bool write_all(int fd, const uint8_t* data, size_t n);

// ---- a root copied for one run (root.cpp) ----
// Copies the tree `from` into the directory `to`, files as hard links where
// possible: "" or why not.
std::string clone_root(const std::string& from, const std::string& to);
// Gives a file that is linked elsewhere a copy of its own: 0 or an error.
int32_t privatize(const std::string& host);

// ---- the run's disk budget (disk.cpp) ----
// What the host file or directory `host` takes of the run's disk budget.
int64_t footprint(const std::string& host);

// ---- open files (files.cpp) ----
// An in-memory pipe: at most kPipeCapacity bytes wait in it.
class Pipe {
 public:
  // Takes what fits of `n` bytes: how many (0 when it is full).
  size_t write(const uint8_t* src, size_t n);
  // Hands over up to `n` bytes: how many (0 when it is empty).
  size_t read(uint8_t* dst, size_t n);

 private:
  size_t available() const { return data_.size() - read_pos_; }
  std::string data_;
  size_t read_pos_ = 0;
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
struct Service;

struct Process : Cpu::Events {
  Machine* machine = nullptr;
  Cpu cpu;
  int pid = 0;
  int depth = 0;
  std::string cwd = "/";
  std::string image_path;                     // host path of the image
  std::shared_ptr<const Image> image;
  std::shared_ptr<const Symbols> symbols;     // read when a tool first asks
  std::map<int, std::shared_ptr<OpenFile>> fds;
  std::map<int, int> children;  // finished children: pid -> status
  bool exited = false;
  int exit_status = 0;
  // A call whose second step waits until the engine has stopped.
  struct Parked {
    const Service* service;
    ServiceCall args;
    TraceRecord rec;
  };
  std::optional<Parked> parked;

  // What the processor reports (machine.cpp).
  void trap(Cpu&) override;
  void block(Cpu&, const Block&) override;
  void block_cut(Cpu&, const Block&, uint32_t ran) override;
  void instruction(Cpu&, uint32_t eip) override;

  ProcessView view();
};

struct Stream {
  int owner = 0;
  int fd = -1;
  std::string temp, target;  // temp: "" while the file has no name
  int64_t counted = 0;       // of the disk budget: a block and the bytes written
};

// One service request being served.
struct Call {
  Machine& m;
  Process& p;
  const ServiceCall& args;
  TraceRecord& rec;
  uint32_t ebx() const { return args.ebx; }
  uint32_t ecx() const { return args.ecx; }
  uint32_t edx() const { return args.edx; }
};
using Handler = int32_t (*)(Call&);
// A handler's result when its process ended inside the call (the run's time
// limit ran out while it waited, or the console lost its reader): the guest
// gets no result and the tools are not shown the call.
constexpr int32_t kEnded = INT32_MIN;
// A row of the kernel's table: a service (its name and arguments are in
// services.h) and the function that serves it. A service that starts a
// child on an engine of its own cannot do so inside this engine's callback:
// its row has a second step, `after`, which the machine runs once the
// engine has stopped (`serve`, if any, runs first; an error from it ends the
// call there).
struct Service {
  uint32_t nr;
  Handler serve;
  Handler after = nullptr;
};
// The table (services.cpp), and the row for `nr` or null.
const std::vector<Service>& services();
const Service* find_service(uint32_t nr);

// What the service functions share (services.cpp): the host's errno as a
// result (-EPERM when it is 0); the `count` bytes the guest hands over at
// `addr` (-EINVAL for a count with the top bit set, -EFAULT for memory it
// cannot read).
int32_t neg_errno();
int32_t guest_bytes(Call& c, uint32_t addr, uint32_t count, std::vector<uint8_t>& data);

// ---- the services on the tree of names (tree_services.cpp) ----
int32_t sys_writefile(Call& c);
int32_t sys_mkdir(Call& c);
int32_t sys_unlink(Call& c);
int32_t sys_rmdir(Call& c);
int32_t sys_mkfifo(Call& c);
int32_t sys_getcwd(Call& c);
int32_t sys_chdir(Call& c);
int32_t sys_stream_begin(Call& c);
int32_t sys_stream_write(Call& c);
int32_t sys_stream_end(Call& c);

// ---- launching programs (launch.cpp) ----
// The second steps of the run request and of spawn.
int32_t run_request(Call& c);
int32_t spawn(Call& c);

class Machine {
 public:
  explicit Machine(const Config& config);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Outcome run_top(const std::string& image,
                  const std::vector<std::optional<std::string>>& argv);

  // (launch.cpp) Starts the image at a resolved path as a process and
  // runs it to its end: its status (exit status & 0xFF, or kStatusFault) and
  // pid, or a negative error when it could not be started.
  int run_child(Process& parent, const Resolved& image,
                const std::vector<std::optional<std::string>>& argv, int& pid);
  // (launch.cpp) The run request's line (and a script's lines): 0 or an
  // error; `status` gets the child's status when one ran.
  int32_t run_line(Process& p, const std::string& line, int depth, int& status);

  void serve(Process& p);  // from the trap
  int alloc_fd(Process& p, std::shared_ptr<OpenFile> f);
  // Reads and resolves a path argument (recorded in rec.path).
  int32_t path_arg(Process& p, uint32_t ptr, bool follow, Resolved& r, TraceRecord& rec);
  // (files.cpp) The console and standard input, for process `p`: bytes
  // written or read, or kEnded when `p` ended while it waited.
  int32_t console_write(Process& p, const uint8_t* data, size_t n);
  int32_t stdin_read(Process& p, uint8_t* dst, size_t n);
  // (files.cpp) Waits until the host descriptor `fd` is ready for poll's
  // `events` or the run's time limit is spent: false for the limit.
  bool wait_ready(int fd, short events) const;
  // (files.cpp) Ends `p` inside its call: with the limit's fault at its trap,
  // or as a program ends whose output's reader has gone.
  void end_by_limit(Process& p);
  void end_by_broken_pipe(Process& p);
  // True once the time limit or the instruction budget is spent: then no
  // more work starts anywhere in the run.
  bool spent() const;
  // The fault that ends a process at `eip` once the run's limit is spent.
  Fault limit_fault(uint32_t eip) const;
  std::chrono::microseconds time_left() const;
  void stream_drop_owned(int pid);
  // (disk.cpp) The run's disk budget: whether `bytes` more fit, and a
  // change in what the run's files take.
  bool disk_fits(int64_t bytes) const;
  void disk_count(int64_t bytes);
  // (disk.cpp) Writes to an open host file as much as the disk budget
  // leaves room for: bytes written, -ENOSPC for none, or the host's error.
  int32_t file_write(int fd, const uint8_t* data, size_t n);

  const Config& config;
  std::string root;  // realpath of the root ("" for the host's "/")
  int root_fd = -1;  // the root, opened with O_PATH
  bool linked_root = false;  // its files may be links to another tree
  std::map<std::string, std::shared_ptr<Pipe>> fifos;  // by guest path
  std::map<int, Stream> streams;
  int next_stream = 1;
  Tools tools;

 private:
  int run_process(std::shared_ptr<const Image> image, const std::string& path,
                  const std::vector<std::optional<std::string>>& argv, const std::string& cwd,
                  int depth, int& pid, std::string& why);
  // Gives the guest a call's result and shows the call to the tools.
  void complete(Process& p, TraceRecord& rec, int32_t result);
  int32_t run_script(Process& p, const Resolved& script, int depth);  // (launch.cpp)

  std::string setup_error_;
  std::string scratch_;  // a temporary root made for this run
  Outcome outcome_;
  Counter counter_;
  std::chrono::steady_clock::time_point deadline_;
  size_t stdin_pos_ = 0;
  bool stdin_eof_ = false;
  int next_pid_ = 1;
  int processes_ = 0;
  uint64_t memory_used_ = 0;  // guest memory the run's live processes map
  int64_t disk_used_ = 0;     // what the run's files take of the disk budget
  int scripts_ = 0;
  bool limit_reported_ = false;  // the line for a spent limit was written
  std::string limit_fault_;      // ... and what it said
};

}  // namespace ridemu::detail
