// Process services, the generator and the error texts.
#include "runtime_test.h"

namespace {

class ProcessServices : public RuntimeTest {};

TEST_F(ProcessServices, ExitAndAbortEndThroughExitService) {
  std::optional<int> status = kdouble::run_until_exit([] { ridid::exit(3); });
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 3);
  ASSERT_EQ(kdouble::traps().size(), 1u);  // nothing flushed, nothing written
  EXPECT_EQ(kdouble::traps()[0].nr, ridid::SYS_EXIT);

  kdouble::reset();
  status = kdouble::run_until_exit([] { ridid::exit(-1); });
  EXPECT_EQ(kdouble::traps().at(0).ebx, 0xffffffffu);

  kdouble::reset();
  status = kdouble::run_until_exit([] { ridid::abort(); });
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  ASSERT_EQ(kdouble::traps().size(), 1u);
  EXPECT_EQ(console_bytes(), "");
}

int g_handler_calls = 0;
void handler() { ++g_handler_calls; }

TEST_F(ProcessServices, AtexitHandlersNeverRunAndThereIsNoEnvironment) {
  EXPECT_EQ(ridid::atexit(handler), 0);
  EXPECT_EQ(ridid::atexit(nullptr), 0);
  kdouble::run_until_exit([] { ridid::exit(0); });
  EXPECT_EQ(g_handler_calls, 0);
  for (const char* name : {"PATH", "HOME", "", "RIDID"}) EXPECT_EQ(ridid::getenv(name), nullptr) << name;
  EXPECT_EQ(ridid::getenv(nullptr), nullptr);
}

class RandomNumbers : public RuntimeTest {};

TEST_F(RandomNumbers, FixedSequencesAfterSrand) {
  ridid::srand(1);
  for (int want : {16838, 5758, 10113, 17515, 31051, 5627}) EXPECT_EQ(ridid::rand(), want);
  ridid::srand(0);  // the same as seed 1
  EXPECT_EQ(ridid::g_rand_state, 1u);
  for (int want : {16838, 5758, 10113, 17515, 31051, 5627}) EXPECT_EQ(ridid::rand(), want);
  ridid::srand(42);
  for (int want : {19081, 17033, 15269}) EXPECT_EQ(ridid::rand(), want);
  ridid::srand(1);
  EXPECT_EQ(ridid::rand(), 16838);
  EXPECT_EQ(ridid::g_rand_state, 0x41C67EA6u);
  // Every value of a long run stays within 0..32767 and all 15 bits move.
  int seen_or = 0, seen_and = 0x7fff;
  for (int i = 0; i < 100000; ++i) {
    int r = ridid::rand();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 32767);
    seen_or |= r;
    seen_and &= r;
  }
  EXPECT_EQ(seen_or, 0x7fff);
  EXPECT_EQ(seen_and, 0);
}

TEST_F(RandomNumbers, FirstRandSeedsItself) {
  ASSERT_EQ(ridid::g_rand_seeded, 0);
  int r = ridid::rand();
  EXPECT_GE(r, 0);
  EXPECT_LE(r, 32767);
  EXPECT_EQ(ridid::g_rand_seeded, 1);
  // The new state is one generator step from a non-zero seed, and the
  // result is its bits 16 to 30.
  unsigned state = ridid::g_rand_state;
  EXPECT_EQ(static_cast<int>((state >> 16) & 0x7fff), r);
  unsigned inverse = 1;  // of 1103515245 modulo 2^32, by Newton steps
  for (int i = 0; i < 6; ++i) inverse *= 2u - 1103515245u * inverse;
  unsigned seed = (state - 12345u) * inverse;
  EXPECT_NE(seed, 0u);
  // The first seed is no fixed value: it is not the state of a process
  // that never seeds (1), and two self-seedings a moment apart differ.
  EXPECT_NE(seed, 1u);
  ridid::g_rand_seeded = 0;
  ridid::rand();
  EXPECT_NE(ridid::g_rand_state, state);
  // srand afterwards restarts the fixed sequence.
  ridid::srand(1);
  EXPECT_EQ(ridid::rand(), 16838);
  ridid::srand(5);
  EXPECT_EQ(ridid::g_rand_seeded, 1);
}

class ErrorTexts : public RuntimeTest {};

TEST_F(ErrorTexts, FourCodesHaveTextsOfTheirOwn) {
  EXPECT_STREQ(ridid::strerror(0), "ok");
  EXPECT_STREQ(ridid::strerror(2), "no such file");
  EXPECT_STREQ(ridid::strerror(22), "invalid argument");
  EXPECT_STREQ(ridid::strerror(38), "not implemented");
  for (int code : {12, -2, 1, 3, 21, 23, 37, 39, -1, INT32_MIN, INT32_MAX, 256 + 2}) {
    ASSERT_NE(ridid::strerror(code), nullptr);
    EXPECT_STREQ(ridid::strerror(code), "error") << code;
  }
  // The same shared text each time.
  EXPECT_EQ(ridid::strerror(2), ridid::strerror(2));
  EXPECT_EQ(ridid::errno, 0);
}

}  // namespace
