/* A program for the GDB session test, built with line information and
 * without the runtime. Without arguments it exits with the sum of the
 * squares of 1 to 4 (30); with an argument it writes through a null pointer.
 * The test finds lines by the comments that mark them. */

static void leave(int status) {
  __asm__ volatile("int $0x80" : : "a"(2), "b"(status));
  for (;;) {
  }
}

static double half(double x) {
  return x / 2;
}

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

void start(int* sp) {
  const int argc = sp[0];
  if (argc > 1) crash();
  const double h = half(5.0);
  leave(sum_squares(4) + (h == 2.5 ? 0 : 100));
}

__asm__(
    ".section .text._start,\"ax\"\n"
    ".globl _start\n"
    "_start:\n"
    "  xorl %ebp, %ebp\n"
    "  pushl %esp\n"
    "  call start\n");
