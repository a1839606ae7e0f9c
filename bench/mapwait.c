/* Starts a program and reports when its first top-level window is mapped, the CPU time it
 * uses over a quiet spell after that, and its peak resident memory.
 * Usage: mapwait LINGER_SECONDS CPU_SPELL_SECONDS program [arguments...]
 * Prints "startup_seconds cpu_milliseconds peak_rss_kilobytes" (cpu is -1 without a spell). */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static long windowPid(Display* display, Window window) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = NULL;
    long pid = -1;
    Atom property = XInternAtom(display, "_NET_WM_PID", False);
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success &&
        data && count == 1)
        pid = *(long*)data;
    if (data)
        XFree(data);
    return pid;
}

/* utime + stime of a process in milliseconds, from /proc. */
static long cpuMilliseconds(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    FILE* file = fopen(path, "r");
    if (!file)
        return -1;
    unsigned long utime = 0, stime = 0;
    /* Fields 14 and 15; the command name in field 2 has no spaces for the programs measured. */
    int read = fscanf(file, "%*d %*s %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    fclose(file);
    if (read != 2)
        return -1;
    return (long)((utime + stime) * 1000 / sysconf(_SC_CLK_TCK));
}

static int ignoreErrors(Display* display, XErrorEvent* error) {
    (void)display;
    (void)error;
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: mapwait LINGER_SECONDS CPU_SPELL_SECONDS program [arguments...]\n");
        return 2;
    }
    double linger = atof(argv[1]);
    double spell = atof(argv[2]);
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "mapwait: no display\n");
        return 2;
    }
    /* A window may be gone before its property is read. */
    XSetErrorHandler(ignoreErrors);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    double start = now();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        /* Only our own figures go to standard output. */
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    double mapped = -1;
    while (mapped < 0 && now() - start < 60) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect &&
                windowPid(display, event.xmap.window) == pid)
                mapped = now();
        }
        if (mapped < 0) {
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                fprintf(stderr, "mapwait: %s ended without a window\n", argv[3]);
                return 1;
            }
            usleep(1000);
        }
    }
    long cpu = -1;
    if (mapped >= 0 && spell > 0) {
        usleep(1000000); /* let it settle after start-up */
        long before = cpuMilliseconds(pid);
        usleep((useconds_t)(spell * 1e6));
        cpu = cpuMilliseconds(pid) - before;
    } else if (mapped >= 0) {
        usleep((useconds_t)(linger * 1e6));
    }
    kill(-pid, SIGTERM);
    int status;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    if (mapped < 0) {
        fprintf(stderr, "mapwait: no window from %s within 60 s\n", argv[3]);
        return 1;
    }
    printf("%.4f %ld %ld\n", mapped - start, cpu, usage.ru_maxrss);
    return 0;
}
