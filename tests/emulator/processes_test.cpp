// Tests of processes and the limits of a run: the budget and the time limit,
// nested run requests, scripts and spawns, pipes that never run empty, and
// the run's budgets of memory, disk and processes at their edges.
#include <sys/resource.h>

#include <algorithm>

#include "emulator_test.h"

namespace {

using namespace test;

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

// The guest memory ops.elf maps: its segments and its stack.
uint64_t memory_of_ops() {
  uint64_t total = 1u << 20;
  for (const auto& ph : ElfImage(image("ops")).phdrs)
    if (ph.p_type == PT_LOAD) total += ((ph.p_vaddr + ph.p_memsz + 4095) & ~4095u) - (ph.p_vaddr & ~4095u);
  return total;
}

TEST(Budgets, EachBudgetHoldsAtItsEdge) {
  ProgramRoot root;
  const TempDir& dir = root.dir;
  struct Case {
    const char* what;
    std::function<void(ridemu::Config&)> set;
    Args ops;
    int pid;  // the process whose results of these services are these
    std::map<uint32_t, std::vector<int32_t>> results;
  };
  const int32_t block = 4096;  // ops.elf appends this much a time; a new file counts as much
  const std::vector<Case> cases = {
      // A program that spawns itself, until the third process cannot start.
      {"memory", [](auto& c) { c.max_memory = 3 * memory_of_ops(); }, {"S", "/bin/ops.dura"}, 3, {{131, {-12}}}},
      {"processes", [](auto& c) { c.max_processes = 3; }, {"S", "/bin/ops.dura"}, 3, {{131, {-11}}}},
      // Appends until the disk is full: the new file's block and three more.
      {"disk", [](auto& c) { c.max_disk = 4 * block; }, {"Y", "/big", "w", "/x", "y"}, 1,
       {{1, {block, block, block, -28}}, {21, {-28}}}},
      // A write that does not all fit takes what does, then nothing fits
      // but a write over bytes the file has; a removed file gives its room
      // back.
      {"disk at the edge", [](auto& c) { c.max_disk = 2 * block + 100; },
       {"w", "/a", std::string(4000, 'a'), "a", "/a", std::string(300, 'b'), "a", "/a", "c", "o", "/a", "z",
        "w", "/b", "x", "u", "/a", "w", "/b", "x"},
       1, {{1, {196, -28, 1}}, {21, {4000, -28, 1}}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    for (const char* name : {"big", "a", "b", "x"}) fs::remove(dir / name);
    auto config = quiet(dir.path);
    k.set(config);
    const auto o = ops(k.ops, config);
    std::map<uint32_t, std::vector<int32_t>> got;
    for (const auto& t : o.trace)
      if (t.pid == k.pid && k.results.count(t.nr)) got[t.nr].push_back(t.result);
    EXPECT_EQ(got, k.results);
    EXPECT_EQ(o.kind, ridemu::Outcome::Exited);
  }
  // An image that does not fit the memory budget is refused.
  auto config = quiet(dir.path);
  config.max_memory = memory_of_ops() - 4096;
  const auto o = ridemu::run(image("ops"), {"ops"}, config);
  EXPECT_EQ(o.status, ridemu::kStatusRefused);
  EXPECT_NE(o.message.find("--max-memory"), std::string::npos) << o.message;
}

}  // namespace
