// Tests of the ridid-emu command: statuses, messages and options, its
// temporary roots, and the guest's end with it.
#include <signal.h>

#include <fstream>
#include <map>

#include "emulator_test.h"

namespace {

using namespace test;

TEST(Command, StatusesMessagesAndOptions) {
  TempDir dir;
  const std::string args = image("args"), root = mkdirs(dir / "root"), help = "; try 'ridid-emu --help'\n";
  spit(dir / "arm.elf", slurp(args).replace(18, 1, 1, 40));  // not i386
  spit(dir / "demo.shell", "args.kav\n");
  struct Case { std::string line; int status; std::string out, err; };  // out: its start; err: all, or a part after '~'
  const std::vector<Case> cases = {
      {"--scratch-root " + args + " one two", 3, "args.elf\none\ntwo\n", ""},
      {"--scratch-root " + image("fault") + " r", 139, "", "ridid-emu: guest fault: unmapped read at 0x00000010 (eip " +
           hex(symbol("at_read", image("fault"))) + ") in at_read: mov eax, dword ptr [0x10]\n"},
      // Code the processor emulation itself cannot handle ends only the guest.
      {"--scratch-root " + image("fault") + " f", 139, "", "~ridid-emu: guest fault: the processor emulation failed"},
      {"--scratch-root --max-instructions 1000 " + image("fault") + " l", 139, "",
       "~ridid-emu: guest fault: instruction budget exceeded at "},
      {"--scratch-root --count " + image("count"), 0, "", "instructions: 1004\n"},
      {"--scratch-root " + (dir / "arm.elf"), 126, "", "ridid-emu: " + (dir / "arm.elf") + ": not an i386 image (wrong machine)\n"},
      {"--scratch-root " + (dir / "nothing.elf"), 127, "", "~ridid-emu: " + (dir / "nothing.elf") + ": "},
      {"--root " + root + " " + (dir / "demo.shell"), 126, "",
       "~ridid-emu: " + (dir / "demo.shell") + ": not an ELF image (a .shell script is run by the run command"},
      {"-h", 0, "usage: ridid-emu [options] PROGRAM [ARGS...]\n", ""},
      {"--version", 0, "ridid-emu 1.", ""},
      {"--root=" + root + " " + args + " a", 2, "args.elf\na\n", ""},
      {"--root " + root + " -- " + args + " -h", 2, "args.elf\n-h\n", ""},
      {"--root " + root + " --trace - " + args, 1, "args.elf\n", "~{\"pid\":1,\"nr\":1,\"name\":\"write\","},
      {"--bogus " + args, 125, "", "ridid-emu: unknown option --bogus" + help},
      {"-x " + args, 125, "", "ridid-emu: unknown option -x" + help},
      {"--root", 125, "", "ridid-emu: --root needs a value" + help},
      {"", 125, "", "ridid-emu: no program given" + help},
      {"--max-instructions x " + args, 125, "", "ridid-emu: bad instruction budget: x" + help},
      {"--time-limit 0 " + args, 125, "", "ridid-emu: bad time limit: 0" + help},
      {"--root " + root + " --scratch-root " + args, 125, "", "ridid-emu: --root and --scratch-root conflict" + help},
      {"--trace /no/dir/t " + args, 125, "", "~ridid-emu: cannot open /no/dir/t: "},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    const auto c = command(k.line, dir.path);
    EXPECT_EQ(c.status, k.status);
    EXPECT_EQ(c.out.rfind(k.out, 0), 0u) << c.out;
    if (k.err[0] == '~')
      EXPECT_NE(c.err.find(k.err.substr(1)), std::string::npos) << c.err;
    else
      EXPECT_EQ(c.err, k.err);
  }
  // --root: the guest's files land in the root.
  EXPECT_EQ(command("--root " + root + " " + image("ops") + " w /made.txt hello e 0", dir.path).status, 0);
  EXPECT_EQ(slurp(root + "/made.txt"), "hello");
}

TEST(Command, TemporaryRootsAreGoneAfterTheRun) {
  // The default root is a copy of the sample root beside ridid-emu; a guest
  // that deletes, stores, appends and truncates there leaves that root as it was.
  const std::string emu = EMU_TEST_COMMAND;
  const std::string sample = emu.substr(0, emu.rfind('/')) + "/../share/ridid/root";
  const auto snapshot = [&] {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(sample))
      files[e.path()] = e.is_regular_file() ? slurp(e.path()) : "";
    return files;
  };
  const auto before = snapshot();
  ASSERT_TRUE(before.count(sample + "/docs/welcome.txt") && before.count(sample + "/bin/run.dura"));
  TempDir dir;
  const std::string tmp = mkdirs(dir / "tmp");
  auto c = command(image("ops") + " u /bin/run.dura w /notes.txt hi a /docs/welcome.txt more c /docs/welcome.txt T /demo.shell",
                   dir.path, "TMPDIR=" + tmp);
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out, before.at(sample + "/docs/welcome.txt") + "more");  // the guest saw its own change
  EXPECT_EQ(snapshot(), before);
  // Scratch roots go too, also after a fault, and after the processor
  // emulation itself failed.
  for (const char* line : {"--scratch-root ops.elf w /x hi p", "--scratch-root fault.elf w", "--scratch-root fault.elf f"}) {
    c = command(std::string(line).replace(15, 0, std::string(EMU_TEST_IMAGES) + "/"), dir.path, "TMPDIR=" + tmp);
    EXPECT_EQ(c.status, std::string(line).find("ops") != std::string::npos ? 0 : 139) << line;
  }
  EXPECT_TRUE(listing(tmp).empty());
}

TEST(Command, EndingTheEmulatorEndsTheGuest) {
  const pid_t emu = fork();
  ASSERT_GE(emu, 0);
  if (emu == 0) {
    execl(EMU_TEST_COMMAND, "ridid-emu", "--scratch-root", image("fault").c_str(), "l", nullptr);
    _exit(127);
  }
  // The guest runs in a child of ridid-emu's: wait for it, then end ridid-emu.
  pid_t guest = 0;
  for (int i = 0; i < 200 && !guest; ++i) {
    usleep(10000);
    std::ifstream("/proc/" + std::to_string(emu) + "/task/" + std::to_string(emu) + "/children") >> guest;
  }
  ASSERT_GT(guest, 0);
  kill(emu, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(emu, &status, 0), emu);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
  if (kill(guest, 0) == 0) ADD_FAILURE() << "the guest was left looping", kill(guest, SIGKILL);
}

}  // namespace
