/* Commits one guest fault, chosen by the first letter of argv[1] (the rows
 * below); without an argument it exits with status 0. The fault is the
 * instruction at the row's at_ symbol: e runs an instruction whose second
 * byte is on the next page, which is not executable; k stores below the
 * stack through ESP; p is port input with an _exit right after it; g sets an
 * instruction breakpoint in DR7; f is a far call through a register, an
 * encoding the processor emulation cannot translate. */
  .section .text._start,"ax"
  .globl _start
_start:
  cmpl $2, (%esp); jl done
  movl 8(%esp), %esi; movzbl (%esi), %eax; subl $'a', %eax
  cmpl $25, %eax; ja done
  jmp *table(,%eax,4)
done:
  movl $2, %eax; xorl %ebx, %ebx; int $0x80

  /* A row: its letter, the name after at_, what runs before, the fault, and
   * what would run after it. */
  .macro fault letter, name, before, at, after="jmp done"
f_\letter: \before
  .globl at_\name
at_\name: \at
  \after
  .endm
  fault r, read, "", "movl 0x10, %eax"
  fault w, write, "movl $0x20, %edi", "movl %eax, (%edi)"
  fault c, code, "", "movl %eax, _start"
  fault j, jump, "movl $0x12345678, %eax", "jmp *%eax"
  fault x, data, "movl $data_word, %eax", "jmp *%eax"
  fault e, next_page, "", "jmp at_edge"
  fault u, ud2, "", "ud2"
  fault d, div, "xorl %ecx, %ecx; movl $7, %eax; xorl %edx, %edx", "divl %ecx"
  fault i, int3, "", "int3"
  fault n, int81, "", "int $0x81"
  fault l, loop, "", "jmp at_loop"
  fault s, stack, "", "call at_stack"
  fault h, hlt, "", "hlt"
  fault k, below, "subl $0x100100, %esp", "movl %eax, 4(%esp)"
  fault p, port, "movl $2, %ecx", "inb $0x60, %al", "movl $2, %eax; movl $99, %ebx; int $0x80"
  fault y, syscall, "", "syscall"
  fault g, debug, "movl $1, %eax", "movl %eax, %dr7"
  fault f, far, "", ".byte 0xff, 0xd8"

  /* The last byte of the code: a mov whose ModRM byte would be the first
   * byte of the read-only data after it. */
  .section .text.zz_edge,"ax"
  .balign 4096
  .skip 4095, 0x90
  .globl at_edge
at_edge:
  .byte 0x89

  .section .rodata
  .balign 4
table:
  .long done, done, f_c, f_d, f_e, f_f, f_g, f_h, f_i, f_j, f_k, f_l, done
  .long f_n, done, f_p, done, f_r, f_s, done, f_u, done, f_w, f_x, f_y, done

  .data
  .globl data_word
data_word:
  .long 0xc3c3c3c3
