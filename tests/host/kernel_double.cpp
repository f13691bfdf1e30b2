#include "kernel_double.h"

#include <sys/uio.h>
#include <unistd.h>

#include <csetjmp>

#include "../../runtime/unistd.h"

namespace kdouble {
namespace {
std::vector<Trap> g_traps;
std::function<int32_t(const Trap&)> g_script;
jmp_buf* g_exit_jump = nullptr;
int g_exit_status = 0;
}  // namespace

// Tests may hand made-up addresses to a write (the kernel reads nothing in
// that case), so the bytes are copied through the kernel, which refuses an
// unreadable range instead of faulting.
std::string copy_bytes(uint32_t address, uint32_t count) {
  std::string bytes(count, '\0');
  if (count == 0) return bytes;
  iovec local{bytes.data(), count};
  iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(address)), count};
  if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(count)) return {};
  return bytes;
}

void reset() {
  g_traps.clear();
  g_script = nullptr;
}

const std::vector<Trap>& traps() { return g_traps; }

void script(std::function<int32_t(const Trap&)> answer) { g_script = std::move(answer); }

std::optional<int> run_until_exit(const std::function<void()>& fn) {
  jmp_buf here;
  jmp_buf* outer = g_exit_jump;
  g_exit_jump = &here;
  if (setjmp(here) != 0) {
    g_exit_jump = outer;
    return g_exit_status;
  }
  fn();
  g_exit_jump = outer;
  return std::nullopt;
}

}  // namespace kdouble

namespace ridid {

int kernel_trap(int number, unsigned int ebx, unsigned int ecx, unsigned int edx) {
  kdouble::Trap t{number, ebx, ecx, edx, {}};
  if (number == SYS_WRITE && edx <= (1u << 20)) t.data = kdouble::copy_bytes(ecx, edx);
  kdouble::g_traps.push_back(t);
  int32_t result = kdouble::g_script ? kdouble::g_script(t) : 0;
  if (number == SYS_EXIT && kdouble::g_exit_jump != nullptr) {
    kdouble::g_exit_status = static_cast<int>(ebx);
    longjmp(*kdouble::g_exit_jump, 1);
  }
  return result;
}

}  // namespace ridid
