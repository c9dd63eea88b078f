/* The floor for reading an input: opens a file, reads it whole into one buffer
 * of its exact size, and exits. What every road costs before it does any work.
 * Usage: hold-file FILE */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  int fd = open(argv[1], O_RDONLY);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    perror(argv[1]);
    return 1;
  }
  size_t size = (size_t)info.st_size, filled = 0;
  char* bytes = malloc(size ? size : 1);
  while (filled < size) {
    ssize_t n = read(fd, bytes + filled, size - filled);
    if (n <= 0) break;
    filled += (size_t)n;
  }
  close(fd);
  /* One byte from every page, so the buffer is not optimised away. */
  unsigned sum = 0;
  for (size_t i = 0; i < filled; i += 4096) sum += (unsigned char)bytes[i];
  free(bytes);
  return sum == 0xFFFFFFFFu;
}
