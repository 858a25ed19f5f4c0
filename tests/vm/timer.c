/*
 * timer: runs commands one after the other and prints the elapsed time on
 * the monotonic clock, in nanoseconds, on standard output.
 *
 *   timer CMD [ARG...] [-- CMD [ARG...]]...
 *
 * The commands' own standard output goes to standard error, so that the
 * figure is the only thing on standard output. Stops at the first command
 * that fails and exits with its status (128 + signal when it was killed,
 * 127 when it could not be run); the time is printed in every case.
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static int run(char **argv)
{
    pid_t pid = fork();
    if (pid < 0) {
        perror("timer: fork");
        return 127;
    }
    if (pid == 0) {
        dup2(2, 1);
        execvp(argv[0], argv);
        fprintf(stderr, "timer: cannot run %s\n", argv[0]);
        _exit(127);
    }
    int status;
    if (waitpid(pid, &status, 0) < 0) {
        perror("timer: waitpid");
        return 127;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int main(int argc, char **argv)
{
    if (argc < 2 || strcmp(argv[1], "--") == 0) {
        fprintf(stderr, "usage: timer CMD [ARG...] [-- CMD [ARG...]]...\n");
        return 2;
    }
    int status = 0;
    long long start = now_ns();
    for (int i = 1; i < argc && status == 0;) {
        int end = i;
        while (end < argc && strcmp(argv[end], "--") != 0)
            end++;
        argv[end] = NULL; /* a "--", or argv[argc], which is NULL already */
        if (end > i)
            status = run(argv + i);
        i = end + 1;
    }
    long long elapsed = now_ns() - start;
    printf("%lld\n", elapsed);
    return status;
}
