// ridid-emu: runs a ridid image on the host. See README.md beside this file.
#include <fcntl.h>
#include <getopt.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "ridemu.h"

namespace {

const char kUsage[] =
    "usage: ridid-emu [options] PROGRAM [ARGS...]\n"
    "Runs the ridid image PROGRAM (a host path) with ARGS.\n"
    "  --root DIR            the host directory DIR is the guest's /; what the guest\n"
    "                        writes stays there. Without --root the guest runs in a\n"
    "                        fresh copy of the sample root, removed at exit, so\n"
    "                        nothing it does reaches the installed files\n"
    "  --scratch-root        run in a fresh empty root, removed at exit\n"
    "  --trace FILE          one JSON line per trap to FILE (- for standard error)\n"
    "  --strace              one line per trap on standard error, as strace writes\n"
    "  --strace-file FILE    the same lines to FILE\n"
    "  --strace-only LIST    only the services named in LIST (open,read,...); implies\n"
    "                        --strace unless --strace-summary is given\n"
    "  --strace-summary      calls, errors and time per service at the end, as\n"
    "                        strace -c (after the lines when there are any)\n"
    "  --count               print 'instructions: N' on standard error at exit\n"
    "  --profile FILE        instructions per function and line, and calls, in\n"
    "                        callgrind's format to FILE (a child: FILE.<pid>)\n"
    "  --coverage FILE       the source lines and functions that ran, as an lcov\n"
    "                        tracefile (children included) for genhtml\n"
    "  --max-instructions N  end the guest (a fault) after N instructions\n"
    "  --time-limit SECONDS  end the guest (a fault) after this much real time,\n"
    "                        waits included\n"
    "  --max-memory SIZE     guest memory of all processes at once (%lluM)\n"
    "  --max-disk SIZE       bytes the run may add to its root (%lluM)\n"
    "  --max-processes N     processes the run may start (%d)\n"
    "  --no-sleep            usleep returns at once\n"
    "  --gdb PORT            wait for GDB on 127.0.0.1:PORT before the first\n"
    "                        instruction and serve its remote protocol (the first\n"
    "                        program only; its children run freely)\n"
    "  -h, --help            this text\n"
    "  --version             the version\n"
    "Options end at the first argument that does not start with '-', or at '--'.\n"
    ".shell scripts are run by the run command (run.dura), not given here.\n"
    "SIZE: a number of bytes, or with K, M or G.\n"
    "exit status: the guest's exit status (low 8 bits); 139 guest fault;\n"
    "126 image refused; 127 image not readable; 124 arguments too long for the\n"
    "stack; 125 usage or host error; 141 standard output's reader gone;\n"
    "128 + N ended by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP)\n";

// The guest's process, and the signal that ended ridid-emu's own, if one did:
// a request to end ridid-emu ends the guest too.
volatile pid_t g_child = 0;
volatile sig_atomic_t g_ended_by = 0;

void pass_on(int sig) {
  g_ended_by = sig;
  if (g_child > 0) kill(g_child, sig);
}

int usage_error(const std::string& what) {
  std::fprintf(stderr, "ridid-emu: %s; try 'ridid-emu --help'\n", what.c_str());
  return ridemu::kStatusUsage;
}

// The sample root beside the program (<prefix>/share/ridid/root), or "".
std::string sample_root() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  const auto root = self.parent_path() / ".." / "share" / "ridid" / "root";
  return std::filesystem::is_directory(root, ec) ? root.lexically_normal().string() : "";
}

