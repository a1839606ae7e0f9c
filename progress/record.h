// The run record: what the progress window, its two timers and the running block share.
#pragma once

#include <glib.h>
#include <stdio.h>
#include <sys/time.h>

typedef struct _GtkWidget GtkWidget;

// Ties one run together: the window's widgets, the interpreter's timer and the shell script
// running at the moment. Allocated zeroed with g_malloc; at most one is alive at a time.
struct ProgressState {
    GtkWidget* window;
    GtkWidget* bar;
    GtkWidget* button;
    GtkWidget* label;   // none for a record without a window
    float fraction;     // last "#progress=" value, re-applied by the output monitor
    guint timer;        // the interpreter's timeout, 0 once it has stopped
    int running;        // an asynchronous block is being monitored: the interpreter waits
    FILE* pipe;         // read end of the running block's standard output, or none
    guint outputTimer;  // the output monitor's timeout, 0 once it has stopped
    int noWait;         // the open block came from a "#script_start_nowait" line
    struct timeval lastOutput;
    int catchingUp;  // the toolkit still holds events from before the end of the last block
};
