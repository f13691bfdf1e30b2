// A greeting, and the arguments the program was started with.
#include <stdio.h>

int main(int argc, char** argv) {
  puts("Hello from ridid!");
  for (int i = 1; i < argc; ++i) {
    fputs("  argument: ", stdout);
    puts(argv[i]);
  }
  return 0;
}
