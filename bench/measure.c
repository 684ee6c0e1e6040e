/* Runs a command and prints its wall time, CPU time (user + system) and peak
 * resident memory:
 *
 *   measure COMMAND [ARGUMENT...]   ->   "<wall s> <cpu s> <peak bytes>"
 *
 * A small process of its own starts the command, so the peak is the
 * command's alone: Linux counts the memory of the process that forked it, up
 * to the exec, in the child's peak, and a Python parent is large. The
 * command's standard output is discarded; its exit status is passed on.
 *
 * Build: cc -O2 -o measure measure.c
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s COMMAND [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = fork();
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
    perror("measure");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("%.6f %.6f %ld\n",
         (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9,
         (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
         usage.ru_maxrss * 1024L);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
