/* Prints each argument on a line of its own ("(null)" for a null entry) and
 * exits with the argument count. Exits with 200 when a register other than
 * ESP was not 0 at entry, 201 when the vector is not null-terminated, 202
 * when the x87 control word is not at its default. */
  .section .text._start,"ax"
  .globl _start
_start:
  orl %ebx, %eax
  orl %ecx, %eax
  orl %edx, %eax
  orl %esi, %eax
  orl %edi, %eax
  orl %ebp, %eax
  jz 1f
  movl $200, %ebx
  jmp quit
1:
  fnstcw cw
  cmpw $0x037f, cw
  je 2f
  movl $202, %ebx
  jmp quit
2:
  movl (%esp), %ebp
  cmpl $0, 4(%esp,%ebp,4)
  je 3f
  movl $201, %ebx
  jmp quit
3:
  leal 4(%esp), %esi
  xorl %edi, %edi
each:
  cmpl %ebp, %edi
  jae done
  movl (%esi,%edi,4), %ecx
  testl %ecx, %ecx
  jnz 4f
  movl $null_text, %ecx
4:
  xorl %edx, %edx
5:
  cmpb $0, (%ecx,%edx)
  je 6f
  incl %edx
  jmp 5b
6:
  movl $1, %ebx
  movl $1, %eax
  int $0x80
  movl $1, %ebx
  movl $newline, %ecx
  movl $1, %edx
  movl $1, %eax
  int $0x80
  incl %edi
  jmp each
done:
  movl %ebp, %ebx
quit:
  movl $2, %eax
  int $0x80

  .section .rodata
null_text: .asciz "(null)"
newline: .ascii "\n"
  .bss
cw: .short 0
