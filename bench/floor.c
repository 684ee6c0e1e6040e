/* The floor that Quillane's main job is measured against: the least work that
 * still reads N bytes, looks at each of them and writes N + 1 KiB.
 *
 *   floor IN OUT
 *
 * One read(2) of the whole input into one malloc'd buffer (repeated only when
 * the kernel delivers less), memchr over it counting "/" bytes, 1 KiB of
 * filler appended in the same buffer, one write(2) of it all to OUT. Prints
 * the count so the scan cannot be optimised away.
 *
 * Build: cc -O2 -o floor floor.c
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kTail = 1024 };

static int Fail(const char* what) {
  perror(what);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s IN OUT\n", argv[0]);
    return 2;
  }
  const int in = open(argv[1], O_RDONLY);
  struct stat info;
  if (in < 0 || fstat(in, &info) != 0) return Fail(argv[1]);
  const size_t size = (size_t)info.st_size;
  char* buffer = malloc(size + kTail);
  if (buffer == NULL) return Fail("malloc");
  size_t done = 0;
  while (done < size) {
    const ssize_t got = read(in, buffer + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Fail(argv[1]);
    done += (size_t)got;
  }
  close(in);

  size_t slashes = 0;
  for (const char *p = buffer, *end = buffer + size;
       (p = memchr(p, '/', (size_t)(end - p))) != NULL; ++p) {
    ++slashes;
  }
  memset(buffer + size, '\n', kTail);

  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return Fail(argv[2]);
  for (size_t written = 0; written < size + kTail;) {
    const ssize_t put = write(out, buffer + written, size + kTail - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Fail(argv[2]);
    written += (size_t)put;
  }
  if (close(out) != 0) return Fail(argv[2]);
  free(buffer);
  printf("%zu\n", slashes);
  return 0;
}
