/* The program ridid_add_test's checks run (checks/CMakeLists.txt):
 *   probe append LINE   appends LINE to /log.txt, then prints the whole file
 *   probe strlen        faults inside the library's strlen
 *   probe semicolon     prints "a;b" */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv)
{
  if (argc == 3 && strcmp(argv[1], "append") == 0) {
    char text[256];
    int fd = open("/log.txt", O_WRONLY | O_APPEND);
    ssize_t n;
    if (fd < 0) return 1;
    write(fd, argv[2], strlen(argv[2]));
    write(fd, "\n", 1);
    close(fd);
    fd = open("/log.txt", O_RDONLY);
    while ((n = read(fd, text, sizeof text)) > 0) write(1, text, n);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "strlen") == 0) return (int)strlen((const char*)0x10000000);
  if (argc == 2 && strcmp(argv[1], "semicolon") == 0) return puts("a;b") < 0;
  return 2;
}
