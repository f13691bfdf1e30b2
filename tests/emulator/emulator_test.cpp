// Tests of the emulator library and of the ridid-emu command. Most guest
// programs are images/ops.c, a little interpreter of one-letter operations.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <sstream>

#include "kernel/kernel.h"
#include "support.h"

namespace {

using namespace test;
using Ints = std::vector<int32_t>;
using Clock = std::chrono::steady_clock;

std::string image(const std::string& name) { return std::string(EMU_TEST_IMAGES) + "/" + name + ".elf"; }
uint32_t symbol(const std::string& name, const std::string& img) {
  const auto s = ElfImage(img).symbol(name);
  EXPECT_TRUE(s) << name;
  return s ? s->st_value : 0;
}
ridemu::Outcome ops(Args list, const ridemu::Config& c) {
  list.insert(list.begin(), "ops");
  return ridemu::run(image("ops"), list, c);
}
// The wait status of a child process that runs f, then exits with 0.
int in_child(const std::function<void()>& f) {
  const pid_t child = fork();
  if (child == 0) f(), _exit(0);
  int status = -1;
  return waitpid(child, &status, 0), status;
}
std::string mkdirs(const std::string& dir) {
  fs::create_directories(dir);
  return dir;
}

// trap.elf traps for ever: its traps make the calls (nr, ebx, ecx, edx) of
// the list in turn, then _exit(0). `made` counts the calls made.
using Call = std::array<uint32_t, 4>;
ridemu::Outcome traps(const std::vector<Call>& list, ridemu::Config c = quiet(), const std::string& img = image("trap"),
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
const uint32_t kStrings = symbol("strings", image("trap")), kBuf = symbol("buf", image("trap"));

// ---------------------------------------------------------------- loader

TEST(Loader, RefusesMalformedImages) {
  const std::string good = slurp(image("ops"));
  EXPECT_EQ(ridemu::check_image({good.begin(), good.end()}), "");
  const uint32_t phoff = ElfImage(image("ops")).eh.e_phoff;
  const auto put32 = [](std::string& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
  const auto le32 = [&](size_t at) { uint32_t v; std::memcpy(&v, &good[at], 4); return v; };
  const auto ph = [&](int i, int field) { return phoff + 32 * i + field; };
  const std::vector<std::pair<std::function<void(std::string&)>, const char*>> cases = {
      {[](auto& b) { b.clear(); }, "not an ELF image"},
      {[](auto& b) { b.resize(40); }, "truncated ELF header"},
      {[](auto& b) { b.resize(100); }, "program headers lie outside the file"},
      {[](auto& b) { b.resize(0x1800); }, "lies outside the file"},
      {[](auto& b) { b[1] = 'X'; }, "not an ELF image"},
      {[](auto& b) { b[4] = 2; }, "not a 32-bit ELF image"},
      {[](auto& b) { b[5] = 2; }, "not a little-endian ELF image"},
      {[](auto& b) { b[18] = 62; }, "not an i386 image"},
      {[](auto& b) { b[16] = 3; }, "not an executable"},
      {[&](auto& b) { put32(b, 20, 7); }, "unsupported ELF version"},
      {[](auto& b) { b[42] = 40; }, "bad program header size"},
      {[](auto& b) { b[44] = b[45] = 0; }, "no program headers"},
      {[&](auto& b) { put32(b, ph(1, 4), 0x100000); }, "segment 2 lies outside the file"},
      {[&](auto& b) { put32(b, ph(1, 4), 0xFFFFFFF0u); }, "segment 2 lies outside the file"},
      {[&](auto& b) { put32(b, ph(1, 20), 1), put32(b, ph(1, 16), 2); }, "file size above its memory size"},
      {[&](auto& b) { put32(b, ph(2, 8), le32(ph(0, 8)) + 0x10); }, "overlap"},
      {[&](auto& b) { put32(b, ph(2, 8), 0xFFFFF000u), put32(b, ph(2, 20), 0x2000); }, "wraps around"},
      {[&](auto& b) { put32(b, ph(2, 8), 0x0); }, "lies in the first page"},
      {[&](auto& b) { put32(b, ph(2, 8), 0xBFF00000u); }, "stack"},
      {[&](auto& b) { put32(b, ph(2, 8), 0xBFEFF800u), put32(b, ph(2, 16), 0), put32(b, ph(2, 20), 0x800); }, "stack"},
      {[&](auto& b) { put32(b, 24, le32(ph(2, 8))); }, "entry point"},
      {[&](auto& b) { put32(b, 24, 0x10000000); }, "entry point"},
      {[&](auto& b) { put32(b, ph(1, 0), 3); }, "interpreter"},
      {[&](auto& b) { put32(b, ph(1, 0), 2); }, "dynamic"},
      {[&](auto& b) { for (int i = 0; i < 3; ++i) put32(b, ph(i, 0), 6); }, "no loadable segment"},
  };
  TempDir dir;
  for (const auto& [edit, reason] : cases) {
    SCOPED_TRACE(reason);
    std::string bytes = good;
    edit(bytes);
    spit(dir / "bad", bytes);
    const auto o = ridemu::run(dir / "bad", {"bad"}, quiet());
    EXPECT_TRUE(o.kind == ridemu::Outcome::Refused && o.status == ridemu::kStatusRefused && o.trace.empty());
    EXPECT_NE(o.message.find(reason), std::string::npos) << o.message;
  }
  EXPECT_EQ(ridemu::run(dir / "missing", {"x"}, quiet()).status, ridemu::kStatusNoImage);
}

TEST(Loader, BuildsTheInitialStackAndRegisters) {
  // args.elf checks the registers, the x87 control word and the terminating
  // null pointer itself (status 200..202 when one is wrong).
  auto o = ridemu::run(image("args"), {"args", "one", std::nullopt, "", "last"}, quiet());
  EXPECT_EQ(o.status, 5);
  EXPECT_EQ(o.console, "args\none\n(null)\n\nlast\n");
  EXPECT_EQ(ridemu::run(image("args"), {}, quiet()).status, 0);
  // A vector that does not fit the stack is refused, not written past it.
  Args huge{"args"};
  huge.insert(huge.end(), 64, std::string(8192, 'x'));
  o = ridemu::run(image("args"), huge, quiet());
  EXPECT_EQ(o.status, ridemu::kStatusTooLong);
  EXPECT_EQ(o.message, "argument list too long");
  // At the edge: 5 + (n + 1) bytes of strings, a 16-byte vector and 64 bytes of room make 256 KiB.
  const size_t n = 256 * 1024 - 86;
  EXPECT_EQ(ridemu::run(image("args"), {"args", std::string(n, 'y')}, quiet()).status, 2);
  EXPECT_EQ(ridemu::run(image("args"), {"args", std::string(n + 1, 'y')}, quiet()).status, ridemu::kStatusTooLong);
}

TEST(Loader, ASegmentEndingJustPastAPageHasItsLastByte) {
  std::string bytes = slurp(image("trap"));
  const ElfImage e(image("trap"));
  uint32_t last = 0;
  for (size_t i = 0; i < e.phdrs.size(); ++i) {
    const Elf32_Phdr& ph = e.phdrs[i];
    if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_W)) continue;
    const uint32_t memsz = ((ph.p_vaddr + ph.p_memsz + 0xFFF) & ~0xFFFu) - ph.p_vaddr + 1;
    std::memcpy(&bytes[e.eh.e_phoff + i * sizeof ph + 20], &memsz, 4);
    last = ph.p_vaddr + memsz - 1;
  }
  TempDir dir;
  spit(dir / "t.elf", bytes);
  EXPECT_EQ(results(traps({{1, 1, last, 1}}, quiet(), dir / "t.elf"), 1), (Ints{1}));  // write out its last byte
}

TEST(Loader, AMappingFailureSaysWhy) {
  // A 200 MiB data segment where the host allows the engine no more memory
  // than an ordinary run took.
  std::string bytes = slurp(image("ops"));
  const uint32_t size = 200u << 20;
  std::memcpy(&bytes[ElfImage(image("ops")).eh.e_phoff + 2 * 32 + 20], &size, 4);
  TempDir dir;
  spit(dir / "big.elf", bytes);
  const int status = in_child([&] {
    ridemu::run(image("ops"), {"ops"}, quiet());
    std::ifstream status("/proc/self/status");
    long peak_kib = 0;
    for (std::string l; std::getline(status, l);)
      if (l.rfind("VmPeak:", 0) == 0) peak_kib = std::stol(l.substr(7));
    const rlimit limit{static_cast<rlim_t>(peak_kib + (64 << 10)) << 10, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    const auto o = ridemu::run(dir / "big.elf", {"big"}, quiet());
    if (o.status != ridemu::kStatusRefused || o.message.rfind("cannot map segment 3: ", 0))
      std::fprintf(stderr, "got %d: %s\n", o.status, o.message.c_str()), _exit(1);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// ---------------------------------------------------------------- faults

TEST(Faults, EachFaultEndsTheGuestWithOneLine) {
  const std::string img = image("fault");
  const auto at = [&](const char* s) { return hex(symbol(s, img)); };
  const std::vector<std::tuple<const char*, std::string, std::string>> cases = {  // the line starts, ends
      {"r", "unmapped read at 0x00000010 (eip " + at("at_read") + ") in at_read: mov eax, dword ptr [0x10]", ""},
      {"w", "unmapped write at 0x00000020 (eip " + at("at_write") + ") in at_write: mov dword ptr [edi], eax", ""},
      {"c", "protected write at " + at("_start") + " (eip " + at("at_code") + ")", ""},
      {"j", "unmapped fetch at 0x12345678 (eip 0x12345678)", "(eip 0x12345678)"},  // no function
      {"x", "protected fetch at " + at("data_word") + " (eip " + at("data_word") + "): ret", "): ret"},
      {"u", "invalid instruction at " + at("at_ud2") + " (eip " + at("at_ud2") + ") in at_ud2: ud2", ""},
      {"d", "division error at " + at("at_div") + " (eip " + at("at_div") + ")", ""},
      {"e", "protected fetch at " + hex(symbol("at_edge", img) + 1) + " (eip " + at("at_edge") + ")", ""},
      {"i", "breakpoint at " + at("at_int3") + " (eip " + at("at_int3") + ") in at_int3: int3", ""},
      {"n", "interrupt 0x81 at " + at("at_int81") + " (eip " + at("at_int81") + ") in at_int81: int 0x81", ""},
      {"s", "stack overflow: write at 0xbfeffffc (eip " + at("at_stack") + ") in at_stack: call ", ""},
      {"k", "stack overflow: write at 0xbfeff", ") in at_below: mov dword ptr [esp + 4], eax"},
      {"h", "halt instruction at " + at("at_hlt") + " (eip " + at("at_hlt") + ") in at_hlt: hlt", ""},
      {"p", "port input instruction at " + at("at_port") + " (eip " + at("at_port") + ") in at_port: in al, 0x60", ""},
      {"y", "fast system call instruction at " + at("at_syscall"), ""},
      {"g", "general protection fault at " + at("at_debug") + " (eip " + at("at_debug") + ") in at_debug: mov dr7, eax", ""},
  };
  for (const auto& [arg, message, end] : cases) {
    SCOPED_TRACE(arg);
    const auto o = ridemu::run(img, {"fault", arg}, quiet());
    EXPECT_EQ(o.kind, ridemu::Outcome::Faulted);
    EXPECT_EQ(o.status, ridemu::kStatusFault);
    EXPECT_EQ(o.message.rfind(message, 0), 0u) << o.message;
    EXPECT_EQ(o.message.substr(o.message.size() - std::min(o.message.size(), end.size())), end);
    EXPECT_TRUE(o.trace.empty());  // nothing was served after the fault
  }
  EXPECT_EQ(ridemu::run(img, {"fault"}, quiet()).kind, ridemu::Outcome::Exited);
}

TEST(Faults, LinesNameTheFunctionSourceLineAndInstruction) {
  const std::string source = slurp(std::string(EMU_TEST_SOURCES) + "/tools.c");
  const auto line = [&](const std::string& marker) {
    return std::to_string(std::count(source.begin(), source.begin() + source.find("line: " + marker), '\n') + 1);
  };
  const std::vector<std::array<std::string, 4>> cases = {
      {"crash", "unmapped write at 0x00000000 (eip 0x", ") in crash+0x", "(tools.c:" + line("crash") + "): mov dword ptr [eax], 0x2a"},
      {"recurse", "stack overflow: write at 0xbfef", ") in recurse+0x", "(tools.c:" + line("recursion") + "): mov dword ptr [ebp - 0x100], eax"},
      {"invalid", "invalid instruction at 0x", ") in invalid+0x", "(tools.c:" + line("invalid") + "): ud2"},
  };
  for (const auto& [arg, head, place, insn] : cases) {
    SCOPED_TRACE(arg);
    const std::string m = ridemu::run(image("tools"), {"tools", arg}, quiet()).message;
    EXPECT_EQ(m.rfind(head, 0), 0u) << m;
    EXPECT_NE(m.find(place), std::string::npos) << m;
    EXPECT_EQ(m.size() - m.rfind(insn), insn.size()) << m;
  }
}

TEST(Faults, TheBudgetAndTheTimeLimitEndARunawayGuest) {
  auto c = quiet();
  c.max_instructions = 100000;
  auto o = ridemu::run(image("fault"), {"fault", "l"}, c);
  EXPECT_EQ(o.message.rfind("instruction budget exceeded at ", 0), 0u) << o.message;
  EXPECT_EQ(o.instructions, 100001u);
  // count.elf runs exactly 1004 instructions: a budget of 1004 is enough.
  for (uint64_t budget : {1004u, 1003u}) {
    c.max_instructions = budget;
    o = ridemu::run(image("count"), {"count"}, c);
    EXPECT_EQ(o.kind, budget == 1004 ? ridemu::Outcome::Exited : ridemu::Outcome::Faulted);
    EXPECT_EQ(o.instructions, 1004u);
  }
  // The time limit ends it too, without counting instructions.
  c.max_instructions = 0, c.time_limit_ms = 300;
  const auto t0 = Clock::now();
  o = ridemu::run(image("fault"), {"fault", "l"}, c);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(250));
  EXPECT_EQ(o.message.rfind("time limit exceeded at ", 0), 0u) << o.message;
  EXPECT_EQ(o.instructions, 0u);
}

// Stores reach data pages without the processor's look for code written over;
// on a writable and executable page it still replaces the code it wrote.
TEST(Faults, CodeWrittenIntoAWritableExecutablePageIsTheCodeThatRuns) {
  // rewrite.elf exits with a mask of its checks that ran old code; without
  // an argument it runs exactly 2806 instructions. With one, a store changes
  // the next instruction of its own block, which the processor then runs
  // again from that store, so the count is not checked.
  const std::vector<std::tuple<Args, bool, uint64_t>> cases = {  // argv, --count, instructions
      {{"rewrite"}, false, 0}, {{"rewrite"}, true, 2806},
      {{"rewrite", "next"}, false, 0}, {{"rewrite", "next"}, true, 0}};
  for (const auto& [argv, count, instructions] : cases) {
    SCOPED_TRACE(std::to_string(argv.size()) + (count ? " counted" : ""));
    auto c = quiet();
    c.count = count;
    const auto o = ridemu::run(image("rewrite"), argv, c);
    EXPECT_EQ(o.kind, ridemu::Outcome::Exited) << o.message;
    EXPECT_EQ(o.status, 0);
    if (instructions) EXPECT_EQ(o.instructions, instructions);
  }
}

// ---------------------------------------------------------------- processes

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

// ---------------------------------------------------------------- services

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

// ---------------------------------------------------------------- files

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

TEST(RunRequest, NestingIsBounded) {
  ProgramRoot root;
  auto o = ops({"r", "self.shell", "p"}, quiet(root.dir.path));
  const Ints r = results(o, 96);
  ASSERT_EQ(r.size(), 17u);  // 16 nested script lines and the trap
  EXPECT_LT(r.back(), 0);
  EXPECT_EQ(o.console, "/\n");  // and the guest carries on
  // A program that spawns itself: 16 levels of children, then a failure.
  o = ops({"S", "/bin/ops.dura"}, quiet(root.dir.path));
  int deepest = 0, refused = 0;
  for (const auto& t : o.trace) {
    deepest = std::max(deepest, t.pid);
    refused += t.nr == 131 && t.result < 0;
  }
  EXPECT_EQ(deepest, 17);
  EXPECT_EQ(refused, 1);
}

TEST(Trace, OneJsonLinePerTrap) {
  TempDir dir;
  auto c = quiet(dir.path);
  c.trace_file = dir / "trace.jsonl";
  const auto o = ops({"w", "/q\"\n\\.txt", "x", "K", "e", "3"}, c);
  ASSERT_EQ(o.trace.size(), 3u);
  EXPECT_EQ(slurp(dir / "trace.jsonl"), o.trace[0].json + "\n" + o.trace[1].json + "\n" + o.trace[2].json + "\n");
  EXPECT_EQ(o.trace[0].json.rfind("{\"pid\":1,\"nr\":21,\"name\":\"writefile\",\"ebx\":\"0x", 0), 0u);
  EXPECT_NE(o.trace[0].json.find(",\"result\":1,\"path\":\"/q\\\"\\n\\\\.txt\"}"), std::string::npos) << o.trace[0].json;
  EXPECT_NE(o.trace[1].json.find("\"packet\":[255,1,2,3]"), std::string::npos);
  EXPECT_NE(o.trace[2].json.find(",\"status\":3}"), std::string::npos) << o.trace[2].json;
}

// ---------------------------------------------------------------- limits

TEST(Limits, APipeHoldsNoMoreThanItsCapacity) {
  // The reader always leaves one byte behind, so the pipe never runs empty;
  // what was read must still be let go: 256 MiB pass through.
  std::vector<Call> list = {{124, kBuf, 0, 0}};  // descriptors 3 and 4
  for (int i = 0; i < 4096; ++i) list.insert(list.end(), {{1, 4, kBuf, 0x10000}, {3, 3, kBuf, 0xFFFF}});
  auto c = quiet();
  c.record = false;
  rusage before{}, after{};
  size_t made = 0;
  getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(traps(list, c, image("trap"), &made).kind, ridemu::Outcome::Exited);
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(made, list.size());
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);
}

TEST(Limits, ScriptsAndTheRunsLimitsAreBounded) {
  ProgramRoot root;
  std::string many;
  for (int i = 0; i < 4000; ++i) many += "args.kav x\n";
  spit(root.dir / "bin/many.shell", many);
  // Scripts of comment lines, each running the next twice: 2^10 runs; and
  // 64^4 runs of scripts that start nothing.
  const auto chain = [&](const std::string& name, int levels, std::string (*body)(const std::string&), const char* last) {
    for (int level = 1; level <= levels; ++level)
      spit(root.dir / ("bin/" + name + std::to_string(level) + ".shell"), body(name + std::to_string(level + 1) + ".shell\n"));
    spit(root.dir / ("bin/" + name + std::to_string(levels + 1) + ".shell"), last);
  };
  chain("fold", 10, [](const std::string& next) { return std::string(64 * 1024, '#') + "\n" + next + next; }, "args.kav\n");
  chain("fan", 4, [](const std::string& next) { std::string t; for (int i = 0; i < 64; ++i) t += next; return t; }, "# nothing\n");
  struct Case { const char* line; uint64_t time_limit_ms, budget; const char* fault; };  // fault "": it carries on
  for (const Case& k : std::vector<Case>{{"many.shell", 100, 0, "time limit exceeded"},
                                         {"many.shell", 20000, 20000, "instruction budget exceeded"},
                                         {"fold1.shell", 100, 0, "time limit exceeded"},
                                         {"fan1.shell", 20000, 0, ""},
                                         {"fault.flat l", 200, 0, "time limit exceeded"}}) {  // spent in a child
    SCOPED_TRACE(k.line);
    auto config = quiet(root.dir.path);
    config.time_limit_ms = k.time_limit_ms;
    config.max_instructions = k.budget;
    const auto o = ops({"r", k.line, "p"}, config);
    int started = 0, lines = 0;
    for (const auto& t : o.trace) started = std::max(started, t.pid), lines += t.script;
    if (*k.fault) {
      // The whole run stops: nothing starts once a limit is spent, and the
      // program that asked does not carry on.
      EXPECT_EQ(o.message.rfind(k.fault, 0), 0u) << o.message;
      if (std::string(k.line).rfind("fault", 0) == 0) EXPECT_NE(o.message.find(" in pid 2"), std::string::npos);  // where it was spent
      EXPECT_EQ(o.console.find('/'), std::string::npos);
      EXPECT_LT(started, 3000);
      EXPECT_LT(lines, 2046);
    } else {
      EXPECT_EQ(o.console, "/\n");
      EXPECT_EQ(results(o, 96).back(), -11);  // 4096 scripts, then no more
    }
  }
}

TEST(Spawn, ArgumentsPastTheirLimitsAreTooLongNotBadPointers) {
  TempDir root;
  spit(root / "f", std::string(70000, 'a'));  // longer than 64 KiB
  spit(root / "p", std::string(reinterpret_cast<const char*>(&kBuf), 4));
  const auto o = traps({{4, kStrings + 5 * 32, 0, 0},          // open("f") = 3
                        {3, 3, kBuf, 0x20000},                 // its bytes into buf
                        {4, kStrings + 8 * 32, 0, 0},          // open("/p") = 4
                        {3, 4, kBuf + 0x1F000, 4},             // the vector {buf}
                        {131, kStrings, kBuf + 0x1F000, 1}},   // spawn("/t.kav", ...)
                       quiet(root.path));
  EXPECT_EQ(results(o, 3), (Ints{70000, 4}));
  EXPECT_EQ(results(o, 131), (Ints{-36}));
  spit(root / "t.kav", slurp(image("trap")));  // at most 1024 arguments; vectors of null pointers
  EXPECT_EQ(results(traps({{131, kStrings, kBuf, 1025}, {131, kStrings, kBuf, 1024}}, quiet(root.path)), 131), (Ints{-7, 2}));
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

// ---------------------------------------------------------------- command

struct Command { int status = -1; std::string out, err; };
// ridid-emu with `args` (a shell line), its output kept in `dir`.
Command command(const std::string& args, const std::string& dir, const std::string& env = "") {
  const int raw = std::system((env + " " EMU_TEST_COMMAND " " + args + " >" + dir + "/out 2>" + dir +
                               "/err </dev/null").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir + "/out"), slurp(dir + "/err")};
}

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

TEST(Command, StraceNamesEachServiceAndDecodesItsArguments) {
  ProgramRoot root;
  spit(root.dir / "f.txt", "abc");
  const auto c = command("--root " + root.dir.path + " --strace " + image("ops") +
                             " c /f.txt c /nope s /bin/args.kav K r demo.shell w /a\x7f x B e 3",
                         root.dir.path);
  EXPECT_EQ(c.status, 3);
  const std::vector<std::string> want = {
      "open(\"/f.txt\", 0) = 3", "read(3, \"abc\", 4096) = 3", "write(1, \"abc\", 3) = 3", "close(3) = 0",
      "open(\"/nope\", 0) = -2 ENOENT", "[pid 2] write(1, \"/bin/args.kav\", 13) = 13", "[pid 2] _exit(1) = ?",
      "spawn(\"/bin/args.kav\", NULL, 0) = 2 (status 1)", "write(1, \"\\377\\1\\2\\3\", 4) = 4 (console packet)",
      "run(\"args.kav from script\") = 0 (status 3) (from /bin/demo.shell)", "run(\"demo.shell\") = 0",
      "writefile(\"/a\\177\", \"x\", 1) = 1", "open(0x00000010, 0) = -14 EFAULT", "_exit(3) = ?"};
  std::istringstream in(c.err);
  size_t at = 0;
  for (std::string l; std::getline(in, l);)
    if (at < want.size() && l == want[at]) ++at;
  EXPECT_EQ(at, want.size()) << "missing: " << (at < want.size() ? want[at] : "") << "\n" << c.err;
}

}  // namespace
