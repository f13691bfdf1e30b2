// Tests of the kernel's services: descriptors, pipes, paths, stores, and
// whole programs that use them; random calls that must leave the host sound.
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <map>
#include <random>

#include "kernel/kernel.h"

#include "emulator_test.h"

namespace {

using namespace test;

TEST(Services, TheTableServesEveryNumberOfTheSharedList) {
  std::set<std::pair<uint32_t, std::string>> listed, served;
#define LISTED(number, NAME, name, kinds) listed.emplace(number, #name);
  RIDID_SERVICES(LISTED)
  for (const auto& s : ridemu::detail::services()) served.emplace(s.nr, ridemu::detail::service_info(s.nr)->name);
  EXPECT_EQ(served, listed);
}

TEST(Services, PipesAndDescriptorsAtTheirEdges) {
  TempDir root;
  const auto o = traps({{124, kBuf, 0, 0},                  // a pipe: descriptors 3 and 4
                        {1, 4, kStrings, 2},                // "/t" in
                        {3, 3, kBuf + 64, 1},               // "/" out
                        {1, 4, kStrings + 32, 1},           // "t" in, after one byte left unread
                        {3, 3, kBuf + 64, 16},              // "tt" out
                        {3, 3, kBuf + 64, 0},               // nothing asked, nothing read
                        {4, kStrings + 5 * 32, 0x41, 0},    // "f" for writing only: 5
                        {3, 5, kBuf + 64, 1},               // not for reading
                        {125, kStrings + 8 * 32, 0, 0}, {4, kStrings + 8 * 32, 1, 0},  // named pipe "/p" for writing: 6
                        {1, 6, kStrings, 2}, {3, 6, kBuf + 64, 1},                     // not for reading either
                        {127, 3, 0xFFFFFFFFu, 0}, {127, 3, 256, 0}, {127, 3, 255, 0}},  // dup2 to 0..255 only
                       quiet(root.path));
  EXPECT_EQ(results(o, 3), (Ints{1, 2, 0, -9, -9}));
  EXPECT_EQ(results(o, 4), (Ints{5, 6}));
  EXPECT_EQ(results(o, 127), (Ints{-9, -9, 255}));
}

TEST(Services, SleepSleepsUnlessTurnedOffAndNeverPastTheTimeLimit) {
  const auto took = [](const Args& list, const ridemu::Config& c, const char* message) {  // each "t" sleeps 0.2 s
    const auto t0 = Clock::now();
    EXPECT_EQ(ops(list, c).message.rfind(message, 0), 0u);
    return Clock::now() - t0;
  };
  auto c = quiet();
  EXPECT_LT(took({"t", "t", "t", "t", "t"}, c, ""), std::chrono::milliseconds(900));
  c.sleep = true;
  EXPECT_GE(took({"t"}, c, ""), std::chrono::milliseconds(190));
  c.time_limit_ms = 100;
  EXPECT_LT(took({"t", "t", "t", "t", "t"}, c, "time limit exceeded"), std::chrono::milliseconds(900));
}

TEST(Paths, NothingResolvesOutsideTheRoot) {
  TempDir outer;
  const std::string root = mkdirs(outer / "root");
  mkdirs(root + "/sub");
  spit(outer / "secret.txt", "SECRET");
  spit(root + "/top.txt", "TOP");
  const std::vector<std::pair<std::string, std::string>> links = {
      {"abs-out", "/etc/passwd"}, {"rel-out", "../secret.txt"}, {"sub/deep-out", "../../../../../secret.txt"},
      {"abs-in", "/top.txt"}, {"sub/abs-in", "/top.txt"}, {"up", ".."}, {"dir-out", outer.path}, {"loop", "loop"}};
  for (const auto& [name, target] : links) symlink(target.c_str(), (root + "/" + name).c_str());
  Args list;
  for (const char* p : {"../secret.txt", "/../../secret.txt", (outer / "secret.txt").c_str(), "abs-out",
                        "rel-out", "sub/deep-out", "up/secret.txt", "dir-out/secret.txt", "loop",
                        "../../top.txt", "abs-in", "sub/abs-in", "up/up/sub/../top.txt"})
    list.insert(list.end(), {"c", std::string(p)});
  list.insert(list.end(), {"w", "../planted", "x", "w", "dir-out/planted2", "x", "m", "up/made", "d", "../..", "p"});
  const auto o = ops(list, quiet(root));
  EXPECT_EQ(o.console, "TOPTOPTOPTOP/\n");
  EXPECT_EQ(results(o, 4), (Ints{-2, -2, -2, -2, -2, -2, -2, -2, -40, 3, 3, 3, 3}));
  EXPECT_EQ(results(o, 21), (Ints{1, -2}));
  // What was written stayed inside the root.
  EXPECT_EQ(listing(outer.path), (std::set<std::string>{"root", "secret.txt"}));
  EXPECT_TRUE(exists(root + "/planted") && exists(root + "/made"));
  EXPECT_EQ(slurp(outer / "secret.txt"), "SECRET");
}

TEST(Paths, AWorkingDirectoryTurnedIntoALinkIsFollowedInsideTheRoot) {
  TempDir outer;
  const std::string root = mkdirs(outer / "root");
  mkdirs(root + "/d");
  spit(outer / "secret.txt", "SECRET");
  auto c = quiet(root);
  c.service_hook = [&](ridemu::ServiceCall& call) {
    // After the chdir, the host puts a link to the outside where /d was.
    if (call.nr == 4 && rmdir((root + "/d").c_str()) == 0) symlink(outer.path.c_str(), (root + "/d").c_str());
  };
  const auto o = ops({"d", "/d", "c", "secret.txt"}, c);
  EXPECT_EQ(results(o, 95), (Ints{0}));
  EXPECT_EQ(results(o, 4), (Ints{-2}));
  // The host's own / can be the root.
  const auto h = ops({"d", "/", "c", "/", "d", "/tmp/.."}, quiet("/"));
  EXPECT_EQ(results(h, 95), (Ints{0, 0}));
  EXPECT_EQ(results(h, 4), (Ints{-21}));
}

TEST(Paths, TheFinalOpenKeepsLinksInsideTheRootItself) {
  // Paths the resolver never hands over, with links that lead out, as if the
  // host had changed the tree after resolving: the open stays inside.
  struct open_how how{};
  if (syscall(SYS_openat2, AT_FDCWD, ".", &how, sizeof how) < 0 && errno == ENOSYS) GTEST_SKIP() << "no openat2";
  TempDir outer;
  const std::string root = mkdirs(outer / "root");
  spit(outer / "secret.txt", "SECRET"), spit(root + "/secret.txt", "INSIDE");
  symlink("..", (root + "/up").c_str()), symlink(outer.path.c_str(), (root + "/abs").c_str());
  const int root_fd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (const auto& [guest, want] : std::vector<std::pair<std::string, std::string>>{
           {"/up/secret.txt", "INSIDE"}, {"/abs/secret.txt", "-2"}, {"/up/up/secret.txt", "INSIDE"}}) {
    const int fd = ridemu::detail::open_in_root(root_fd, {guest, root + guest}, O_RDONLY | O_CLOEXEC);
    char got[16] = {};
    EXPECT_EQ(fd < 0 ? std::to_string(fd) : std::string(got, std::max<ssize_t>(read(fd, got, sizeof got), 0)), want) << guest;
    if (fd >= 0) close(fd);
  }
  close(root_fd);
}

TEST(Files, StoresAreWholeAndFailuresKeepTheOldFile) {
  TempDir root;
  spit(root / "keep.txt", "old");
  spit(root / "s.txt", "before");
  mkdirs(root / "dir");
  auto c = quiet(root.path);
  int stores = 0;
  c.service_hook = [&](ridemu::ServiceCall& call) {
    // The store of keep.txt (the second) gets a count that runs off the
    // mapped memory; the second stream is never ended.
    if (call.nr == 21 && ++stores == 2) call.edx = 0x7fffffff;
    if (call.nr == 55 && stores > 5) call.result = 0;
  };
  auto o = ops({"w", "/new.txt", "fresh", "w", "/keep.txt", "new", "w", "/dir", "x", "w", "/missing/x.txt",
                "x", "w", "/empty.txt", "", "z", "/s.txt", "streamed", "z", "/no/s.txt", "x", "B",
                "z", "/s.txt", "lost"},
               c);
  EXPECT_EQ(results(o, 21), (Ints{5, -14, -21, -2, 0, -14}));
  EXPECT_EQ(results(o, 53), (Ints{1, -2, 2}));
  EXPECT_EQ(results(o, 54), (Ints{8, -9, 4}));  // a stream that did not begin: a bad handle
  EXPECT_EQ(results(o, 55), (Ints{0, -9, 0}));
  EXPECT_EQ(slurp(root / "new.txt"), "fresh");
  EXPECT_EQ(slurp(root / "keep.txt"), "old");
  EXPECT_EQ(slurp(root / "s.txt"), "streamed");  // the stream never ended stored nothing
  // No temporary file is left anywhere, and the failed stores made nothing.
  EXPECT_EQ(listing(root.path), (std::set<std::string>{"new.txt", "keep.txt", "dir", "empty.txt", "s.txt"}));
  EXPECT_TRUE(listing(root / "dir").empty());
  // A store replaces the file whole: a second link to it keeps the old content.
  spit(root / "held.txt", "old content");
  ASSERT_EQ(link((root / "held.txt").c_str(), (root / "holder").c_str()), 0);
  o = ops({"w", "/held.txt", "new"}, quiet(root.path));
  EXPECT_EQ(slurp(root / "held.txt"), "new");
  EXPECT_EQ(slurp(root / "holder"), "old content");
}

TEST(Files, AStoreCutShortWithTheEmulatorLeavesNothing) {
  TempDir root;
  spit(root / "s.txt", "before");
  auto c = quiet(root.path);
  c.service_hook = [](ridemu::ServiceCall& call) {
    if (call.nr == 55) kill(getpid(), SIGKILL);  // between the stream's write and its end
  };
  EXPECT_TRUE(WIFSIGNALED(in_child([&] { ops({"z", "/s.txt", "streamed"}, c); })));
  EXPECT_EQ(slurp(root / "s.txt"), "before");
  EXPECT_EQ(listing(root.path), (std::set<std::string>{"s.txt"}));
}

// One run of ops.elf in a root of programs: its console output, its exit
// status and, per service, the results of its traps (and the statuses of
// the programs its run requests and waitpid saw, -1 for none).
struct Scenario { const char* what; Args ops; std::string console; int status; std::map<uint32_t, Ints> results, statuses; };

TEST(Services, Scenarios) {
  const std::string own = "ops\ns\n/bin/args.kav\ns\nbin/fault.flat\ns\n/nothere\ns\n/bin/text.bin\nd\nbin\nS\nargs.kav\n";
  const std::vector<Scenario> cases = {
      {"bad pointers and counts get -14 and -22, unknown services -38; the guest goes on", {"B", "N"}, "alive\n", 16,
       {{1, {-14, -14, 6}}, {3, {-14, -14, -22}}, {4, {-14}}, {21, {-14}}, {49, {-14}}, {52, {-14}},
        {96, {-14}}, {124, {-14}}, {131, {-14, -14}}, {132, {-14}}, {0, {-38}}, {77, {-38}}}},
      // A string running into unmapped memory; one ending on the last mapped
      // byte; 5000 bytes.
      {"strings at the edges", {"E"}, "", 3, {{4, {-14, -2, -36}}}},
      {"descriptors, seek, dup, pipes and named pipes",
       {"l", "/f.txt", "D", "P", "f", "/ff", "F", "/ff", "f", "/ff", "a", "/f.txt", "AB", "c", "/f.txt", "u",
        "/ff", "c", "/ff", "c", "/", "c", "/ff"},
       "234dup\ndup2\npipe!fifo!0123456789AB", 4,
       {{110, {10, 2}}, {126, {3}}, {127, {9}}, {125, {0, -17}}, {50, {0}},  // lowest free: 0-2 are standard
        {4, {3, 3, 4, 3, 3, -2, -21, -2}}, {3, {3, 5, 0, 5, 12}}}},      // an empty pipe reads 0 at once
      {"directories and the working directory",
       {"m", "/a", "m", "/a", "d", "a", "m", "b", "d", "b", "p", "d", "..", "x", "b", "x", "/", "x", "/nothing",
        "w", "f", "x", "d", "f", "u", "f", "u", "f", "p", "w", "/", "x", "z", "/", "x"},
       "/a/b\n/a\n", 9,
       {{21, {1, -21}}, {53, {-21}}, {49, {0, -17, 0}}, {51, {0, -16, -2}}, {95, {0, 0, 0, -20}}, {50, {0, -2}}}},
      // args.kav exits with its argc; ./x.bin in /work comes before /bin/x.bin.
      {"run requests look in the working directory, then /bin",
       {"r", "args.kav a  b", "r", "x.bin 1 2 3", "d", "/work", "r", "x.bin e 42", "r", "/bin/args.kav", "r",
        "nothere.bin", "r", "text.bin", "r", "   ", "r", "../bin"},
       "args.kav\na\nb\nx.bin\n1\n2\n3\n/bin/args.kav\n", 4,
       {{96, {0, 0, 0, 0, -2, -8, -22, -2}}}, {{96, {3, 4, 42, 1, -1, -1, -1, -1}}}},
      // A faulting child does not end a script; a line that cannot run does.
      {"scripts", {"r", "demo.shell", "r", "broken.shell"}, "args.kav\nfrom\nscript\nargs.kav\n1\n", 1,
       {{96, {0, 0, 0, 0, 0, -2, -2}}}, {{96, {3, 139, 7, -1, 2, -1, -1}}}},
      // A child's argv is the path alone or the vector it was given (here its
      // parent's own); it prints before spawn returns.
      {"spawn and waitpid", {"s", "/bin/args.kav", "s", "bin/fault.flat", "s", "/nothere", "s", "/bin/text.bin",
                             "d", "bin", "S", "args.kav"},
       "/bin/args.kav\n" + own, 2, {{131, {2, 3, -2, -8, 4}}, {132, {2, 3, 4}}}, {{132, {1, 0, 13}}}},
  };
  for (const Scenario& k : cases) {
    SCOPED_TRACE(k.what);
    ProgramRoot root;
    spit(root.dir / "f.txt", "0123456789");
    const auto o = ops(k.ops, quiet(root.dir.path));
    EXPECT_EQ(o.console, k.console);
    EXPECT_EQ(o.status, k.status);
    for (const auto& [nr, want] : k.results) EXPECT_EQ(results(o, nr), want) << "service " << nr;
    for (const auto& [nr, want] : k.statuses) {
      Ints got;
      for (const auto& t : o.trace)
        if (t.nr == nr && t.pid == 1) got.push_back(t.status.value_or(-1));
      EXPECT_EQ(got, want) << "statuses of " << nr;
    }
    if (k.ops[0] == "E") EXPECT_EQ(o.trace[1].path, std::string(15, 'A'));
    if (k.ops[0] == "l")  // named pipes live in memory only
      EXPECT_TRUE(slurp(root.dir / "f.txt") == "0123456789AB" && !exists(root.dir / "ff"));
    if (k.ops[0] == "m") {
      EXPECT_FALSE(exists(root.dir / "a/b") || exists(root.dir / "f"));
      const mode_t mask = umask(0);
      umask(mask);
      EXPECT_EQ(fs::status(root.dir / "a").permissions(), static_cast<fs::perms>(0755 & ~mask));
    }
  }
  // Standard input, getkey and the console packet: not shown, while 4
  // other bytes are.
  auto c = quiet();
  c.stdin_data = "xyz";
  const auto o = ops({"K", "k", "i", "k", "n", "D"}, c);
  EXPECT_EQ(o.console, "yzdup\ndup2\n");
  ASSERT_EQ(o.packets.size(), 1u);
  EXPECT_EQ(o.packets[0].bytes, (std::array<uint8_t, 4>{0xFF, 1, 2, 3}));
  EXPECT_EQ(results(o, 6), (Ints{'x', -1}));
  for (uint32_t nr : {128u, 129u, 130u}) EXPECT_EQ(results(o, nr), (Ints{0}));
}

TEST(Fuzz, RandomServiceArgumentsLeaveTheHostAndRootSound) {
  const std::string trap = image("trap");
  const uint32_t strings_end = symbol("strings_end", trap);
  // Edges of the guest's memory, then small numbers, flags and counts.
  const uint32_t words[] = {0x10, 0xFFF, 0x1000, 0x400000, strings_end - 1, kBuf + 0x20000 - 1, kBuf + 0x20000 - 8,
                            0xBFEFFFFFu, 0xBFF00000u, 0xBFFFFFFFu, 0xC0000000u, 0xFFFFFFFFu, 0, 1, 2, 3, 4, 5, 9, 255,
                            256, 0x41, 0x241, 0x441, 0xC1, 0x20000, 0x20001, 0x7FFFFFFF, 0x80000000u};
  std::mt19937 rng(7);
  const auto pick = [&]() -> uint32_t {  // a string of trap.elf, a place in its buffer, any word, a listed one
    const uint32_t r = rng();
    return r % 4 == 0 ? kStrings + 32 * (r / 4 % ((strings_end - kStrings) / 32))
         : r % 4 == 1 ? kBuf + r / 4 % 0x20000 : r % 8 == 2 ? rng() : words[rng() % std::size(words)];
  };
  for (int run = 0; run < 12; ++run) {
    SCOPED_TRACE(run);
    TempDir outer;
    const std::string root = mkdirs(outer / "root");
    mkdirs(root + "/d"), mkdirs(root + "/bin");
    spit(root + "/t.kav", slurp(trap)), spit(root + "/bin/t.kav", slurp(trap));
    spit(root + "/s.shell", "t.kav a\n/t.kav\ns.shell\n"), spit(root + "/f", "file");
    symlink("..", (root + "/ln").c_str());
    symlink(outer.path.c_str(), (root + "/d/out").c_str());
    std::map<int, int> calls;  // per process
    auto c = quiet(root);
    c.record = false;
    c.service_hook = [&](ridemu::ServiceCall& call) {
      const auto& table = ridemu::detail::services();  // mostly served numbers, never _exit before the end
      call.nr = rng() % 8 ? table[rng() % table.size()].nr : static_cast<uint32_t>(rng());
      call.nr = ++calls[call.pid] > (call.depth ? 20 : 2000) ? 2 : call.nr == 2 ? 0 : call.nr;
      call.ebx = call.nr == 2 ? 0 : pick(), call.ecx = pick(), call.edx = pick();
    };
    const auto o = ridemu::run(trap, {"trap"}, c);
    EXPECT_EQ(o.kind, ridemu::Outcome::Exited) << o.message;
    // Nothing was made outside the root, and no store left a temporary.
    EXPECT_EQ(listing(outer.path), (std::set<std::string>{"root"}));
    for (const auto& e : fs::recursive_directory_iterator(root))
      EXPECT_EQ(e.path().filename().string().find(".ridid-store-"), std::string::npos) << e.path();
  }
}

}  // namespace
