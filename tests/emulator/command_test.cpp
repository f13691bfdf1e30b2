// Tests of the ridid-emu command: statuses, messages and options, its
// temporary roots, and the guest's end with it: a time limit that ends host
// waits, a console whose reader has gone, signals, a killed emulator; each
// checks that the host was not harmed (nothing left in $TMPDIR, no process
// left).
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "emulator_test.h"

namespace {

using namespace test;
using namespace std::chrono_literals;

TEST(Command, StatusesMessagesAndOptions) {
  TempDir dir;
  const std::string args = image("args"), root = mkdirs(dir / "root"), help = "; try 'ridid-emu --help'\n";
  spit(dir / "arm.elf", slurp(args).replace(18, 1, 1, 40));  // not i386
  mkfifo((dir / "fifo").c_str(), 0600);
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
      // What would wait for ever at the start.
      {"--scratch-root " + (dir / "fifo"), 125, "", "ridid-emu: " + (dir / "fifo") + ": a named pipe, not a program file\n"},
      {"--scratch-root --trace " + (dir / "fifo") + " " + args, 125, "",
       "ridid-emu: cannot open " + (dir / "fifo") + ": a named pipe that no one reads\n"},
      {"--scratch-root --profile " + (dir / "fifo") + " " + args, 125, "",
       "ridid-emu: cannot write the profile " + (dir / "fifo") + ": a named pipe that no one reads\n"},
      {"--scratch-root --max-memory 1M " + args, 126, "", "~of memory with its stack, more than the run's memory budget (--max-memory) leaves: 1024 KiB\n"},
      {"--max-disk 1T " + args, 125, "", "ridid-emu: bad disk budget: 1T" + help},
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
      {"--strace-only open,opn " + args, 125, "", "ridid-emu: no service is named opn\n"},
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
  // A script given as the program: the command that runs it works as
  // pasted, in the root given, the default root, or the script's own
  // directory.
  const std::string emu = EMU_TEST_COMMAND, sample = emu.substr(0, emu.rfind('/')) + "/../share/ridid/root";
  spit(mkdirs(root + "/bin") + "/args.kav", slurp(args));
  spit(root + "/in-root.shell", "args.kav in root\n");
  const std::string odd = mkdirs(dir / "it's a root");  // quoted when pasted
  spit(mkdirs(odd + "/bin") + "/args.kav", slurp(args));
  spit(odd + "/in-root.shell", "args.kav in root\n");
  for (const auto& [line, shows] : std::vector<std::pair<std::string, std::string>>{
           {"--root " + root + " " + root + "/in-root.shell", "args.kav\nin\nroot\n"},
           {"--root \"" + odd + "\" \"" + odd + "/in-root.shell\"", "args.kav\nin\nroot\n"},
           {"--scratch-root " + root + "/in-root.shell", "args.kav\nin\nroot\n"},
           {sample + "/demo.shell", "Hello from ridid!\n"}}) {
    const auto c = command(line, dir.path);
    const std::string lead = ": not an ELF image; a .shell script is run by the run command: " + emu + " ";
    ASSERT_NE(c.err.find(lead), std::string::npos) << c.err;
    EXPECT_EQ(c.status, 126);
    const std::string pasted = c.err.substr(c.err.find(lead) + lead.size() - emu.size() - 1);
    EXPECT_EQ(pasted.find("--root") != std::string::npos, line.find("in-root") != std::string::npos) << pasted;
    std::system((pasted.substr(0, pasted.size() - 1) + " >" + (dir / "out") + " 2>&1 </dev/null").c_str());
    EXPECT_EQ(slurp(dir / "out").rfind(shows, 0), 0u) << pasted << slurp(dir / "out");
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

// This process's children that have not ended (orphans come here too).
std::vector<pid_t> children() {
  std::vector<pid_t> pids;
  std::ifstream in("/proc/self/task/" + std::to_string(getpid()) + "/children");
  for (pid_t p; in >> p;) pids.push_back(p);
  return pids;
}

// Fails when a process of a run outlives it: orphans of the runs come to
// this process, which reaps the dead and kills the living.
void expect_no_process_left() {
  for (int i = 0; i < 200; ++i) {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    if (children().empty()) return;
    std::this_thread::sleep_for(10ms);
  }
  for (pid_t p : children()) ADD_FAILURE() << "process " << p << " outlived its run", kill(p, SIGKILL);
}

struct Ran {
  int status = -1;  // exit status, or 128 + the signal that ended ridid-emu
  std::string err;
};

// A run of ridid-emu with standard input and output `in` and `out` and
// $TMPDIR `tmp`; `while_running` is called with its pid, then ridid-emu is
// killed should it not end within 20 seconds.
Ran emu(const std::vector<std::string>& args, int in, int out, const std::string& tmp,
        const std::function<void(pid_t)>& while_running = nullptr) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const std::string err = tmp + "/../err";
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0), dup2(out, 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    setenv("TMPDIR", tmp.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(EMU_TEST_COMMAND)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(EMU_TEST_COMMAND, argv.data());
    _exit(127);
  }
  if (while_running) while_running(pid);
  int raw = 0;
  for (int i = 0; i < 2000 && waitpid(pid, &raw, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
  if (waitpid(pid, &raw, WNOHANG) == 0) ADD_FAILURE() << "hangs", kill(pid, SIGKILL), waitpid(pid, &raw, 0);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), slurp(err)};
}

// A port on 127.0.0.1 that nothing listens on just now.
std::string free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), n);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  close(fd);
  return std::to_string(ntohs(a.sin_port));
}

