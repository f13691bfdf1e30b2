// Tests of the tools that watch a run: fault lines with functions and source
// lines, the JSON trace and strace's lines. (The debugger: gdb_packet_test.cpp
// and gdb_session.sh; the profiler: profile_test.sh.)
#include <algorithm>
#include <cstring>
#include <sstream>

#include "emulator_test.h"

namespace {

using namespace test;

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

// What an image says of itself is read within the file and printed with its
// control bytes escaped: a name cannot forge a second line or drive the
// terminal, and a table that is not in the file names nothing.
TEST(Faults, NamesFromTheImageAreReadWithinItAndEscaped) {
  const ElfImage elf(image("tools"));
  const auto field = [&](const char* section, size_t word) {
    return size_t(elf.eh.e_shoff) + size_t(elf.section(section) - elf.shdrs.data()) * sizeof(Elf32_Shdr) + 4 * word;
  };
  const auto put32 = [](std::string& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
  // Every `from` from `at` on becomes `to`, as long.
  const auto rename = [&](std::string& b, const std::string& from, const std::string& to, size_t at = 0) {
    for (; (at = b.find(from, at)) != std::string::npos; at += to.size()) b.replace(at, from.size(), to);
  };
  struct Case { const char* what; std::function<void(std::string&)> change; std::string shows, never; };
  const std::vector<Case> cases = {
      {"a name with a newline and escapes", [&](auto& b) { rename(b, std::string("\0crash\0", 7), std::string("\0\n\x1b[2J\0", 7), elf.section(".strtab")->sh_offset); },
       " in \\x0a\\x1b[2J+0x", "\n"},
      {"a file name with an escape", [&](auto& b) { rename(b, std::string("tools.c\0", 8), std::string("to\x1bls\\c\0", 8)); },
       "(to\\x1bls\\x5cc:", "\x1b"},
      {"the symbol table without bytes", [&](auto& b) { put32(b, field(".symtab", 1), SHT_NOBITS); }, "(tools.c:", " in "},
      {"the symbol table past the end", [&](auto& b) { put32(b, field(".symtab", 4), elf.bytes.size() - 16); }, "(tools.c:", " in "},
      {"the string table past the end", [&](auto& b) { put32(b, field(".strtab", 5), 0xFFFFFF00u); }, "(tools.c:", " in "},
      {"the string table without bytes", [&](auto& b) { put32(b, field(".strtab", 1), SHT_NOBITS); }, "(tools.c:", " in "},
      {"the line table past the end", [&](auto& b) { put32(b, field(".debug_line", 4), elf.bytes.size() + 64); }, " in crash+0x", "tools.c"},
  };
  TempDir dir;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    std::string bytes = elf.bytes;
    k.change(bytes);
    spit(dir / "hostile.elf", bytes);
    const std::string m = ridemu::run(dir / "hostile.elf", {"tools", "crash"}, quiet()).message;
    EXPECT_EQ(m.rfind("unmapped write at 0x00000000 (eip 0x", 0), 0u) << m;
    EXPECT_NE(m.find(k.shows), std::string::npos) << m;
    EXPECT_EQ(m.find(k.never), std::string::npos) << m;
    EXPECT_EQ(m.size() - m.rfind(": mov dword ptr [eax], 0x2a"), 27u) << m;
  }
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
