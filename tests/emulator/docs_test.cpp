// The documents against the kernel's interface description
// (runtime/ridid_services.h) and the emulator's limits (emulator/ridemu_limits.h):
// a service, flag, seek origin, packet, error number or limit changed on one
// side and not on the other fails here, and so does an error number the
// emulator returns that the description does not list.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "../../runtime/ridid_services.h"
#include "ridemu_limits.h"
#include "support.h"

namespace {

using namespace test;
using Pairs = std::set<std::pair<std::string, std::string>>;

std::string source(const std::string& path) { return slurp(std::string(RIDID_SOURCE_DIR) + "/" + path); }

// The part of `text` from `from` up to `to`.
std::string part(const std::string& text, const std::string& from, const std::string& to) {
  const size_t begin = text.find(from);
  EXPECT_NE(begin, std::string::npos) << "no \"" << from << "\"";
  const size_t end = text.find(to, begin == std::string::npos ? 0 : begin);
  EXPECT_NE(end, std::string::npos) << "no \"" << to << "\" after \"" << from << "\"";
  return begin == std::string::npos ? "" : text.substr(begin, end - begin);
}

// Every match of `re` as (name, number): group `name` (1 or 2) holds the
// name, the other group the number (decimal, or hex with 0x).
Pairs named(const std::string& text, const std::string& re, int name = 1) {
  Pairs out;
  const std::regex r(re);
  for (auto m = std::sregex_iterator(text.begin(), text.end(), r); m != std::sregex_iterator(); ++m)
    out.emplace((*m)[name], std::to_string(std::stoul((*m)[3 - name], nullptr, 0)));
  return out;
}
Pairs operator+(Pairs a, const Pairs& b) { return a.insert(b.begin(), b.end()), a; }
// Every match of group 1 of `re`.
std::vector<std::string> each(const std::string& text, const std::string& re) {
  std::vector<std::string> out;
  const std::regex r(re);
  for (auto m = std::sregex_iterator(text.begin(), text.end(), r); m != std::sregex_iterator(); ++m) out.push_back((*m)[1]);
  return out;
}
// The first two cells of each table row in `text`.
std::vector<std::pair<std::string, std::string>> rows(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  const std::regex row(R"(\n\| ([^|]*) \| ([^|]*) \|)");
  for (auto m = std::sregex_iterator(text.begin(), text.end(), row); m != std::sregex_iterator(); ++m)
    out.emplace_back((*m)[1], (*m)[2]);
  return out;
}
const char kNumber[] = "([0-9]+)", kFunction[] = "`(?:[a-z]+ )?([a-z_0-9]+)\\(";

#define SERVICE(number, NAME, name, kinds) {#name, std::to_string(number)},
const Pairs kServices = {RIDID_SERVICES(SERVICE)};
#define FLAG(NAME) {"O_" #NAME, std::to_string(RIDID_O_##NAME)},
const Pairs kFlags = {RIDID_OPEN_FLAGS(FLAG)};
const Pairs kAccessModes = {{"O_RDONLY", std::to_string(RIDID_O_RDONLY)},
                            {"O_WRONLY", std::to_string(RIDID_O_WRONLY)},
                            {"O_RDWR", std::to_string(RIDID_O_RDWR)}};
#define ORIGIN(NAME) {"SEEK_" #NAME, std::to_string(RIDID_SEEK_##NAME)},
const Pairs kOrigins = {RIDID_SEEK_ORIGINS(ORIGIN)};
#define ERROR(NAME) {#NAME, std::to_string(RIDID_##NAME)},
const Pairs kErrors = {RIDID_ERRORS(ERROR)};

TEST(Docs, TheEmulatorsServicesMatchTheDescription) {
  const std::string text = part(source("emulator/README.md"), "## Kernel services", "### Files and the root");
  // "| 128, 129, 130 | `fd_set_inherit(on)`, `fd_set_stdio(a, b, c)`, ... |"
  Pairs listed;
  for (const auto& [numbers, names] : rows(text)) {
    const auto nrs = each(numbers, kNumber), ids = each(names, kFunction);
    EXPECT_EQ(nrs.size(), ids.size()) << numbers << " | " << names;
    for (size_t i = 0; i < std::min(nrs.size(), ids.size()); ++i) listed.emplace(ids[i], nrs[i]);
  }
  EXPECT_EQ(listed, kServices);
  EXPECT_EQ(named(part(text, "Failures are", "what the host reports"), "-([0-9]+)\\s+(E[A-Z0-9]+)", 2), kErrors);
  EXPECT_EQ(named(text, "(0x[0-9a-f]+) `(O_[A-Z]+)`", 2), kFlags);
  EXPECT_EQ(named(text, "`(SEEK_[A-Z]+)` ([0-9]+)"), kOrigins);
  EXPECT_EQ(named(text, "exactly ([0-9]+) bytes starting with (0x[0-9A-F]+)"),
            (Pairs{{std::to_string(RIDID_PACKET_SIZE), std::to_string(RIDID_PACKET_MARKER)}}));
}

TEST(Docs, TheLibraryReferenceMatchesTheDescription) {
  const std::string doc = source("docs/reference.md");
  // Each service but the run request (which has no function) has a row that
  // names its function and number; every number in a row is a service's.
  Pairs listed;
  std::set<std::string> numbers, served;
  for (const auto& [functions, nrs] : rows(part(doc, "### The services", "### Not in this library")))
    for (const std::string& nr : each(nrs, kNumber)) {
      numbers.insert(nr);
      for (const std::string& f : each(functions, kFunction)) listed.emplace(f, nr);
    }
  for (const auto& [name, nr] : kServices) {
    served.insert(nr);
    if (name != "run") EXPECT_EQ(listed.count({name, nr}), 1u) << name << " " << nr;
  }
  EXPECT_TRUE(std::includes(served.begin(), served.end(), numbers.begin(), numbers.end()))
      << ::testing::PrintToString(numbers);
  EXPECT_EQ(named(doc, "`(O_[A-Z]+)` (0x[0-9a-f]+|[0-9]+)[,;]"), kFlags + kAccessModes);
  EXPECT_EQ(named(doc, "`(SEEK_[A-Z]+)` ([0-9]+)"), kOrigins);
  // "2 (`ENOENT`)" in the table of error texts.
  for (const auto& error : named(doc, "\\| ([0-9]+) \\(`(E[A-Z0-9]+)`\\) \\|", 2)) EXPECT_EQ(kErrors.count(error), 1u) << error.first;
}

TEST(Docs, TheEmulatorReturnsOnlyDescribedErrors) {
  std::set<std::string> returned, described;
  for (const char* room : {"emulator/engine", "emulator/kernel"})
    for (const auto& file : fs::directory_iterator(std::string(RIDID_SOURCE_DIR) + "/" + room))
      for (const std::string& name : each(slurp(file.path()), "-(E[A-Z0-9]+)\\b")) returned.insert(name);
  for (const auto& [name, number] : kErrors) described.insert(name);
  EXPECT_TRUE(std::includes(described.begin(), described.end(), returned.begin(), returned.end()))
      << ::testing::PrintToString(returned);
}

// A size as the documents write it: "64 MiB", "256 KiB", "4095 bytes".
std::string size(uint64_t n) {
  if (n % (1u << 20) == 0) return std::to_string(n >> 20) + " MiB";
  return n % 1024 == 0 ? std::to_string(n >> 10) + " KiB" : std::to_string(n) + " bytes";
}

TEST(Docs, TheLimitsTableShowsTheEmulatorsLimits) {
  using namespace ridemu::detail;
  using std::to_string;
  const std::string readme = source("emulator/README.md"), limits = part(readme, "| What | Limit |", "\n\n");
  std::map<std::string, std::string> table;
  for (const auto& [what, limit] : rows(limits)) table[what] = limit;
  // Each row also says what a guest sees at the edge.
  EXPECT_EQ(each(limits, R"(\n\| [^|\n]+ \| [^|\n]+ \| ([^|\n]+) \|)").size(), table.size());
  // The options that change the budgets name their defaults.
  EXPECT_NE(readme.find("| `--max-memory SIZE` | Guest memory that all processes of the run may map at once (" + size(kDefaultMaxMemory) + ")"), std::string::npos);
  EXPECT_NE(readme.find("| `--max-disk SIZE` | Bytes the run may add to its root (" + size(kDefaultMaxDisk) + ")"), std::string::npos);
  EXPECT_NE(readme.find("| `--max-processes N` | Processes the run may start (" + to_string(kDefaultMaxProcesses) + ")"), std::string::npos);
  EXPECT_EQ(table, (std::map<std::string, std::string>{
      {"guest memory mapped at once (`--max-memory`)", size(kDefaultMaxMemory)},
      {"bytes added to the root (`--max-disk`)", size(kDefaultMaxDisk)},
      {"processes started (`--max-processes`)", to_string(kDefaultMaxProcesses)},
      {"image file", size(kMaxImageFile) + "; " + size(kMaxImageMemory) + " mapped"},
      {"argument strings and vector at start", size(kMaxArgBytes)},
      {"path", size(kMaxPath - 1) + "; " + to_string(kMaxLinks) + " symbolic links"},  // strings end in a NUL
      {"run request line", size(kMaxLine - 1)},
      {"spawn arguments", to_string(kMaxSpawnArgs) + " of " + size(kMaxArg - 1) + " each"},
      {"script file", size(kMaxScript)},
      {"nesting", to_string(kMaxDepth) + " levels; " + to_string(kMaxScripts) + " scripts per run"},
      {"descriptors", to_string(kMaxFds) + " per process"},
      {"pipe buffer", size(kPipeCapacity) + "; " + to_string(kMaxFifos) + " named pipes"},
      {"open streams", to_string(kMaxStreams)}}));
}

}  // namespace
