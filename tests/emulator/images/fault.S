/* Commits one guest fault, chosen by the first letter of argv[1]:
 * r unmapped read, w unmapped write, c write to code, j jump to unmapped,
 * x jump into data (not executable), e an instruction whose second byte is
 * on the next page, which is not executable, u ud2, d divide by zero,
 * i int3, n int 0x81, l endless loop, s stack overflow, k a store below the
 * stack through ESP, h hlt, p port input
 * (with an _exit right after it), y syscall, g an instruction breakpoint set
 * in DR7, f a far call through a register (an encoding the processor
 * emulation cannot translate). Without an argument it exits with status 0. */
  .section .text._start,"ax"
  .globl _start
_start:
  cmpl $2, (%esp)
  jl done
  movl 8(%esp), %esi
  movzbl (%esi), %eax
  subl $'a', %eax
  cmpl $25, %eax
  ja done
  jmp *table(,%eax,4)
done:
  movl $2, %eax
  xorl %ebx, %ebx
  int $0x80
  .globl at_read
at_read:
f_r:
  movl 0x10, %eax
  jmp done
f_w:
  movl $0x20, %edi
  .globl at_write
at_write:
  movl %eax, (%edi)
  jmp done
  .globl at_code
at_code:
f_c:
  movl %eax, _start
  jmp done
f_j:
  movl $0x12345678, %eax
  jmp *%eax
f_x:
  movl $data_word, %eax
  jmp *%eax
f_e:
  jmp at_edge
  .globl at_ud2
at_ud2:
f_u:
  ud2
f_d:
  xorl %ecx, %ecx
  movl $7, %eax
  xorl %edx, %edx
  .globl at_div
at_div:
  divl %ecx
  jmp done
  .globl at_int3
at_int3:
f_i:
  int3
  jmp done
  .globl at_int81
at_int81:
f_n:
  int $0x81
  jmp done
f_l:
  jmp f_l
  .globl at_stack
at_stack:
f_s:
  call f_s
  .globl at_hlt
at_hlt:
f_h:
  hlt
  jmp done
f_k:
  subl $0x100100, %esp
  .globl at_below
at_below:
  movl %eax, 4(%esp)
  jmp done
f_p:
  movl $2, %ecx
  .globl at_port
at_port:
  inb $0x60, %al
  movl $2, %eax
  movl $99, %ebx
  int $0x80
  .globl at_syscall
at_syscall:
f_y:
  syscall
  jmp done
f_g:
  movl $1, %eax
  .globl at_debug
at_debug:
  movl %eax, %dr7
  jmp done
f_f:
  .byte 0xff, 0xd8   /* lcall *%eax: no memory operand, no meaning */
  jmp done

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
