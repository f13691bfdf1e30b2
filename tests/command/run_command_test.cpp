// The run command end to end: the image it is built into, and what it does
// under the emulator with every kind of argument vector and kernel answer.
#include <elf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "ridemu.h"

namespace {

const std::string kUsage =
    "Usage: run <program.kav|program.bin|program.flat|program.dura|script.shell> [args...]\n";

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// ---- the image ----

class RunImage : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes = read_file(RUN_IMAGE);
    ASSERT_GE(bytes.size(), sizeof(Elf32_Ehdr)) << RUN_IMAGE;
    std::memcpy(&eh, bytes.data(), sizeof eh);
    ASSERT_LE(eh.e_phoff + eh.e_phnum * sizeof(Elf32_Phdr), bytes.size());
    ASSERT_LE(eh.e_shoff + eh.e_shnum * sizeof(Elf32_Shdr), bytes.size());
    for (int i = 0; i < eh.e_phnum; ++i) {
      Elf32_Phdr ph;
      std::memcpy(&ph, bytes.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
      phdrs.push_back(ph);
    }
    for (int i = 0; i < eh.e_shnum; ++i) {
      Elf32_Shdr sh;
      std::memcpy(&sh, bytes.data() + eh.e_shoff + i * sizeof sh, sizeof sh);
      shdrs.push_back(sh);
    }
    ASSERT_LT(eh.e_shstrndx, shdrs.size());
  }

  std::string name_of(const Elf32_Shdr& sh) const {
    return reinterpret_cast<const char*>(bytes.data() + shdrs[eh.e_shstrndx].sh_offset + sh.sh_name);
  }

  const Elf32_Shdr* section(const std::string& name) const {
    for (const Elf32_Shdr& sh : shdrs)
      if (name_of(sh) == name) return &sh;
    return nullptr;
  }

  std::optional<Elf32_Sym> symbol(const std::string& name) const {
    const Elf32_Shdr* symtab = section(".symtab");
    if (!symtab) return std::nullopt;
    const Elf32_Shdr& strtab = shdrs[symtab->sh_link];
    for (size_t off = 0; off + sizeof(Elf32_Sym) <= symtab->sh_size; off += sizeof(Elf32_Sym)) {
      Elf32_Sym s;
      std::memcpy(&s, bytes.data() + symtab->sh_offset + off, sizeof s);
      if (name == reinterpret_cast<const char*>(bytes.data() + strtab.sh_offset + s.st_name)) return s;
    }
    return std::nullopt;
  }

  std::vector<Elf32_Phdr> loads() const {
    std::vector<Elf32_Phdr> out;
    for (const Elf32_Phdr& ph : phdrs)
      if (ph.p_type == PT_LOAD) out.push_back(ph);
    return out;
  }

  static bool inside(const Elf32_Shdr& sh, const Elf32_Phdr& ph) {
    return sh.sh_addr >= ph.p_vaddr && sh.sh_addr + sh.sh_size <= ph.p_vaddr + ph.p_memsz;
  }

  std::string contents(const Elf32_Shdr& sh) const {
    return std::string(reinterpret_cast<const char*>(bytes.data() + sh.sh_offset), sh.sh_size);
  }

  std::vector<uint8_t> bytes;
  Elf32_Ehdr eh{};
  std::vector<Elf32_Phdr> phdrs;
  std::vector<Elf32_Shdr> shdrs;
};

