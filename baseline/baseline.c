/* Binds the C-library calls that this toolchain would take at versions newer than the oldest
   systems we run on to their oldest versions. ostrel_baseline() (baseline.cmake) links it into
   each shipped program and sends the calls here with -Wl,--wrap=NAME. */
#define _GNU_SOURCE
#include <stdarg.h>
#include <stddef.h>
#include <sys/stat.h>

#if defined(__x86_64__)
#define BASE_VERSION "GLIBC_2.2.5"
#define XSTAT64_VERSION "GLIBC_2.2.5"
/* _STAT_VER_LINUX of x86-64: the one layout of struct stat there. */
#define STAT_LAYOUT 1
#elif defined(__i386__)
#define BASE_VERSION "GLIBC_2.0"
/* 2.2 gave __xstat64 the struct stat64 with 64-bit inode numbers that our headers declare. */
#define XSTAT64_VERSION "GLIBC_2.2"
/* _STAT_VER_LINUX of i386: the layout of struct stat64. */
#define STAT_LAYOUT 3
#else
#error "the oldest C-library versions are named for x86-64 and i386 only"
#endif

/* The old versions, under names of our own so that --wrap leaves these references alone. */
typedef void (*Constructor)(int, char**, char**);
int old_libc_start_main(int (*main)(int, char**, char**), int argc, char** argv, Constructor init,
                        void (*fini)(void), void (*rtld_fini)(void), void* stack_end);
void* old_memcpy(void* to, const void* from, size_t size);
int old_xstat64(int layout, const char* path, struct stat64* info);
int old_lxstat64(int layout, const char* path, struct stat64* info);
int old_fcntl(int fd, int command, ...);
__asm__(".symver old_libc_start_main, __libc_start_main@" BASE_VERSION);
__asm__(".symver old_memcpy, memcpy@" BASE_VERSION);
__asm__(".symver old_xstat64, __xstat64@" XSTAT64_VERSION);
__asm__(".symver old_lxstat64, __lxstat64@" XSTAT64_VERSION);
__asm__(".symver old_fcntl, fcntl@" BASE_VERSION);

/* The program's own constructors, as the linker lays them out, and its .init code. */
extern const Constructor __init_array_start[] __attribute__((visibility("hidden")));
extern const Constructor __init_array_end[] __attribute__((visibility("hidden")));
extern void _init(void) __attribute__((visibility("hidden")));

/* What the start-up code of glibc before 2.34 passed as init: the C library then left the
   program's constructors to it. Newer libraries call it in place of their own loop. */
static void runConstructors(int argc, char** argv, char** environment) {
    _init();
    for (const Constructor* constructor = __init_array_start; constructor < __init_array_end; ++constructor)
        (*constructor)(argc, argv, environment);
}

/* __libc_start_main: glibc 2.34 gave it a new version, which its start-up code (crt1.o)
   calls with no init function; the old version needs one to run the constructors. */
int __wrap___libc_start_main(int (*main)(int, char**, char**), int argc, char** argv, Constructor init,
                             void (*fini)(void), void (*rtld_fini)(void), void* stack_end) {
    (void)init;
    return old_libc_start_main(main, argc, argv, runConstructors, fini, rtld_fini, stack_end);
}

/* memcpy: glibc 2.14 gave x86-64 a memcpy that need not handle overlap; the old one is a
   memmove. On i386 it binds to the version it has anyway, to keep one list of wraps. */
void* __wrap_memcpy(void* to, const void* from, size_t size) {
    return old_memcpy(to, from, size);
}

/* stat64 (stat under large-file support): before glibc 2.33 it was an inline call of
   __xstat64 with the layout of the structure, which every later glibc still exports. */
int __wrap_stat64(const char* path, struct stat64* info) {
    return old_xstat64(STAT_LAYOUT, path, info);
}

/* lstat64 (lstat under large-file support), the same for a link itself: __lxstat64. */
int __wrap_lstat64(const char* path, struct stat64* info) {
    return old_lxstat64(STAT_LAYOUT, path, info);
}

/* fcntl64 (fcntl under large-file support): new in glibc 2.28, which changed what the locking
   commands take. We only get and set descriptor and status flags (F_GETFD, F_SETFD, F_GETFL,
   F_SETFL), which the old fcntl handles alike; a lock taken later needs this looked at again.
   Like glibc, take the one optional argument whether the command has one or not. */
int __wrap_fcntl64(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return old_fcntl(fd, command, argument);
}
