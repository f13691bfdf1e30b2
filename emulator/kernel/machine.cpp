// The machine: one Unicorn engine per guest process, the run loop, guest
// faults, the console, standard input and the trace.
//
// A process runs in uc_emu_start until it exits, faults, or makes a request
// that starts a child (run request, spawn). For those the trap hook stops the
// engine; the loop here then runs the child to its end on an engine of its
// own, stores the result in the parent's EAX and resumes the parent after
// its trap instruction. Engines are never nested inside a hook.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "internal.h"

namespace ridemu::detail {
namespace {

void hook_intr(uc_engine* uc, uint32_t intno, void* user) {
  Process& p = *static_cast<Process*>(user);
  // A stop request takes effect at the end of the current block: nothing is
  // served once the process has faulted or exited.
  if (p.fault || p.exited || !p.mem_fault.empty()) {
    uc_emu_stop(uc);
    return;
  }
  if (intno == 0x80) {
    p.machine->serve(p);
    return;
  }
  uint32_t eip = reg_value(uc, UC_X86_REG_EIP);
  // Software interrupts leave EIP after the instruction: name the instruction.
  uint8_t before[2] = {0, 0};
  if (intno == 3 && p.mem.read(eip - 1, before + 1, 1) && before[1] == 0xCC) {
    eip -= 1;
  } else if (p.mem.read(eip - 2, before, 2) && before[0] == 0xCD && before[1] == intno) {
    eip -= 2;
  }
  std::string what;
  switch (intno) {
    case 0: what = "division error"; break;
    case 1: what = "debug trap"; break;
    case 3: what = "breakpoint"; break;
    case 4: what = "overflow trap"; break;
    case 5: what = "bound range exceeded"; break;
    case 6: what = "invalid instruction"; break;
    case 7: what = "coprocessor not available"; break;
    case 8: what = "double fault"; break;
    case 12: what = "stack fault"; break;
    case 13: what = "general protection fault"; break;
    case 14: what = "page fault"; break;
    case 16: what = "floating-point error"; break;
    case 17: what = "alignment check"; break;
    case 19: what = "SIMD floating-point error"; break;
    default: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "interrupt 0x%02x", intno);
      what = buf;
    }
  }
  p.fault = what + at_eip(eip, eip);
  uc_emu_stop(uc);
}

bool hook_mem_invalid(uc_engine*, uc_mem_type type, uint64_t addr, int,
                      int64_t, void* user) {
  Process& p = *static_cast<Process*>(user);
  const char* what = "bad access";
  switch (type) {
    case UC_MEM_READ_UNMAPPED: what = "unmapped read"; break;
    case UC_MEM_WRITE_UNMAPPED: what = "unmapped write"; break;
    case UC_MEM_FETCH_UNMAPPED: what = "unmapped fetch"; break;
    case UC_MEM_READ_PROT: what = "protected read"; break;
    case UC_MEM_WRITE_PROT: what = "protected write"; break;
    case UC_MEM_FETCH_PROT: what = "protected fetch"; break;
    default: break;
  }
  // The message is made once the engine has stopped, from the EIP it stopped
  // with (kept exact at data accesses by the hook added in run_process).
  if (!p.fault && p.mem_fault.empty()) {
    p.mem_fault = what;
    p.fault_addr = static_cast<uint32_t>(addr);
  }
  return false;
}

bool hook_insn_invalid(uc_engine* uc, void* user) {
  Process& p = *static_cast<Process*>(user);
  const uint32_t eip = reg_value(uc, UC_X86_REG_EIP);
  if (!p.fault) p.fault = "invalid instruction" + at_eip(eip, eip);
  return false;
}