TEST_F(RunImage, StaticI386ExecutableEnteredAtStart) {
  EXPECT_EQ(std::memcmp(eh.e_ident, ELFMAG, SELFMAG), 0);
  EXPECT_EQ(eh.e_ident[EI_CLASS], ELFCLASS32);
  EXPECT_EQ(eh.e_ident[EI_DATA], ELFDATA2LSB);
  EXPECT_EQ(eh.e_machine, EM_386);
  EXPECT_EQ(eh.e_type, ET_EXEC);
  EXPECT_EQ(eh.e_entry, 0x400000u);
  auto start = symbol("_start");
  ASSERT_TRUE(start) << "no symbol table entry for _start";
  EXPECT_EQ(start->st_value, eh.e_entry);
  for (const Elf32_Phdr& ph : phdrs) {
    EXPECT_NE(ph.p_type, static_cast<Elf32_Word>(PT_INTERP));
    EXPECT_NE(ph.p_type, static_cast<Elf32_Word>(PT_DYNAMIC));
  }
  EXPECT_EQ(section(".interp"), nullptr);
  EXPECT_EQ(section(".dynamic"), nullptr);
  const Elf32_Shdr* symtab = section(".symtab");
  ASSERT_NE(symtab, nullptr);
  EXPECT_EQ(symtab->sh_type, static_cast<Elf32_Word>(SHT_SYMTAB));
  EXPECT_TRUE(symbol("main"));
  EXPECT_EQ(ridemu::check_image(bytes), "");
}

TEST_F(RunImage, CodeThenReadOnlyThenWritableSegments) {
  std::vector<Elf32_Phdr> l = loads();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0].p_vaddr, 0x400000u);
  EXPECT_EQ(l[0].p_flags, static_cast<Elf32_Word>(PF_R | PF_X));
  EXPECT_EQ(l[1].p_flags, static_cast<Elf32_Word>(PF_R));
  EXPECT_EQ(l[2].p_flags, static_cast<Elf32_Word>(PF_R | PF_W));
  for (size_t i = 0; i < l.size(); ++i) {
    EXPECT_EQ(l[i].p_vaddr % 4096, 0u) << i;
    if (i > 0) EXPECT_GE(l[i].p_vaddr, l[i - 1].p_vaddr + l[i - 1].p_memsz) << i;
  }

  const Elf32_Shdr* rodata = section(".rodata");
  const Elf32_Shdr* cmd = section(".ridid.cmdmeta");
  const Elf32_Shdr* pkg = section(".ridid.pkgmeta");
  ASSERT_NE(rodata, nullptr);
  ASSERT_NE(cmd, nullptr);
  ASSERT_NE(pkg, nullptr);
  EXPECT_TRUE(inside(*rodata, l[1]));
  for (const Elf32_Shdr* sh : {cmd, pkg}) {
    EXPECT_EQ(sh->sh_type, static_cast<Elf32_Word>(SHT_PROGBITS));
    EXPECT_EQ(sh->sh_flags, static_cast<Elf32_Word>(SHF_ALLOC));  // not writable, not executable
    EXPECT_TRUE(inside(*sh, l[1]));
    EXPECT_GE(sh->sh_addr, rodata->sh_addr + rodata->sh_size);
  }
  EXPECT_EQ(cmd->sh_size, 73u);
  EXPECT_EQ(cmd->sh_addralign, 32u);
  EXPECT_EQ(cmd->sh_addr % 32, 0u);
  EXPECT_EQ(pkg->sh_size, 15u);
  EXPECT_EQ(pkg->sh_addralign, 4u);

  // The 1 MiB arena is zero-filled space in the writable segment, not file bytes.
  auto heap = symbol("g_heap");
  ASSERT_TRUE(heap);
  EXPECT_EQ(heap->st_size, 1048576u);
  EXPECT_EQ(heap->st_value % 8, 0u);
  ASSERT_LT(heap->st_shndx, shdrs.size());
  const Elf32_Shdr& home = shdrs[heap->st_shndx];
  EXPECT_EQ(home.sh_type, static_cast<Elf32_Word>(SHT_NOBITS));
  EXPECT_TRUE(inside(home, l[2]));
  EXPECT_GE(l[2].p_memsz - l[2].p_filesz, 1048576u);
  EXPECT_LT(l[2].p_filesz, 4096u);
  // The standard streams are initialised data, in the file.
  auto out = symbol("g_stdout");
  ASSERT_TRUE(out);
  EXPECT_GE(out->st_value, l[2].p_vaddr);
  EXPECT_LE(out->st_value + out->st_size, l[2].p_vaddr + l[2].p_filesz);
}

