/* A small command interpreter for tests: argv[1..] is a list of operations,
 * a letter and its operands. Every trap's result is in the trace; the exit
 * status is the number of traps that failed, unless "e N" exits with N.
 * c P: print file P (one read of 4096); w P T: writefile; a P T: append T to
 * P; o P T: write T over the start of P; l P: seek to the end, then to 2, print 3 bytes; d/m/u/x/f P: chdir,
 * mkdir, unlink, rmdir, mkfifo; p: print the working directory; r L: run
 * request; s P: spawn P alone, S P: spawn P with this vector, then waitpid;
 * k: getkey; i: print what stdin gives; P: a pipe passing "pipe!"; F P: the
 * named pipe P passing "fifo!"; z P T: stream T into P; D: print through
 * dup(1) and dup2(1, 9); t: usleep(200000); n: the three fd_set services;
 * K: the console packet FF 1 2 3; B: bad pointers and counts, then "alive";
 * E: strings at the edge of the mappings and past 4095 bytes; N: unknown
 * services 0 and 77; T P: open P to read, truncated; y T: print T and a
 * newline until a write fails; Y P: append 4096 bytes at a time to P until
 * a write fails. */
typedef unsigned u32;

/* The only zero-filled object, so it ends the writable mapping (for E). */
static char buf[8192] __attribute__((aligned(4096)));
static int failures __attribute__((section(".data")));
static int child_status __attribute__((section(".data")));
static int fds[2] __attribute__((section(".data")));

static int sys(u32 nr, u32 b, u32 c, u32 d) {
  int r;
  __asm__ volatile("int $0x80" : "=a"(r) : "a"(nr), "b"(b), "c"(c), "d"(d) : "memory");
  if (r < 0) ++failures;
  return r;
}
#define P(x) ((u32)(x))

static u32 len(const char* s) {
  u32 n = 0;
  while (s && s[n]) ++n;
  return n;
}
static void print(const char* s, int n) {
  if (n > 0) sys(1, 1, P(s), n);
}