// Port I/O and the fast system-call instructions mean nothing to a ridid
// program: they are faults rather than silent no-ops.
void insn_fault(uc_engine* uc, void* user, const char* what) {
  Process& p = *static_cast<Process*>(user);
  // EIP here may be the start of the instruction's block.
  const uint32_t eip = reg_value(uc, UC_X86_REG_EIP);
  if (!p.fault) p.fault = std::string(what) + at_eip(eip, eip);
  uc_emu_stop(uc);
}
uint32_t hook_in(uc_engine* uc, uint32_t, int, void* user) {
  insn_fault(uc, user, "port input instruction");
  return 0;
}
void hook_out(uc_engine* uc, uint32_t, int, uint32_t, void* user) {
  insn_fault(uc, user, "port output instruction");
}
void hook_syscall(uc_engine* uc, void* user) {
  insn_fault(uc, user, "fast system call instruction");
}

void hook_code(uc_engine*, uint64_t addr, uint32_t, void* user) {
  Process& p = *static_cast<Process*>(user);
  p.machine->count_instruction(p, static_cast<uint32_t>(addr));
}

void hook_nop(uc_engine*, uc_mem_type, uint64_t, int, int64_t, void*) {}

// An instruction breakpoint set through DR7 brings the engine itself down, so
// a write to a debug register (0F 23 after any prefixes) is a general
// protection fault, as it is for a user program on the machine.
void hook_debug_write(uc_engine* uc, uint64_t addr, uint32_t size, void* user) {
  Process& p = *static_cast<Process*>(user);
  uint8_t insn[15];
  uint32_t n = 0;
  while (n < std::min<uint32_t>(size, sizeof insn) &&
         uc_mem_read(uc, addr + n, insn + n, 1) == UC_ERR_OK)
    ++n;
  const auto prefix = [](uint8_t b) {
    return b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E || b == 0x64 || b == 0x65 ||
           b == 0x66 || b == 0x67 || b == 0xF0 || b == 0xF2 || b == 0xF3;
  };
  uint32_t k = 0;
  while (k < n && prefix(insn[k])) ++k;
  if (k + 1 < n && insn[k] == 0x0F && insn[k + 1] == 0x23) {
    const uint32_t eip = static_cast<uint32_t>(addr);
    if (!p.fault) p.fault = "general protection fault" + at_eip(eip, eip);
    uc_emu_stop(uc);
  }
}

// Watches the instructions that may write a debug register: in code that
// cannot change, those whose bytes hold 0F 23 at most 14 bytes in; writable
// code whole.
void watch_debug_writes(Process& p) {
  const std::vector<Region>& rs = p.mem.regions;
  for (size_t i = 0; i < rs.size();) {
    if (!(rs[i].prot & UC_PROT_EXEC)) {
      ++i;
      continue;
    }
    // A run of adjacent executable mappings: an instruction may cross them.
    const uint32_t begin = rs[i].begin;
    bool writable = false;
    size_t j = i;
    do writable |= (rs[j].prot & UC_PROT_WRITE) != 0;
    while (++j < rs.size() && (rs[j].prot & UC_PROT_EXEC) && rs[j].begin == rs[j - 1].end);
    const uint32_t end = rs[j - 1].end;
    i = j;
    std::vector<std::pair<uint32_t, uint32_t>> spots;  // [first, last] instruction starts
    if (!writable) {
      std::vector<uint8_t> code(end - begin);
      uc_mem_read(p.uc, begin, code.data(), code.size());
      for (uint32_t k = 0; k + 1 < code.size(); ++k) {
        if (code[k] != 0x0F || code[k + 1] != 0x23) continue;
        const uint32_t at = begin + k, first = at - std::min<uint32_t>(k, 14);
        if (!spots.empty() && first <= spots.back().second + 1)
          spots.back().second = at;
        else
          spots.emplace_back(first, at);
      }
    }
    if (writable || spots.size() > 64) spots.assign(1, {begin, end - 1});
    uc_hook h;
    for (const auto& [first, last] : spots)
      uc_hook_add(p.uc, &h, UC_HOOK_CODE, reinterpret_cast<void*>(hook_debug_write), &p,
                  first, last);
  }
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

}  // namespace

