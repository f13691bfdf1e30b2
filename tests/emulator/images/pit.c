/* Faults in C, built with -g: argv[1] "n" writes through a null pointer, "s"
 * recurses until the stack runs out, "u" runs an invalid instruction. The
 * tests find the lines by the markers in the comments. */
static volatile int sink;

static void poke(volatile int* p) {
  *p = 1; /* line: null write */
}

static int recurse(int depth) {
  volatile int pad[64];
  pad[0] = depth; /* line: recursion */
  return recurse(depth + 1) + pad[0];
}

static void invalid(void) {
  __asm__ volatile("ud2"); /* line: invalid */
}

static void quit(int status) {
  __asm__ volatile("int $0x80" : : "a"(2), "b"(status));
}

void start(int argc, char** argv) {
  if (argc > 1 && argv[1][0] == 'n') poke(0);
  if (argc > 1 && argv[1][0] == 's') sink = recurse(0);
  if (argc > 1 && argv[1][0] == 'u') invalid();
  quit(0);
}

__asm__(".globl _start\n_start:\n  movl (%esp), %eax\n  leal 4(%esp), %ecx\n"
        "  pushl %ecx\n  pushl %eax\n  call start\n");