// `word` as a shell reads it back: quoted unless it is plain.
std::string shell_word(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_./-+=:,") == std::string::npos)
    return word;
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The command that runs the script `program` given as PROGRAM: the run
// command's image (in the sample root, as built or installed) with the
// script's guest path, in the root given with --root when the script lies
// in it, else in the default root (a copy of the sample root) when it lies
// there, else in the script's own directory.
std::string script_command(const char* self, const std::string& program,
                           const ridemu::Config& config, bool root_given) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string script = fs::canonical(program, ec).string();
  const std::string sample = sample_root();
  // The script's guest path in `root`, or "" when it lies outside.
  const auto guest_in = [&](const std::string& dir) -> std::string {
    const std::string root = dir.empty() ? "" : fs::canonical(dir, ec).string();
    if (ec || root.empty() || script.size() <= root.size() ||
        script.compare(0, root.size(), root) != 0)
      return "";
    if (root == "/") return script;
    return script[root.size()] == '/' ? script.substr(root.size()) : "";
  };
  std::string root, guest;
  if (root_given && !(guest = guest_in(config.root)).empty()) {
    root = fs::canonical(config.root, ec).string();
  } else if ((guest = guest_in(sample)).empty()) {
    root = fs::path(script).parent_path().string();
    guest = "/" + fs::path(script).filename().string();
  }
  return shell_word(std::strchr(self, '/') ? self : "ridid-emu") +
         (root.empty() ? "" : " --root " + shell_word(root)) + " " +
         (sample.empty() ? "RUN-IMAGE" : shell_word(sample + "/bin/run.dura")) + " " +
         shell_word(guest);
}

bool parse_count(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (!*text || *end || errno || text[0] == '-' || v == 0) return false;
  out = v;
  return true;
}

// "4096", "64K", "512M", "1G" (K = 1024): a size above 0.
bool parse_size(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  const std::string unit = end;
  const int shift = unit.empty() ? 0 : unit == "K" ? 10 : unit == "M" ? 20 : unit == "G" ? 30 : -1;
  if (end == text || text[0] == '-' || errno || shift < 0 || v == 0 || v > (~0ull >> shift))
    return false;
  out = v << shift;
  return true;
}

bool parse_seconds(const char* text, uint64_t& ms) {
  char* end = nullptr;
  errno = 0;
  const double s = std::strtod(text, &end);
  if (!*text || *end || errno || !(s > 0) || s > 1e9) return false;
  ms = static_cast<uint64_t>(s * 1000 + 0.5);
  if (ms == 0) ms = 1;
  return true;
}

// The signals that end ridid-emu end the guest too; ridid-emu then exits
// with 128 + the signal, as a shell reports a command a signal ended.
const int kPassed[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

bool is_passed(int sig) {
  return std::find(std::begin(kPassed), std::end(kPassed), sig) != std::end(kPassed);
}

// A run's temporary root lies in a directory of ours in $TMPDIR, locked for
// as long as the run lives. A run that was killed leaves it behind: a later
// run removes each such directory that no one holds any more (and that has
// not changed for a minute, so one being made is never taken for one left).
const char kHolderPrefix[] = "ridid-run-";

void remove_abandoned(const std::string& tmp) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(tmp, ec)) {
    const std::string name = e.path().filename();
    struct stat st;
    if (name.rfind(kHolderPrefix, 0) != 0 || lstat(e.path().c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode) || st.st_uid != getuid() || time(nullptr) - st.st_mtime < 60)
      continue;
    const int fd = open(e.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) std::filesystem::remove_all(e.path(), ec);
    close(fd);
  }
}

// Makes and locks the directory for this run's temporary root: its
// descriptor (the lock lasts while it is open), or -1.
int make_holder(std::string& holder) {
  const char* env = std::getenv("TMPDIR");
  const std::string tmp = env && *env ? env : "/tmp";
  remove_abandoned(tmp);
  std::string tmpl = tmp + "/" + kHolderPrefix + "XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) return -1;
  const int fd = open(tmpl.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 && flock(fd, LOCK_EX) == 0) {
    holder = tmpl;
    return fd;
  }
  if (fd >= 0) close(fd);
  rmdir(tmpl.c_str());
  return -1;
}

// "open,read" as {"open", "read"}; empty names are dropped.
std::vector<std::string> split_names(const std::string& list) {
  std::vector<std::string> names;
  size_t at = 0;
  while (at <= list.size()) {
    const size_t comma = std::min(list.find(',', at), list.size());
    if (comma > at) names.push_back(list.substr(at, comma - at));
    at = comma + 1;
  }
  return names;
}

