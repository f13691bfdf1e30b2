// Common ground of the runtime's host tests: GoogleTest, the kernel double,
// and every runtime header (namespace ridid).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "kernel_double.h"

// The host C library makes errno a macro; the runtime's variable is
// ridid::errno, so the macro has to go before the runtime's header is read.
#undef errno
#include "../../runtime/errno.h"
#include "../../runtime/fcntl.h"
#include "../../runtime/stdio.h"
#include "../../runtime/stdlib.h"
#include "../../runtime/string.h"
#include "../../runtime/unistd.h"

// Puts the runtime's process-wide state back to what a fresh process has:
// an empty zero-filled heap, errno 0, the standard streams as at start, the
// generator unseeded, and no traps recorded.
inline void reset_runtime() {
  std::memset(ridid::g_heap, 0, sizeof ridid::g_heap);
  ridid::g_heap_used = 0;
  ridid::errno = 0;
  ridid::g_stdin = ridid::FILE{ridid::FILE_FD, 0, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
  ridid::g_stdout = ridid::FILE{ridid::FILE_FD, 1, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
  ridid::g_stderr = ridid::FILE{ridid::FILE_FD, 1, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
  ridid::stdin = &ridid::g_stdin;
  ridid::stdout = &ridid::g_stdout;
  ridid::stderr = &ridid::g_stderr;
  ridid::g_rand_state = 1;
  ridid::g_rand_seeded = 0;
  kdouble::reset();
}

// A fixture that starts every test from a fresh process state.
class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_runtime(); }
};

// The bytes written to descriptor 1 by the recorded traps (service 1), in
// order, as they were at each trap.
inline std::string console_bytes() {
  std::string out;
  for (const kdouble::Trap& t : kdouble::traps()) {
    if (t.nr == ridid::SYS_WRITE && t.ebx == 1) out += t.data;
  }
  return out;
}
