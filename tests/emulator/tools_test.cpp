// Tests of the tools that watch a run: fault lines with functions and source
// lines, the JSON trace, strace's lines and its table. (The debugger:
// gdb_packet_test.cpp and gdb_session.sh; the profiler: profile_test.sh.)
#include <algorithm>
#include <cstring>
#include <regex>
#include <sstream>

#include "emulator_test.h"

namespace {

using namespace test;

TEST(Faults, LinesNameTheFunctionSourceLineAndInstruction) {
  const std::string source = slurp(std::string(EMU_TEST_SOURCES) + "/tools.c");
  const auto line = [&](const std::string& marker) {
    return std::to_string(std::count(source.begin(), source.begin() + source.find("line: " + marker), '\n') + 1);
  };
  // The callers under the line: each names the call's function and, when
  // given, its source line.
  const std::vector<std::string> from_run = {" in run+0x", " in begin+0x", " in _start+0x"};
  struct Case { const char* arg; std::string head, place, insn; std::vector<std::string> callers; };
  const std::vector<Case> cases = {
      {"crash", "unmapped write at 0x00000000 (eip 0x", ") in crash+0x", "(tools.c:" + line("crash") + "): mov dword ptr [eax], 0x2a", from_run},
      {"recurse", "stack overflow: write at 0xbfef", ") in recurse+0x", "(tools.c:" + line("recursion") + "): mov dword ptr [ebp - 0x100], eax",
       std::vector<std::string>(8, " in recurse+0x")},
      {"invalid", "invalid instruction at 0x", ") in invalid+0x", "(tools.c:" + line("invalid") + "): ud2", from_run},
      // Before any frame is made: the return address is on top of the stack.
      {"nowhere", "unmapped fetch at 0x00000000 (eip 0x00000000)", "", "",
       {" in run+0x", " in begin+0x", " in _start+0x"}},
  };
  for (const auto& [arg, head, place, insn, callers] : cases) {
    SCOPED_TRACE(arg);
    const ridemu::Outcome o = ridemu::run(image("tools"), {"tools", arg}, quiet());
    const std::string& m = o.message;
    EXPECT_EQ(m.rfind(head, 0), 0u) << m;
    EXPECT_NE(m.find(place), std::string::npos) << m;
    EXPECT_EQ(m.size() - m.rfind(insn), insn.size()) << m;
    ASSERT_EQ(o.callers.size(), callers.size()) << testing::PrintToString(o.callers);
    for (size_t i = 0; i < callers.size(); ++i)
      EXPECT_TRUE(o.callers[i].rfind("0x", 0) == 0 && o.callers[i].find(callers[i]) == 10) << o.callers[i];
  }
  EXPECT_NE(ridemu::run(image("tools"), {"tools", "nowhere"}, quiet()).callers[0].find("(tools.c:" + line("nowhere") + ")"),
            std::string::npos);
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

// The lines of `text` that are `want`, in order: "" when all are there, else
// the first one missing.
std::string missing_in_order(const std::string& text, const std::vector<std::string>& want) {
  std::istringstream in(text);
  size_t at = 0;
  for (std::string l; std::getline(in, l);)
    if (at < want.size() && l == want[at]) ++at;
  return at < want.size() ? want[at] + "\nin:\n" + text : "";
}

TEST(Command, StraceNamesEachServiceAndDecodesItsArguments) {
  ProgramRoot root;
  spit(root.dir / "f.txt", "abc");
  spit(root.dir / "empty", "");
  const std::string digits = "0123456789012345678901234567890123456789";
  const std::string ops = " --strace-file " + root.dir / "s " + image("ops");
  auto c = command("--root " + root.dir.path + ops +
                       " c /f.txt c /empty c /nope a /log x l /f.txt s /bin/args.kav K r demo.shell w /a\x7f x w /b " +
                       digits + " B e 3",
                   root.dir.path);
  EXPECT_EQ(c.status, 3);
  EXPECT_EQ(missing_in_order(slurp(root.dir / "s"), {
      "open(\"/f.txt\", O_RDONLY) = 3", "read(3, \"abc\", 4096) = 3", "write(1, \"abc\", 3) = 3", "close(3) = 0",
      "read(3, \"\", 4096) = 0", "open(\"/nope\", O_RDONLY) = -2 ENOENT",
      "open(\"/log\", O_WRONLY|O_CREAT|O_APPEND) = 3", "lseek(3, 0, SEEK_END) = 3", "lseek(3, 2, SEEK_SET) = 2",
      "read(3, \"c\", 3) = 1", "[pid 2] write(1, \"/bin/args.kav\", 13) = 13", "[pid 2] _exit(1) = ?",
      "spawn(\"/bin/args.kav\", NULL, 0) = 2 (status 1)", "write(1, \"\\377\\1\\2\\3\", 4) = 4 (console packet)",
      "run(\"args.kav from script\") = 0 (status 3) (from /bin/demo.shell)", "run(\"demo.shell\") = 0",
      "writefile(\"/a\\177\", \"x\", 1) = 1", "writefile(\"/b\", \"" + digits.substr(0, 32) + "\"..., 40) = 40",
      "open(0x00000010, O_RDONLY) = -14 EFAULT", "_exit(3) = ?"}), "");
  // An argument vector: its first 32 strings, "..." for the rest.
  std::string numbers, shown;
  for (int i = 1; i <= 31; ++i) {
    numbers += " " + std::to_string(i);
    if (i <= 29) shown += ", \"" + std::to_string(i) + "\"";
  }
  c = command("--root " + root.dir.path + ops + " S /bin/args.kav" + numbers, root.dir.path);
  EXPECT_EQ(missing_in_order(slurp(root.dir / "s"), {
      "spawn(\"/bin/args.kav\", [\"ops.elf\", \"S\", \"/bin/args.kav\"" + shown + ", ...], 34) = 2 (status 34)"}), "");
  // Only the services named: lines on standard error, or only the table.
  const std::string only = "--root " + root.dir.path + " --strace-only open,write ";
  c = command(only + image("ops") + " c /f.txt c /nope", root.dir.path);
  EXPECT_EQ(c.err, "open(\"/f.txt\", O_RDONLY) = 3\nwrite(1, \"abc\", 3) = 3\nopen(\"/nope\", O_RDONLY) = -2 ENOENT\n");
  c = command(only + "--strace-summary " + image("ops") + " c /f.txt c /nope", root.dir.path);
  const std::string rule = "------ ----------- ----------- --------- --------- ----------------\n", time = " *[0-9.]+ +[0-9.]+ +[0-9]+ +";
  EXPECT_TRUE(std::regex_match(c.err, std::regex("% time     seconds  usecs/call     calls    errors service\n" + rule +
                                                 "(" + time + "2 +1 open\n" + time + "1 +write\n|" + time + "1 +write\n" +
                                                 time + "2 +1 open\n)" + rule + "100.00 +[0-9.]+ +[0-9]+ +3 +1 total\n")))
      << c.err;
}

}  // namespace