TEST_F(RunImage, RecordsByteForByte) {
  const std::string cmd_bytes(
      "KCMD\x01\x00\x00\x00"
      "Run a native program, .dura, or script.\0"
      "run <program> [args...]\0\0",
      73);
  const std::string pkg_bytes("KPKG\x01\x00\x00\x00run\0" "2\0\0", 15);
  const Elf32_Shdr* cmd = section(".ridid.cmdmeta");
  const Elf32_Shdr* pkg = section(".ridid.pkgmeta");
  ASSERT_NE(cmd, nullptr);
  ASSERT_NE(pkg, nullptr);
  EXPECT_EQ(contents(*cmd), cmd_bytes);
  EXPECT_EQ(contents(*pkg), pkg_bytes);
  auto c = symbol("g_cmdmeta_0");
  auto p = symbol("g_pkgmeta_0");
  ASSERT_TRUE(c);
  ASSERT_TRUE(p);
  EXPECT_EQ(c->st_value, cmd->sh_addr);
  EXPECT_EQ(c->st_size, 73u);
  EXPECT_EQ(p->st_value, pkg->sh_addr);
  EXPECT_EQ(p->st_size, 15u);
}

// ---- the program ----

using Argv = std::vector<std::optional<std::string>>;

struct RunResult {
  ridemu::Outcome outcome;
  std::vector<ridemu::TraceRecord> requests;  // the run requests (service 96)
};

// Runs `run` with argv[1..] = args; the run request gets `answer` when given,
// otherwise the emulator serves it (in a scratch root, or in `root`).
RunResult run_command(const Argv& args, std::optional<int32_t> answer = std::nullopt,
                      const std::string& root = "") {
  Argv argv{std::string("run")};
  argv.insert(argv.end(), args.begin(), args.end());
  ridemu::Config config;
  config.root = root;
  config.scratch_root = root.empty();
  config.sleep = false;
  config.max_instructions = 50000000;
  config.record = true;
  config.console_to_stdout = false;
  config.capture_console = true;
  config.stdin_data = "";
  config.faults_to_stderr = true;
  if (answer) {
    config.service_hook = [answer](ridemu::ServiceCall& call) {
      if (call.depth == 0 && call.nr == 96) call.result = *answer;
    };
  }
  RunResult r;
  r.outcome = ridemu::run(RUN_IMAGE, argv, config);
  // The command's own exit is the last record; a child's records come before.
  for (const ridemu::TraceRecord& t : r.outcome.trace)
    if (t.nr == 96 && t.pid == r.outcome.trace.back().pid) r.requests.push_back(t);
  return r;
}

// The line a run request carried (decoded by the emulator when it serves it).
std::string line_sent(const Argv& args) {
  RunResult r = run_command(args);
  EXPECT_EQ(r.outcome.kind, ridemu::Outcome::Exited);
  EXPECT_EQ(r.requests.size(), 1u);
  if (r.requests.size() != 1 || !r.requests[0].line) return "<no request>";
  return *r.requests[0].line;
}

TEST(RunProgram, NothingToRunPrintsUsage) {
  for (const Argv& args : {Argv{}, Argv{std::string()}, Argv{std::nullopt}, Argv{std::nullopt, std::string("prog")},
                           Argv{std::string(), std::string("prog")}}) {
    RunResult r = run_command(args, 0);
    EXPECT_EQ(r.outcome.kind, ridemu::Outcome::Exited);
    EXPECT_EQ(r.outcome.status, 1) << args.size();
    EXPECT_EQ(r.outcome.console, kUsage);
    EXPECT_TRUE(r.requests.empty());
  }
}

TEST(RunProgram, JoinsArgumentsWithSingleSpaces) {
  EXPECT_EQ(line_sent({std::string("prog"), std::string("a"), std::string("b")}), "prog a b");
  EXPECT_EQ(line_sent({std::string("prog")}), "prog");
  // An empty argument keeps its separator, a null entry adds none.
  EXPECT_EQ(line_sent({std::string("prog"), std::string(), std::string("x")}), "prog  x");
  EXPECT_EQ(line_sent({std::string("prog"), std::nullopt, std::string("x")}), "prog x");
  EXPECT_EQ(line_sent({std::string("prog"), std::string("x"), std::string()}), "prog x ");
  // No quoting: an argument with spaces becomes several words of the line.
  EXPECT_EQ(line_sent({std::string("prog"), std::string("two words")}), "prog two words");
}