void remove_tree(const std::string& dir) {
  nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

OpenFile::~OpenFile() {
  if (host_fd >= 0) ::close(host_fd);
}

std::string at_eip(uint64_t addr, uint32_t eip) {
  char buf[48];
  std::snprintf(buf, sizeof buf, " at 0x%08" PRIx32 " (eip 0x%08" PRIx32 ")",
                static_cast<uint32_t>(addr), eip);
  return buf;
}

Process::~Process() {
  fds.clear();
  if (uc) uc_close(uc);
}

std::string json_escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

Machine::Machine(const Config& cfg) : config(cfg) {
  counting_ = cfg.count || cfg.max_instructions > 0;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(cfg.time_limit_ms);
  std::string dir = cfg.root;
  if (cfg.scratch_root) {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/ridid-root-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
      setup_error = std::string("cannot make a scratch root: ") + std::strerror(errno);
      return;
    }
    scratch_ = buf.data();
    dir = scratch_;
  }
  if (dir.empty()) dir = ".";
  char* real = realpath(dir.c_str(), nullptr);
  struct stat st;
  if (!real || stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
    setup_error = "root " + dir + " is not a directory";
    std::free(real);
    return;
  }
  root = real;
  std::free(real);
  if (root == "/") root.clear();  // joined paths then start with "/"
  if (!cfg.trace_file.empty()) {
    trace_file_ = std::fopen(cfg.trace_file.c_str(), "w");
    if (!trace_file_)
      setup_error = "cannot open trace file " + cfg.trace_file + ": " + std::strerror(errno);
  }
}

Machine::~Machine() {
  for (auto& [h, s] : streams_) {
    drop_temp(s.fd, s.temp);
  }
  if (trace_file_) std::fclose(trace_file_);
  if (!scratch_.empty()) remove_tree(scratch_);
}

void Machine::count_instruction(Process& p, uint32_t eip) {
  ++instructions_;
  if (config.max_instructions && instructions_ > config.max_instructions) {
    budget_exceeded_ = true;
    if (!p.fault) p.fault = "instruction budget exceeded" + at_eip(eip, eip);
    uc_emu_stop(p.uc);
  }
}

