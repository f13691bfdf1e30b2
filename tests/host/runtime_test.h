// Common ground of the host tests: GoogleTest, the recording kernel, every
// runtime header (namespace ridid) and helpers for the tables.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The recording kernel (kernel_double.cpp) in place of the runtime's one trap
// primitive: each trap is recorded with its word of the trace, made at the
// trap, and answered by a script; by default a write is taken whole and every
// other service answers 0.
namespace kdouble {
struct Trap {
  int nr;
  uint32_t ebx, ecx, edx;
  std::string word;  // w(bytes) a write on descriptor 1, r4:12 a read, open(path,flags,third), store(path,bytes),
};                   // close(ebx,ecx,edx), seek(...), sleep(...), else nr(ebx,ecx,edx)
void reset();        // forget every trap and restore the default script
const std::vector<Trap>& traps();
void script(std::function<int32_t(const Trap&)> answer);
std::string trace();                              // the words, a repeat counted: r5:1*20
void name(const void* address, const char* as);  // a register holding address shows as the name
void refuse_writes_from(int n);                   // the n-th write (from 1) and every later one fail
void serve(int fd, std::string data);             // every open gives fd; reads and seeks work on data
}  // namespace kdouble

#undef errno  // the host's macro, before the runtime's errno is declared
#include "../../runtime/errno.h"
#include "../../runtime/fcntl.h"
#include "../../runtime/stdio.h"
#include "../../runtime/stdlib.h"
#include "../../runtime/string.h"
#include "../../runtime/unistd.h"

// A fresh process: an empty zero-filled heap, errno 0, the standard streams
// as the image holds them, the generator unseeded, no trap recorded.
inline void reset_runtime() {
  std::memset(ridid::g_heap, 0, sizeof ridid::g_heap);
  ridid::g_heap_used = 0, ridid::errno = 0, ridid::g_rand_state = 1, ridid::g_rand_seeded = 0;
  ridid::g_stdin = ridid::FILE{ridid::FILE_FD, 0};
  ridid::g_stdout = ridid::g_stderr = ridid::FILE{ridid::FILE_FD, 1};
  ridid::stdin = &ridid::g_stdin, ridid::stdout = &ridid::g_stdout, ridid::stderr = &ridid::g_stderr;
  kdouble::reset();
}

inline uint32_t addr(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
inline char* low(uintptr_t v) { return reinterpret_cast<char*>(v); }  // in the first page: an absent string
inline std::string bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// Results as a line of text, numbers in decimal, from a braced list of values:
// its calls run from left to right, each value taken as its call returns.
inline std::string str(const std::string& s) { return s; }
inline std::string str(const char* s) { return s ? s : "(null)"; }
inline std::string str(char* s) { return str(static_cast<const char*>(s)); }
template <class T>
std::string str(T v) { return std::to_string(v); }
struct R {
  std::string s;
  template <class... T>
  R(T... v) { ((s += " " + str(v)), ...), s.erase(0, 1); }
  operator std::string() const { return s; }
};

// The expressions of the last R{...} in source, split at its top-level
// commas, blanks squeezed: what each value of its line of results came from.
inline std::vector<std::string> values_in(const std::string& source) {
  size_t at = source.rfind("R{");
  if (at == std::string::npos) return {};
  std::vector<std::string> values(1);
  int depth = 0;
  char quote = 0;
  for (size_t k = at + 2; k < source.size(); ++k) {
    char c = source[k];
    if (quote != 0) {
      if (c == '\\') values.back() += c, c = source[++k];
      else if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '(' || c == '{' || c == '[') {
      ++depth;
    } else if ((c == ')' || c == '}' || c == ']') && depth-- == 0) {
      break;
    } else if (c == ',' && depth == 0) {
      values.emplace_back();
      continue;
    }
    if (!std::isspace(static_cast<unsigned char>(c))) values.back() += c;
    else if (!values.back().empty() && values.back().back() != ' ') values.back() += ' ';
  }
  return values;
}

// What differs between two lines of results (or traces), split into words at
// spaces: the first word that differs and, when source's R{...} has one
// value per word, that value's expression. Empty when they are the same.
inline std::string differences(const std::string& got, const std::string& want, const std::string& source) {
  if (got == want) return "";
  auto words = [](const std::string& line) {
    std::vector<std::string> w(1);
    for (char c : line) c == ' ' ? void(w.emplace_back()) : w.back().push_back(c);
    return w;
  };
  std::vector<std::string> g = words(got), w = words(want), values = values_in(source);
  size_t i = 0;
  while (i < g.size() && i < w.size() && g[i] == w[i]) ++i;
  std::string value = values.size() == w.size() && i < w.size() ? " (" + values[i] + ")" : "";
  return "word " + std::to_string(i + 1) + value + ": " + (i < g.size() ? g[i] : "(none)") + ", want " +
         (i < w.size() ? w[i] : "(none)") + "\n   got: " + got + "\n  want: " + want;
}
inline testing::AssertionResult same_words(const char* source, const char*, const std::string& got, const std::string& want) {
  std::string d = differences(got, want, source);
  return d.empty() ? testing::AssertionSuccess() : testing::AssertionFailure() << d;
}
#define EXPECT_WORDS(got, want) EXPECT_PRED_FORMAT2(same_words, got, want)

// Scenarios, each in a fresh process: its results, then the kernel's trace.
// Rows are written ROW(run, results, trace); a failure is reported at the row.
struct Scenario { const char* file; int line; const char* source; std::function<std::string()> run; const char *results, *trace; };
#define ROW(...) Scenario{__FILE__, __LINE__, #__VA_ARGS__, __VA_ARGS__}
template <size_t N>
void run_scenarios(const Scenario (&rows)[N]) {
  for (const Scenario& s : rows) {
    reset_runtime();
    std::string results = differences(s.run(), s.results, s.source), trace = differences(kdouble::trace(), s.trace, "");
    if (!results.empty()) ADD_FAILURE_AT(s.file, s.line) << "results, " << results;
    if (!trace.empty()) ADD_FAILURE_AT(s.file, s.line) << "trace, " << trace;
  }
}
