// ridid-emu: runs a ridid image on the host. See README.md beside this file.
#include <getopt.h>
#include <sys/wait.h>
#include <unistd.h>

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
    "  --count               print 'instructions: N' on standard error at exit\n"
    "  --profile FILE        instructions per function and line, and calls, in\n"
    "                        callgrind's format to FILE (a child: FILE.<pid>)\n"
    "  --max-instructions N  end the guest (a fault) after N instructions\n"
    "  --time-limit SECONDS  end the guest (a fault) after this much real time\n"
    "  --no-sleep            usleep returns at once\n"
    "  --gdb PORT            wait for GDB on 127.0.0.1:PORT before the first\n"
    "                        instruction and serve its remote protocol (the first\n"
    "                        program only; its children run freely)\n"
    "  -h, --help            this text\n"
    "  --version             the version\n"
    "Options end at the first argument that does not start with '-', or at '--'.\n"
    ".shell scripts are run by the run command (run.dura), not given here.\n"
    "exit status: the guest's exit status (low 8 bits); 139 guest fault;\n"
    "126 image refused; 127 image not readable; 124 arguments too long for the\n"
    "stack; 125 usage or host error\n";

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

bool parse_count(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (!*text || *end || errno || text[0] == '-' || v == 0) return false;
  out = v;
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

// The processor emulation itself gives up on a few instructions (in the
// Unicorn version this is built with, a far call or jump through a register
// aborts the process while the code is being translated, before any callback
// of ours runs). So the guest runs in a child process: if that child dies of
// a signal, the guest ends with a fault line like any other, and its
// temporary root, made under a directory of ours, is removed.
int run_isolated(const std::string& program,
                 const std::vector<std::optional<std::string>>& guest_argv,
                 const ridemu::Config& config) {
  std::string holder;
  if (config.scratch_root || config.copy_root) {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/ridid-run-XXXXXX";
    if (mkdtemp(tmpl.data()) != nullptr) holder = tmpl;
  }
  std::fflush(nullptr);
  // Set before the fork, so no moment is left where a signal ends only
  // ridid-emu; the guest's process has the usual ones again.
  const int kPassed[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  struct sigaction pass{}, usual{};
  pass.sa_handler = pass_on;
  usual.sa_handler = SIG_DFL;
  for (int sig : kPassed) sigaction(sig, &pass, nullptr);
  const pid_t child = fork();
  if (child == 0) {
    for (int sig : kPassed) sigaction(sig, &usual, nullptr);
    if (g_ended_by) raise(g_ended_by);  // it came between the fork and here
    if (!holder.empty()) setenv("TMPDIR", holder.c_str(), 1);
    const ridemu::Outcome out = ridemu::run(program, guest_argv, config);
    if (out.kind == ridemu::Outcome::Refused) {
      if (out.status == ridemu::kStatusUsage)
        std::fprintf(stderr, "ridid-emu: %s\n", out.message.c_str());
      else
        std::fprintf(stderr, "ridid-emu: %s: %s\n", program.c_str(), out.message.c_str());
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
    } else if (g_ended_by && WIFSIGNALED(raw) && WTERMSIG(raw) == g_ended_by) {
      status = 128 + g_ended_by;  // as a shell reports a command a signal ended
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
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // A console whose reader went away must not kill the emulator.
  std::signal(SIGPIPE, SIG_IGN);
  enum { kRoot = 256, kScratch, kTrace, kStrace, kCount, kMax, kTime, kNoSleep, kVersion,
         kGdb, kProfile };
  static const option kOptions[] = {
      {"root", required_argument, nullptr, kRoot},
      {"scratch-root", no_argument, nullptr, kScratch},
      {"trace", required_argument, nullptr, kTrace},
      {"strace", no_argument, nullptr, kStrace},
      {"count", no_argument, nullptr, kCount},
      {"max-instructions", required_argument, nullptr, kMax},
      {"time-limit", required_argument, nullptr, kTime},
      {"no-sleep", no_argument, nullptr, kNoSleep},
      {"gdb", required_argument, nullptr, kGdb},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {"profile", required_argument, nullptr, kProfile},
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
        std::fputs(kUsage, stdout);
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

  return run_isolated(program, guest_argv, config);
}
