// ridid-emu: runs a ridid image on the host. See README.md beside this file.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ridemu.h"

namespace {

const char kUsage[] =
    "usage: ridid-emu [options] PROGRAM [ARGS...]\n"
    "  --root DIR            host directory that is the guest's /\n"
    "  --scratch-root        run in a fresh empty root, removed at exit\n"
    "  --trace FILE          write one JSON line per trap to FILE\n"
    "  --count               print 'instructions: N' on stderr at exit\n"
    "  --max-instructions N  end the guest (a fault) after N instructions\n"
    "  --time-limit SECONDS  end the guest (a fault) after this much real time\n"
    "  --no-sleep            usleep returns at once\n"
    "  --help                this text\n"
    "exit status: the guest's exit status (low 8 bits); 139 guest fault;\n"
    "126 image refused; 127 image not readable; 125 usage or host error\n";

std::string default_root() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<size_t>(n));
    dir = dir.substr(0, dir.rfind('/'));
    const std::string root = dir + "/../share/ridid/root";
    if (access(root.c_str(), X_OK) == 0) return root;
  }
  return ".";
}

// The processor emulation itself gives up on a few instructions (in the
// Unicorn version this is built with, a far call or jump through a
// register aborts the process while the code is being translated, before
// any hook of ours runs). So the guest runs in a child process: if that
// child dies of a signal, the guest ends with a fault line like any other,
// and its scratch root, made under a directory of ours, is removed.
int run_isolated(const std::string& program,
                 const std::vector<std::optional<std::string>>& guest_argv,
                 const ridemu::Config& config) {
  std::string holder;
  if (config.scratch_root) {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/ridid-run-XXXXXX";
    if (mkdtemp(tmpl.data()) != nullptr) holder = tmpl;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
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
  if (child < 0) {
    std::fprintf(stderr, "ridid-emu: cannot start the guest: %s\n", std::strerror(errno));
  } else {
    int raw = 0;
    while (waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(raw)) {
      status = WEXITSTATUS(raw);
    } else {
      std::fprintf(stderr,
                   "ridid-emu: guest fault: the processor emulation failed on the guest's code "
                   "(signal %d)\n",
                   WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
      status = ridemu::kStatusFault;
    }
  }
  if (!holder.empty()) ridemu::remove_tree(holder);
  return status;
}

int usage_error(const std::string& what) {
  std::fprintf(stderr, "ridid-emu: %s\n%s", what.c_str(), kUsage);
  return ridemu::kStatusUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // A console whose reader went away must not kill the emulator.
  std::signal(SIGPIPE, SIG_IGN);
  ridemu::Config config;
  bool root_given = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--") {
      ++i;
      break;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--root") {
      if (!has_value) return usage_error("--root needs a directory");
      config.root = argv[++i];
      root_given = true;
    } else if (a == "--scratch-root") {
      config.scratch_root = true;
    } else if (a == "--trace") {
      if (!has_value) return usage_error("--trace needs a file");
      config.trace_file = argv[++i];
    } else if (a == "--count") {
      config.count = true;
    } else if (a == "--max-instructions") {
      if (!has_value) return usage_error("--max-instructions needs a number");
      char* end = nullptr;
      const char* text = argv[++i];
      errno = 0;
      const unsigned long long v = std::strtoull(text, &end, 10);
      if (!*text || *end || errno || text[0] == '-' || v == 0)
        return usage_error(std::string("bad instruction budget: ") + text);
      config.max_instructions = v;
    } else if (a == "--time-limit") {
      if (!has_value) return usage_error("--time-limit needs a number of seconds");
      char* end = nullptr;
      const char* text = argv[++i];
      errno = 0;
      const double s = std::strtod(text, &end);
      if (!*text || *end || errno || !(s > 0) || s > 1e9)
        return usage_error(std::string("bad time limit: ") + text);
      config.time_limit_ms = static_cast<uint64_t>(s * 1000 + 0.5);
      if (config.time_limit_ms == 0) config.time_limit_ms = 1;
    } else if (a == "--no-sleep") {
      config.sleep = false;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error("unknown option " + a);
    } else {
      break;
    }
  }
  if (i >= argc) return usage_error("no program given");
  if (!root_given && !config.scratch_root) config.root = default_root();

  const std::string program = argv[i];
  std::vector<std::optional<std::string>> guest_argv;
  const size_t slash = program.rfind('/');
  guest_argv.push_back(slash == std::string::npos ? program : program.substr(slash + 1));
  for (int k = i + 1; k < argc; ++k) guest_argv.push_back(std::string(argv[k]));

  return run_isolated(program, guest_argv, config);
}
