/* A library preloaded into the program under test, as users preload theirs into GTK programs
   (gtk3-nocsd, accessibility and debugging shims): it stands in front of one toolkit function,
   says so on standard error, and hands the call on. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>

typedef struct _GtkWindow GtkWindow;
typedef void (*SetTitle)(GtkWindow*, const char*);

void gtk_window_set_title(GtkWindow* window, const char* title) {
    SetTitle next = (SetTitle)dlsym(RTLD_NEXT, "gtk_window_set_title");
    fprintf(stderr, "preloaded gtk_window_set_title: %s\n", title);
    next(window, title);
}
