// Process entry of every ridid program.
//
// The kernel enters here with ESP at the argument count, followed directly by
// the argument vector itself (not a pointer to it). _start aligns the stack to
// 16 bytes for the call, runs main and hands its result to _exit, which does
// not come back; should it return anyway, _start spins on itself.
extern "C" int main(int argc, char** argv);

extern "C" __attribute__((naked, used, section(".text._start"))) void _start() {
  __asm__ volatile(
      "movl (%esp), %eax\n\t"      // argc
      "leal 4(%esp), %edx\n\t"     // argv: the vector starts right after the count
      "andl $-16, %esp\n\t"
      "subl $8, %esp\n\t"          // after the two pushes ESP is 16-byte aligned at the call
      "pushl %edx\n\t"
      "pushl %eax\n\t"
      "call main\n\t"
      "movl %eax, (%esp)\n\t"      // main's result is _exit's argument
      "call _exit\n"
      "1:\n\t"
      "jmp 1b\n\t");
}