void start(int argc, char** argv) {
  static const char packet[4] = {(char)0xFF, 1, 2, 3};
  int i = 1;
#define ARG (i < argc ? argv[i++] : 0)
  while (i < argc) {
    const char* op = ARG;
    if (!op) continue;
    const char *p, *t;
    int fd, fd2, n;
    switch (op[0]) {
      case 'c':
        if ((fd = sys(4, P(ARG), 0, 0)) < 0) break;
        print(buf, sys(3, fd, P(buf), 4096));
        sys(5, fd, 0, 0);
        break;
      case 'w': p = ARG, t = ARG; sys(21, P(p), P(t), len(t)); break;
      case 'a': case 'o':  /* appended, or written over P's first bytes */
        p = ARG, t = ARG;
        if ((fd = sys(4, P(p), op[0] == 'a' ? 0x441 : 1, 0x441)) < 0) break;
        sys(1, fd, P(t), len(t));
        sys(5, fd, 0, 0);
        break;
      case 'T': sys(5, sys(4, P(ARG), 0x200, 0), 0, 0); break;  /* opened to read, truncated */
      case 'l':
        if ((fd = sys(4, P(ARG), 0, 0)) < 0) break;
        sys(110, fd, 0, 2);
        sys(110, fd, 2, 0);
        print(buf, sys(3, fd, P(buf), 3));
        sys(5, fd, 0, 0);
        break;
      case 'd': case 'm': case 'u': case 'x': case 'f': case 'r':  /* a path or a line alone */
        sys(op[0] == 'd' ? 95 : op[0] == 'm' ? 49 : op[0] == 'u' ? 50 : op[0] == 'x' ? 51 : op[0] == 'f' ? 125 : 96, P(ARG), 0, 0);
        break;
      case 'p': print(buf, sys(52, P(buf), 4096, 0)); print("\n", 1); break;
      case 's':
      case 'S':
        p = ARG;
        n = op[0] == 's' ? sys(131, P(p), 0, 0) : sys(131, P(p), P(argv), argc);
        if (n > 0) sys(132, n, P(&child_status), 0);
        break;
      case 'k': sys(6, 0, 0, 0); break;
      case 'i': print(buf, sys(3, 0, P(buf), 4096)); break;
      case 'P':
        if (sys(124, P(fds), 0, 0) < 0) break;
        sys(1, fds[1], P("pipe!"), 5);
        print(buf, sys(3, fds[0], P(buf), 16));
        sys(3, fds[0], P(buf), 16);
        sys(5, fds[0], 0, 0);
        sys(5, fds[1], 0, 0);
        break;
      case 'F':
        p = ARG;
        fd = sys(4, P(p), 1, 0);
        fd2 = sys(4, P(p), 0, 0);
        sys(1, fd, P("fifo!"), 5);
        print(buf, sys(3, fd2, P(buf), 16));
        sys(5, fd, 0, 0);
        sys(5, fd2, 0, 0);
        break;
      case 'z':
        p = ARG, t = ARG;
        fd = sys(53, P(p), 0, 0);
        sys(54, fd, P(t), len(t));
        sys(55, fd, 0, 0);
        break;
      case 'D':
        fd = sys(126, 1, 0, 0);
        sys(1, fd, P("dup\n"), 4);
        sys(127, 1, 9, 0);
        sys(1, 9, P("dup2\n"), 5);
        sys(5, fd, 0, 0);
        sys(5, 9, 0, 0);
        break;
      case 't': sys(22, 200000, 0, 0); break;
      case 'n':
        sys(128, 1, 0, 0);
        sys(129, 0, 1, 1);
        sys(130, 0, 1, 0);
        break;
      case 'K': sys(1, 1, P(packet), 4); break;
      case 'B':
        sys(1, 1, 0x10, 4);                  /* write from page 0 */
        sys(1, 1, 0xBFEFFFFE, 8);            /* running off the bottom of the stack */
        sys(3, 0, 0x400000, 4);              /* read into code */
        sys(3, 0, P(buf), 0x7fffffff);       /* far past the buffer's mapping */
        sys(3, 0, P(buf), 0xffffffff);       /* a negative count */
        sys(4, 0x10, 0, 0);                  /* a path in page 0 */
        sys(49, 0xC0000000, 0, 0);           /* a path just above the stack */
        sys(21, P("/bad"), 0x10, 5);         /* writefile from page 0 */
        sys(52, 0x400000, 64, 0);            /* getcwd into code */
        sys(124, 0x400000, 0, 0);            /* pipe into code */
        sys(132, 0xffffffff, 0x400000, 0);   /* waitpid's status into code */
        sys(131, 0x10, 0, 0);                /* spawn of an unmapped path */
        sys(131, P("/bad"), 0x20, 2);        /* ... an unmapped vector */
        sys(96, 0x10, 0, 0);                 /* run request of an unmapped line */
        print("alive\n", 6);
        break;
      case 'E': {
        char* edge = buf + sizeof buf - 16;  /* the mapping ends after buf */
        for (n = 0; n < 16; ++n) edge[n] = 'A';
        sys(4, P(edge), 0, 0);               /* no NUL before the unmapped page */
        edge[15] = 0;
        sys(4, P(edge), 0, 0);               /* the NUL on the last mapped byte */
        for (n = 0; n < 5000; ++n) buf[n] = 'A';
        buf[5000] = 0;
        sys(4, P(buf), 0, 0);                /* 5000 bytes before the NUL */
        break;
      }
      case 'N': sys(0, 0, 0, 0); sys(77, 0, 0, 0); break;
      case 'y':
        t = ARG;
        while (sys(1, 1, P(t), len(t)) >= 0 && sys(1, 1, P("\n"), 1) >= 0) {}
        break;
      case 'Y':
        if ((fd = sys(4, P(ARG), 0x441, 0)) < 0) break;
        while (sys(1, fd, P(buf), 4096) > 0) {}
        sys(5, fd, 0, 0);
        break;
      case 'e':
        p = ARG;
        for (n = 0; p && *p >= '0' && *p <= '9'; ++p) n = n * 10 + (*p - '0');
        sys(2, n, 0, 0);
        break;
    }
  }
  sys(2, failures, 0, 0);
}

__asm__(".globl _start\n_start:\n  movl (%esp), %eax\n  leal 4(%esp), %ecx\n"
        "  pushl %ecx\n  pushl %eax\n  call start\n");
