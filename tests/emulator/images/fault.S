/* Commits one guest fault, chosen by the first letter of argv[1]:
 * r unmapped read, w unmapped write, c write to code, j jump to unmapped,
 * x jump into data (not executable), u ud2, d divide by zero, i int3,
 * n int 0x81, l endless loop, s stack overflow, h hlt, p port input (with an
 * _exit right after it), y syscall, g an instruction breakpoint set in DR7,
 * f a far call through a register (an encoding the processor emulation
 * cannot translate).
 * Without an argument it exits with status 0. */
  .section .text._start,"ax"
  .globl _start
_start:
  cmpl $2, (%esp)
  jl done
  movl 8(%esp), %esi
  movzbl (%esi), %eax
  cmpb $'r', %al
  je f_read
  cmpb $'w', %al
  je f_write
  cmpb $'c', %al
  je f_code
  cmpb $'j', %al
  je f_jump
  cmpb $'x', %al
  je f_data
  cmpb $'u', %al
  je f_ud2
  cmpb $'d', %al
  je f_div
  cmpb $'i', %al
  je f_int3
  cmpb $'n', %al
  je f_int81
  cmpb $'l', %al
  je f_loop
  cmpb $'s', %al
  je f_stack
  cmpb $'h', %al
  je f_hlt
  cmpb $'p', %al
  je f_port
  cmpb $'y', %al
  je f_syscall
  cmpb $'g', %al
  je f_debug
  cmpb $'f', %al
  je f_far
done:
  movl $2, %eax
  xorl %ebx, %ebx
  int $0x80
  .globl at_read
at_read:
f_read:
  movl 0x10, %eax
  jmp done
f_write:
  movl $0x20, %edi
  .globl at_write
at_write:
  movl %eax, (%edi)
  jmp done
f_code:
  .globl at_code
at_code:
  movl %eax, _start
  jmp done
f_jump:
  movl $0x12345678, %eax
  jmp *%eax
f_data:
  movl $data_word, %eax
  jmp *%eax
f_ud2:
  .globl at_ud2
at_ud2:
  ud2
f_div:
  xorl %ecx, %ecx
  movl $7, %eax
  xorl %edx, %edx
  .globl at_div
at_div:
  divl %ecx
  jmp done
f_int3:
  int3
  jmp done
f_int81:
  int $0x81
  jmp done
f_loop:
  jmp f_loop
f_stack:
  call f_stack
f_hlt:
  hlt
  jmp done
f_port:
  inb $0x60, %al
  movl $2, %eax
  movl $99, %ebx
  int $0x80
f_syscall:
  .globl at_syscall
at_syscall:
  syscall
  jmp done

f_debug:
  movl $1, %eax
  .globl at_debug
at_debug:
  movl %eax, %dr7
  jmp done

f_far:
  .byte 0xff, 0xd8   /* lcall *%eax: no memory operand, no meaning */
  jmp done

  .data
  .globl data_word
data_word:
  .long 0xc3c3c3c3
