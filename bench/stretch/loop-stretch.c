// Preloaded into the window program, it measures how long the main thread
// stays away from its event loop: the time from one return of poll() or
// ppoll() on that thread to its next call. The window takes its input and
// repaints only in those calls, so each stretch is a time the window froze.
//
//   LD_PRELOAD=libloop-stretch.so STRETCH_LOG=FILE [STRETCH_MS=30] reindex
//
// Every stretch of STRETCH_MS or more goes to FILE as a line "END MS": the
// wall clock (seconds since the epoch) when it ended, and its length in
// milliseconds; at exit a line "longest MS" follows.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double since;   // when the main thread last came back from a poll
static double longest; // ms
static double threshold = 30;
static FILE *out;

static double seconds(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int onMainThread(void)
{
    return gettid() == getpid();
}

__attribute__((constructor)) static void start(void)
{
    const char *ms = getenv("STRETCH_MS");
    if (ms)
        threshold = atof(ms);
    const char *log = getenv("STRETCH_LOG");
    out = log ? fopen(log, "w") : NULL;
    if (out)
        setvbuf(out, NULL, _IOLBF, 0);
}

__attribute__((destructor)) static void stop(void)
{
    if (out)
        fprintf(out, "longest %.1f\n", longest);
}

static void entering(void)
{
    if (!onMainThread())
        return;
    const double now = seconds(CLOCK_MONOTONIC);
    if (since > 0) {
        const double ms = (now - since) * 1000;
        if (ms > longest)
            longest = ms;
        if (ms >= threshold && out)
            fprintf(out, "%.6f %.1f\n", seconds(CLOCK_REALTIME), ms);
    }
}

static void returned(void)
{
    if (onMainThread())
        since = seconds(CLOCK_MONOTONIC);
}

int poll(struct pollfd *fds, nfds_t n, int timeout)
{
    static int (*real)(struct pollfd *, nfds_t, int);
    if (!real)
        *(void **)&real = dlsym(RTLD_NEXT, "poll");
    entering();
    const int rc = real(fds, n, timeout);
    returned();
    return rc;
}

int ppoll(struct pollfd *fds, nfds_t n, const struct timespec *timeout, const sigset_t *mask)
{
    static int (*real)(struct pollfd *, nfds_t, const struct timespec *, const sigset_t *);
    if (!real)
        *(void **)&real = dlsym(RTLD_NEXT, "ppoll");
    entering();
    const int rc = real(fds, n, timeout, mask);
    returned();
    return rc;
}
