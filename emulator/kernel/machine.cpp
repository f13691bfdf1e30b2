// The machine: processes, their run loop, run requests, scripts and spawn,
// the console and standard input.
//
// A process runs until it exits, faults, or makes a request that starts a
// child (run request, spawn). For those the trap stops its processor; the
// loop here then runs the child to its end on a processor of its own, stores
// the result in the parent's EAX and resumes the parent after its trap.
// Engines are never nested inside a callback.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "kernel.h"

namespace ridemu::detail {
namespace {

constexpr const char* kTimeLimit = "time limit exceeded";
constexpr const char* kBudget = "instruction budget exceeded";

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    size_t j = line.find(' ', i);
    if (j == std::string::npos) j = line.size();
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j + 1;
  }
  return words;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool is_regular(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_limit(const Fault& f) { return f.kind == Fault::Limit; }

FILE* open_output(const std::string& name, std::string& error) {
  if (name == "-") return stderr;
  FILE* f = std::fopen(name.c_str(), "w");
  if (!f) error = "cannot open " + name + ": " + std::strerror(errno);
  return f;
}

}  // namespace

OpenFile::~OpenFile() {
  if (host_fd >= 0) ::close(host_fd);
}

void Process::trap(Cpu&) { machine->serve(*this); }
void Process::block(Cpu&, const Block& b) { machine->tools.block(view(), b); }
void Process::block_cut(Cpu&, const Block& b, uint32_t ran) {
  machine->tools.block_cut(view(), b, ran);
}
void Process::instruction(Cpu&, uint32_t eip) { machine->tools.instruction(view(), eip); }

ProcessView Process::view() {
  return ProcessView{pid, depth, image_path, *image, cpu, &symbols};
}

Machine::Machine(const Config& cfg) : config(cfg) {
  counter_.max = cfg.max_instructions;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(cfg.time_limit_ms);
  std::string dir = cfg.root.empty() ? "." : cfg.root;
  if (cfg.scratch_root || cfg.copy_root) {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/ridid-root-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
      setup_error_ = std::string("cannot make a temporary root: ") + std::strerror(errno);
      return;
    }
    scratch_ = tmpl;
    if (cfg.copy_root && !cfg.scratch_root) {
      const std::string why = clone_root(dir, scratch_);
      if (!why.empty()) {
        setup_error_ = "cannot copy the root " + dir + ": " + why;
        return;
      }
      linked_root = true;
    }
    dir = scratch_;
  }
  char* real = realpath(dir.c_str(), nullptr);
  struct stat st;
  if (!real || stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
    setup_error_ = "root " + dir + " is not a directory";
    std::free(real);
    return;
  }
  root = real;
  std::free(real);
  if (root == "/") root.clear();  // joined paths then start with "/"

  if (cfg.record) tools.add(make_recorder(outcome_));
  if (!cfg.trace_file.empty()) {
    FILE* f = open_output(cfg.trace_file, setup_error_);
    if (!f) return;
    tools.add(make_json_trace(f, f != stderr));
  }
  if (!cfg.strace_file.empty()) {
    FILE* f = open_output(cfg.strace_file, setup_error_);
    if (!f) return;
    tools.add(make_strace(f, f != stderr));
  }
  if (!cfg.profile_file.empty()) {
    auto profiler = make_profiler(cfg.profile_file, setup_error_);
    if (!profiler) return;
    tools.add(std::move(profiler));
  }
  if (cfg.gdb_port) {
    auto stub = make_gdb_stub(cfg.gdb_port, setup_error_);
    if (!stub) return;
    tools.add(std::move(stub));
  }
}

Machine::~Machine() {
  for (auto& [h, s] : streams) drop_temp(s.fd, s.temp);
  tools = Tools();  // files written and closed before the root goes
  if (!scratch_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(scratch_, ec);
  }
}

bool Machine::spent() const {
  if (counter_.max && counter_.count > counter_.max) return true;
  return config.time_limit_ms && std::chrono::steady_clock::now() >= deadline_;
}

std::chrono::microseconds Machine::time_left() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(deadline_ -
                                                               std::chrono::steady_clock::now());
}

void Machine::console_write(const uint8_t* data, size_t n) {
  if (config.capture_console) outcome_.console.append(reinterpret_cast<const char*>(data), n);
  if (!config.console_to_stdout) return;
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(1, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;  // a closed stdout does not stop the guest
    done += static_cast<size_t>(w);
  }
}

