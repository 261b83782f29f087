/* The floor for the check cycle: stat() each file of a list, rest one second
 * after the end of each pass (as the service schedules its next check), and
 * count the passes and this process's own CPU over a window.
 *
 *   stat_loop LIST WARMUP_S WINDOW_S
 *
 * LIST holds one path a line. After WARMUP_S seconds of passes it reads its
 * user + system ticks from /proc/self/stat, runs WINDOW_S seconds more, reads
 * them again and prints "passes=N ticks=T seconds=S".
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* utime + stime, fields 14 and 15, counted after the command name's ')'. */
static long long own_ticks(void)
{
    char text[1024];
    FILE* f = fopen("/proc/self/stat", "r");
    if (!f) {
        return -1;
    }
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = '\0';
    const char* p = strrchr(text, ')');
    if (!p) {
        return -1;
    }
    unsigned long long utime = 0, stime = 0;
    /* After ')': state(3) ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime(14) stime(15) */
    if (sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) {
        return -1;
    }
    return (long long)(utime + stime);
}

static volatile long long g_sink;

static void pass(char** paths, size_t count)
{
    struct stat info;
    long long sum = 0;
    for (size_t i = 0; i < count; ++i) {
        if (stat(paths[i], &info) == 0) {
            sum += (long long)info.st_mtim.tv_sec;
        }
    }
    g_sink = sum; /* keeps the calls from being dropped */
}

static void rest(void)
{
    struct timespec second = {1, 0};
    while (nanosleep(&second, &second) != 0) { }
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s LIST WARMUP_S WINDOW_S\n", argv[0]);
        return 2;
    }
    FILE* list = fopen(argv[1], "r");
    if (!list) {
        perror(argv[1]);
        return 1;
    }
    size_t count = 0, capacity = 1024;
    char** paths = malloc(capacity * sizeof *paths);
    char* line = NULL;
    size_t size = 0;
    ssize_t length;
    while ((length = getline(&line, &size, list)) > 0) {
        if (line[length - 1] == '\n') {
            line[length - 1] = '\0';
        }
        if (count == capacity) {
            capacity *= 2;
            paths = realloc(paths, capacity * sizeof *paths);
        }
        paths[count++] = strdup(line);
    }
    fclose(list);
    free(line);

    const double warmup = atof(argv[2]), window = atof(argv[3]);
    const double start = now();
    while (now() - start < warmup) {
        pass(paths, count);
        rest();
    }
    const long long before = own_ticks();
    const double from = now();
    long passes = 0;
    while (now() - from < window) {
        pass(paths, count);
        ++passes;
        rest();
    }
    const long long after = own_ticks();
    printf("passes=%ld ticks=%lld seconds=%.3f\n", passes, after - before, now() - from);
    return 0;
}
