// Tests of the emulator library and of the ridid-emu command. The guest
// programs are the images built from images/*.S; ops.S documents the little
// operation language that most tests drive it with.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <dirent.h>
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "kernel/kernel.h"
#include "ridemu.h"

namespace {

using Args = std::vector<std::optional<std::string>>;

std::string image(const std::string& name) {
  return std::string(EMU_TEST_IMAGES) + "/" + name + ".elf";
}

std::vector<uint8_t> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string slurp_text(const std::string& path) {
  auto b = slurp(path);
  return std::string(b.begin(), b.end());
}

void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void spit(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::set<std::string> listing(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

// A temporary directory, removed with everything in it.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/ridemu-test-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Address of a symbol in an image's symbol table.
uint32_t symbol(const std::string& name, const std::string& img) {
  const auto b = slurp(img);
  const uint32_t shoff = le32(b, 32);
  const unsigned shnum = b[48] | (b[49] << 8);
  for (unsigned i = 0; i < shnum; ++i) {
    const size_t sh = shoff + i * 40;
    if (le32(b, sh + 4) != 2) continue;  // SHT_SYMTAB
    const size_t strtab = le32(b, shoff + le32(b, sh + 24) * 40 + 16);
    const uint32_t off = le32(b, sh + 16), size = le32(b, sh + 20);
    for (uint32_t s = off; s + 16 <= off + size; s += 16) {
      const char* n = reinterpret_cast<const char*>(b.data() + strtab + le32(b, s));
      if (name == n) return le32(b, s + 4);
    }
  }
  ADD_FAILURE() << "no symbol " << name;
  return 0;
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

ridemu::Config quiet(const std::string& root = "") {
  ridemu::Config c;
  c.root = root;
  c.scratch_root = root.empty();
  c.console_to_stdout = false;
  c.capture_console = true;
  c.record = true;
  c.sleep = false;
  c.faults_to_stderr = false;
  c.time_limit_ms = 20000;  // no test may hang (and no counting hook)
  c.stdin_data = std::string();
  return c;
}

ridemu::Outcome ops(const Args& operations, const ridemu::Config& c) {
  Args argv{std::string("ops")};
  argv.insert(argv.end(), operations.begin(), operations.end());
  return ridemu::run(image("ops"), argv, c);
}

// Results of the traps with service number `nr`, in order.
std::vector<int32_t> results(const ridemu::Outcome& o, uint32_t nr, int pid = 1) {
  std::vector<int32_t> r;
  for (const auto& t : o.trace)
    if (t.nr == nr && t.pid == pid) r.push_back(t.result);
  return r;
}

// ---------------------------------------------------------------- loader

TEST(Loader, RefusesMalformedImages) {
  const auto good = slurp(image("ops"));
  ASSERT_GT(good.size(), 0x3000u);
  EXPECT_EQ(ridemu::check_image(good), "");
  const uint32_t phoff = le32(good, 28);
  const auto ph = [&](int i, int field) { return phoff + 32 * i + field; };

  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> edit;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"empty", [](auto& b) { b.clear(); }, "not an ELF image"},
      {"truncated header", [](auto& b) { b.resize(40); }, "truncated ELF header"},
      {"truncated headers", [](auto& b) { b.resize(100); }, "program headers lie outside the file"},
      {"truncated segment", [](auto& b) { b.resize(0x1800); }, "lies outside the file"},
      {"bad magic", [](auto& b) { b[1] = 'X'; }, "not an ELF image"},
      {"64-bit class", [](auto& b) { b[4] = 2; }, "not a 32-bit ELF image"},
      {"big-endian", [](auto& b) { b[5] = 2; }, "not a little-endian ELF image"},
      {"machine x86-64", [](auto& b) { b[18] = 62; }, "not an i386 image"},
      {"shared object", [](auto& b) { b[16] = 3; }, "not an executable"},
      {"bad version", [](auto& b) { put32(b, 20, 7); }, "unsupported ELF version"},
      {"phentsize", [&](auto& b) { b[42] = 40; }, "bad program header size"},
      {"no program headers", [&](auto& b) { b[44] = 0; b[45] = 0; }, "no program headers"},
      {"offset past the file", [&](auto& b) { put32(b, ph(1, 4), 0x100000); }, "segment 2 lies outside the file"},
      {"offset wraps", [&](auto& b) { put32(b, ph(1, 4), 0xFFFFFFF0u); }, "segment 2 lies outside the file"},
      {"filesz above memsz", [&](auto& b) { put32(b, ph(1, 20), 1); put32(b, ph(1, 16), 2); }, "file size above its memory size"},
      {"overlapping", [&](auto& b) { put32(b, ph(2, 8), le32(b, ph(0, 8)) + 0x10); }, "overlap"},
      {"wrapping", [&](auto& b) { put32(b, ph(2, 8), 0xFFFFF000u); put32(b, ph(2, 20), 0x2000); }, "wraps around"},
      {"page zero", [&](auto& b) { put32(b, ph(2, 8), 0x0); }, "lies in the first page"},
      {"into the stack", [&](auto& b) { put32(b, ph(2, 8), 0xBFF00000u); }, "stack"},
      {"onto the guard page", [&](auto& b) { put32(b, ph(2, 8), 0xBFEFF800u); put32(b, ph(2, 16), 0); put32(b, ph(2, 20), 0x800); }, "stack"},
      {"entry in data", [&](auto& b) { put32(b, 24, le32(b, ph(2, 8))); }, "entry point"},
      {"entry outside", [&](auto& b) { put32(b, 24, 0x10000000); }, "entry point"},
      {"interpreter", [&](auto& b) { put32(b, ph(1, 0), 3); }, "interpreter"},
      {"dynamic", [&](auto& b) { put32(b, ph(1, 0), 2); }, "dynamic"},
      {"no loadable segment", [&](auto& b) { for (int i = 0; i < 3; ++i) put32(b, ph(i, 0), 6); }, "no loadable segment"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = good;
    c.edit(bytes);
    EXPECT_NE(ridemu::check_image(bytes).find(c.reason), std::string::npos)
        << ridemu::check_image(bytes);
    spit(dir / "bad", bytes);
    const auto o = ridemu::run(dir / "bad", {std::string("bad")}, quiet());
    EXPECT_EQ(o.kind, ridemu::Outcome::Refused);
    EXPECT_EQ(o.status, ridemu::kStatusRefused);
    EXPECT_NE(o.message.find(c.reason), std::string::npos) << o.message;
    EXPECT_TRUE(o.trace.empty());
  }
  const auto missing = ridemu::run(dir / "missing", {std::string("x")}, quiet());
  EXPECT_EQ(missing.kind, ridemu::Outcome::Refused);
  EXPECT_EQ(missing.status, ridemu::kStatusNoImage);
}

TEST(Loader, BuildsTheInitialStackAndRegisters) {
  // args.elf checks the registers, the x87 control word and the terminating
  // null pointer itself (status 200..202 when one is wrong).
  auto o = ridemu::run(image("args"), {std::string("args"), std::string("one"),
                                       std::nullopt, std::string(""), std::string("last")},
                       quiet());
  EXPECT_EQ(o.kind, ridemu::Outcome::Exited);
  EXPECT_EQ(o.status, 5);
  EXPECT_EQ(o.console, "args\none\n(null)\n\nlast\n");

  o = ridemu::run(image("args"), {}, quiet());
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.console, "");

  // A long argument vector is refused, not written past the stack.
  Args huge{std::string("args")};
  for (int i = 0; i < 64; ++i) huge.push_back(std::string(8192, 'x'));
  o = ridemu::run(image("args"), huge, quiet());
  EXPECT_EQ(o.kind, ridemu::Outcome::Refused);
  EXPECT_EQ(o.status, ridemu::kStatusTooLong);
  EXPECT_EQ(o.message, "argument list too long");
}

TEST(Loader, AMappingFailureSaysWhy) {
  // A 200 MiB data segment where the host allows the engine no more memory
  // than it took for an ordinary run.
  auto bytes = slurp(image("ops"));
  const uint32_t phoff = le32(bytes, 28);
  put32(bytes, phoff + 2 * 32 + 20, 200u << 20);  // the writable segment's memsz
  TempDir dir;
  spit(dir / "big.elf", bytes);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ridemu::run(image("ops"), {std::string("ops")}, quiet());
    std::ifstream status("/proc/self/status");
    long peak_kib = 0;
    for (std::string l; std::getline(status, l);)
      if (l.rfind("VmPeak:", 0) == 0) peak_kib = std::stol(l.substr(7));
    const rlimit limit{static_cast<rlim_t>(peak_kib + (64 << 10)) << 10, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    const auto o = ridemu::run(dir / "big.elf", {std::string("big")}, quiet());
    const bool right = o.kind == ridemu::Outcome::Refused && o.status == ridemu::kStatusRefused &&
                       o.message.rfind("cannot map segment 3: ", 0) == 0;
    if (!right) std::fprintf(stderr, "got %d: %s\n", o.status, o.message.c_str());
    _exit(right ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// ---------------------------------------------------------------- faults

TEST(Faults, EachFaultEndsTheGuestWithOneMessage) {
  const std::string img = image("fault");
  struct Case {
    const char* arg;
    std::string message;
  };
  const uint32_t read_at = symbol("at_read", img), write_at = symbol("at_write", img),
                 code_at = symbol("at_code", img), ud2_at = symbol("at_ud2", img),
                 div_at = symbol("at_div", img), data = symbol("data_word", img),
                 start = symbol("_start", img);
  const std::vector<Case> cases = {
      {"r", "unmapped read at 0x00000010 (eip " + hex(read_at) + ") in at_read: mov eax, dword ptr [0x10]"},
      {"w", "unmapped write at 0x00000020 (eip " + hex(write_at) + ") in at_write: mov dword ptr [edi], eax"},
      {"c", "protected write at " + hex(start) + " (eip " + hex(code_at) + ")"},
      {"j", "unmapped fetch at 0x12345678 (eip 0x12345678)"},
      {"x", "protected fetch at " + hex(data) + " (eip " + hex(data) + ")"},
      {"u", "invalid instruction at " + hex(ud2_at) + " (eip " + hex(ud2_at) + ") in at_ud2: ud2"},
      {"d", "division error at " + hex(div_at) + " (eip " + hex(div_at) + ")"},
      {"i", "breakpoint at "},
      {"n", "interrupt 0x81 at "},
      {"s", "stack overflow: write at 0xbfeffffc (eip " + hex(symbol("f_stack", img)) + ") in f_stack: call "},
      {"h", "halt instruction at "},
      {"p", "port input instruction at "},
      {"y", "fast system call instruction at " + hex(symbol("at_syscall", img))},
      {"g", "general protection fault at " + hex(symbol("at_debug", img)) + " (eip " +
                hex(symbol("at_debug", img)) + ") in at_debug: mov dr7, eax"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    const auto o = ridemu::run(img, {std::string("fault"), std::string(c.arg)}, quiet());
    EXPECT_EQ(o.kind, ridemu::Outcome::Faulted);
    EXPECT_EQ(o.status, ridemu::kStatusFault);
    EXPECT_EQ(o.message.rfind(c.message, 0), 0u) << o.message;
    EXPECT_TRUE(o.trace.empty());  // nothing was served after the fault
  }
  // The host is unharmed: the same library runs a program normally after.
  const auto o = ridemu::run(img, {std::string("fault")}, quiet());
  EXPECT_EQ(o.kind, ridemu::Outcome::Exited);
  EXPECT_EQ(o.status, 0);
}

TEST(Faults, LinesNameTheFunctionSourceLineAndInstruction) {
  const std::string source = slurp_text(std::string(EMU_TEST_SOURCES) + "/pit.c");
  const auto line = [&](const std::string& marker) {
    const size_t at = source.find("line: " + marker);
    return std::to_string(std::count(source.begin(), source.begin() + at, '\n') + 1);
  };
  struct Case {
    const char* arg;
    std::string head, place, insn;
  };
  const std::vector<Case> cases = {
      {"n", "unmapped write at 0x00000000 (eip 0x", ") in poke+0x", "(pit.c:" + line("null write") + "): mov dword ptr [eax], 1"},
      {"s", "stack overflow: write at 0xbfef", ") in recurse+0x", "(pit.c:" + line("recursion") + "): mov dword ptr [ebp - 0x100], eax"},
      {"u", "invalid instruction at 0x", ") in invalid+0x", "(pit.c:" + line("invalid") + "): ud2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    const auto o = ridemu::run(image("pit"), {std::string("pit"), std::string(c.arg)}, quiet());
    EXPECT_EQ(o.kind, ridemu::Outcome::Faulted);
    EXPECT_EQ(o.message.rfind(c.head, 0), 0u) << o.message;
    EXPECT_NE(o.message.find(c.place), std::string::npos) << o.message;
    EXPECT_EQ(o.message.size() - o.message.rfind(c.insn), c.insn.size()) << o.message;
  }
}

TEST(Faults, InstructionBudgetEndsARunawayGuest) {
  auto c = quiet();
  c.max_instructions = 100000;
  auto o = ridemu::run(image("fault"), {std::string("fault"), std::string("l")}, c);
  EXPECT_EQ(o.kind, ridemu::Outcome::Faulted);
  EXPECT_EQ(o.status, 139);
  EXPECT_EQ(o.message.rfind("instruction budget exceeded at ", 0), 0u) << o.message;
  EXPECT_GE(o.instructions, 100000u);
  EXPECT_LE(o.instructions, 100001u);

  // count.elf runs exactly 1004 instructions: a budget of 1004 is enough,
  // 1003 is not.
  c.max_instructions = 1004;
  o = ridemu::run(image("count"), {std::string("count")}, c);
  EXPECT_EQ(o.kind, ridemu::Outcome::Exited);
  EXPECT_EQ(o.instructions, 1004u);
  c.max_instructions = 1003;
  o = ridemu::run(image("count"), {std::string("count")}, c);
  EXPECT_EQ(o.kind, ridemu::Outcome::Faulted);

  // The time limit ends it too, without counting instructions.
  c.max_instructions = 0;
  c.time_limit_ms = 300;
  const auto t0 = std::chrono::steady_clock::now();
  o = ridemu::run(image("fault"), {std::string("fault"), std::string("l")}, c);
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(o.kind, ridemu::Outcome::Faulted);
  EXPECT_EQ(o.message.rfind("time limit exceeded at ", 0), 0u) << o.message;
  EXPECT_GE(took, std::chrono::milliseconds(250));
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_EQ(o.instructions, 0u);
}

// ---------------------------------------------------------------- services

TEST(Services, TheTableServesEveryNumberOfTheSharedList) {
  std::vector<std::pair<uint32_t, std::string>> listed;
#define LISTED(number, NAME, name) listed.emplace_back(number, #name);
  RIDID_SERVICES(LISTED)
#undef LISTED
  ASSERT_EQ(ridemu::detail::services().size(), listed.size());
  for (const auto& [nr, name] : listed) {
    const ridemu::detail::Service* s = ridemu::detail::find_service(nr);
    ASSERT_NE(s, nullptr) << nr;
    EXPECT_EQ(s->name, name);
  }
}

TEST(Services, BadPointersGetEfaultAndTheGuestGoesOn) {
  const auto o = ops({std::string("B"), std::string("N")}, quiet());
  ASSERT_EQ(o.kind, ridemu::Outcome::Exited) << o.message;
  EXPECT_EQ(o.console, "alive\n");
  std::vector<int32_t> got;
  for (const auto& t : o.trace)
    if (t.nr != 2 && !(t.nr == 1 && t.result == 6)) got.push_back(t.result);
  const std::vector<int32_t> want = {-14, -14, -14, -14, -22, -14, -14, -14, -14,
                                     -14, -14, -14, -14, -14, -38, -38};
  EXPECT_EQ(got, want);
  EXPECT_EQ(o.status, 16);  // ops exits with its count of failed traps

  // Strings are read up to the end of the mappings and no further, and not
  // beyond 4095 bytes.
  const auto e = ops({std::string("E")}, quiet());
  EXPECT_EQ(results(e, 4), (std::vector<int32_t>{-14, -2, -36}));
  EXPECT_EQ(e.trace[1].path, std::string(15, 'A'));
}

TEST(Services, DescriptorsSeekDupPipeAndNamedPipe) {
  TempDir root;
  spit(root / "f.txt", "0123456789");
  const auto o = ops({std::string("l"), std::string("/f.txt"), std::string("D"),
                      std::string("P"), std::string("f"), std::string("/ff"),
                      std::string("F"), std::string("/ff"), std::string("f"),
                      std::string("/ff"), std::string("a"), std::string("/f.txt"),
                      std::string("AB"), std::string("c"), std::string("/f.txt"),
                      std::string("u"), std::string("/ff"), std::string("c"),
                      std::string("/ff"), std::string("c"), std::string("/")},
                     quiet(root.path));
  EXPECT_EQ(o.console, "234dup\ndup2\npipe!fifo!0123456789AB");
  EXPECT_EQ(results(o, 110), (std::vector<int32_t>{10, 2}));
  EXPECT_EQ(results(o, 126), (std::vector<int32_t>{3}));      // lowest free: 0-2 are standard
  EXPECT_EQ(results(o, 127), (std::vector<int32_t>{9}));
  EXPECT_EQ(results(o, 125), (std::vector<int32_t>{0, -17}));  // second mkfifo
  EXPECT_EQ(results(o, 50), (std::vector<int32_t>{0}));
  // The named pipe lives in memory only; after unlink it is gone.
  EXPECT_FALSE(exists(root / "ff"));
  const auto opens = results(o, 4);
  EXPECT_EQ(opens.back(), -21);  // a directory is not opened
  EXPECT_EQ(opens[opens.size() - 2], -2);
  // The second read of the empty pipe returned 0 rather than blocking.
  auto reads = results(o, 3);
  EXPECT_NE(std::find(reads.begin(), reads.end(), 0), reads.end());
  EXPECT_EQ(slurp_text(root / "f.txt"), "0123456789AB");
  EXPECT_EQ(o.status, 3);
}

TEST(Services, ConsolePacketStdinAndGetkey) {
  auto c = quiet();
  c.stdin_data = std::string("xyz");
  const auto o = ops({std::string("K"), std::string("k"), std::string("i"),
                      std::string("k"), std::string("n")},
                     c);
  EXPECT_EQ(o.console, "yz");  // the packet is not shown
  ASSERT_EQ(o.packets.size(), 1u);
  EXPECT_EQ(o.packets[0].bytes, (std::array<uint8_t, 4>{0xFF, 1, 2, 3}));
  EXPECT_EQ(results(o, 6), (std::vector<int32_t>{'x', -1}));
  EXPECT_EQ(results(o, 128), (std::vector<int32_t>{0}));
  EXPECT_EQ(results(o, 129), (std::vector<int32_t>{0}));
  EXPECT_EQ(results(o, 130), (std::vector<int32_t>{0}));
  // A write of 4 bytes not starting with 0xFF is ordinary output.
  const auto d = ops({std::string("D")}, quiet());
  EXPECT_EQ(d.console, "dup\ndup2\n");
  EXPECT_TRUE(d.packets.empty());
}

TEST(Services, SleepReallySleepsUnlessTurnedOff) {
  auto c = quiet();
  auto t0 = std::chrono::steady_clock::now();
  ops({std::string("t"), std::string("t"), std::string("t"), std::string("t"),
       std::string("t")}, c);  // 1 s if it slept; the margin is for a loaded machine
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  c.sleep = true;
  t0 = std::chrono::steady_clock::now();
  const auto o = ops({std::string("t")}, c);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(190));
  EXPECT_EQ(results(o, 22), (std::vector<int32_t>{0}));

  // Sleeping does not outlast the time limit.
  c.time_limit_ms = 100;
  t0 = std::chrono::steady_clock::now();
  const auto late = ops({std::string("t"), std::string("t"), std::string("t"),
                         std::string("t"), std::string("t")}, c);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_EQ(late.kind, ridemu::Outcome::Faulted);
  EXPECT_EQ(late.message.rfind("time limit exceeded", 0), 0u) << late.message;
}

TEST(Services, HookCanChangeArgumentsOrResults) {
  TempDir root;
  spit(root / "ten.txt", "0123456789");
  auto c = quiet(root.path);
  c.service_hook = [](ridemu::ServiceCall& call) {
    if (call.nr == 3) call.edx = 3;        // a read returns 3 bytes of 10
    if (call.nr == 96) call.result = -1;   // the run request fails
  };
  const auto o = ops({std::string("c"), std::string("/ten.txt"), std::string("r"),
                      std::string("ops e 9")},
                     c);
  EXPECT_EQ(o.console, "012");
  EXPECT_EQ(results(o, 96), (std::vector<int32_t>{-1}));
  for (const auto& t : o.trace) EXPECT_EQ(t.pid, 1);  // nothing was started
}

// ---------------------------------------------------------------- files

TEST(Paths, NothingResolvesOutsideTheRoot) {
  TempDir outer;
  const std::string root = outer / "root";
  mkdir(root.c_str(), 0755);
  spit(outer / "secret.txt", "SECRET");
  spit(root + "/top.txt", "TOP");
  mkdir((root + "/sub").c_str(), 0755);
  symlink("/etc/passwd", (root + "/abs-out").c_str());
  symlink("../secret.txt", (root + "/rel-out").c_str());
  symlink("../../../../../secret.txt", (root + "/sub/deep-out").c_str());
  symlink("/top.txt", (root + "/abs-in").c_str());
  symlink("/top.txt", (root + "/sub/abs-in").c_str());
  symlink("..", (root + "/up").c_str());
  symlink(outer.path.c_str(), (root + "/dir-out").c_str());
  symlink("loop", (root + "/loop").c_str());

  const auto o = ops({std::string("c"), std::string("../secret.txt"),
                      std::string("c"), std::string("/../../secret.txt"),
                      std::string("c"), std::string(outer / "secret.txt"),
                      std::string("c"), std::string("abs-out"),
                      std::string("c"), std::string("rel-out"),
                      std::string("c"), std::string("sub/deep-out"),
                      std::string("c"), std::string("up/secret.txt"),
                      std::string("c"), std::string("dir-out/secret.txt"),
                      std::string("c"), std::string("loop"),
                      std::string("c"), std::string("../../top.txt"),
                      std::string("c"), std::string("abs-in"),
                      std::string("c"), std::string("sub/abs-in"),
                      std::string("c"), std::string("up/up/sub/../top.txt"),
                      std::string("w"), std::string("../planted"), std::string("x"),
                      std::string("w"), std::string("dir-out/planted2"), std::string("x"),
                      std::string("m"), std::string("up/made"),
                      std::string("d"), std::string("../.."),
                      std::string("p")},
                     quiet(root));
  EXPECT_EQ(o.console, "TOPTOPTOPTOP/\n");
  EXPECT_EQ(o.console.find("SECRET"), std::string::npos);
  EXPECT_EQ(o.console.find("root:"), std::string::npos);
  EXPECT_EQ(results(o, 4), (std::vector<int32_t>{-2, -2, -2, -2, -2, -2, -2, -2, -40,
                                                 3, 3, 3, 3}));
  // What was written stayed inside the root.
  EXPECT_EQ(listing(outer.path), (std::set<std::string>{"root", "secret.txt"}));
  EXPECT_TRUE(exists(root + "/planted"));
  EXPECT_TRUE(exists(root + "/made"));
  EXPECT_EQ(results(o, 21), (std::vector<int32_t>{1, -2}));
  EXPECT_EQ(slurp_text(outer / "secret.txt"), "SECRET");
}

TEST(Paths, AWorkingDirectoryTurnedIntoALinkIsFollowedInsideTheRoot) {
  TempDir outer;
  const std::string root = outer / "root";
  mkdir(root.c_str(), 0755);
  mkdir((root + "/d").c_str(), 0755);
  spit(outer / "secret.txt", "SECRET");
  auto c = quiet(root);
  c.service_hook = [&](ridemu::ServiceCall& call) {
    // After the chdir, the host puts a link to the outside where /d was.
    if (call.nr == 4 && rmdir((root + "/d").c_str()) == 0)
      symlink(outer.path.c_str(), (root + "/d").c_str());
  };
  const auto o = ops({std::string("d"), std::string("/d"), std::string("c"),
                      std::string("secret.txt")},
                     c);
  EXPECT_EQ(results(o, 95), (std::vector<int32_t>{0}));
  EXPECT_EQ(results(o, 4), (std::vector<int32_t>{-2}));
  EXPECT_EQ(o.console, "");
}

TEST(Paths, TheHostsOwnRootCanBeTheGuestRoot) {
  const auto o = ops({std::string("d"), std::string("/"), std::string("c"), std::string("/"),
                      std::string("d"), std::string("/tmp/..")},
                     quiet("/"));
  EXPECT_EQ(results(o, 95), (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(results(o, 4), (std::vector<int32_t>{-21}));
}

TEST(Files, WritefileIsAtomicAndFailuresKeepTheOldFile) {
  TempDir root;
  spit(root / "keep.txt", "old");
  mkdir((root / "dir").c_str(), 0755);
  auto c = quiet(root.path);
  int stores = 0;
  c.service_hook = [&](ridemu::ServiceCall& call) {
    // The store of keep.txt (the second) gets a count that runs off the
    // mapped memory.
    if (call.nr == 21 && ++stores == 2) call.edx = 0x7fffffff;
  };
  const auto o = ops({std::string("w"), std::string("/new.txt"), std::string("fresh"),
                      std::string("w"), std::string("/keep.txt"), std::string("new"),
                      std::string("w"), std::string("/dir"), std::string("x"),
                      std::string("w"), std::string("/missing/x.txt"), std::string("x"),
                      std::string("w"), std::string("/empty.txt"), std::string(""),
                      std::string("B")},
                     c);
  EXPECT_EQ(results(o, 21), (std::vector<int32_t>{5, -14, -21, -2, 0, -14}));
  EXPECT_EQ(slurp_text(root / "new.txt"), "fresh");
  EXPECT_EQ(slurp_text(root / "keep.txt"), "old");
  EXPECT_EQ(slurp_text(root / "empty.txt"), "");
  // No temporary file is left anywhere, and the failed stores made nothing.
  EXPECT_EQ(listing(root.path),
            (std::set<std::string>{"new.txt", "keep.txt", "dir", "empty.txt"}));
  EXPECT_TRUE(listing(root / "dir").empty());

  // A store replaces the file whole: whoever still holds the old file (here
  // a second link to it) keeps the complete old content.
  spit(root / "held.txt", "old content");
  ASSERT_EQ(link((root / "held.txt").c_str(), (root / "holder").c_str()), 0);
  c.service_hook = nullptr;
  const auto again = ops({std::string("w"), std::string("/held.txt"), std::string("new")}, c);
  EXPECT_EQ(results(again, 21), (std::vector<int32_t>{3}));
  EXPECT_EQ(slurp_text(root / "held.txt"), "new");
  EXPECT_EQ(slurp_text(root / "holder"), "old content");
}

TEST(Files, StreamsStoreWholeFilesOnlyWhenEnded) {
  TempDir root;
  spit(root / "s.txt", "before");
  auto c = quiet(root.path);
  auto o = ops({std::string("z"), std::string("/s.txt"), std::string("streamed")}, c);
  EXPECT_EQ(results(o, 53), (std::vector<int32_t>{1}));
  EXPECT_EQ(results(o, 55), (std::vector<int32_t>{0}));
  EXPECT_EQ(slurp_text(root / "s.txt"), "streamed");

  // A stream that is never ended leaves the old file and no temporary file.
  c.service_hook = [](ridemu::ServiceCall& call) {
    if (call.nr == 55) call.result = 0;  // pretend, without ending it
  };
  o = ops({std::string("z"), std::string("/s.txt"), std::string("lost")}, c);
  EXPECT_EQ(slurp_text(root / "s.txt"), "streamed");
  EXPECT_EQ(listing(root.path), (std::set<std::string>{"s.txt"}));
  // A stream into a missing directory cannot begin; its writes and end then
  // get a bad handle.
  c.service_hook = nullptr;
  o = ops({std::string("z"), std::string("/no/s.txt"), std::string("x")}, c);
  EXPECT_EQ(results(o, 53), (std::vector<int32_t>{-2}));
  EXPECT_EQ(results(o, 54), (std::vector<int32_t>{-9}));
  EXPECT_EQ(results(o, 55), (std::vector<int32_t>{-9}));
}

TEST(Files, AStreamCutShortWithTheEmulatorLeavesNothing) {
  // The emulator itself is killed between the stream's write and its end.
  TempDir root;
  spit(root / "s.txt", "before");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto c = quiet(root.path);
    c.service_hook = [](ridemu::ServiceCall& call) {
      if (call.nr == 55) kill(getpid(), SIGKILL);
    };
    ops({std::string("z"), std::string("/s.txt"), std::string("streamed")}, c);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(slurp_text(root / "s.txt"), "before");
  EXPECT_EQ(listing(root.path), (std::set<std::string>{"s.txt"}));
}

TEST(Files, DirectoriesAndWorkingDirectory) {
  TempDir root;
  const auto o = ops({std::string("m"), std::string("/a"), std::string("m"),
                      std::string("/a"), std::string("d"), std::string("a"),
                      std::string("m"), std::string("b"), std::string("d"),
                      std::string("b"), std::string("p"), std::string("d"),
                      std::string(".."), std::string("x"), std::string("b"),
                      std::string("x"), std::string("/"), std::string("x"),
                      std::string("/nothing"), std::string("w"), std::string("f"),
                      std::string("x"), std::string("d"), std::string("f"),
                      std::string("u"), std::string("f"), std::string("u"),
                      std::string("f"), std::string("p"), std::string("w"),
                      std::string("/"), std::string("x"), std::string("z"),
                      std::string("/"), std::string("x")},
                     quiet(root.path));
  EXPECT_EQ(o.console, "/a/b\n/a\n");
  EXPECT_EQ(results(o, 21), (std::vector<int32_t>{1, -21}));
  EXPECT_EQ(results(o, 53), (std::vector<int32_t>{-21}));
  EXPECT_EQ(results(o, 49), (std::vector<int32_t>{0, -17, 0}));
  EXPECT_EQ(results(o, 51), (std::vector<int32_t>{0, -16, -2}));
  EXPECT_EQ(results(o, 95), (std::vector<int32_t>{0, 0, 0, -20}));
  EXPECT_EQ(results(o, 50), (std::vector<int32_t>{0, -2}));
  EXPECT_EQ(listing(root.path), (std::set<std::string>{"a"}));
  EXPECT_TRUE(listing(root / "a").empty());
}

// ---------------------------------------------------------------- processes

struct ProgramRoot {
  TempDir dir;
  ProgramRoot() {
    mkdir((dir / "bin").c_str(), 0755);
    mkdir((dir / "work").c_str(), 0755);
    copy("args", "bin/args.kav");
    copy("args", "bin/x.bin");
    copy("ops", "work/x.bin");
    copy("ops", "bin/ops.dura");
    copy("fault", "bin/fault.flat");
    spit(dir / "bin/text.bin", "not an image");
    spit(dir / "bin/demo.shell",
         "# a comment\n\n   args.kav from script\n  # indented comment\r\n"
         "fault.flat d\nops.dura e 7\r\n");
    spit(dir / "bin/broken.shell", "args.kav 1\nnothere.bin\nargs.kav 2\n");
    spit(dir / "self.shell", "self.shell\n");
  }
  void copy(const std::string& img, const std::string& to) {
    spit(dir / to, slurp(image(img)));
  }
};

// Run request records of process `pid` (the traps and the script lines).
std::vector<std::pair<std::string, int32_t>> requests(const ridemu::Outcome& o, int pid = 1) {
  std::vector<std::pair<std::string, int32_t>> r;
  for (const auto& t : o.trace)
    if (t.nr == 96 && t.pid == pid) r.emplace_back(t.line.value_or("?"), t.result);
  return r;
}

TEST(RunRequest, ResolvesInTheWorkingDirectoryThenBin) {
  ProgramRoot root;
  const auto o = ops({std::string("r"), std::string("args.kav a  b"),
                      std::string("r"), std::string("x.bin 1 2 3"),
                      std::string("d"), std::string("/work"),
                      std::string("r"), std::string("x.bin e 42"),
                      std::string("r"), std::string("/bin/args.kav"),
                      std::string("r"), std::string("nothere.bin"),
                      std::string("r"), std::string("text.bin"),
                      std::string("r"), std::string("   "),
                      std::string("r"), std::string("../bin")},
                     quiet(root.dir.path));
  EXPECT_EQ(o.console, "args.kav\na\nb\nx.bin\n1\n2\n3\n/bin/args.kav\n");
  std::vector<std::optional<int>> statuses;
  for (const auto& t : o.trace)
    if (t.nr == 96 && t.pid == 1) statuses.push_back(t.status);
  EXPECT_EQ(results(o, 96), (std::vector<int32_t>{0, 0, 0, 0, -2, -8, -22, -2}));
  EXPECT_EQ(statuses[0], 3);   // args.kav exits with its argc
  EXPECT_EQ(statuses[1], 4);   // /bin/x.bin from "/"
  EXPECT_EQ(statuses[2], 42);  // ./x.bin from /work comes first
  EXPECT_EQ(statuses[3], 1);
  EXPECT_FALSE(statuses[4].has_value());
}

TEST(RunRequest, ScriptsRunTheirLinesInOrder) {
  ProgramRoot root;
  auto o = ops({std::string("r"), std::string("demo.shell")}, quiet(root.dir.path));
  EXPECT_EQ(o.console, "args.kav\nfrom\nscript\n");
  const auto r = requests(o);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0], std::make_pair(std::string("args.kav from script"), 0));
  EXPECT_EQ(r[1], std::make_pair(std::string("fault.flat d"), 0));
  EXPECT_EQ(r[2], std::make_pair(std::string("ops.dura e 7"), 0));
  EXPECT_EQ(r[3], std::make_pair(std::string("demo.shell"), 0));
  std::vector<std::optional<int>> statuses;
  for (const auto& t : o.trace)
    if (t.nr == 96 && t.pid == 1) statuses.push_back(t.status);
  EXPECT_EQ(statuses[1], 139);  // the faulting child does not end the script
  EXPECT_EQ(statuses[2], 7);
  EXPECT_EQ(o.kind, ridemu::Outcome::Exited);

  // A line that cannot run ends its script with that result.
  o = ops({std::string("r"), std::string("broken.shell")}, quiet(root.dir.path));
  EXPECT_EQ(o.console, "args.kav\n1\n");
  EXPECT_EQ(results(o, 96), (std::vector<int32_t>{0, -2, -2}));
}

TEST(RunRequest, NestingIsBounded) {
  ProgramRoot root;
  const auto t0 = std::chrono::steady_clock::now();
  auto o = ops({std::string("r"), std::string("self.shell"), std::string("p")},
               quiet(root.dir.path));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  EXPECT_EQ(o.kind, ridemu::Outcome::Exited);
  const auto r = requests(o);
  ASSERT_FALSE(r.empty());
  EXPECT_LT(r.back().second, 0);   // the request itself fails
  EXPECT_EQ(r.size(), 17u);        // 16 nested script lines and the trap
  EXPECT_EQ(o.console, "/\n");     // and the guest carries on

  // A program that spawns itself: 16 levels of children, then a failure.
  o = ops({std::string("S"), std::string("/bin/ops.dura")}, quiet(root.dir.path));
  EXPECT_EQ(o.kind, ridemu::Outcome::Exited);
  int deepest = 0;
  int refused = 0;
  for (const auto& t : o.trace) {
    deepest = std::max(deepest, t.pid);
    if (t.nr == 131 && t.result < 0) ++refused;
  }
  EXPECT_EQ(deepest, 17);
  EXPECT_EQ(refused, 1);
}

TEST(Spawn, ChildRunsToCompletionAndWaitpidReportsIt) {
  ProgramRoot root;
  const Args list = {std::string("s"), std::string("/bin/args.kav"),
                     std::string("s"), std::string("bin/fault.flat"),
                     std::string("s"), std::string("/nothere"),
                     std::string("s"), std::string("/bin/text.bin"),
                     std::string("d"), std::string("bin"),
                     std::string("S"), std::string("args.kav")};
  const auto o = ops(list, quiet(root.dir.path));
  // The children printed before spawn returned; a child's argv is just the
  // path, or the vector it was given (here the parent's own).
  std::string own = "ops\n";
  for (const auto& a : list) own += *a + "\n";
  EXPECT_EQ(o.console, "/bin/args.kav\n" + own);
  EXPECT_EQ(results(o, 131), (std::vector<int32_t>{2, 3, -2, -8, 4}));
  EXPECT_EQ(results(o, 132), (std::vector<int32_t>{2, 3, 4}));
  std::vector<int> statuses;
  for (const auto& t : o.trace)
    if (t.nr == 132 && t.status) statuses.push_back(*t.status);
  EXPECT_EQ(statuses, (std::vector<int>{1, 0, 13}));
  EXPECT_EQ(o.status, 2);
}

// ---------------------------------------------------------------- trace

TEST(Trace, OneJsonLinePerTrap) {
  TempDir dir;
  auto c = quiet(dir.path);
  c.trace_file = dir / "trace.jsonl";
  const auto o = ops({std::string("w"), std::string("/q\"\n\\.txt"), std::string("x"),
                      std::string("K"), std::string("e"), std::string("3")},
                     c);
  const std::string text = slurp_text(dir / "trace.jsonl");
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("{\"pid\":1,\"nr\":21,\"name\":\"writefile\",\"ebx\":\"0x", 0), 0u);
  EXPECT_NE(lines[0].find(",\"result\":1,\"path\":\"/q\\\"\\n\\\\.txt\"}"), std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("\"packet\":[255,1,2,3]"), std::string::npos);
  EXPECT_NE(lines[2].find("\"nr\":2,"), std::string::npos);
  EXPECT_NE(lines[2].find("\"status\":3}"), std::string::npos);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], o.trace[i].json);
}

// ---------------------------------------------------------------- command

void walk(const std::string& dir, const std::string& rel, std::vector<std::string>& out);

struct Command {
  int status = -1;
  std::string out, err;
};

Command command(const std::string& args, const std::string& dir,
                const std::string& env = "") {
  const std::string line = env + " " + std::string(EMU_TEST_COMMAND) + " " + args + " >" + dir +
                           "/out 2>" + dir + "/err </dev/null";
  const int raw = std::system(line.c_str());
  Command c;
  c.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  c.out = slurp_text(dir + "/out");
  c.err = slurp_text(dir + "/err");
  return c;
}

TEST(Command, ExitStatusesAndMessages) {
  TempDir dir;
  auto c = command("--scratch-root " + image("args") + " one two", dir.path);
  EXPECT_EQ(c.status, 3);
  EXPECT_EQ(c.out, "args.elf\none\ntwo\n");
  EXPECT_EQ(c.err, "");

  c = command("--scratch-root " + image("fault") + " r", dir.path);
  EXPECT_EQ(c.status, 139);
  EXPECT_EQ(c.err, "ridid-emu: guest fault: unmapped read at 0x00000010 (eip " +
                       hex(symbol("at_read", image("fault"))) +
                       ") in at_read: mov eax, dword ptr [0x10]\n");

  // An instruction the processor emulation itself cannot handle ends the
  // guest with a fault too, not the emulator.
  c = command("--scratch-root " + image("fault") + " f", dir.path);
  EXPECT_EQ(c.status, 139);
  EXPECT_NE(c.err.find("ridid-emu: guest fault: the processor emulation failed"), std::string::npos)
      << c.err;

  c = command("--scratch-root --max-instructions 1000 " + image("fault") + " l", dir.path);
  EXPECT_EQ(c.status, 139);
  EXPECT_EQ(c.err.rfind("ridid-emu: guest fault: instruction budget exceeded at ", 0), 0u);

  auto bytes = slurp(image("args"));
  bytes[18] = 40;  // not i386
  spit(dir / "arm.elf", bytes);
  c = command("--scratch-root " + (dir / "arm.elf"), dir.path);
  EXPECT_EQ(c.status, 126);
  EXPECT_EQ(c.err, "ridid-emu: " + (dir / "arm.elf") + ": not an i386 image (wrong machine)\n");

  c = command("--scratch-root " + (dir / "nothing.elf"), dir.path);
  EXPECT_EQ(c.status, 127);
  EXPECT_EQ(c.err.rfind("ridid-emu: " + (dir / "nothing.elf") + ": ", 0), 0u);



  c = command("--count --scratch-root " + image("count"), dir.path);
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "instructions: 1004\n");

  // --root and --trace: the guest's files land in the root, the trace in
  // the named file.
  mkdir((dir / "root").c_str(), 0755);
  c = command("--root " + (dir / "root") + " --trace " + (dir / "t.jsonl") + " " +
                  image("ops") + " w /made.txt hello e 0",
              dir.path);
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(slurp_text(dir / "root/made.txt"), "hello");
  EXPECT_NE(slurp_text(dir / "t.jsonl").find("\"path\":\"/made.txt\""), std::string::npos);

  // The scratch root is made in TMPDIR and gone after the run, also after a
  // fault.
  mkdir((dir / "tmp").c_str(), 0755);
  c = command("--scratch-root " + image("ops") + " w /x hi p", dir.path,
              "TMPDIR=" + (dir / "tmp"));
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out, "/\n");
  c = command("--scratch-root " + image("fault") + " w", dir.path, "TMPDIR=" + (dir / "tmp"));
  EXPECT_EQ(c.status, 139);
  EXPECT_TRUE(listing(dir / "tmp").empty());
  c = command("--scratch-root " + image("fault") + " f", dir.path, "TMPDIR=" + (dir / "tmp"));
  EXPECT_EQ(c.status, 139);
  EXPECT_TRUE(listing(dir / "tmp").empty());
}

TEST(Command, OptionsAndTheirErrors) {
  TempDir dir;
  mkdir((dir / "root").c_str(), 0755);
  const std::string args = image("args"), root = dir / "root";
  const std::string help = "; try 'ridid-emu --help'\n";
  struct Case {
    std::string line;
    int status;
    std::string out, err;  // out: a prefix; err: the whole of it
  };
  const std::vector<Case> cases = {
      {"-h", 0, "usage: ridid-emu [options] PROGRAM [ARGS...]\n", ""},
      {"--help " + args, 0, "usage: ridid-emu", ""},
      {"--version", 0, "ridid-emu 1.", ""},
      {"--root=" + root + " " + args + " a", 2, "args.elf\na\n", ""},
      {"--root " + root + " -- " + args + " -h", 2, "args.elf\n-h\n", ""},
      {"--bogus " + args, 125, "", "ridid-emu: unknown option --bogus" + help},
      {"-x " + args, 125, "", "ridid-emu: unknown option -x" + help},
      {"--root", 125, "", "ridid-emu: --root needs a value" + help},
      {"", 125, "", "ridid-emu: no program given" + help},
      {"--max-instructions x " + args, 125, "", "ridid-emu: bad instruction budget: x" + help},
      {"--time-limit 0 " + args, 125, "", "ridid-emu: bad time limit: 0" + help},
      {"--root " + root + " --scratch-root " + args, 125, "", "ridid-emu: --root and --scratch-root conflict" + help},
      {"--root " + root + " " + std::string(EMU_TEST_SOURCES) + "/../../target/process_status.sh",
       126, "", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    const auto c = command(k.line, dir.path);
    EXPECT_EQ(c.status, k.status);
    EXPECT_EQ(c.out.rfind(k.out, 0), 0u) << c.out << c.err;
    if (k.status != 126) EXPECT_EQ(c.err, k.err);
  }
  // A script given to ridid-emu is refused with a word on who runs scripts.
  spit(dir / "demo.shell", "args.kav\n");
  auto c = command("--root " + root + " " + (dir / "demo.shell"), dir.path);
  EXPECT_EQ(c.status, 126);
  EXPECT_NE(c.err.find("not an ELF image (a .shell script is run by the run command"),
            std::string::npos) << c.err;
  // --trace - writes the trace on standard error.
  c = command("--root " + root + " --trace - " + args, dir.path);
  EXPECT_NE(c.err.find("\n{\"pid\":1,\"nr\":2,\"name\":\"_exit\","), std::string::npos) << c.err;
}

TEST(Command, EndingTheEmulatorEndsTheGuest) {
  const pid_t emu = fork();
  ASSERT_GE(emu, 0);
  if (emu == 0) {
    execl(EMU_TEST_COMMAND, "ridid-emu", "--scratch-root", image("fault").c_str(), "l",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // The guest runs in a child of ridid-emu's: wait for it, then end ridid-emu.
  pid_t guest = 0;
  for (int i = 0; i < 200 && !guest; ++i) {
    usleep(10000);
    std::ifstream in("/proc/" + std::to_string(emu) + "/task/" + std::to_string(emu) + "/children");
    in >> guest;
  }
  ASSERT_GT(guest, 0);
  kill(emu, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(emu, &status, 0), emu);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
  const bool gone = kill(guest, 0) != 0;
  EXPECT_TRUE(gone);  // not left looping
  if (!gone) kill(guest, SIGKILL);
}

TEST(Command, StraceNamesEachServiceAndDecodesItsArguments) {
  ProgramRoot root;
  spit(root.dir / "f.txt", "abc");
  const auto c = command("--root " + root.dir.path + " --strace " + image("ops") +
                             " c /f.txt c /nope s /bin/args.kav K e 3",
                         root.dir.path);
  EXPECT_EQ(c.status, 3);
  const std::vector<std::string> want = {
      "open(\"/f.txt\", 0) = 3",
      "read(3, \"abc\", 4096) = 3",
      "write(1, \"abc\", 3) = 3",
      "close(3) = 0",
      "open(\"/nope\", 0) = -2 ENOENT",
      "[pid 2] write(1, \"/bin/args.kav\", 13) = 13",
      "[pid 2] _exit(1) = ?",
      "spawn(\"/bin/args.kav\", NULL, 0) = 2 (status 1)",
  };
  std::istringstream in(c.err);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  size_t at = 0;
  for (const auto& l : lines)
    if (at < want.size() && l == want[at]) ++at;
  EXPECT_EQ(at, want.size()) << "missing: " << (at < want.size() ? want[at] : "") << "\n" << c.err;
  EXPECT_NE(c.err.find("write(1, \"\\377\\1\\2\\3\", 4) = 4 (console packet)"), std::string::npos);
  EXPECT_EQ(lines.back(), "_exit(3) = ?");
}

TEST(Command, TheDefaultRootIsACopyThatNothingReachesThrough) {
  // ridid-emu's default root is the sample root beside it; a guest that
  // deletes, stores and appends there leaves that root as it was.
  const std::string emu = EMU_TEST_COMMAND;
  const std::string sample = emu.substr(0, emu.rfind('/')) + "/../share/ridid/root";
  const auto snapshot = [&] {
    std::vector<std::string> entries;
    walk(sample, "", entries);
    std::map<std::string, std::string> files;
    for (const auto& e : entries) {
      struct stat st;
      if (lstat((sample + "/" + e).c_str(), &st) == 0 && S_ISREG(st.st_mode))
        files[e] = slurp_text(sample + "/" + e);
      else
        files[e] = "(not a file)";
    }
    return files;
  };
  const auto before = snapshot();
  ASSERT_TRUE(before.count("bin/run.dura"));
  ASSERT_TRUE(before.count("docs/welcome.txt"));
  TempDir tmp;
  mkdir((tmp / "t").c_str(), 0755);
  const auto c = command(image("ops") + " u /bin/run.dura w /notes.txt hi a /docs/welcome.txt more "
                                        "c /docs/welcome.txt m /made",
                         tmp.path, "TMPDIR=" + (tmp / "t"));
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out, before.at("docs/welcome.txt") + "more");  // the guest saw its own change
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(listing(tmp / "t").empty());  // and the copy is gone
}

// ---------------------------------------------------------------- robustness

// trap.elf traps for ever; the hook below turns its traps into a script of
// calls (nr, ebx, ecx, edx), then ends it with _exit(0).
struct Calls {
  std::vector<std::array<uint32_t, 4>> list;
  size_t next = 0;
  ridemu::ServiceHook hook() {
    return [this](ridemu::ServiceCall& c) {
      const auto a = next < list.size() ? list[next++] : std::array<uint32_t, 4>{2, 0, 0, 0};
      c.nr = a[0], c.ebx = a[1], c.ecx = a[2], c.edx = a[3];
    };
  }
};

long max_rss_kib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

TEST(Limits, APipeHoldsNoMoreThanItsCapacity) {
  // The reader always leaves one byte behind, so the pipe never runs empty;
  // what was read must still be let go.
  const uint32_t buf = symbol("buf", image("trap"));
  Calls calls;
  calls.list.push_back({124, buf, 0, 0});  // descriptors 3 and 4
  for (int i = 0; i < 4096; ++i) {
    calls.list.push_back({1, 4, buf, 0x10000});
    calls.list.push_back({3, 3, buf, 0xFFFF});
  }
  auto c = quiet();
  c.record = false;
  c.service_hook = calls.hook();
  const long before = max_rss_kib();
  const auto o = ridemu::run(image("trap"), {std::string("trap")}, c);
  EXPECT_EQ(o.kind, ridemu::Outcome::Exited) << o.message;
  EXPECT_EQ(calls.next, calls.list.size());
  EXPECT_LT(max_rss_kib() - before, 64 * 1024);  // 256 MiB passed through
}

TEST(Limits, ScriptsThatStartNothingAreStillBounded) {
  // Each script runs 64 lines of the next one and the last does nothing:
  // 64^4 script runs, none of them a process.
  ProgramRoot root;
  for (int level = 1; level <= 4; ++level) {
    std::string text;
    for (int i = 0; i < 64; ++i) text += "fan" + std::to_string(level + 1) + ".shell\n";
    spit(root.dir / ("bin/fan" + std::to_string(level) + ".shell"), text);
  }
  spit(root.dir / "bin/fan5.shell", "# nothing to do\n");
  const auto t0 = std::chrono::steady_clock::now();
  const auto o = ops({std::string("r"), std::string("fan1.shell"), std::string("p")},
                     quiet(root.dir.path));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_EQ(o.console, "/\n");  // the guest carries on
  const auto r = requests(o);
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r.back(), std::make_pair(std::string("fan1.shell"), -11));
}

TEST(Limits, TheTimeLimitAndTheBudgetHoldWhileScriptsRun) {
  ProgramRoot root;
  std::string many;
  for (int i = 0; i < 4000; ++i) many += "args.kav x\n";
  spit(root.dir / "bin/many.shell", many);
  // Scripts of comment lines, each running the next twice: 2^10 runs.
  const std::string comments(64 * 1024, '#');
  for (int level = 1; level <= 10; ++level) {
    const std::string next = "fold" + std::to_string(level + 1) + ".shell\n";
    std::string text;
    for (int i = 0; i < 4; ++i) text += comments + "\n";
    spit(root.dir / ("bin/fold" + std::to_string(level) + ".shell"), text + next + next);
  }
  spit(root.dir / "bin/fold11.shell", "args.kav\n");
  struct Case {
    const char* line;
    uint64_t time_limit_ms, budget;
    const char* fault;
  };
  const std::vector<Case> cases = {
      {"many.shell", 100, 0, "time limit exceeded"},
      {"many.shell", 20000, 20000, "instruction budget exceeded"},
      {"fold1.shell", 100, 0, "time limit exceeded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    auto config = quiet(root.dir.path);
    config.time_limit_ms = c.time_limit_ms;
    config.max_instructions = c.budget;
    const auto o = ops({std::string("r"), std::string(c.line), std::string("p")}, config);
    // The whole run stops: the program that asked does not carry on.
    EXPECT_EQ(o.kind, ridemu::Outcome::Faulted);
    EXPECT_EQ(o.message.rfind(c.fault, 0), 0u) << o.message;
    EXPECT_EQ(o.console.find('/'), std::string::npos);
    int started = 0, lines = 0;
    for (const auto& t : o.trace) {
      started = std::max(started, t.pid);
      lines += t.script;
    }
    EXPECT_LT(started, 3000);  // nothing started once the limit was spent
    EXPECT_LT(lines, 2046);
  }
}

TEST(Spawn, AnArgumentPastItsLimitIsTooLongNotABadPointer) {
  const std::string trap = image("trap");
  const uint32_t strings = symbol("strings", trap), buf = symbol("buf", trap);
  TempDir root;
  spit(root / "f", std::string(70000, 'a'));  // longer than 64 KiB
  std::vector<uint8_t> vec(4);
  put32(vec, 0, buf);
  spit(root / "p", vec);
  Calls calls;
  calls.list = {{4, strings + 5 * 32, 0, 0},            // open("f") = 3
                {3, 3, buf, 0x20000},                    // its bytes into buf
                {4, strings + 8 * 32, 0, 0},            // open("/p") = 4
                {3, 4, buf + 0x1F000, 4},               // the vector {buf}
                {131, strings, buf + 0x1F000, 1}};      // spawn("/t.kav", ...)
  auto c = quiet(root.path);
  c.service_hook = calls.hook();
  const auto o = ridemu::run(trap, {std::string("trap")}, c);
  EXPECT_EQ(results(o, 3), (std::vector<int32_t>{70000, 4}));
  EXPECT_EQ(results(o, 131), (std::vector<int32_t>{-36}));
}

// ---------------------------------------------------------------- fuzzing

TEST(Fuzz, MutatedImagesAreRunOrRefusedAsTheLoaderSays) {
  const auto good = slurp(image("args"));
  std::mt19937 rng(20261206);
  const uint32_t words[] = {0, 1, 0x7F, 0x80, 0xFFF, 0x1000, 0x400000, 0xBFEFF000u,
                            0xBFF00000u, 0xFFFFF000u, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu,
                            static_cast<uint32_t>(good.size())};
  auto c = quiet();
  c.time_limit_ms = 2000;
  int runs = 0, loaded = 0;
  for (int i = 0; i < 3000; ++i) {
    auto b = good;
    const size_t headers = 52 + 3 * 32;
    for (int k = 1 + rng() % 4; k > 0; --k) {
      const size_t at = rng() % 4 ? rng() % headers : rng() % b.size();
      if (rng() % 2) {
        b[at] = static_cast<uint8_t>(rng());
      } else if (at + 4 <= b.size()) {
        put32(b, at & ~size_t(3), words[rng() % std::size(words)]);
      }
    }
    if (rng() % 16 == 0) b.resize(rng() % b.size());
    const std::string why = ridemu::check_image(b);
    if (i % 10) continue;
    // Every tenth is run too: refused with the same reason, or started.
    TempDir dir;
    spit(dir / "m.elf", b);
    const auto o = ridemu::run(dir / "m.elf", {std::string("m")}, c);
    ++runs;
    SCOPED_TRACE("mutation " + std::to_string(i) + ": " + why + " / " + o.message);
    if (why.empty()) {
      ++loaded;
      EXPECT_NE(o.kind, ridemu::Outcome::Refused);
      EXPECT_TRUE(o.kind == ridemu::Outcome::Faulted ? o.status == 139 : o.status < 256);
    } else {
      EXPECT_EQ(o.kind, ridemu::Outcome::Refused);
      EXPECT_EQ(o.status, ridemu::kStatusRefused);
      EXPECT_EQ(o.message, why);
    }
  }
  EXPECT_GT(loaded, 10);  // the mutations did not all break the image
  EXPECT_LT(loaded, runs);
}

// Every entry below `dir`, as paths relative to it.
void walk(const std::string& dir, const std::string& rel, std::vector<std::string>& out) {
  for (const auto& name : listing(dir)) {
    out.push_back(rel + name);
    struct stat st;
    if (lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      walk(dir + "/" + name, rel + name + "/", out);
  }
}

TEST(Fuzz, RandomServiceArgumentsLeaveTheHostAndRootSound) {
  const std::string trap = image("trap");
  const uint32_t strings = symbol("strings", trap), strings_end = symbol("strings_end", trap),
                 buf = symbol("buf", trap);
  const uint32_t services[] = {0, 1, 3, 4, 5, 6, 21, 22, 49, 50, 51, 52, 53, 54, 55, 95,
                               96, 110, 124, 125, 126, 127, 128, 129, 130, 131, 132, 200};
  const uint32_t pointers[] = {0, 0x10, 0xFFF, 0x1000, 0x400000, strings_end - 1, buf,
                               buf + 0x20000 - 1, buf + 0x20000 - 8, 0xBFEFFFFFu, 0xBFF00000u,
                               0xBFFFFFF0u, 0xBFFFFFFFu, 0xC0000000u, 0xFFFFFFFFu};
  const uint32_t numbers[] = {0, 1, 2, 3, 4, 5, 9, 255, 256, 0x41, 0x241, 0x441, 0xC1, 0xFFF,
                              0x1000, 0x20000, 0x20001, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
  std::mt19937 rng(7);
  const auto pick = [&]() -> uint32_t {
    switch (rng() % 6) {
      case 0: return strings + 32 * (rng() % ((strings_end - strings) / 32));
      case 1: return pointers[rng() % std::size(pointers)];
      case 2: return buf + rng() % 0x20000;
      case 3: return static_cast<uint32_t>(rng());
      default: return numbers[rng() % std::size(numbers)];
    }
  };
  for (int run = 0; run < 12; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    TempDir outer;
    const std::string root = outer / "root";
    mkdir(root.c_str(), 0755);
    mkdir((root + "/d").c_str(), 0755);
    mkdir((root + "/bin").c_str(), 0755);
    spit(root + "/t.kav", slurp(trap));
    spit(root + "/bin/t.kav", slurp(trap));
    spit(root + "/s.shell", "t.kav a\n/t.kav\ns.shell\n");
    spit(root + "/f", "file");
    symlink("..", (root + "/ln").c_str());
    symlink(outer.path.c_str(), (root + "/d/out").c_str());
    std::map<int, int> calls;  // per process
    auto c = quiet(root);
    c.record = false;
    c.time_limit_ms = 10000;
    c.service_hook = [&](ridemu::ServiceCall& call) {
      if (++calls[call.pid] > (call.depth ? 20 : 2000)) {
        call.nr = 2;
        call.ebx = 0;
        return;
      }
      call.nr = rng() % 8 ? services[rng() % std::size(services)] : static_cast<uint32_t>(rng());
      if (call.nr == 2) call.nr = 0;
      call.ebx = pick();
      call.ecx = pick();
      call.edx = pick();
    };
    const auto o = ridemu::run(trap, {std::string("trap")}, c);
    EXPECT_EQ(o.kind, ridemu::Outcome::Exited) << o.message;
    EXPECT_EQ(o.status, 0);
    // Nothing was made outside the root, and no store left a temporary.
    EXPECT_EQ(listing(outer.path), (std::set<std::string>{"root"}));
    std::vector<std::string> entries;
    walk(root, "", entries);
    for (const auto& e : entries) EXPECT_EQ(e.find(".ridid-store-"), std::string::npos) << e;
  }
}

}  // namespace