int Machine::stdin_read(uint8_t* dst, size_t n) {
  if (n == 0) return 0;
  if (config.stdin_data) {
    const std::string& s = *config.stdin_data;
    const size_t k = std::min(n, s.size() - std::min(stdin_pos_, s.size()));
    std::memcpy(dst, s.data() + stdin_pos_, k);
    stdin_pos_ += k;
    return static_cast<int>(k);
  }
  if (stdin_eof_) return 0;
  for (;;) {
    const ssize_t r = ::read(0, dst, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      stdin_eof_ = true;
      return 0;
    }
    return static_cast<int>(r);
  }
}

int Machine::alloc_fd(Process& p, std::shared_ptr<OpenFile> f) {
  for (int fd = 0; fd < kMaxFds; ++fd) {
    if (!p.fds.count(fd)) {
      p.fds[fd] = std::move(f);
      return fd;
    }
  }
  return -EMFILE;
}

int32_t Machine::path_arg(Process& p, uint32_t ptr, bool follow, Resolved& r, TraceRecord& rec) {
  std::string path;
  if (const int e = p.cpu.mem.read_string(ptr, kMaxPath, path)) return e;
  rec.path = path;
  return resolve_path(root, p.cwd, path, follow, r);
}

void Machine::stream_drop_owned(int pid) {
  for (auto it = streams.begin(); it != streams.end();) {
    if (it->second.owner == pid) {
      drop_temp(it->second.fd, it->second.temp);
      it = streams.erase(it);
    } else {
      ++it;
    }
  }
}

std::string Machine::limit_message() const {
  return counter_.max && counter_.count > counter_.max ? kBudget : kTimeLimit;
}

void Machine::serve(Process& p) {
  // Past the time limit no trap is served (the engine's own timer may not
  // have stopped it yet).
  if (config.time_limit_ms && std::chrono::steady_clock::now() >= deadline_) {
    const uint32_t eip = p.cpu.eip() - 2;  // the int 0x80
    p.cpu.fail({kTimeLimit, eip, eip, Fault::Limit});
    return;
  }
  Cpu& cpu = p.cpu;
  ServiceCall call;
  call.pid = p.pid;
  call.depth = p.depth;
  call.nr = cpu.reg(UC_X86_REG_EAX);
  call.ebx = cpu.reg(UC_X86_REG_EBX);
  call.ecx = cpu.reg(UC_X86_REG_ECX);
  call.edx = cpu.reg(UC_X86_REG_EDX);
  if (config.service_hook) config.service_hook(call);

  TraceRecord rec;
  rec.pid = p.pid;
  rec.nr = call.nr;
  rec.ebx = call.ebx;
  rec.ecx = call.ecx;
  rec.edx = call.edx;
  const Service* service = find_service(call.nr);
  if (const ServiceInfo* info = service_info(call.nr)) rec.name = info->name;
  int32_t result = -ENOSYS;
  if (call.result) {
    result = *call.result;
  } else if (service) {
    Call c{*this, p, call, rec};
    result = service->serve(c);
    if (p.pending != Process::Pending::None) {
      p.pending_record = std::move(rec);
      cpu.stop();
      return;
    }
  }
  rec.result = result;
  cpu.set_reg(UC_X86_REG_EAX, static_cast<uint32_t>(result));
  tools.service(p.view(), rec);
}

void Machine::finish_pending(Process& p) {
  TraceRecord rec = std::move(p.pending_record);
  int status = -1;
  const int32_t result = p.pending == Process::Pending::RunRequest
                             ? finish_run_request(p, rec, status)
                             : finish_spawn(p, rec, status);
  p.pending = Process::Pending::None;
  if (status >= 0) rec.status = status;
  rec.result = result;
  p.cpu.set_reg(UC_X86_REG_EAX, static_cast<uint32_t>(result));
  tools.service(p.view(), rec);
}

