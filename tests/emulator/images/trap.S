/* Traps for ever: every service and its arguments come from the test's
 * service hook, which also ends the program. The strings and the buffer are
 * there for the hook to point at. */
  .section .text._start,"ax"
  .globl _start
_start:
  int $0x80
  jmp _start

  .section .rodata
  .balign 32
  .globl strings
strings:        /* one string every 32 bytes */
  .balign 32; .asciz "/t.kav"
  .balign 32; .asciz "t.kav x y"
  .balign 32; .asciz "s.shell"
  .balign 32; .asciz "/d"
  .balign 32; .asciz "/d/f"
  .balign 32; .asciz "f"
  .balign 32; .asciz ".."
  .balign 32; .asciz "/"
  .balign 32; .asciz "/p"
  .balign 32; .asciz "../../out"
  .balign 32; .asciz "ln/x"
  .balign 32; .asciz ""
  .balign 32
  .globl strings_end
strings_end:

  .bss
  .balign 4096
  .globl buf
buf:
  .space 0x20000
