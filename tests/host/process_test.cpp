// The system-call wrappers (registers, the kernel's answer untouched, checks
// before the trap, count clamps, access, sleeps), the heap (block lengths, the
// 1 MiB edge, sums that must not wrap, calloc, realloc), rand and strerror.
#include <sys/mman.h>

#include "runtime_test.h"

namespace ridid {
namespace {

char buf[8] = "abc", *argv[] = {buf, nullptr};
int fds[2];
const char* p = "/x";
int answer(const kdouble::Trap& t) { return -1000 - t.nr; }

const Scenario kCalls[] = {
    ROW([] { return kdouble::script(answer), R{write(1, buf, 3), write(1, buf, 0), read(0, buf, 8), kdouble::traps().at(2).ecx == addr(buf),
                                               open(p, 0), open(p, 0x41), open(p, O_WRONLY | O_TRUNC), creat(p), close(7), getkey(),
                                               writefile(p, buf, 3)}; },
        "-1001 -1001 -1003 1 -1004 -1004 -1004 -1004 -1005 -1006 -1021",  // with O_CREAT the kernel gets the flags twice
        "w(abc) w() r0:8 open(/x,0,0) open(/x,65,65) open(/x,513,0) open(/x,577,0) close(7,0,0) 6(0,0,0) store(/x,abc)"),
    ROW([] { return kdouble::script(answer), R{mkdir(p), unlink(p), rmdir(p), getcwd(buf, 8), zoror_stream_begin(p),
                                               zoror_stream_write(4, buf, 2), zoror_stream_end(4), chdir(p), lseek(3, -5, SEEK_END)}; },
        "-1049 -1050 -1051 -1052 -1053 -1054 -1055 -1095 -1110",
        "49(p,0,0) 50(p,0,0) 51(p,0,0) 52(buf,8,0) 53(p,0,0) 54(4,buf,2) 55(4,0,0) 95(p,0,0) seek(3,-5,2)"),
    ROW([] { return kdouble::script(answer), R{pipe(fds), mkfifo(p), dup(9), dup2(3, 1), fd_set_inherit(7), fd_set_inherit(0),
                                               fd_set_stdio(-1, 5, 6), fd_set_nonblock(4, INT32_MIN), fd_set_nonblock(4, 0),
                                               spawn(p, argv, 2), spawn(p, nullptr, 0), waitpid(12, fds, 1), waitpid(-1, nullptr, 0)}; },
        "-1124 -1125 -1126 -1127 -1128 -1128 -1129 -1130 -1130 -1131 -1131 -1132 -1132",
        "124(fds,0,0) 125(p,0,0) 126(9,0,0) 127(3,1,0) 128(1,0,0) 128(0,0,0) 129(-1,5,6) 130(4,1,0) 130(4,0,0) 131(p,argv,2) "
        "131(p,0,0) 132(12,fds,1) 132(-1,0,0)"),
    ROW([] { static char* page = static_cast<char*>(mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
             char* end = (mprotect(page + 4096, 4096, PROT_NONE), std::memcpy(page + 4093, "xyz", 3), page + 4093);
             return R{write(1, end, 3), write(1, end, 4), write(1, low(16), 2)}; },  // the kernel shows bytes it cannot read as ?
        "3 4 2", "w(xyz) w(?)*2"),
    ROW([] { return R{write(1, nullptr, 0), read(0, nullptr, 1), open(nullptr, O_CREAT), creat(nullptr), access(nullptr, F_OK),
                      writefile(nullptr, buf, 1), writefile(p, nullptr, 1), mkdir(nullptr), unlink(nullptr), rmdir(nullptr),
                      getcwd(nullptr, 4), getcwd(buf, 0), zoror_stream_begin(nullptr), zoror_stream_write(1, nullptr, 1),
                      chdir(nullptr), pipe(nullptr), mkfifo(nullptr), spawn(nullptr, argv, 0), spawn(p, argv, -1),
                      spawn(p, argv, INT32_MIN)}; },
        "-1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1", ""),  // refused before any trap
    ROW([] { for (uint32_t n : {0x7ffffffeu, 0x7fffffffu, 0x80000000u, 0xffffffffu}) write(1, buf, n);  // counts clamp at 2^31 - 1
             for (uint32_t n : {0x7ffffffeu, 0x7fffffffu, 0x80000000u, 0xffffffffu}) read(0, buf, n);
             for (uint32_t n : {0x7ffffffeu, 0x7fffffffu, 0x80000000u, 0xffffffffu}) writefile(p, buf, n);
             for (uint32_t n : {0x7ffffffeu, 0x7fffffffu, 0x80000000u, 0xffffffffu}) getcwd(buf, n);
             for (uint32_t n : {0x7ffffffeu, 0x7fffffffu, 0x80000000u, 0xffffffffu}) zoror_stream_write(2, buf, n);
             return std::string(); },
        "", "w(2147483646 bytes) w(2147483647 bytes)*3 r0:2147483646 r0:2147483647*3 store(/x,2147483646 bytes) "
            "store(/x,2147483647 bytes)*3 52(buf,2147483646,0) 52(buf,2147483647,0)*3 54(2,buf,2147483646) 54(2,buf,2147483647)*3"),
    ROW([] { return kdouble::script([](const kdouble::Trap& t) { return t.nr == SYS_OPEN ? 5 : -9; }), R{access("/bin/run", 7)}; },
        "0", "open(/bin/run,0,0) close(5,0,0)"),  // the mode is not passed on
    ROW([] { return R{access("/bin/run", F_OK)}; }, "0", "open(/bin/run,0,0) close(0,0,0)"),
    ROW([] { return kdouble::script(answer), R{access("/bin/run", F_OK)}; }, "-1", "open(/bin/run,0,0)"),
    ROW([] { return kdouble::script(answer), R{usleep(0xffffffffu), sleep(0), sleep(3), sleep(4294)}; },  // always 0
        "0 0 0 0", "sleep(4294967295,0,0) sleep(0,0,0) sleep(3000000,0,0) sleep(4294000000,0,0)"),
    ROW([] { return R{sleep(4295), sleep(8589)}; },  // microseconds past 32 bits: in pieces that add up
        "0 0", "sleep(4294000000,0,0) sleep(1000000,0,0) sleep(4294000000,0,0)*2 sleep(1000000,0,0)"),
    ROW([] { return R{sleep(100000)}; }, "0", "sleep(4294000000,0,0)*23 sleep(1238000000,0,0)"),
};

TEST(SyscallTest, Calls) {
  kdouble::name(p, "p"), kdouble::name(buf, "buf"), kdouble::name(fds, "fds"), kdouble::name(argv, "argv");
  run_scenarios(kCalls);
}



ptrdiff_t at(void* p) { return static_cast<unsigned char*>(p) - g_heap; }  // the offset in the arena
char* c(void* p) { return static_cast<char*>(p); }

const Scenario kHeap[] = {
    ROW([] { std::string r;  // the payload's offset, then the arena used: blocks of size + 4 rounded up to 8
             for (size_t n : {0, 1, 4, 5, 12, 13, 20, 21}) r += R{at(malloc(n)), g_heap_used}.s + " ";
             return R{r, errno, (g_heap_used = 0, malloc(1048573) == nullptr), errno, (errno = 0, at(malloc(1048572))), g_heap_used, errno,
                      (g_heap_used = 1048576 - 16, malloc(13) == nullptr), at(malloc(12)), malloc(0) == nullptr, errno}; },
        "4 8 12 16 20 24 28 40 44 56 60 80 84 104 108 136  0 1 12 4 1048576 0 1 1048564 1 12", ""),
    ROW([] { int refused = 0;  // sizes whose block or end would pass 2^32 must not wrap into a fit
             for (size_t n : {0xffffffffu, 0xfffffff8u, 0xfffffff5u, 0xfffffff4u, 0xffffffc0u, 0x80000000u}) {
               refused += (g_heap_used = 64, errno = 0, !malloc(n) && errno == 12 && !realloc(0, n) && !calloc(1, n) && g_heap_used == 64);
             }
             return R{refused}; },
        "6", ""),
    ROW([] { void *a = calloc(0, 5), *b = calloc(5, 0);  // empty requests get one byte
             std::memset(g_heap + 16, 0xab, 64);  // the arena dirtied ahead, so the zero fill shows
             void* p = calloc(3, 4);
             return R{at(a), at(b), at(p), bytes(p, 13) == std::string(12, '\0') + "\xab", calloc(0x10000, 0x10000) == nullptr, errno,
                      (errno = 0, !calloc(0x80000000u, 2)), errno, (errno = 0, !calloc(1024, 1024)), errno, g_heap_used}; },
        "4 12 20 1 1 12 1 12 1 12 32", ""),
    ROW([] { char* p = c(realloc(nullptr, 10));  // realloc always moves, even the last block, and copies what fits
             char *s = (std::memcpy(p, "0123456789", 10), c(realloc(p, 2))), *g = c(realloc(p, 20)), *one = c(realloc(p, 0));
             char* last = c(realloc(one, 1));
             size_t used = g_heap_used;
             return R{at(p), bytes(s, 3) == bytes("01", 3), bytes(g, 20) == bytes("0123456789", 10) + std::string(10, 0),
                      bytes(one, 2) == bytes("0", 2), last != one && *last == '0', bytes(p, 10), !realloc(p, 1048576), errno,
                      g_heap_used == used, bytes(realloc(p, 12), 12) == "0123456789" + std::string(2, '\0')}; },
        "4 1 1 1 1 0123456789 1 12 1 1", ""),
};


TEST(StdlibTest, Heap) { run_scenarios(kHeap); }

TEST(StdlibTest, RandomNumbersAndErrorTexts) {
  reset_runtime();  // without srand the first rand seeds itself: not seed 1's sequence, and another one each time
  std::string first = R{rand(), rand(), rand()}, again = (reset_runtime(), R{rand(), rand(), rand()});
  EXPECT_TRUE(first != "16838 5758 10113" && first != again) << first << " " << again;
  EXPECT_WORDS((R{(srand(1), rand()), (srand(0), rand()), (srand(42), rand()), rand(), rand(), (srand(1), rand()), rand(), rand(),
               rand(), rand(), rand()}.s), "16838 16838 19081 17033 15269 16838 5758 10113 17515 31051 5627");
  EXPECT_WORDS((R{strerror(0), strerror(2), strerror(22), strerror(38), strerror(12), strerror(-2), strerror(1), strerror(21), strerror(37),
               strerror(INT32_MIN)}.s), "ok no such file invalid argument not implemented error error error error error error");
}

}  // namespace
}  // namespace ridid