TEST(RunProgram, KernelAnswerDecidesTheStatus) {
  // Only zero is success: neither the sign nor the low bits decide.
  for (int32_t answer : {1, -1, static_cast<int32_t>(0x80000000u)}) {
    RunResult r = run_command({std::string("prog"), std::string("a")}, answer);
    EXPECT_EQ(r.outcome.kind, ridemu::Outcome::Exited);
    EXPECT_EQ(r.outcome.status, 1) << answer;
    EXPECT_EQ(r.outcome.console, "run: failed\n") << answer;
    EXPECT_EQ(r.requests.size(), 1u);
  }
  RunResult ok = run_command({std::string("prog"), std::string("a")}, 0);
  EXPECT_EQ(ok.outcome.kind, ridemu::Outcome::Exited);
  EXPECT_EQ(ok.outcome.status, 0);
  EXPECT_EQ(ok.outcome.console, "");
  ASSERT_EQ(ok.requests.size(), 1u);
  EXPECT_EQ(ok.requests[0].ecx, 0u);
  EXPECT_EQ(ok.requests[0].result, 0);
  // The request is the last thing before the exit.
  ASSERT_GE(ok.outcome.trace.size(), 2u);
  EXPECT_EQ(ok.outcome.trace.back().nr, 2u);
  EXPECT_EQ(ok.outcome.trace[ok.outcome.trace.size() - 2].nr, 96u);
}

// Lines up to 191 characters go out whole; a longer join is not sent at all.
TEST(RunProgram, LineLimitIs191Characters) {
  const std::string a95(95, 'a'), b95(95, 'b');
  std::string full = line_sent({a95, b95.substr(0, 94) + "c"});
  EXPECT_EQ(full, a95 + " " + b95.substr(0, 94) + "c");
  EXPECT_EQ(full.size(), 191u);
  EXPECT_EQ(line_sent({std::string(191, 'p')}), std::string(191, 'p'));
  // Null entries add nothing to the length; empty ones add their separator.
  EXPECT_EQ(line_sent({a95, std::nullopt, b95}).size(), 191u);
  // Text of 190 characters, then an empty argument: the line ends with the space.
  EXPECT_EQ(line_sent({std::string(190, 'q'), std::string()}), std::string(190, 'q') + " ");

  for (const Argv& args : {Argv{std::string(192, 'p')}, Argv{std::string(200, 'p')},
                           Argv{a95, std::string(), b95}, Argv{a95, b95 + "b"},
                           Argv{std::string(190, 'q'), std::string(), std::string()},
                           Argv{std::string("prog"), std::string(4000, 'z')}}) {
    RunResult r = run_command(args, 0);
    EXPECT_EQ(r.outcome.kind, ridemu::Outcome::Exited);
    EXPECT_EQ(r.outcome.status, 1);
    EXPECT_EQ(r.outcome.console, "run: command line too long\n");
    EXPECT_TRUE(r.requests.empty());
  }
}

// A real child: the kernel starts echo.dura from the root's /bin and accepts.
TEST(RunProgram, StartsARealProgram) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / ("run_command_root_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "bin");
  fs::copy_file(ECHO_IMAGE, root / "bin" / "echo.dura");
  RunResult r = run_command({std::string("echo.dura"), std::string("hello"), std::nullopt, std::string("world")},
                            std::nullopt, root.string());
  fs::remove_all(root);
  EXPECT_EQ(r.outcome.kind, ridemu::Outcome::Exited);
  EXPECT_EQ(r.outcome.status, 0);
  EXPECT_EQ(r.outcome.console, "hello world\n");
  ASSERT_EQ(r.requests.size(), 1u);
  EXPECT_EQ(r.requests[0].result, 0);
}

}  // namespace
