/* A real program: a small stack-machine interpreter (a switch over one-byte
 * operations) running a program that counts the primes below argv[1]
 * (default 30000) by trial division. The same source builds for ridid and
 * for Linux i386. */
#include <stdlib.h>

enum Op { PUSH, LOAD, STORE, ADD, SUB, MUL, DIV, MOD, LESS, JUMP, JUMP_IF_ZERO, HALT };

// Slot 0 holds n; 1 the candidate, 2 the divisor, 3 the count of primes,
// 4 whether the candidate has a divisor. Each line starts at the offset in
// its comment.
static const int kProgram[] = {
    PUSH, 2, STORE, 1,                                          // 0: candidate = 2
    PUSH, 0, STORE, 3,                                          // 4: count = 0
    LOAD, 1, LOAD, 0, LESS, JUMP_IF_ZERO, 75,                   // 8: while candidate < n
    PUSH, 2, STORE, 2,                                          // 15: divisor = 2
    PUSH, 0, STORE, 4,                                          // 19: composite = 0
    LOAD, 2, LOAD, 2, MUL, LOAD, 1, PUSH, 1, ADD, LESS,         // 23: while divisor^2 <= candidate
    JUMP_IF_ZERO, 56,                                           // 34
    LOAD, 1, LOAD, 2, MOD, JUMP_IF_ZERO, 52,                    // 36: divides: composite
    LOAD, 2, PUSH, 1, ADD, STORE, 2, JUMP, 23,                  // 43: ++divisor
    PUSH, 1, STORE, 4,                                          // 52: composite = 1
    LOAD, 3, PUSH, 1, LOAD, 4, SUB, ADD, STORE, 3,              // 56: count += 1 - composite
    LOAD, 1, PUSH, 1, ADD, STORE, 1, JUMP, 8,                   // 66: ++candidate
    HALT,                                                       // 75
};

static int run(const int* code, int n) {
  int stack[64], slot[8] = {n};
  int sp = 0, pc = 0;
  for (;;) {
    switch (code[pc++]) {
      case PUSH: stack[sp++] = code[pc++]; break;
      case LOAD: stack[sp++] = slot[code[pc++]]; break;
      case STORE: slot[code[pc++]] = stack[--sp]; break;
      case ADD: --sp; stack[sp - 1] += stack[sp]; break;
      case SUB: --sp; stack[sp - 1] -= stack[sp]; break;
      case MUL: --sp; stack[sp - 1] *= stack[sp]; break;
      case DIV: --sp; stack[sp - 1] /= stack[sp]; break;
      case MOD: --sp; stack[sp - 1] %= stack[sp]; break;
      case LESS: --sp; stack[sp - 1] = stack[sp - 1] < stack[sp]; break;
      case JUMP: pc = code[pc]; break;
      case JUMP_IF_ZERO: pc = stack[--sp] ? pc + 1 : code[pc]; break;
      default: return slot[3];
    }
  }
}

int main(int argc, char** argv) {
  return run(kProgram, argc > 1 ? atoi(argv[1]) : 30000) & 0x7f;
}
