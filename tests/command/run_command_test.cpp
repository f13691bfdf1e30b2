// The run command end to end: the image it is built into, and what it does
// under the emulator with every kind of argument vector and kernel answer.
#include <gtest/gtest.h>

#include "../emulator/support.h"

namespace {

using namespace test;

const std::string kUsage =
    "Usage: run <program.kav|program.bin|program.flat|program.dura|script.shell> [args...]\n";

// ---- the image ----

bool inside(const Elf32_Shdr& sh, const Elf32_Phdr& ph) {
  return sh.sh_addr >= ph.p_vaddr && sh.sh_addr + sh.sh_size <= ph.p_vaddr + ph.p_memsz;
}

TEST(RunImage, StaticI386ExecutableInThreeSegments) {
  const ElfImage run(RUN_IMAGE);
  EXPECT_EQ(ridemu::check_image({run.bytes.begin(), run.bytes.end()}), "");  // ELF32, i386, EXEC
  EXPECT_EQ(run.eh.e_entry, 0x400000u);
  ASSERT_TRUE(run.symbol("_start") && run.symbol("main"));  // the symbol table is kept
  EXPECT_EQ(run.symbol("_start")->st_value, run.eh.e_entry);
  std::vector<Elf32_Phdr> l;
  for (const Elf32_Phdr& ph : run.phdrs)
    if (ph.p_type == PT_LOAD) l.push_back(ph);
  ASSERT_EQ(l.size(), 3u);
  const Elf32_Word flags[] = {PF_R | PF_X, PF_R, PF_R | PF_W};
  for (size_t i = 0; i < l.size(); ++i) {
    EXPECT_EQ(l[i].p_flags, flags[i]) << i;
    EXPECT_EQ(l[i].p_vaddr % 4096, 0u) << i;
    if (i > 0) EXPECT_GE(l[i].p_vaddr, l[i - 1].p_vaddr + l[i - 1].p_memsz) << i;
  }
  // The records: read-only, after the read-only data, byte for byte.
  const Elf32_Shdr* rodata = run.section(".rodata");
  ASSERT_TRUE(rodata);
  const std::vector<std::tuple<const char*, const char*, std::string, uint32_t>> records = {
      {".ridid.cmdmeta", "g_cmdmeta_0",
       std::string("KCMD\1\0\0\0Run a native program, .dura, or script.\0run <program> [args...]\0\0", 73), 32},
      {".ridid.pkgmeta", "g_pkgmeta_0", std::string("KPKG\1\0\0\0run\0" "2\0\0", 15), 4}};
  for (const auto& [name, symbol, bytes, align] : records) {
    SCOPED_TRACE(name);
    const Elf32_Shdr* sh = run.section(name);
    ASSERT_TRUE(sh);
    EXPECT_EQ(sh->sh_flags, static_cast<Elf32_Word>(SHF_ALLOC));  // not writable, not executable
    EXPECT_TRUE(inside(*sh, l[1]));
    EXPECT_GE(sh->sh_addr, rodata->sh_addr + rodata->sh_size);
    EXPECT_EQ(sh->sh_addralign, align);
    EXPECT_EQ(run.bytes.substr(sh->sh_offset, sh->sh_size), bytes);
    EXPECT_EQ(run.symbol(symbol)->st_value, sh->sh_addr);
  }
  // The 1 MiB arena takes no room in the file.
  EXPECT_LT(l[2].p_filesz, 4096u);
}

// ---- the program ----

struct Result { ridemu::Outcome outcome; std::vector<ridemu::TraceRecord> requests; };  // requests: service 96's

// Runs `run` with argv[1..] = args; the run request gets `answer` when given,
// otherwise the emulator serves it (in a scratch root, or in `root`).
Result run(const Args& args, std::optional<int32_t> answer = std::nullopt, const std::string& root = "") {
  Args argv{"run"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto config = quiet(root);
  if (answer)
    config.service_hook = [answer](ridemu::ServiceCall& call) {
      if (call.depth == 0 && call.nr == 96) call.result = *answer;
    };
  Result r{ridemu::run(RUN_IMAGE, argv, config), {}};
  for (const auto& t : r.outcome.trace)
    if (t.nr == 96 && t.pid == 1) r.requests.push_back(t);
  return r;
}

TEST(RunProgram, TheLineItSendsItsStatusAndMessages) {
  const std::string too_long = "run: command line too long\n", failed = "run: failed\n", a95(95, 'a'), b95(95, 'b');
  // The run request's answer (served: the emulator's, -2 for no such program), and its line when served.
  struct Case { Args args; std::optional<int32_t> answer; int status; std::string console, line; };
  const auto served = std::nullopt;
  const std::vector<Case> cases = {
      {{}, 0, 1, kUsage, ""}, {{""}, 0, 1, kUsage, ""}, {{std::nullopt}, 0, 1, kUsage, ""},
      {{std::nullopt, "prog"}, 0, 1, kUsage, ""}, {{"", "prog"}, 0, 1, kUsage, ""},
      // Only zero is success: neither the sign nor the low bits decide.
      {{"prog", "a"}, 0, 0, "", ""}, {{"prog", "a"}, 1, 1, failed, ""}, {{"prog"}, -1, 1, failed, ""},
      {{"prog"}, INT32_MIN, 1, failed, ""}, {{"prog", "a", "b"}, served, 1, failed, "prog a b"},
      // An empty argument keeps its separator, a null entry adds none; no quoting.
      {{"prog", "", "x"}, served, 1, failed, "prog  x"}, {{"prog", std::nullopt, "x"}, served, 1, failed, "prog x"},
      {{"prog", "x", ""}, served, 1, failed, "prog x "}, {{"prog", "two words"}, served, 1, failed, "prog two words"},
      // Lines up to 191 characters go out whole; a line the kernel would only
      // get cut short is not sent at all.
      {{a95, b95.substr(0, 94) + "c"}, served, 1, failed, a95 + " " + b95.substr(0, 94) + "c"},
      {{std::string(191, 'p')}, served, 1, failed, std::string(191, 'p')},
      {{a95, std::nullopt, b95}, served, 1, failed, a95 + " " + b95},
      {{std::string(190, 'q'), ""}, served, 1, failed, std::string(190, 'q') + " "},
      {{std::string(192, 'p')}, 0, 1, too_long, ""}, {{a95, "", b95}, 0, 1, too_long, ""}, {{a95, b95 + "b"}, 0, 1, too_long, ""},
      {{std::string(190, 'q'), "", ""}, 0, 1, too_long, ""}, {{"prog", std::string(4000, 'z')}, 0, 1, too_long, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size() ? c.args.back().value_or("(null)").substr(0, 8) : "(none)");
    const Result r = run(c.args, c.answer);
    EXPECT_EQ(r.outcome.kind, ridemu::Outcome::Exited);
    EXPECT_EQ(r.outcome.status, c.status);
    EXPECT_EQ(r.outcome.console, c.console);
    ASSERT_EQ(r.requests.size(), c.console == kUsage || c.console == too_long ? 0u : 1u);
    if (!c.line.empty()) EXPECT_EQ(r.requests[0].line, c.line);
  }
  // The request, with ECX 0, is the last thing before the exit.
  const auto t = run({"prog"}, 0).outcome.trace;
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t.back().nr, 2u);
  EXPECT_EQ(t[t.size() - 2].nr, 96u);
  EXPECT_EQ(t[t.size() - 2].ecx, 0u);
}

// A real child: the kernel starts echo.dura from the root's /bin and accepts.
TEST(RunProgram, StartsARealProgram) {
  TempDir root;
  fs::create_directories(root / "bin");
  fs::copy_file(ECHO_IMAGE, root / "bin/echo.dura");
  const Result r = run({"echo.dura", "hello", std::nullopt, "world"}, std::nullopt, root.path);
  EXPECT_EQ(r.outcome.status, 0);
  EXPECT_EQ(r.outcome.console, "hello world\n");
  ASSERT_EQ(r.requests.size(), 1u);
  EXPECT_EQ(r.requests[0].result, 0);
}

}  // namespace
