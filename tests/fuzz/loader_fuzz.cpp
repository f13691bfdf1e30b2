// check_image, then a short ridemu::run of the bytes in a scratch root: refused
// exactly when check_image refuses, with its reason, else exited below 256 or
// faulted with 139; the work directory (the run's TMPDIR) keeps the image alone.
// Unicorn aborts on a few encodings (a far call or jump through a register), so
// the run is made in a child: death by SIGABRT is that known outcome. The child
// hands back the coverage counters (this file has none of its own: see CMake).
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "ridemu.h"

#define CHECK(cond) ((cond) ? (void)0 : (std::fprintf(stderr, "check failed: %s\n%s\n", #cond, g_note.c_str()), abort()))
extern "C" uint8_t __start___sancov_cntrs[], __stop___sancov_cntrs[];
namespace fs = std::filesystem;
static struct Shared { int kind, status; char message[4096]; uint8_t counters[1]; } * g_shared;  // counters: to the end
static std::string g_dir, g_image, g_note;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/ridid-loader-fuzz-XXXXXX";
  CHECK(mkdtemp(dir) != nullptr && setenv("TMPDIR", dir, 1) == 0);  // where scratch roots are made
  g_dir = dir, g_image = g_dir + "/image";
  std::atexit([] { fs::remove_all(g_dir); });
  g_shared = static_cast<Shared*>(mmap(nullptr, sizeof(Shared) + (__stop___sancov_cntrs - __start___sancov_cntrs),
                                       PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  return CHECK(g_shared != MAP_FAILED), 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  const std::string why = ridemu::check_image(bytes);
  g_note = "check_image: [" + why + "]";
  std::ofstream(g_image, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGABRT, SIG_DFL);
    std::set_terminate([] { _exit(3); });  // an exception is no abort by Unicorn
    ridemu::Config config;
    config.scratch_root = true, config.sleep = false, config.stdin_data = "", config.faults_to_stderr = false;
    config.max_instructions = 20000, config.time_limit_ms = 2000;
    config.console_to_stdout = false, config.capture_console = true;
    const ridemu::Outcome out = ridemu::run(g_image, {std::string("image")}, config);
    g_shared->kind = out.kind, g_shared->status = out.status;
    std::snprintf(g_shared->message, sizeof g_shared->message, "%s", out.message.c_str());
    std::copy(__start___sancov_cntrs, __stop___sancov_cntrs, g_shared->counters);
    _exit(0);
  }
  int status = 0, waited = 0;
  while (pid > 0 && (waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {}  // libFuzzer's alarm
  CHECK(pid > 0 && waited == pid);
  const bool aborted = WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
  CHECK(aborted || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
  for (const fs::directory_entry& e : fs::directory_iterator(g_dir)) {
    const std::string name = e.path().filename();
    if (aborted && name.rfind("ridid-root-", 0) == 0) fs::remove_all(e.path());  // left by the dead child
    else CHECK(name == "image");
  }
  std::ifstream image(g_image, std::ios::binary);
  CHECK(std::vector<uint8_t>(std::istreambuf_iterator<char>(image), {}) == bytes);
  if (aborted) return 0;
  for (uint8_t *c = __start___sancov_cntrs, *s = g_shared->counters; c != __stop___sancov_cntrs; ++c, ++s)
    *c = std::max(*c, *s);
  const int kind = g_shared->kind, code = g_shared->status;
  g_note += " run: kind " + std::to_string(kind) + ", status " + std::to_string(code) + " [" + g_shared->message + "]";
  using O = ridemu::Outcome;
  CHECK(!why.empty() ? kind == O::Refused && code == ridemu::kStatusRefused && g_shared->message == why
                     : kind == O::Faulted ? code == ridemu::kStatusFault : kind == O::Exited && code >= 0 && code < 256);
  return 0;
}