void Machine::console_write(Process&, const uint8_t* data, size_t n) {
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

void Machine::trace(TraceRecord r) {
  if (!trace_file_ && !config.record) return;
  std::string j = "{\"pid\":" + std::to_string(r.pid) + ",\"nr\":" + std::to_string(r.nr) +
                  ",\"ebx\":" + std::to_string(r.ebx) + ",\"ecx\":" + std::to_string(r.ecx) +
                  ",\"edx\":" + std::to_string(r.edx) + ",\"result\":" + std::to_string(r.result);
  if (r.path) j += ",\"path\":\"" + json_escape(*r.path) + "\"";
  if (r.line) j += ",\"line\":\"" + json_escape(*r.line) + "\"";
  if (r.status) j += ",\"status\":" + std::to_string(*r.status);
  if (r.packet) {
    j += ",\"packet\":[";
    for (int i = 0; i < 4; ++i) j += (i ? "," : "") + std::to_string((*r.packet)[i]);
    j += "]";
  }
  j += "}";
  if (trace_file_) {
    std::fputs(j.c_str(), trace_file_);
    std::fputc('\n', trace_file_);
    std::fflush(trace_file_);
  }
  if (config.record) {
    r.json = std::move(j);
    if (r.packet) outcome_.packets.push_back(ConsolePacket{r.pid, *r.packet});
    outcome_.trace.push_back(std::move(r));
  }
}

int Machine::run_process(const Image& image,
                         const std::vector<std::optional<std::string>>& argv,
                         const std::string& cwd, int depth, int& pid,
                         std::string& fault_message) {
  if (processes_ >= kMaxProcesses) return -11;  // EAGAIN
  Process p;
  p.machine = this;
  p.depth = depth;
  p.cwd = cwd;
  if (uc_open(UC_ARCH_X86, UC_MODE_32, &p.uc) != UC_ERR_OK) {
    p.uc = nullptr;
    return -12;  // ENOMEM
  }
  p.mem.uc = p.uc;
  uc_ctl_exits_enable(p.uc);  // no "until" address: only hooks stop a run
  uint32_t esp = 0;
  if (!load_image(p.mem, image, argv, esp).empty()) return -7;  // E2BIG
  p.pid = pid = next_pid_++;
  ++processes_;
  p.fds[0] = std::make_shared<OpenFile>(OpenFile::Stdin);
  p.fds[0]->can_read = true;
  p.fds[1] = std::make_shared<OpenFile>(OpenFile::Console);
  p.fds[1]->can_write = true;
  // Descriptors 0 to 2 are the standard ones; 2 is the console as well, so a
  // process's own files start at 3.
  p.fds[2] = p.fds[1];

  uc_hook h;
  uc_hook_add(p.uc, &h, UC_HOOK_INTR, reinterpret_cast<void*>(hook_intr), &p, 1, 0);
  uc_hook_add(p.uc, &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(hook_mem_invalid), &p, 1, 0);
  uc_hook_add(p.uc, &h, UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(hook_insn_invalid), &p, 1, 0);
  uc_hook_add(p.uc, &h, UC_HOOK_INSN, reinterpret_cast<void*>(hook_in), &p, 1, 0, UC_X86_INS_IN);
  uc_hook_add(p.uc, &h, UC_HOOK_INSN, reinterpret_cast<void*>(hook_out), &p, 1, 0, UC_X86_INS_OUT);
  uc_hook_add(p.uc, &h, UC_HOOK_INSN, reinterpret_cast<void*>(hook_syscall), &p, 1, 0,
              UC_X86_INS_SYSCALL);
  uc_hook_add(p.uc, &h, UC_HOOK_INSN, reinterpret_cast<void*>(hook_syscall), &p, 1, 0,
              UC_X86_INS_SYSENTER);
  // A data-access hook, even one on a range that is never touched, makes the
  // engine keep EIP exact at every load and store, so a bad access names the
  // instruction that made it rather than the start of its block.
  uc_hook_add(p.uc, &h, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
              reinterpret_cast<void*>(hook_nop), &p, 0xFFFFFFFCull, 0xFFFFFFFFull);
  if (counting_)
    uc_hook_add(p.uc, &h, UC_HOOK_CODE, reinterpret_cast<void*>(hook_code), &p, 1, 0);
  watch_debug_writes(p);

  uc_reg_write(p.uc, UC_X86_REG_ESP, &esp);
  // The x87 unit as after FNINIT: extended precision, round to nearest, all
  // exceptions masked, empty register stack.
  const uint32_t fpcw = 0x037F, fpsw = 0, fptag = 0xFFFF, mxcsr = 0x1F80;
  uc_reg_write(p.uc, UC_X86_REG_FPCW, &fpcw);
  uc_reg_write(p.uc, UC_X86_REG_FPSW, &fpsw);
  uc_reg_write(p.uc, UC_X86_REG_FPTAG, &fptag);
  uc_reg_write(p.uc, UC_X86_REG_MXCSR, &mxcsr);
  uint64_t eip = image.entry;
  for (;;) {
    uint64_t timeout_us = 0;
    if (config.time_limit_ms) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
          deadline_ - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        p.fault = "time limit exceeded" + at_eip(eip, static_cast<uint32_t>(eip));
        break;
      }
      timeout_us = static_cast<uint64_t>(left.count());
    }
    const uc_err e = uc_emu_start(p.uc, eip, 0, timeout_us, 0);
    eip = reg_value(p.uc, UC_X86_REG_EIP);
    if (!p.fault && !p.mem_fault.empty())
      p.fault = p.mem_fault + at_eip(p.fault_addr, static_cast<uint32_t>(eip));
    if (p.exited || p.fault) break;
    if (e != UC_ERR_OK) {
      p.fault = uc_strerror(e) + at_eip(eip, static_cast<uint32_t>(eip));
      break;
    }
    size_t timed_out = 0;
    if (p.pending == Process::Pending::None && timeout_us &&
        uc_query(p.uc, UC_QUERY_TIMEOUT, &timed_out) == UC_ERR_OK && timed_out) {
      p.fault = "time limit exceeded" + at_eip(eip, static_cast<uint32_t>(eip));
      break;
    }
    if (p.pending == Process::Pending::None) {
      uint8_t op = 0;
      if (p.mem.read(static_cast<uint32_t>(eip - 1), &op, 1) && op == 0xF4) --eip;
      p.fault = "halt instruction" + at_eip(eip, static_cast<uint32_t>(eip));
      break;
    }
    TraceRecord rec = std::move(p.pending_record);
    int status = -1;
    int32_t result;
    if (p.pending == Process::Pending::RunRequest) {
      result = finish_run_request(p, rec, status);
    } else {
      result = finish_spawn(p, rec, status);
    }
    p.pending = Process::Pending::None;
    if (status >= 0) rec.status = status;
    rec.result = result;
    uc_reg_write(p.uc, UC_X86_REG_EAX, &result);
    trace(std::move(rec));
  }
  stream_drop_owned(p.pid);
  if (p.fault) {
    fault_message = *p.fault;
    if (config.faults_to_stderr) {
      std::string line = "ridid-emu: guest fault: " + *p.fault;
      if (depth > 0) line += " in pid " + std::to_string(p.pid);
      line += "\n";
      if (::write(2, line.data(), line.size()) < 0) { /* nothing more to do */ }
    }
    return kStatusFault;
  }
  return p.exit_status & 0xFF;
}