// The processor emulation itself gives up on a few instructions (in the
// Unicorn version this is built with, a far call or jump through a register
// aborts the process while the code is being translated, before any callback
// of ours runs). So the guest runs in a child process: if that child dies of
// a signal, the guest ends with a fault line like any other, and its
// temporary root, made under a directory of ours, is removed. The child
// never outlives ridid-emu: it is killed when ridid-emu ends, however it ends.
// `hint` follows a refusal of the image.
int run_isolated(const std::string& program,
                 const std::vector<std::optional<std::string>>& guest_argv,
                 const ridemu::Config& config, const std::string& hint) {
  std::string holder;
  int holder_lock = -1;
  if (config.scratch_root || config.copy_root) holder_lock = make_holder(holder);
  std::fflush(nullptr);
  // Set before the fork, so no moment is left where a signal ends only
  // ridid-emu; the guest's process has the usual ones again.
  const pid_t parent = getpid();
  struct sigaction pass{}, usual{};
  pass.sa_handler = pass_on;
  usual.sa_handler = SIG_DFL;
  for (int sig : kPassed) sigaction(sig, &pass, nullptr);
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(ridemu::kStatusUsage);  // it ended before the line above
    for (int sig : kPassed) sigaction(sig, &usual, nullptr);
    if (g_ended_by) raise(g_ended_by);  // it came between the fork and here
    if (!holder.empty()) setenv("TMPDIR", holder.c_str(), 1);
    const ridemu::Outcome out = ridemu::run(program, guest_argv, config);
    if (out.kind == ridemu::Outcome::Refused) {
      if (out.status == ridemu::kStatusUsage)
        std::fprintf(stderr, "ridid-emu: %s\n", out.message.c_str());
      else
        std::fprintf(stderr, "ridid-emu: %s: %s%s\n", program.c_str(), out.message.c_str(),
                     out.status == ridemu::kStatusRefused ? hint.c_str() : "");
    }
    if (config.count)
      std::fprintf(stderr, "instructions: %llu\n",
                   static_cast<unsigned long long>(out.instructions));
    std::fflush(nullptr);
    _exit(out.status);
  }
  int status = ridemu::kStatusUsage;
  g_child = child;
  if (child > 0 && g_ended_by) kill(child, g_ended_by);  // it came before the fork ended
  if (child < 0) {
    std::fprintf(stderr, "ridid-emu: cannot start the guest: %s\n", std::strerror(errno));
  } else {
    int raw = 0;
    while (waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(raw)) {
      status = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw) && is_passed(WTERMSIG(raw))) {
      status = 128 + WTERMSIG(raw);
    } else {
      std::fprintf(stderr,
                   "ridid-emu: guest fault: the processor emulation failed on the guest's code "
                   "(signal %d)\n",
                   WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
      status = ridemu::kStatusFault;
    }
  }
  if (!holder.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(holder, ec);
    close(holder_lock);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // A console whose reader went away must not kill the emulator.
  std::signal(SIGPIPE, SIG_IGN);
  enum { kRoot = 256, kScratch, kTrace, kStrace, kCount, kMax, kTime, kNoSleep, kVersion,
         kGdb, kProfile, kMaxMemory, kMaxDisk, kMaxProcesses, kCoverage, kStraceFile,
         kStraceOnly, kStraceSummary };
  static const option kOptions[] = {
      {"root", required_argument, nullptr, kRoot},
      {"scratch-root", no_argument, nullptr, kScratch},
      {"trace", required_argument, nullptr, kTrace},
      {"strace", no_argument, nullptr, kStrace},
      {"strace-file", required_argument, nullptr, kStraceFile},
      {"strace-only", required_argument, nullptr, kStraceOnly},
      {"strace-summary", no_argument, nullptr, kStraceSummary},
      {"count", no_argument, nullptr, kCount},
      {"max-instructions", required_argument, nullptr, kMax},
      {"time-limit", required_argument, nullptr, kTime},
      {"no-sleep", no_argument, nullptr, kNoSleep},
      {"gdb", required_argument, nullptr, kGdb},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {"profile", required_argument, nullptr, kProfile},
      {"max-memory", required_argument, nullptr, kMaxMemory},
      {"max-disk", required_argument, nullptr, kMaxDisk},
      {"max-processes", required_argument, nullptr, kMaxProcesses},
      {"coverage", required_argument, nullptr, kCoverage},
      {nullptr, 0, nullptr, 0},
  };
  ridemu::Config config;
  bool root_given = false;
  opterr = 0;  // the messages below say it in one line
  for (;;) {
    const int prev = optind;
    // "+": options end at the first argument that is not one (the program).
    const int c = getopt_long(argc, argv, "+:h", kOptions, nullptr);
    if (c == -1) break;
    const std::string given = prev < argc ? argv[prev] : "";
    switch (c) {
      case 'h':
        std::printf(kUsage, static_cast<unsigned long long>(config.max_memory >> 20),
                    static_cast<unsigned long long>(config.max_disk >> 20), config.max_processes);
        return 0;
      case kVersion:
        std::printf("ridid-emu %s\n", RIDID_VERSION);
        return 0;
      case kRoot:
        config.root = optarg;
        root_given = true;
        break;
      case kScratch:
        config.scratch_root = true;
        break;
      case kTrace:
        config.trace_file = optarg;
        break;
      case kStrace:
        config.strace_file = "-";
        break;
      case kStraceFile:
        config.strace_file = optarg;
        break;
      case kStraceOnly:
        config.strace_only = split_names(optarg);
        if (config.strace_only.empty()) return usage_error("--strace-only needs service names");
        break;
      case kStraceSummary:
        config.strace_summary = true;
        break;
      case kCount:
        config.count = true;
        break;
      case kMax:
        if (!parse_count(optarg, config.max_instructions))
          return usage_error(std::string("bad instruction budget: ") + optarg);
        break;
      case kTime:
        if (!parse_seconds(optarg, config.time_limit_ms))
          return usage_error(std::string("bad time limit: ") + optarg);
        break;
      case kNoSleep:
        config.sleep = false;
        break;
      case kProfile:
        config.profile_file = optarg;
        break;
      case kMaxMemory:
        if (!parse_size(optarg, config.max_memory))
          return usage_error(std::string("bad memory budget: ") + optarg);
        break;
      case kMaxDisk:
        if (!parse_size(optarg, config.max_disk))
          return usage_error(std::string("bad disk budget: ") + optarg);
        break;
      case kMaxProcesses: {
        uint64_t n = 0;
        if (!parse_count(optarg, n) || n > 1000000)
          return usage_error(std::string("bad process budget: ") + optarg);
        config.max_processes = static_cast<int>(n);
        break;
      }
      case kCoverage:
        config.coverage_file = optarg;
        break;
      case kGdb: {
        uint64_t port = 0;
        if (!parse_count(optarg, port) || port > 65535)
          return usage_error(std::string("bad GDB port: ") + optarg);
        config.gdb_port = static_cast<int>(port);
        break;
      }
      case ':':
        return usage_error(given + " needs a value");
      default:
        return usage_error(optopt && optopt < 256 ? std::string("unknown option -") +
                                                        static_cast<char>(optopt)
                                                  : "unknown option " + given);
    }
  }
  if (!config.strace_only.empty() && !config.strace_summary && config.strace_file.empty())
    config.strace_file = "-";
  if (root_given && config.scratch_root) return usage_error("--root and --scratch-root conflict");
  if (optind >= argc) return usage_error("no program given");
  if (!root_given && !config.scratch_root) {
    config.root = sample_root();
    // Nothing to copy: a fresh empty root keeps the host's files out of reach.
    if (config.root.empty()) config.scratch_root = true;
    config.copy_root = true;
  }

  const std::string program = argv[optind];
  std::vector<std::optional<std::string>> guest_argv;
  const size_t slash = program.rfind('/');
  guest_argv.push_back(slash == std::string::npos ? program : program.substr(slash + 1));
  for (int k = optind + 1; k < argc; ++k) guest_argv.push_back(std::string(argv[k]));

  // What would wait for ever (a named pipe) or is no program at all.
  struct stat st;
  if (stat(program.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "ridid-emu: %s: %s, not a program file\n", program.c_str(),
                 S_ISFIFO(st.st_mode) ? "a named pipe" : S_ISDIR(st.st_mode) ? "a directory"
                                                                              : "a device or socket");
    return ridemu::kStatusUsage;
  }
  std::string hint;
  if (program.size() > 6 && program.compare(program.size() - 6, 6, ".shell") == 0)
    hint = "; a .shell script is run by the run command: " +
           script_command(argv[0], program, config, root_given);
  return run_isolated(program, guest_argv, config, hint);
}
