// Launching programs: the first program of a run, the run request (a
// program or a script, found in the working directory or /bin) and spawn.
//
// A child runs to its end on an engine of its own, which cannot start inside
// the parent's callback: the run request and spawn are the second steps of
// their services (kernel.h), which the machine runs once the parent's engine
// has stopped at its trap. The child's result then goes to the parent's EAX
// and the parent resumes after its trap.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "kernel.h"

namespace ridemu::detail {
namespace {

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    size_t j = line.find(' ', i);
    if (j == std::string::npos) j = line.size();
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j + 1;
  }
  return words;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool is_regular(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The line of `text` at `at`, without surrounding blanks and a trailing CR;
// `at` moves to the next one.
std::string take_line(const std::string& text, size_t& at) {
  size_t end = text.find('\n', at);
  if (end == std::string::npos) end = text.size();
  std::string line = text.substr(at, end - at);
  at = end + 1;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.pop_back();
  const size_t start = line.find_first_not_of(" \t");
  return start == std::string::npos ? "" : line.substr(start);
}

}  // namespace

Outcome Machine::run_top(const std::string& path,
                         const std::vector<std::optional<std::string>>& argv) {
  const auto refuse = [&](int status, const std::string& why) {
    outcome_.kind = Outcome::Refused;
    outcome_.status = status;
    outcome_.message = why;
    return std::move(outcome_);
  };
  if (!setup_error_.empty()) return refuse(kStatusUsage, setup_error_);
  std::vector<uint8_t> bytes;
  std::string why = read_host_file(path, kMaxImageFile, bytes);
  if (!why.empty()) return refuse(kStatusNoImage, why);
  auto image = std::make_shared<Image>();
  why = parse_image(std::move(bytes), *image);
  if (!why.empty()) return refuse(kStatusRefused, why);
  int pid = 0;
  const int status = run_process(image, path, argv, "/", 0, pid, why);
  outcome_.instructions = counter_.count;
  if (status == -E2BIG) return refuse(kStatusTooLong, why);
  if (status < 0) return refuse(kStatusRefused, why.empty() ? std::strerror(-status) : why);
  if (status == kStatusFault && !why.empty()) {
    outcome_.kind = Outcome::Faulted;
    outcome_.message = why;
  } else {
    outcome_.kind = Outcome::Exited;
  }
  outcome_.status = status;
  return std::move(outcome_);
}

int32_t run_request(Call& c) {
  std::string line;
  if (const int e = c.p.cpu.mem.read_string(c.ebx(), kMaxLine, line)) return e;
  c.rec.line = line;
  int status = -1;
  const int32_t result = c.m.run_line(c.p, line, c.p.depth + 1, status);
  if (status >= 0) c.rec.status = status;
  return result;
}

int32_t Machine::run_line(Process& p, const std::string& line, int depth, int& status) {
  if (spent()) return -EAGAIN;
  const std::vector<std::string> words = split_words(line);
  if (words.empty()) return -EINVAL;
  if (depth > kMaxDepth) return -ELOOP;
  const std::string& name = words[0];
  std::vector<std::string> candidates{name};
  if (name.find('/') == std::string::npos) candidates.push_back("/bin/" + name);
  Resolved found;
  bool have = false;
  for (const auto& c : candidates) {
    Resolved r;
    if (resolve_path(root, p.cwd, c, true, r) == 0 && is_regular(r.host)) {
      found = r;
      have = true;
      break;
    }
  }
  if (!have) return -ENOENT;
  if (ends_with(name, ".shell")) return run_script(p, found, depth);

  std::vector<std::optional<std::string>> argv(words.begin(), words.end());
  int pid = 0;
  const int st = run_child(p, found, argv, pid);
  if (st < 0) return st;
  status = st;
  return 0;
}

// Each line of a script is a run request of its own, shown to the tools as
// one: 0 when all of them started, else the first line's error.
int32_t Machine::run_script(Process& p, const Resolved& script, int depth) {
  // Scripts start no process, so the process limit does not bound them.
  if (scripts_ >= kMaxScripts) return -EAGAIN;
  ++scripts_;
  std::vector<uint8_t> bytes;
  const int fd = open_in_root(root_fd, script, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 || !read_host_file(fd, kMaxScript, bytes).empty()) return -EACCES;
  const std::string text(bytes.begin(), bytes.end());
  for (size_t at = 0; at < text.size();) {
    // The limits hold for the whole run, scripts included.
    if (spent()) return -EAGAIN;
    const std::string line = take_line(text, at);
    if (line.empty() || line[0] == '#') continue;
    int child_status = -1;
    TraceRecord rec;
    rec.pid = p.pid;
    rec.nr = SYS_RUN;
    rec.name = service_info(SYS_RUN)->name;
    rec.script = true;
    rec.path = script.guest;
    rec.line = line;
    const int32_t r = run_line(p, line, depth + 1, child_status);
    if (child_status >= 0) rec.status = child_status;
    rec.result = r;
    tools.service(p.view(), rec);
    if (r < 0) return r;  // a line that cannot run ends the script
  }
  return 0;
}

int Machine::run_child(Process& parent, const Resolved& found,
                       const std::vector<std::optional<std::string>>& argv, int& pid) {
  std::vector<uint8_t> bytes;
  const int fd = open_in_root(root_fd, found, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 || !read_host_file(fd, kMaxImageFile, bytes).empty()) return -EACCES;
  auto image = std::make_shared<Image>();
  if (!parse_image(std::move(bytes), *image).empty()) return -ENOEXEC;
  std::string why;
  return run_process(image, found.host, argv, parent.cwd, parent.depth + 1, pid, why);
}

int32_t spawn(Call& c) {
  Process& p = c.p;
  std::string path;
  if (const int e = p.cpu.mem.read_string(c.ebx(), kMaxPath, path)) return e;
  c.rec.path = path;
  const int32_t count = static_cast<int32_t>(c.edx());
  if (count < 0) return -EINVAL;
  if (static_cast<uint32_t>(count) > kMaxSpawnArgs) return -E2BIG;
  std::vector<std::optional<std::string>> argv;
  if (count == 0) {
    argv.push_back(path);
  } else {
    std::vector<uint32_t> ptrs(static_cast<size_t>(count));
    if (!p.cpu.mem.read(c.ecx(), ptrs.data(), static_cast<uint32_t>(count) * 4)) return -EFAULT;
    for (uint32_t ptr : ptrs) {
      if (!ptr) {
        argv.push_back(std::nullopt);
        continue;
      }
      std::string a;
      if (const int bad = p.cpu.mem.read_string(ptr, kMaxArg, a)) return bad;
      argv.push_back(std::move(a));
    }
  }
  if (p.depth + 1 > kMaxDepth) return -ELOOP;
  Resolved r;
  if (const int e = resolve_path(c.m.root, p.cwd, path, true, r)) return e;
  if (!is_regular(r.host)) return -ENOENT;
  int pid = 0;
  const int st = c.m.run_child(p, r, argv, pid);
  if (st < 0) return st;
  p.children[pid] = st;
  c.rec.status = st;
  return pid;
}

}  // namespace ridemu::detail