Outcome Machine::run_top(const std::string& path,
                         const std::vector<std::optional<std::string>>& argv) {
  const auto refuse = [&](int status, const std::string& why) {
    outcome_.kind = Outcome::Refused;
    outcome_.status = status;
    outcome_.message = why;
    return std::move(outcome_);
  };
  if (!setup_error.empty()) return refuse(kStatusUsage, setup_error);
  std::vector<uint8_t> bytes;
  std::string why = read_host_file(path, kMaxImageFile, bytes);
  if (!why.empty()) return refuse(kStatusNoImage, why);
  Image image;
  why = parse_image(std::move(bytes), image);
  if (!why.empty()) return refuse(kStatusRefused, why);
  int pid = 0;
  std::string fault;
  const int status = run_process(image, argv, "/", 0, pid, fault);
  outcome_.instructions = instructions_;
  if (status < 0) {
    return refuse(kStatusRefused,
                  status == -7 ? "argument list too long" : "cannot start the image");
  } else if (!fault.empty()) {
    outcome_.kind = Outcome::Faulted;
    outcome_.status = kStatusFault;
    outcome_.message = fault;
  } else {
    outcome_.kind = Outcome::Exited;
    outcome_.status = status;
  }
  return std::move(outcome_);
}

Outcome run(const std::string& image,
            const std::vector<std::optional<std::string>>& argv,
            const Config& config) {
  Machine m(config);
  return m.run_top(image, argv);
}

std::string check_image(const std::vector<uint8_t>& bytes) {
  Image image;
  return parse_image(bytes, image);
}

}  // namespace ridemu::detail

namespace ridemu {
Outcome run(const std::string& image,
            const std::vector<std::optional<std::string>>& argv,
            const Config& config) {
  return detail::run(image, argv, config);
}
std::string check_image(const std::vector<uint8_t>& bytes) {
  return detail::check_image(bytes);
}
void remove_tree(const std::string& dir) { detail::remove_tree(dir); }
}  // namespace ridemu
