/* hello: greets, then lists its arguments. */
#include <stdio.h>

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
