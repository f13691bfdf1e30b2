/* A small command interpreter for tests: argv[1..] is a list of operations,
 * each a one-letter word followed by its operands. Every trap's result is in
 * the trace; the exit status is the number of traps that failed (negative
 * result), unless "e N" exits with N first.
 *
 *   c P      open P for reading, read up to 4096 bytes, print them, close
 *   w P T    writefile(P, T, strlen T)
 *   a P T    open P with write|create|append, write T, close
 *   l P      open P, lseek to the end, lseek to 2, read 3 bytes, print them
 *   d P  m P  u P  x P  f P     chdir, mkdir, unlink, rmdir, mkfifo
 *   p        getcwd into a buffer, print it and a newline
 *   r L      run request with the line L
 *   s P      spawn(P, 0, 0), then waitpid(pid, &status, 0)
 *   S P      spawn(P, own argv, own argc) and waitpid: runs itself again
 *   k        getkey
 *   i        read up to 4096 bytes from descriptor 0 and print them
 *   P        pipe: write "pipe!", read it back and print it, read again, close
 *   F P      open named pipe P for writing and for reading, pass "fifo!"
 *   z P T    zoror_stream_begin(P), _write(T), _end
 *   D        dup(1) and dup2(1, 9), print through both, close them
 *   t        usleep(200000)
 *   n        fd_set_inherit(1), fd_set_stdio(0, 1, 1), fd_set_nonblock(0, 1)
 *   K        console packet 0xFF 1 2 3
 *   B        services with bad pointers and counts, then print "alive"
 *   E        strings at the edges: a path running into unmapped memory, one
 *            ending on the last mapped byte, one of 5000 bytes
 *   N        unknown services 0 and 77
 *   e N      _exit(N)
 */
#define SYS(n) movl $n, %eax; int $0x80; call check

.macro nextarg reg
  xorl \reg, \reg
  cmpl %ebp, %esi
  jae .Lna\@
  movl (%esi), \reg
  addl $4, %esi
.Lna\@:
.endm

  .section .text._start,"ax"
  .globl _start
_start:
  movl (%esp), %ebp
  movl %ebp, argc_val
  leal 4(%esp), %esi
  movl %esi, argv_base
  leal (%esi,%ebp,4), %ebp
  addl $4, %esi
next:
  cmpl %ebp, %esi
  jae finish
  movl (%esi), %eax
  addl $4, %esi
  testl %eax, %eax
  jz next
  movzbl (%eax), %eax
  leal optable, %edx
1:
  movzbl (%edx), %ecx
  testl %ecx, %ecx
  jz next
  cmpl %eax, %ecx
  je 2f
  addl $8, %edx
  jmp 1b
2:
  jmp *4(%edx)

finish:
  movl failures, %ebx
  SYS(2)

check:
  testl %eax, %eax
  jns 1f
  incl failures
1:
  ret

/* %edi: string -> %edx: its length */
slen:
  xorl %edx, %edx
  testl %edi, %edi
  jz 2f
1:
  cmpb $0, (%edi,%edx)
  je 2f
  incl %edx
  jmp 1b
2:
  ret

/* print(%ecx = buffer, %edx = count) on descriptor 1 when count > 0 */
print:
  testl %edx, %edx
  jle 1f
  movl $1, %ebx
  SYS(1)
1:
  ret

op_cat:
  nextarg %ebx
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(4)
  testl %eax, %eax
  js next
  movl %eax, fd_a
  movl %eax, %ebx
  movl $buf, %ecx
  movl $4096, %edx
  SYS(3)
  movl %eax, %edx
  movl $buf, %ecx
  call print
  movl fd_a, %ebx
  SYS(5)
  jmp next

op_writefile:
  nextarg %ebx
  nextarg %edi
  call slen
  movl %edi, %ecx
  SYS(21)
  jmp next

op_append:
  nextarg %ebx
  movl $0x441, %ecx
  movl $0x441, %edx
  SYS(4)
  testl %eax, %eax
  js 1f
  movl %eax, fd_a
  nextarg %edi
  call slen
  movl %edi, %ecx
  movl fd_a, %ebx
  SYS(1)
  movl fd_a, %ebx
  SYS(5)
  jmp next
1:
  nextarg %edi
  jmp next

