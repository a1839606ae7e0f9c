/* Binds dlopen and dlsym to their oldest versions (ostrel_baseline's DLOPEN). glibc 2.34 moved
   them from libdl into the C library under a new version; before that, and on the oldest
   systems we run on, libdl has them under the old one, which newer C libraries still export
   too. So the program asks for the old version and also needs libdl, which is all it takes
   on either side of the move. */
#define _GNU_SOURCE
#include <dlfcn.h>

#if defined(__x86_64__)
#define DLOPEN_VERSION "GLIBC_2.2.5"
#define DLSYM_VERSION "GLIBC_2.2.5"
#elif defined(__i386__)
/* 2.1 gave dlopen its present flags. */
#define DLOPEN_VERSION "GLIBC_2.1"
#define DLSYM_VERSION "GLIBC_2.0"
#else
#error "the oldest C-library versions are named for x86-64 and i386 only"
#endif

void* old_dlopen(const char* file, int mode);
void* old_dlsym(void* handle, const char* name);
__asm__(".symver old_dlopen, dlopen@" DLOPEN_VERSION);
__asm__(".symver old_dlsym, dlsym@" DLSYM_VERSION);

void* __wrap_dlopen(const char* file, int mode) {
    return old_dlopen(file, mode);
}

void* __wrap_dlsym(void* handle, const char* name) {
    return old_dlsym(handle, name);
}