int Machine::run_process(std::shared_ptr<const Image> image, const std::string& path,
                         const std::vector<std::optional<std::string>>& argv,
                         const std::string& cwd, int depth, int& pid, std::string& why) {
  if (spent() || processes_ >= kMaxProcesses) return -EAGAIN;
  auto owned = std::make_unique<Process>();
  Process& p = *owned;
  p.machine = this;
  p.depth = depth;
  p.cwd = cwd;
  p.image = std::move(image);
  p.image_path = path;
  p.pid = next_pid_;
  Cpu::Options options;
  if (config.count || config.max_instructions) options.counter = &counter_;
  options.blocks = tools.wants_blocks();
  options.instructions = tools.wants_instructions(p.view());
  bool too_long = false;
  why = p.cpu.load(*p.image, argv, &p, options, too_long);
  if (!why.empty()) return too_long ? -E2BIG : -ENOMEM;
  pid = p.pid;
  ++next_pid_;
  ++processes_;
  p.fds[0] = std::make_shared<OpenFile>(OpenFile::Stdin);
  p.fds[0]->can_read = true;
  p.fds[1] = std::make_shared<OpenFile>(OpenFile::Console);
  p.fds[1]->can_write = true;
  // Descriptors 0 to 2 are the standard ones; 2 is the console as well, so a
  // process's own files start at 3.
  p.fds[2] = p.fds[1];
  tools.started(p.view());

  Cpu& cpu = p.cpu;
  for (;;) {
    uint64_t timeout_us = 0;
    if (config.time_limit_ms) {
      const auto left = time_left().count();
      if (left <= 0) {
        // Not started yet, it is still on its way to the entry point.
        const uint32_t at = cpu.eip() >= kStackTop ? p.image->entry : cpu.eip();
        cpu.fail({kTimeLimit, at, at, Fault::Limit});
        break;
      }
      timeout_us = static_cast<uint64_t>(left);
    }
    cpu.run(timeout_us);
    if (p.exited || cpu.fault) break;
    if (p.pending == Process::Pending::None) {
      cpu.fail(cpu.timed_out() ? Fault{kTimeLimit, cpu.eip(), cpu.eip(), Fault::Limit}
                               : Fault{"the processor stopped", cpu.eip(), cpu.eip()});
      break;
    }
    finish_pending(p);
    // A child spent the run's limit: the whole run stops here too.
    if (spent()) {
      cpu.fail({limit_message(), cpu.eip(), cpu.eip(), Fault::Limit});
      break;
    }
  }
  stream_drop_owned(p.pid);
  int status = p.exit_status & 0xFF;
  std::string line;
  if (cpu.fault) {
    status = kStatusFault;
    if (is_limit(*cpu.fault) && limit_reported_) {
      line = limit_fault_;  // reported once, where it was spent
    } else {
      line = fault_line(*cpu.fault, cpu, &p.view().symbols());
      if (depth > 0) line += " in pid " + std::to_string(p.pid);
      if (config.faults_to_stderr) {
        const std::string text = "ridid-emu: guest fault: " + line + "\n";
        if (::write(2, text.data(), text.size()) < 0) { /* nothing more to do */ }
      }
      if (is_limit(*cpu.fault)) {
        limit_reported_ = true;
        limit_fault_ = line;
      }
    }
    why = line;
  }
  tools.ended(p.view(), status, cpu.fault ? &*cpu.fault : nullptr, line);
  return status;
}

Outcome Machine::run_top(const std::string& path,
                         const std::vector<std::optional<std::string>>& argv) {
  const auto refuse = [&](int status, const std::string& why) {
    outcome_.kind = Outcome::Refused;
    outcome_.status = status;
    outcome_.message = why;
    return std::move(outcome_);
  };
  if (!setup_error_.empty()) return refuse(kStatusUsage, setup_error_);
  std::vector<uint8_t> bytes;
  std::string why = read_host_file(path, kMaxImageFile, bytes);
  if (!why.empty()) return refuse(kStatusNoImage, why);
  auto image = std::make_shared<Image>();
  why = parse_image(std::move(bytes), *image);
  if (!why.empty() && ends_with(path, ".shell"))
    why += " (a .shell script is run by the run command: ridid-emu run.dura SCRIPT)";
  if (!why.empty()) return refuse(kStatusRefused, why);
  int pid = 0;
  const int status = run_process(image, path, argv, "/", 0, pid, why);
  outcome_.instructions = counter_.count;
  if (status == -E2BIG) return refuse(kStatusTooLong, why);
  if (status < 0) return refuse(kStatusRefused, why.empty() ? std::strerror(-status) : why);
  if (status == kStatusFault && !why.empty()) {
    outcome_.kind = Outcome::Faulted;
    outcome_.message = why;
  } else {
    outcome_.kind = Outcome::Exited;
  }
  outcome_.status = status;
  return std::move(outcome_);
}

int32_t Machine::finish_run_request(Process& p, TraceRecord& rec, int& status) {
  std::string line;
  if (const int e = p.cpu.mem.read_string(rec.ebx, kMaxLine, line)) return e;
  rec.line = line;
  return run_line(p, line, p.depth + 1, status);
}