op_lseek:
  nextarg %ebx
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(4)
  testl %eax, %eax
  js next
  movl %eax, fd_a
  movl %eax, %ebx
  xorl %ecx, %ecx
  movl $2, %edx
  SYS(110)
  movl fd_a, %ebx
  movl $2, %ecx
  xorl %edx, %edx
  SYS(110)
  movl fd_a, %ebx
  movl $buf, %ecx
  movl $3, %edx
  SYS(3)
  movl %eax, %edx
  movl $buf, %ecx
  call print
  movl fd_a, %ebx
  SYS(5)
  jmp next

op_chdir:
  nextarg %ebx
  SYS(95)
  jmp next
op_mkdir:
  nextarg %ebx
  SYS(49)
  jmp next
op_unlink:
  nextarg %ebx
  SYS(50)
  jmp next
op_rmdir:
  nextarg %ebx
  SYS(51)
  jmp next
op_mkfifo:
  nextarg %ebx
  SYS(125)
  jmp next

op_getcwd:
  movl $buf, %ebx
  movl $4096, %ecx
  xorl %edx, %edx
  SYS(52)
  movl %eax, %edx
  movl $buf, %ecx
  call print
  movl $newline, %ecx
  movl $1, %edx
  call print
  jmp next

op_run:
  nextarg %ebx
  SYS(96)
  jmp next

op_spawn:
  nextarg %ebx
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(131)
  jmp wait_child
op_spawn_self:
  nextarg %ebx
  movl argv_base, %ecx
  movl argc_val, %edx
  SYS(131)
wait_child:
  testl %eax, %eax
  jle next
  movl %eax, %ebx
  movl $child_status, %ecx
  xorl %edx, %edx
  SYS(132)
  jmp next

op_getkey:
  SYS(6)
  jmp next

op_input:
  xorl %ebx, %ebx
  movl $buf, %ecx
  movl $4096, %edx
  SYS(3)
  movl %eax, %edx
  movl $buf, %ecx
  call print
  jmp next

op_pipe:
  movl $fds, %ebx
  SYS(124)
  testl %eax, %eax
  js next
  movl fds+4, %ebx
  movl $pipe_text, %ecx
  movl $5, %edx
  SYS(1)
  movl fds, %ebx
  movl $buf, %ecx
  movl $16, %edx
  SYS(3)
  movl %eax, %edx
  movl $buf, %ecx
  call print
  movl fds, %ebx
  movl $buf, %ecx
  movl $16, %edx
  SYS(3)
  movl fds, %ebx
  SYS(5)
  movl fds+4, %ebx
  SYS(5)
  jmp next

op_fifo:
  nextarg %edi
  movl %edi, %ebx
  movl $1, %ecx
  xorl %edx, %edx
  SYS(4)
  movl %eax, fd_a
  movl %edi, %ebx
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(4)
  movl %eax, fd_b
  movl fd_a, %ebx
  movl $fifo_text, %ecx
  movl $5, %edx
  SYS(1)
  movl fd_b, %ebx
  movl $buf, %ecx
  movl $16, %edx
  SYS(3)
  movl %eax, %edx
  movl $buf, %ecx
  call print
  movl fd_a, %ebx
  SYS(5)
  movl fd_b, %ebx
  SYS(5)
  jmp next

op_stream:
  nextarg %ebx
  SYS(53)
  movl %eax, fd_a
  nextarg %edi
  call slen
  movl fd_a, %ebx
  movl %edi, %ecx
  SYS(54)
  movl fd_a, %ebx
  SYS(55)
  jmp next

op_dup:
  movl $1, %ebx
  SYS(126)
  movl %eax, fd_a
  movl %eax, %ebx
  movl $dup_text, %ecx
  movl $4, %edx
  SYS(1)
  movl $1, %ebx
  movl $9, %ecx
  xorl %edx, %edx
  SYS(127)
  movl $9, %ebx
  movl $dup2_text, %ecx
  movl $5, %edx
  SYS(1)
  movl fd_a, %ebx
  SYS(5)
  movl $9, %ebx
  SYS(5)
  jmp next

op_sleep:
  movl $200000, %ebx
  SYS(22)
  jmp next

op_fdset:
  movl $1, %ebx
  SYS(128)
  xorl %ebx, %ebx
  movl $1, %ecx
  movl $1, %edx
  SYS(129)
  xorl %ebx, %ebx
  movl $1, %ecx
  xorl %edx, %edx
  SYS(130)
  jmp next

op_packet:
  movl $1, %ebx
  movl $packet, %ecx
  movl $4, %edx
  SYS(1)
  jmp next

