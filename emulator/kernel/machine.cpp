// The machine: the root and the tools of a run, its limits, processes and
// their run loop, and the way a trap reaches its service.
//
// A process runs until it exits, faults, or makes a call with a second step
// (kernel.h: one that starts a child). For those the trap stops its
// processor; the loop here then runs the second step, stores the result in
// EAX and resumes the process after its trap. Engines are never nested
// inside a callback.
#include <fcntl.h>
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

bool is_limit(const Fault& f) { return f.kind == Fault::Limit; }

// The calls shown under a fault line.
constexpr size_t kCallersShown = 8;

FILE* open_tool_output(const std::string& name, std::string& error) {
  std::string why;
  FILE* f = open_output(name, why);
  if (!f) error = "cannot open " + name + ": " + why;
  return f;
}

}  // namespace

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
  root_fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (root_fd < 0) {
    setup_error_ = "cannot open the root " + root + ": " + std::strerror(errno);
    return;
  }
  if (root == "/") root.clear();  // joined paths then start with "/"

  if (cfg.record) tools.add(make_recorder(outcome_));
  if (!cfg.trace_file.empty()) {
    FILE* f = open_tool_output(cfg.trace_file, setup_error_);
    if (!f) return;
    tools.add(make_json_trace(f, f != stderr));
  }
  if (!cfg.strace_file.empty() || cfg.strace_summary) {
    FILE* f = open_tool_output(cfg.strace_file.empty() ? "-" : cfg.strace_file, setup_error_);
    if (!f) return;
    StraceOptions options{!cfg.strace_file.empty(), cfg.strace_summary, cfg.strace_only};
    auto strace = make_strace(f, f != stderr, options, setup_error_);
    if (!strace) return;
    tools.add(std::move(strace));
  }
  if (!cfg.profile_file.empty()) {
    auto profiler = make_profiler(cfg.profile_file, setup_error_);
    if (!profiler) return;
    tools.add(std::move(profiler));
  }
  if (!cfg.coverage_file.empty()) {
    auto coverage = make_coverage(cfg.coverage_file, setup_error_);
    if (!coverage) return;
    tools.add(std::move(coverage));
  }
  if (cfg.gdb_port) {
    auto stub = make_gdb_stub(
        cfg.gdb_port, cfg.time_limit_ms ? std::optional(deadline_) : std::nullopt, setup_error_);
    if (!stub) return;
    tools.add(std::move(stub));
  }
}

Machine::~Machine() {
  for (auto& [h, s] : streams) drop_temp(s.fd, s.temp);
  if (root_fd >= 0) ::close(root_fd);
  tools = Tools();  // files written and closed before the root goes
  if (!scratch_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(scratch_, ec);
  }
}

bool Machine::spent() const {
  if (counter_.spent()) return true;
  return config.time_limit_ms && std::chrono::steady_clock::now() >= deadline_;
}

std::chrono::microseconds Machine::time_left() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(deadline_ -
                                                               std::chrono::steady_clock::now());
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
      disk_count(-it->second.counted);
      it = streams.erase(it);
    } else {
      ++it;
    }
  }
}

Fault Machine::limit_fault(uint32_t eip) const { return detail::limit_fault(counter_, eip); }

void Machine::serve(Process& p) {
  // Past the time limit no trap is served (the engine's own timer may not
  // have stopped it yet).
  if (config.time_limit_ms && std::chrono::steady_clock::now() >= deadline_) {
    end_by_limit(p);
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
  tools.serving(p.view(), call.nr);
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
    result = service->serve ? service->serve(c) : 0;
    if (result == kEnded) return;
    if (service->after && result == 0) {
      p.parked = Process::Parked{service, call, std::move(rec)};
      cpu.stop();
      return;
    }
  }
  complete(p, rec, result);
}

void Machine::complete(Process& p, TraceRecord& rec, int32_t result) {
  rec.result = result;
  p.cpu.set_reg(UC_X86_REG_EAX, static_cast<uint32_t>(result));
  tools.service(p.view(), rec);
}

int Machine::run_process(std::shared_ptr<const Image> image, const std::string& path,
                         const std::vector<std::optional<std::string>>& argv,
                         const std::string& cwd, int depth, int& pid, std::string& why) {
  if (spent() || processes_ >= config.max_processes) return -EAGAIN;
  const uint64_t memory = image->mapped + kStackSize;
  if (memory_used_ + memory > config.max_memory) {
    why = "needs " + std::to_string(memory >> 10) + " KiB of memory with its stack, more than the "
          "run's memory budget (--max-memory) leaves: " +
          std::to_string((config.max_memory - memory_used_) >> 10) + " KiB";
    return -ENOMEM;
  }
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
  memory_used_ += memory;
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
        cpu.fail(limit_fault(cpu.eip() >= kStackTop ? p.image->entry : cpu.eip()));
        break;
      }
      timeout_us = static_cast<uint64_t>(left);
    }
    cpu.run(timeout_us);
    if (p.exited || cpu.fault) break;
    if (!p.parked) {
      cpu.fail(cpu.timed_out() ? limit_fault(cpu.eip())
                               : Fault{"the processor stopped", cpu.eip(), cpu.eip()});
      break;
    }
    Process::Parked parked = std::move(*p.parked);
    p.parked.reset();
    Call c{*this, p, parked.args, parked.rec};
    complete(p, parked.rec, parked.service->after(c));
    // A child spent the run's limit: the whole run stops here too.
    if (spent()) {
      cpu.fail(limit_fault(cpu.eip()));
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
      const auto callers = caller_lines(*cpu.fault, cpu, &p.view().symbols(), kCallersShown);
      if (config.faults_to_stderr) {
        std::string text = "ridid-emu: guest fault: " + line + "\n";
        for (const std::string& c : callers) text += "ridid-emu:   called from " + c + "\n";
        if (::write(2, text.data(), text.size()) < 0) { /* nothing more to do */ }
      }
      if (depth == 0) outcome_.callers = callers;
      if (is_limit(*cpu.fault)) {
        limit_reported_ = true;
        limit_fault_ = line;
      }
    }
    why = line;
  }
  tools.ended(p.view(), status, cpu.fault ? &*cpu.fault : nullptr, line);
  memory_used_ -= memory;
  return status;
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
