/* Runs exactly 1004 instructions: a loop of 1000, then _exit(0). */
  .section .text._start,"ax"
  .globl _start
_start:
  movl $1000, %ecx
1:
  loop 1b
  movl $2, %eax
  xorl %ebx, %ebx
  int $0x80
