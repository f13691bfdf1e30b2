/* Writes code into its own writable and executable page and runs it, then
 * rewrites it and runs it again, 100 times over the same bytes: the code
 * last written must be what runs. Exits with a mask of the checks that ran
 * old code (0: none did):
 *  1: slot after a copy of "mov $7, %eax; ret" (2 instructions) returns 7;
 *  2: slot after a copy of "xor %eax, %eax; inc %eax; inc %eax; nop; ret"
 *     (5 instructions in the same 6 bytes) returns 2;
 *  4 (only with an argument): a store into the very next instruction, in
 *     the same block, changes what it loads.
 * Without an argument it runs exactly 2906 instructions: 2, then 29 for
 * each of the 100 rounds, then 4. The page (see rewrite.ld) is the only
 * one, so the code runs from the page it writes. */
  .section .text._start,"awx"
  .globl _start
_start:
  xorl %ebx, %ebx
  movl $100, %ebp
again:
  movl $two, %esi; call install; call slot
  cmpl $7, %eax; je 1f; orl $1, %ebx
1:
  movl $four, %esi; call install; call slot
  cmpl $2, %eax; je 1f; orl $2, %ebx
1:
  decl %ebp; jnz again
  cmpl $2, (%esp); jl done
  movb $42, next + 1
next:
  movl $0, %eax
  cmpl $42, %eax; je done; orl $4, %ebx
done:
  movl $2, %eax; int $0x80

/* Copies the 8 bytes at %esi to slot. */
install:
  movl (%esi), %eax; movl %eax, slot
  movl 4(%esi), %eax; movl %eax, slot + 4
  ret

  .balign 8
two:
  movl $7, %eax; ret
  .balign 8
four:
  xorl %eax, %eax; incl %eax; incl %eax; nop; ret

  .balign 8
slot:
  .skip 8, 0xcc
