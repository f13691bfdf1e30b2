/* A guest for the profiler's tests (freestanding, its own _start and traps):
 *   prof spin K N    leave_early() once, then spin(N) K times; spin runs
 *                    exactly N + 2 instructions (N > 0)
 *   prof line N      N rounds of a loop whose body is the hot line
 *   prof child K N   spawns /prof.elf spin K N and waits for it
 *   prof fault       faults in the middle of a block */
__asm__(".section .text._start,\"ax\"\n"
        ".globl _start\n"
        "_start:\n"
        "  pushl %esp\n"
        "  call begin\n"
        ".text\n"
        ".globl spin\n"
        ".type spin,@function\n"
        "spin:\n"
        "  movl 4(%esp), %ecx\n"
        "1: loop 1b\n"
        "  ret\n"
        ".size spin, .-spin\n"
        /* Returns from its caller, skipping the caller's own return. */
        ".globl escape\n"
        ".type escape,@function\n"
        "escape:\n"
        "  movl %ebp, %esp\n"
        "  popl %ebp\n"
        "  ret\n"
        ".size escape, .-escape\n");

void spin(int n);
void escape(void);

static int sys(int nr, int a, int b, int c) {
  int r;
  __asm__ volatile("int $0x80" : "=a"(r) : "a"(nr), "b"(a), "c"(b), "d"(c) : "memory");
  return r;
}

static int number(const char* s) {
  int n = 0;
  while (*s >= '0' && *s <= '9') n = n * 10 + (*s++ - '0');
  return n;
}

static int same(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

volatile int sink;

static void leave_early(void) {
  escape();
  sink = 1; /* never runs */
}

static void hot_loop(int n) {
  int i = 0;
  while (i < n) {
    sink = sink * 31 + i * 7 + (i >> 2) + (i & 5) + (sink >> 3); /* the hot line */
    ++i;
  }
}

static int run(int argc, char** argv) {
  sys(1, 1, (int)"prof\n", 5);
  if (argc == 4 && same(argv[1], "spin")) {
    leave_early();
    for (int k = number(argv[2]); k > 0; --k) spin(number(argv[3]));
    return 0;
  }
  if (argc == 3 && same(argv[1], "line")) {
    hot_loop(number(argv[2]));
    return 0;
  }
  if (argc == 4 && same(argv[1], "child")) {
    const char* child[4] = {"prof.elf", "spin", argv[2], argv[3]};
    return sys(131, (int)"/prof.elf", (int)child, 4) > 0 ? 0 : 1;
  }
  if (argc == 2 && same(argv[1], "fault")) {
    hot_loop(10);
    *(volatile int*)16 = 0; /* an unmapped write, with more of the block after it */
    sink = 2;
    sink = 3;
    return 0;
  }
  return 2;
}

void begin(int* sp) {
  sys(2, run(sp[0], (char**)(sp + 1)), 0, 0);
}
