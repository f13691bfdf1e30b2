/* Traps for ever: every service and its arguments come from the test's
 * service hook, which also ends the program. The strings (one every 32
 * bytes) and the buffer are there for the hook to point at. */
__attribute__((used, aligned(32))) const char strings[12][32] = {
    "/t.kav", "t.kav x y", "s.shell", "/d", "/d/f", "f", "..", "/", "/p", "../../out",
    "ln/x", ""};
__attribute__((used)) const char strings_end[1] = "";
__attribute__((used, aligned(4096))) char buf[0x20000];

__asm__(".globl _start\n_start:\n  int $0x80\n  jmp _start\n");
