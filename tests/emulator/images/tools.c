/* The program the tools' tests run, built with -g and without the runtime.
 * The tests find lines by the comments that mark them.
 *   tools               exits with the sum of the squares of 1 to 4 (30)
 *   tools crash         writes through a null pointer
 *   tools recurse       recurses until the stack runs out
 *   tools invalid       runs an invalid instruction
 *   tools nowhere       calls through a null function pointer
 *   tools spin K N      leave_early() once, then spin(N) K times; spin runs
 *                       exactly N + 2 instructions (N > 0)
 *   tools line N        N rounds of a loop whose body is the hot line
 *   tools child K N     spawns /tools.elf spin K N and waits for it
 *   tools fault         faults in the middle of a block
 *   tools watch         twice writes and reads `watched` (after_write and
 *                       after_read hold where the two instructions end),
 *                       then sums in a local */
__asm__(".section .text._start,\"ax\"\n.globl _start\n_start:\n"
        "  xorl %ebp, %ebp\n  pushl %esp\n  call begin\n"
        ".text\n.globl spin\n.type spin,@function\nspin:\n"
        "  movl 4(%esp), %ecx\n1: loop 1b\n  ret\n.size spin, .-spin\n"
        /* Returns from its caller, skipping the caller's own return. */
        ".globl escape\n.type escape,@function\nescape:\n"
        "  movl %ebp, %esp\n  popl %ebp\n  ret\n.size escape, .-escape\n");
void spin(int n);
void escape(void);
volatile int sink;
int watched;
unsigned after_write, after_read;

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
static int is(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

static double half(double x) { return x / 2; }
static int square(int n) {
  int result = n * n; /* line: square */
  return result;
}
static int sum_squares(int count) {
  int total = 0;
  for (int i = 1; i <= count; ++i) total += square(i); /* line: loop */
  return total;
}
static void crash(void) {
  volatile int* nowhere = 0;
  *nowhere = 42; /* line: crash */
}
static int recurse(int depth) {
  volatile int pad[64];
  pad[0] = depth; /* line: recursion */
  return recurse(depth + 1) + pad[0];
}
static void invalid(void) { __asm__ volatile("ud2"); /* line: invalid */ }
static void leave_early(void) {
  escape();
  sink = 1; /* never runs */
}
static void hot_loop(int n) {
  for (int i = 0; i < n; ++i)
    sink = sink * 31 + i * 7 + (i >> 2) + (i & 5) + (sink >> 3); /* the hot line */
}

static void watch_target(void) {
  sink = 7;
  __asm__ volatile("movl $1f, after_write\n  movl $5, watched\n1:" ::: "memory");
  sink = 8;
  /* The words on either side of `watched` are read first. */
  __asm__ volatile("movl $1f, after_read\n  movl watched-4, %%eax\n  movl watched+4, %%eax\n"
                   "  movl watched, %%eax\n1:" ::: "eax", "memory");
  watched = 5; /* the same value again */
  watched = 6; /* line: rewrite */
}
static int sum_to(int n) {
  int total = 0;
  for (int i = 1; i <= n; ++i) total += i; /* line: sum */
  return total;
}

static int run(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (is(mode, "crash")) crash();
  if (is(mode, "recurse")) sink = recurse(0);
  if (is(mode, "invalid")) invalid();
  if (is(mode, "nowhere")) ((void (*)(void))sink)(); /* line: nowhere */
  if (is(mode, "spin")) {
    leave_early();
    for (int k = number(argv[2]); k > 0; --k) spin(number(argv[3]));
    return 0;
  }
  if (is(mode, "line")) hot_loop(number(argv[2]));
  if (is(mode, "child")) {
    const char* child[4] = {"tools.elf", "spin", argv[2], argv[3]};
    return sys(131, (int)"/tools.elf", (int)child, 4) > 0 ? 0 : 1;
  }
  if (is(mode, "fault")) {
    hot_loop(10);
    *(volatile int*)16 = 0; /* an unmapped write, with more of the block after it */
    sink = 2;
    sink = 3;
  }
  if (is(mode, "watch")) {
    watch_target();
    watch_target();
    return sum_to(3); /* line: back */
  }
  if (*mode) return 0;
  const double h = half(5.0);
  return sum_squares(4) + (h == 2.5 ? 0 : 100);
}

void begin(int* sp) { sys(2, run(sp[0], (char**)(sp + 1)), 0, 0); }
