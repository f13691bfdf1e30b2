// Common ground of the host tests: GoogleTest, the recording kernel, every
// runtime header (namespace ridid) and helpers for the tables.
#pragma once

#include <gtest/gtest.h>

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

// Scenarios, each in a fresh process: its results, then the kernel's trace.
struct Scenario { std::function<std::string()> run; const char *results, *trace; };
template <size_t N>
void run_scenarios(const Scenario (&rows)[N]) {
  for (const Scenario& s : rows) {
    reset_runtime();
    EXPECT_EQ(s.run(), s.results) << "scenario " << &s - rows;
    EXPECT_EQ(kdouble::trace(), s.trace) << "scenario " << &s - rows;
  }
}