int32_t Machine::run_line(Process& p, const std::string& line, int depth, int& status) {
  if (spent()) return -EAGAIN;
  const std::vector<std::string> words = split_words(line);
  if (words.empty()) return -EINVAL;
  if (depth > kMaxDepth) return -ELOOP;
  const std::string& name = words[0];
  std::vector<std::string> candidates{name};
  if (name.find('/') == std::string::npos) candidates.push_back("/bin/" + name);
  Resolved found;
  bool have = false;
  for (const auto& c : candidates) {
    Resolved r;
    if (resolve_path(root, p.cwd, c, true, r) == 0 && is_regular(r.host)) {
      found = r;
      have = true;
      break;
    }
  }
  if (!have) return -ENOENT;

  if (ends_with(name, ".shell")) {
    // Scripts start no process, so the process limit does not bound them.
    if (scripts_ >= kMaxScripts) return -EAGAIN;
    ++scripts_;
    std::vector<uint8_t> text;
    if (!read_host_file(found.host, kMaxScript, text).empty()) return -EACCES;
    const std::string all(text.begin(), text.end());
    size_t i = 0;
    while (i < all.size()) {
      // The limits hold for the whole run, scripts included.
      if (spent()) return -EAGAIN;
      size_t j = all.find('\n', i);
      if (j == std::string::npos) j = all.size();
      std::string l = all.substr(i, j - i);
      i = j + 1;
      while (!l.empty() && (l.back() == '\r' || l.back() == ' ' || l.back() == '\t'))
        l.pop_back();
      const size_t start = l.find_first_not_of(" \t");
      if (start == std::string::npos || l[start] == '#') continue;
      l = l.substr(start);
      int child_status = -1;
      TraceRecord rec;
      rec.pid = p.pid;
      rec.nr = SYS_RUN;
      rec.name = "run";
      rec.script = true;
      rec.path = found.guest;
      rec.line = l;
      rec.result = run_line(p, l, depth + 1, child_status);
      if (child_status >= 0) rec.status = child_status;
      const int32_t r = rec.result;
      tools.service(p.view(), rec);
      if (r < 0) return r;  // a line that cannot run ends the script
    }
    return 0;
  }

  std::vector<std::optional<std::string>> argv(words.begin(), words.end());
  int pid = 0;
  const int st = run_child(p, found.host, argv, pid);
  if (st < 0) return st;
  status = st;
  return 0;
}

int Machine::run_child(Process& parent, const std::string& host,
                       const std::vector<std::optional<std::string>>& argv, int& pid) {
  std::vector<uint8_t> bytes;
  if (!read_host_file(host, kMaxImageFile, bytes).empty()) return -EACCES;
  auto image = std::make_shared<Image>();
  if (!parse_image(std::move(bytes), *image).empty()) return -ENOEXEC;
  std::string why;
  return run_process(image, host, argv, parent.cwd, parent.depth + 1, pid, why);
}

int32_t Machine::finish_spawn(Process& p, TraceRecord& rec, int& status) {
  std::string path;
  if (const int e = p.cpu.mem.read_string(rec.ebx, kMaxPath, path)) return e;
  rec.path = path;
  const int32_t count = static_cast<int32_t>(rec.edx);
  if (count < 0) return -EINVAL;
  if (static_cast<uint32_t>(count) > kMaxSpawnArgs) return -E2BIG;
  std::vector<std::optional<std::string>> argv;
  if (count == 0) {
    argv.push_back(path);
  } else {
    std::vector<uint32_t> ptrs(static_cast<size_t>(count));
    if (!p.cpu.mem.read(rec.ecx, ptrs.data(), static_cast<uint32_t>(count) * 4)) return -EFAULT;
    for (uint32_t ptr : ptrs) {
      if (!ptr) {
        argv.push_back(std::nullopt);
        continue;
      }
      std::string a;
      if (const int bad = p.cpu.mem.read_string(ptr, kMaxArg, a)) return bad;
      argv.push_back(std::move(a));
    }
  }
  if (p.depth + 1 > kMaxDepth) return -ELOOP;
  Resolved r;
  if (const int e = resolve_path(root, p.cwd, path, true, r)) return e;
  if (!is_regular(r.host)) return -ENOENT;
  int pid = 0;
  const int st = run_child(p, r.host, argv, pid);
  if (st < 0) return st;
  p.children[pid] = st;
  status = st;
  return pid;
}

}  // namespace ridemu::detail

namespace ridemu {
Outcome run(const std::string& image, const std::vector<std::optional<std::string>>& argv,
            const Config& config) {
  detail::Machine m(config);
  return m.run_top(image, argv);
}
std::string check_image(const std::vector<uint8_t>& bytes) {
  detail::Image image;
  return detail::parse_image(bytes, image);
}
}  // namespace ridemu
