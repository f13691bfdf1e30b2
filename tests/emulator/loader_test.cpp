// Tests of the engine room: the loader, the process it starts, and the faults
// the processor reports.
#include <sys/resource.h>

#include <algorithm>
#include <fstream>

#include "emulator_test.h"

namespace {

using namespace test;

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
      {[](auto& b) { b[16] = 1; }, "not an executable"},
      // What only a program for Linux has.
      {[](auto& b) { b[16] = 3; }, "a Linux i386 program (it is position-independent), not a ridid image"},
      {[](auto& b) { b[7] = 3; }, "a Linux i386 program (its ABI is GNU)"},
      {[&](auto& b) { put32(b, ph(1, 0), 3); }, "a Linux i386 program (it names an interpreter)"},
      {[&](auto& b) { put32(b, ph(1, 0), 2); }, "a Linux i386 program (it has a dynamic section)"},
      {[&](auto& b) {  // the note: name size 4, 16 bytes of description, type 1, "GNU"
         put32(b, ph(2, 0), 4), put32(b, ph(2, 4), b.size()), put32(b, ph(2, 16), 36);
         for (uint32_t w : {4u, 16u, 1u, 0x554E47u, 0u, 2u, 6u, 32u, 0u}) b.append(reinterpret_cast<const char*>(&w), 4);
       }, "a Linux i386 program (it has a GNU ABI note)"},
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
    SCOPED_TRACE(std::string(arg) + ": " + message);
    const auto o = ridemu::run(img, {"fault", arg}, quiet());
    EXPECT_EQ(o.kind, ridemu::Outcome::Faulted);
    EXPECT_EQ(o.status, ridemu::kStatusFault);
    EXPECT_EQ(o.message.rfind(message, 0), 0u) << o.message;
    EXPECT_EQ(o.message.substr(o.message.size() - std::min(o.message.size(), end.size())), end);
    EXPECT_TRUE(o.trace.empty());  // nothing was served after the fault
  }
  EXPECT_EQ(ridemu::run(img, {"fault"}, quiet()).kind, ridemu::Outcome::Exited);
}

TEST(Faults, CodeWrittenIntoAWritableExecutablePageIsTheCodeThatRuns) {
  // rewrite.elf exits with a mask of its checks that ran old code; without
  // an argument it runs exactly 2906 instructions. With one, a store changes
  // the next instruction of its own block, which the processor then runs
  // again from that store, so the count is not checked.
  const std::vector<std::tuple<Args, bool, uint64_t>> cases = {  // argv, --count, instructions
      {{"rewrite"}, false, 0}, {{"rewrite"}, true, 2906},
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

}  // namespace