TEST(Waits, EachWaitEndsAtTheTimeLimitAndAConsoleWithoutReaderEndsTheGuest) {
  ProgramRoot root;
  TempDir dir;
  mkfifo((dir / "fifo").c_str(), 0600);
  const std::string fault = "ridid-emu: guest fault: time limit exceeded at ";
  // Standard input or output: a pipe no one writes to or reads from (its
  // other end held here), a named pipe the same, a pipe whose reader has
  // gone, /dev/null.
  enum End { Silent, SilentFifo, Gone, Null };
  struct Case { const char* what; std::vector<std::string> options, ops; End in, out; int status; std::string err; };
  const std::vector<Case> cases = {
      {"read(0)", {}, {"i"}, Silent, Null, 139, fault},
      {"getkey", {}, {"k"}, Silent, Null, 139, fault},
      {"read(0) on a named pipe", {}, {"i"}, SilentFifo, Null, 139, fault},
      {"the console", {}, {"y", "text"}, Null, Silent, 139, fault},
      {"a child's read", {}, {"r", "ops.dura i", "y", "parent"}, Silent, Null, 139, fault},
      // The limit covers the wait for a debugger.
      {"GDB that never comes", {"--gdb", free_port()}, {}, Null, Null, 139, "ridid-emu: waiting for GDB on 127.0.0.1:"},
      {"the console's reader gone", {}, {"y", "text"}, Null, Gone, 141, ""},
      {"a child's console reader gone", {}, {"r", "ops.dura y child", "y", "parent"}, Null, Gone, 141, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string tmp = mkdirs(dir / "tmp");
    std::vector<int> held;
    const auto end = [&](End e, int which) {
      int p[2] = {-1, -1};
      if (e == Null || e == SilentFifo) p[0] = p[1] = open(e == Null ? "/dev/null" : (dir / "fifo").c_str(), O_RDWR);
      else pipe(p);
      if (e == Gone) close(p[0]), p[0] = -1;
      for (int fd : {p[0], p[1] == p[0] ? -1 : p[1]})
        if (fd >= 0) held.push_back(fd);
      return p[which];
    };
    const int in = end(k.in, 0), out = end(k.out, 1);
    std::vector<std::string> args = k.options;
    for (const std::string& a : {std::string("--root"), root.dir.path, std::string("--time-limit"), std::string("1"), image("ops")})
      args.push_back(a);
    args.insert(args.end(), k.ops.begin(), k.ops.end());
    const Ran r = emu(args, in, out, tmp);
    EXPECT_EQ(r.status, k.status);
    if (k.err.empty()) EXPECT_EQ(r.err, "");
    else EXPECT_NE(r.err.find(k.err), std::string::npos) << r.err;
    // One fault line, at the trap that waited (or at the first instruction),
    // and the calls that led there.
    if (k.status == 139) {
      size_t lines = 0;
      for (size_t at = 0; at < r.err.size(); ++at) {
        lines += r.err.compare(at, 25, "ridid-emu:   called from ") != 0;
        if ((at = r.err.find('\n', at)) == std::string::npos) break;
      }
      EXPECT_EQ(lines, k.options.empty() ? 1u : 2u) << r.err;
      EXPECT_NE(r.err.find(k.options.empty() ? ": int 0x80" : " in _start: "), std::string::npos) << r.err;
    }
    for (int fd : held) close(fd);
    EXPECT_TRUE(listing(tmp).empty());
    expect_no_process_left();
  }
}

TEST(Waits, SignalsEndTheRunAndAKilledEmulatorLeavesNothingRunning) {
  TempDir dir;
  const std::string tmp = mkdirs(dir / "tmp");
  const int null = open("/dev/null", O_RDWR);
  // The guest runs in a child of ridid-emu's: wait for it, then signal
  // ridid-emu.
  const auto signal_after_start = [](int sig) {
    return [sig](pid_t emu) {
      for (int i = 0; i < 500; ++i) {
        std::string line;
        std::ifstream("/proc/" + std::to_string(emu) + "/task/" + std::to_string(emu) + "/children") >> line;
        if (!line.empty()) break;
        std::this_thread::sleep_for(10ms);
      }
      kill(emu, sig);
    };
  };
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    SCOPED_TRACE(strsignal(sig));
    const Ran r = emu({image("fault"), "l"}, null, null, tmp, signal_after_start(sig));
    EXPECT_EQ(r.status, 128 + sig);
    EXPECT_EQ(r.err, "");
    expect_no_process_left();
  }
  // Only the killed run left its temporary root; a later run removes it
  // once it is a minute old, and no one holds it.
  ASSERT_EQ(listing(tmp).size(), 1u);
  const std::string left = tmp + "/" + *listing(tmp).begin();
  EXPECT_EQ(emu({image("ops")}, null, null, tmp).status, 0);
  EXPECT_TRUE(exists(left));
  fs::last_write_time(left, fs::file_time_type::clock::now() - 2min);
  EXPECT_EQ(emu({image("ops")}, null, null, tmp).status, 0);
  EXPECT_TRUE(listing(tmp).empty());
  close(null);
}

}  // namespace
