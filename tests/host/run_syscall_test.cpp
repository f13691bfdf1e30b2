// The system-call layer against the recording kernel: service numbers,
// registers, the pre-trap checks, the count clamp and the 0/1 flags.
#include "runtime_test.h"

namespace {

using kdouble::Trap;

uint32_t addr(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

void expect_trap(const Trap& t, int nr, uint32_t ebx, uint32_t ecx, uint32_t edx) {
  EXPECT_EQ(t.nr, nr);
  EXPECT_EQ(t.ebx, ebx) << "service " << nr;
  EXPECT_EQ(t.ecx, ecx) << "service " << nr;
  EXPECT_EQ(t.edx, edx) << "service " << nr;
}

// The only trap since the last reset.
const Trap& only_trap() {
  EXPECT_EQ(kdouble::traps().size(), 1u);
  return kdouble::traps().back();
}

class SyscallTest : public RuntimeTest {};

TEST_F(SyscallTest, NumbersAndRegisters) {
  char buf[8] = "abc";
  int fds[2];
  char* argv[] = {buf, nullptr};
  const char* p = "/x";
  struct Case {
    std::function<int()> call;
    int nr;
    uint32_t ebx, ecx, edx;
  } cases[] = {
      {[&] { return ridid::write(1, buf, 3); }, 1, 1, addr(buf), 3},
      {[&] { return ridid::read(0, buf, 8); }, 3, 0, addr(buf), 8},
      {[&] { return ridid::close(7); }, 5, 7, 0, 0},
      {[&] { return ridid::getkey(); }, 6, 0, 0, 0},
      {[&] { return ridid::writefile(p, buf, 3); }, 21, addr(p), addr(buf), 3},
      {[&] { return ridid::mkdir(p); }, 49, addr(p), 0, 0},
      {[&] { return ridid::unlink(p); }, 50, addr(p), 0, 0},
      {[&] { return ridid::rmdir(p); }, 51, addr(p), 0, 0},
      {[&] { return ridid::getcwd(buf, 8); }, 52, addr(buf), 8, 0},
      {[&] { return ridid::zoror_stream_begin(p); }, 53, addr(p), 0, 0},
      {[&] { return ridid::zoror_stream_write(4, buf, 2); }, 54, 4, addr(buf), 2},
      {[&] { return ridid::zoror_stream_end(4); }, 55, 4, 0, 0},
      {[&] { return ridid::chdir(p); }, 95, addr(p), 0, 0},
      {[&] { return ridid::lseek(3, -5, SEEK_END); }, 110, 3, static_cast<uint32_t>(-5), 2},
      {[&] { return ridid::pipe(fds); }, 124, addr(fds), 0, 0},
      {[&] { return ridid::mkfifo(p); }, 125, addr(p), 0, 0},
      {[&] { return ridid::dup(9); }, 126, 9, 0, 0},
      {[&] { return ridid::dup2(3, 1); }, 127, 3, 1, 0},
      {[&] { return ridid::fd_set_stdio(-1, 5, 6); }, 129, static_cast<uint32_t>(-1), 5, 6},
      {[&] { return ridid::spawn(p, argv, 2); }, 131, addr(p), addr(argv), 2},
      {[&] { return ridid::waitpid(12, fds, 1); }, 132, 12, addr(fds), 1},
      {[&] { return ridid::open(p, 0); }, 4, addr(p), 0, 0},
      {[&] { return ridid::open(p, 0x41); }, 4, addr(p), 0x41, 0x41},
      {[&] { return ridid::open(p, O_WRONLY | O_TRUNC); }, 4, addr(p), 0x201, 0},
      {[&] { return ridid::creat(p); }, 4, addr(p), 0x241, 0},
  };
  // Every wrapper passes the kernel's answer back untouched, negative included.
  for (const Case& c : cases) {
    kdouble::reset();
    kdouble::script([](const Trap& t) { return -1000 - t.nr; });
    EXPECT_EQ(c.call(), -1000 - c.nr) << "service " << c.nr;
    expect_trap(only_trap(), c.nr, c.ebx, c.ecx, c.edx);
  }
}

TEST_F(SyscallTest, RejectedPointersNeverTrap) {
  char buf[4];
  char* argv[] = {nullptr};
  EXPECT_EQ(ridid::write(1, nullptr, 5), -1);
  EXPECT_EQ(ridid::write(1, nullptr, 0), -1);
  EXPECT_EQ(ridid::read(0, nullptr, 1), -1);
  EXPECT_EQ(ridid::open(nullptr, 0), -1);
  EXPECT_EQ(ridid::open(nullptr, O_CREAT), -1);
  EXPECT_EQ(ridid::creat(nullptr), -1);
  EXPECT_EQ(ridid::access(nullptr, F_OK), -1);
  EXPECT_EQ(ridid::writefile(nullptr, buf, 1), -1);
  EXPECT_EQ(ridid::writefile("/f", nullptr, 1), -1);
  EXPECT_EQ(ridid::mkdir(nullptr), -1);
  EXPECT_EQ(ridid::unlink(nullptr), -1);
  EXPECT_EQ(ridid::rmdir(nullptr), -1);
  EXPECT_EQ(ridid::getcwd(nullptr, 4), -1);
  EXPECT_EQ(ridid::getcwd(buf, 0), -1);
  EXPECT_EQ(ridid::zoror_stream_begin(nullptr), -1);
  EXPECT_EQ(ridid::zoror_stream_write(1, nullptr, 1), -1);
  EXPECT_EQ(ridid::chdir(nullptr), -1);
  EXPECT_EQ(ridid::pipe(nullptr), -1);
  EXPECT_EQ(ridid::mkfifo(nullptr), -1);
  EXPECT_EQ(ridid::spawn(nullptr, argv, 0), -1);
  EXPECT_EQ(ridid::spawn("/p", argv, -1), -1);
  EXPECT_EQ(ridid::spawn("/p", argv, INT32_MIN), -1);
  EXPECT_TRUE(kdouble::traps().empty());

  // The boundaries just inside still trap: a zero count, a zero spawn count,
  // a null argv or status (passed through unseen).
  EXPECT_EQ(ridid::write(1, buf, 0), 0);
  EXPECT_EQ(ridid::spawn("/p", nullptr, 0), 0);
  EXPECT_EQ(ridid::waitpid(-1, nullptr, 0), 0);
  ASSERT_EQ(kdouble::traps().size(), 3u);
  expect_trap(kdouble::traps()[0], 1, 1, addr(buf), 0);
  EXPECT_EQ(kdouble::traps()[1].ecx, 0u);
  EXPECT_EQ(kdouble::traps()[2].ecx, 0u);
}

TEST_F(SyscallTest, CountsClampAtTheSignedMaximum) {
  char buf[4];
  const uint32_t big = 0x7fffffffu;
  struct Case {
    std::function<int(size_t)> call;
    int nr;
    uint32_t Trap::*count;
  } cases[] = {
      {[&](size_t n) { return ridid::write(1, buf, n); }, 1, &Trap::edx},
      {[&](size_t n) { return ridid::read(0, buf, n); }, 3, &Trap::edx},
      {[&](size_t n) { return ridid::writefile("/f", buf, n); }, 21, &Trap::edx},
      {[&](size_t n) { return ridid::getcwd(buf, n); }, 52, &Trap::ecx},
      {[&](size_t n) { return ridid::zoror_stream_write(2, buf, n); }, 54, &Trap::edx},
  };
  for (const Case& c : cases) {
    for (uint32_t n : {big - 1, big, big + 1, 0x80000000u, 0xffffffffu}) {
      kdouble::reset();
      c.call(n);
      const Trap& t = only_trap();
      EXPECT_EQ(t.nr, c.nr);
      EXPECT_EQ(t.*c.count, n < big ? n : big) << "service " << c.nr << " count " << n;
    }
  }
}

TEST_F(SyscallTest, FlagsPassAsZeroOrOne) {
  for (int on : {0, 1, 7, -1, INT32_MIN}) {
    kdouble::reset();
    ridid::fd_set_nonblock(4, on);
    expect_trap(only_trap(), 130, 4, on != 0, 0);
    kdouble::reset();
    ridid::fd_set_inherit(on);
    expect_trap(only_trap(), 128, on != 0, 0, 0);
  }
}

TEST_F(SyscallTest, AccessOpensThenClosesWhatItOpened) {
  const char* p = "/bin/run";
  kdouble::script([](const Trap& t) { return t.nr == ridid::SYS_OPEN ? 5 : -9; });
  EXPECT_EQ(ridid::access(p, 0x7), 0);  // the mode is not passed on
  ASSERT_EQ(kdouble::traps().size(), 2u);
  expect_trap(kdouble::traps()[0], 4, addr(p), 0, 0);
  EXPECT_EQ(kdouble::traps()[1].nr, 5);
  EXPECT_EQ(kdouble::traps()[1].ebx, 5u);

  // Descriptor 0 is a success too; a negative one is not closed.
  kdouble::reset();
  kdouble::script([](const Trap&) { return 0; });
  EXPECT_EQ(ridid::access(p, F_OK), 0);
  EXPECT_EQ(kdouble::traps().size(), 2u);
  kdouble::reset();
  kdouble::script([](const Trap&) { return -2; });
  EXPECT_EQ(ridid::access(p, F_OK), -1);
  EXPECT_EQ(only_trap().nr, 4);
}

TEST_F(SyscallTest, SleepsAlwaysReportSuccess) {
  kdouble::script([](const Trap&) { return -22; });
  EXPECT_EQ(ridid::usleep(1500), 0);
  expect_trap(only_trap(), 22, 1500, 0, 0);
  kdouble::reset();
  kdouble::script([](const Trap&) { return -22; });
  EXPECT_EQ(ridid::sleep(3), 0);
  expect_trap(only_trap(), 22, 3000000, 0, 0);
  kdouble::reset();
  EXPECT_EQ(ridid::sleep(0), 0);
  expect_trap(only_trap(), 22, 0, 0, 0);
  kdouble::reset();
  EXPECT_EQ(ridid::usleep(0xffffffffu), 0);
  expect_trap(only_trap(), 22, 0xffffffffu, 0, 0);
}

// A duration whose microseconds pass 32 bits is served in pieces that add up
// to the whole of it; up to that point it is one request.
TEST_F(SyscallTest, LongSleepIsSplitWithoutLosingTime) {
  for (unsigned int sec : {4294u, 4295u, 8588u, 8589u, 100000u, 0xffffffffu}) {
    kdouble::reset();
    kdouble::script([](const Trap&) { return -1; });
    EXPECT_EQ(ridid::sleep(sec), 0);
    unsigned long long total = 0;
    for (const Trap& t : kdouble::traps()) {
      EXPECT_EQ(t.nr, 22);
      EXPECT_GT(t.ebx, 0u) << "an empty request for " << sec;
      total += t.ebx;
    }
    EXPECT_EQ(total, sec * 1000000ull) << sec;
    if (sec * 1000000ull <= 0xffffffffull) EXPECT_EQ(kdouble::traps().size(), 1u);
  }
}

TEST_F(SyscallTest, ExitNeverReturns) {
  std::optional<int> status = kdouble::run_until_exit([] { ridid::_exit(-3); });
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, -3);
  EXPECT_EQ(only_trap().nr, 2);
}

}  // namespace
