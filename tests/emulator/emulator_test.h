// What the emulator's test files share: the test images, the programs that
// drive the services (images/ops.c, a little interpreter of one-letter
// operations, and images/trap.c, whose traps a hook turns into any call), a
// root of programs and the ridid-emu command.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <functional>

#include "support.h"

namespace test {

using Ints = std::vector<int32_t>;
using Clock = std::chrono::steady_clock;

inline std::string image(const std::string& name) { return std::string(EMU_TEST_IMAGES) + "/" + name + ".elf"; }
inline uint32_t symbol(const std::string& name, const std::string& img) {
  const auto s = ElfImage(img).symbol(name);
  EXPECT_TRUE(s) << name;
  return s ? s->st_value : 0;
}
inline ridemu::Outcome ops(Args list, const ridemu::Config& c) {
  list.insert(list.begin(), "ops");
  return ridemu::run(image("ops"), list, c);
}
// The wait status of a child process that runs f, then exits with 0.
inline int in_child(const std::function<void()>& f) {
  const pid_t child = fork();
  if (child == 0) f(), _exit(0);
  int status = -1;
  return waitpid(child, &status, 0), status;
}
inline std::string mkdirs(const std::string& dir) {
  fs::create_directories(dir);
  return dir;
}

// trap.elf traps for ever: its traps make the calls (nr, ebx, ecx, edx) of
// the list in turn, then _exit(0). `made` counts the calls made.
using Call = std::array<uint32_t, 4>;
inline ridemu::Outcome traps(const std::vector<Call>& list, ridemu::Config c = quiet(), const std::string& img = image("trap"),
                      size_t* made = nullptr) {
  size_t next = 0;
  c.service_hook = [&](ridemu::ServiceCall& call) {
    const Call a = next < list.size() ? list[next++] : Call{2, 0, 0, 0};
    call.nr = a[0], call.ebx = a[1], call.ecx = a[2], call.edx = a[3];
  };
  auto o = ridemu::run(img, {"trap"}, c);
  if (made) *made = next;
  return o;
}
inline const uint32_t kStrings = symbol("strings", image("trap")), kBuf = symbol("buf", image("trap"));

struct ProgramRoot {
  TempDir dir;
  ProgramRoot() {
    mkdirs(dir / "bin"), mkdirs(dir / "work");
    for (const auto& [img, to] : std::vector<std::pair<const char*, const char*>>{
             {"args", "bin/args.kav"}, {"args", "bin/x.bin"}, {"ops", "work/x.bin"}, {"ops", "bin/ops.dura"},
             {"fault", "bin/fault.flat"}, {"trap", "t.kav"}})
      spit(dir / to, slurp(image(img)));
    spit(dir / "bin/text.bin", "not an image");
    spit(dir / "bin/demo.shell",
         "# a comment\n\n   args.kav from script\n  # indented comment\r\nfault.flat d\nops.dura e 7\r\n");
    spit(dir / "bin/broken.shell", "args.kav 1\nnothere.bin\nargs.kav 2\n");
    spit(dir / "self.shell", "self.shell\n");
  }
};

struct Command { int status = -1; std::string out, err; };
// ridid-emu with `args` (a shell line), its output kept in `dir`.
inline Command command(const std::string& args, const std::string& dir, const std::string& env = "") {
  const int raw = std::system((env + " " EMU_TEST_COMMAND " " + args + " >" + dir + "/out 2>" + dir +
                               "/err </dev/null").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir + "/out"), slurp(dir + "/err")};
}

}  // namespace test
