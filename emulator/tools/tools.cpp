// The tools of a run, each told everything in the order they were added,
// and what the tools share: addresses as text, report files.
#include "tools.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ridemu::detail {

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08" PRIx32, v);
  return buf;
}

FILE* open_output(const std::string& path, std::string& error) {
  if (path == "-") return stderr;
  // Without O_NONBLOCK, opening a named pipe waits for its reader.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = errno == ENXIO ? "a named pipe that no one reads" : std::strerror(errno);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = ::fdopen(fd, "w");
  if (!f) {
    error = std::strerror(errno);
    ::close(fd);
  }
  return f;
}

Report::Report(std::string path, const std::string& what) : path_(std::move(path)), what_(what) {
  std::string why;
  file_ = open_output(path_ == "-" ? "./-" : path_, why);  // "-" is a file here
  if (!file_) error_ = "cannot write the " + what_ + " " + path_ + ": " + why;
}

std::unique_ptr<Report> Report::make(std::string path, const std::string& what,
                                     std::string& error) {
  auto report = std::make_unique<Report>(std::move(path), what);
  if (report->file_) return report;
  error = report->error_;
  return nullptr;
}

Report::~Report() {
  if (!file_) return;
  std::fclose(file_);
  std::remove(path_ == "-" ? "./-" : path_.c_str());
}

void Report::write(const std::function<void(FILE*)>& body) {
  if (FILE* f = std::exchange(file_, nullptr)) {
    body(f);
    if (std::fclose(f) == 0) return;
    error_ = "cannot write the " + what_ + " " + path_ + ": " + std::strerror(errno);
  }
  if (!error_.empty()) std::fputs(("ridid-emu: " + error_ + "\n").c_str(), stderr);
}

void Tools::add(std::unique_ptr<Tool> tool) { all_.push_back(std::move(tool)); }

bool Tools::wants_blocks() const {
  for (const auto& t : all_)
    if (t->wants_blocks()) return true;
  return false;
}

bool Tools::wants_instructions(const ProcessView& p) const {
  for (const auto& t : all_)
    if (t->wants_instructions(p)) return true;
  return false;
}

void Tools::started(const ProcessView& p) {
  for (auto& t : all_) t->started(p);
}
void Tools::serving(const ProcessView& p, uint32_t nr) {
  for (auto& t : all_) t->serving(p, nr);
}
void Tools::service(const ProcessView& p, const TraceRecord& r) {
  for (auto& t : all_) t->service(p, r);
}
void Tools::block(const ProcessView& p, const Block& b) {
  for (auto& t : all_) t->block(p, b);
}
void Tools::block_cut(const ProcessView& p, const Block& b, uint32_t ran) {
  for (auto& t : all_) t->block_cut(p, b, ran);
}
void Tools::instruction(const ProcessView& p, uint32_t eip) {
  for (auto& t : all_) t->instruction(p, eip);
}
void Tools::ended(const ProcessView& p, int status, const Fault* fault, const std::string& line) {
  for (auto& t : all_) t->ended(p, status, fault, line);
}

}  // namespace ridemu::detail
