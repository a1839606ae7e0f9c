// The run record: what the progress window, its two timers and the running block share.
#pragma once

#include <glib.h>
#include <stdio.h>
#include <sys/time.h>

typedef struct _GtkWidget GtkWidget;

// Size of the output monitor's line buffer; one read takes at most one byte less.
constexpr size_t kOutputLineSize = 1024;

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
    char* stopText;  // the text of the last "#stop_on_failure=" read, or none (owned)
    int failed;      // status of the failed block that stops the run, or 0
    int midLine;     // the last piece of output shown ended without its line feed
    // The start of an output line that may still become a directive, waiting for its end.
    char held[kOutputLineSize];
};