op_bad:
  movl $1, %ebx          /* write from page 0 */
  movl $0x10, %ecx
  movl $4, %edx
  SYS(1)
  movl $1, %ebx          /* write running off the bottom of the stack */
  movl $0xBFEFFFFE, %ecx
  movl $8, %edx
  SYS(1)
  xorl %ebx, %ebx        /* read into code */
  movl $_start, %ecx
  movl $4, %edx
  SYS(3)
  xorl %ebx, %ebx        /* read far past the buffer's mapping */
  movl $buf, %ecx
  movl $0x7fffffff, %edx
  SYS(3)
  xorl %ebx, %ebx        /* negative count */
  movl $buf, %ecx
  movl $-1, %edx
  SYS(3)
  movl $0x10, %ebx       /* open of a path in page 0 */
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(4)
  movl $0xC0000000, %ebx /* path just above the stack */
  SYS(49)
  movl $bad_path, %ebx   /* writefile from an unmapped buffer */
  movl $0x10, %ecx
  movl $5, %edx
  SYS(21)
  movl $0x400000, %ebx   /* getcwd into code */
  movl $64, %ecx
  SYS(52)
  movl $0x400000, %ebx   /* pipe into code */
  SYS(124)
  movl $-1, %ebx         /* waitpid status into code */
  movl $0x400000, %ecx
  xorl %edx, %edx
  SYS(132)
  movl $0x10, %ebx       /* spawn and run request of unmapped strings */
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(131)
  movl $bad_path, %ebx   /* spawn with an unmapped argument vector */
  movl $0x20, %ecx
  movl $2, %edx
  SYS(131)
  movl $0x10, %ebx
  SYS(96)
  movl $alive, %ecx
  movl $6, %edx
  call print
  jmp next

op_edges:
  movl $bss_end, %edi         /* the end of the writable mapping */
  addl $0xfff, %edi
  andl $0xfffff000, %edi
  subl $16, %edi
  movl %edi, %ebx
  movl $16, %ecx
1:
  movb $'A', (%ebx)
  incl %ebx
  loop 1b
  movl %edi, %ebx             /* no NUL before the unmapped page */
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(4)
  movb $0, 15(%edi)           /* NUL on the last mapped byte */
  movl %edi, %ebx
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(4)
  movl $buf, %ebx             /* 5000 bytes before the NUL */
  movl $5000, %ecx
2:
  movb $'A', (%ebx)
  incl %ebx
  loop 2b
  movb $0, (%ebx)
  movl $buf, %ebx
  xorl %ecx, %ecx
  xorl %edx, %edx
  SYS(4)
  jmp next

op_unknown:
  xorl %ebx, %ebx
  SYS(0)
  SYS(77)
  jmp next

op_exit:
  nextarg %edi
  xorl %ebx, %ebx
  testl %edi, %edi
  jz 2f
1:
  movzbl (%edi), %eax
  subl $'0', %eax
  cmpl $9, %eax
  ja 2f
  imull $10, %ebx
  addl %eax, %ebx
  incl %edi
  jmp 1b
2:
  SYS(2)

  .section .rodata
  .balign 4
optable:
  .long 'c', op_cat, 'w', op_writefile, 'a', op_append, 'l', op_lseek
  .long 'd', op_chdir, 'm', op_mkdir, 'u', op_unlink, 'x', op_rmdir
  .long 'f', op_mkfifo, 'p', op_getcwd, 'r', op_run, 's', op_spawn
  .long 'S', op_spawn_self, 'k', op_getkey, 'i', op_input, 'P', op_pipe
  .long 'F', op_fifo, 'z', op_stream, 'D', op_dup, 't', op_sleep
  .long 'n', op_fdset, 'K', op_packet, 'B', op_bad, 'N', op_unknown
  .long 'e', op_exit, 'E', op_edges, 0, 0
newline: .ascii "\n"
pipe_text: .ascii "pipe!"
fifo_text: .ascii "fifo!"
dup_text: .ascii "dup\n"
dup2_text: .ascii "dup2\n"
alive: .ascii "alive\n"
packet: .byte 0xFF, 1, 2, 3
bad_path: .asciz "/bad-store"

  .data
failures: .long 0
  .bss
  .balign 4
argc_val: .long 0
argv_base: .long 0
fd_a: .long 0
fd_b: .long 0
fds: .long 0, 0
child_status: .long 0
buf: .space 8192
bss_end:
