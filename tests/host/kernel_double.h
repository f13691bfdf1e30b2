// A recording kernel for the runtime's host tests.
//
// It takes the place of the runtime's one trap primitive: every trap is
// recorded with its registers, and its result comes from a script the test
// sets (by default every service answers 0). Service 2 (_exit) never returns:
// it jumps back into kdouble::run_until_exit.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kdouble {

struct Trap {
  int nr;
  uint32_t ebx, ecx, edx;
  // For a write (service 1): the bytes at ECX as they were at the trap (a
  // one-byte stack buffer is gone once the call returns). Left empty for
  // counts over 1 MiB, which tests only use to see the clamp.
  std::string data;
};

// Forget all traps and restore the default script.
void reset();
// Every trap since the last reset, in order.
const std::vector<Trap>& traps();
// The script: called for each trap (after it is recorded); its value is the
// kernel's result in EAX.
void script(std::function<int32_t(const Trap&)> answer);

// The count bytes at address, or nothing when they are not all readable.
std::string copy_bytes(uint32_t address, uint32_t count);

// Runs fn; returns the status if it ended the process through service 2.
std::optional<int> run_until_exit(const std::function<void()>& fn);

}  // namespace kdouble
