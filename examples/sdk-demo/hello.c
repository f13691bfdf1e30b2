/* hello: greets, then lists its arguments. */
#include <stdio.h>

/* The command record the shell reads without running the program: magic,
 * version 1, description, synopsis; the literal's own NUL closes the texts. */
__attribute__((section(".ridid.cmdmeta"), used, aligned(32)))
const char g_cmdmeta_0[] =
    "KCMD" "\1\0\0\0"
    "Say hello and list the arguments.\0"
    "hello [args...]\0";

int main(int argc, char** argv)
{
  int i;

  puts("Hello from ridid!");
  /* printf has no flags: "%s" and "%d" plain, widths pad on the left only. */
  printf("%s has %d args\n", argv[0], argc - 1);
  for (i = 1; i < argc; i++)
    printf("%3d: %s\n", i, argv[i]);
  return 0;
}
