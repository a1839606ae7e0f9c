// The run record, the progress window, and the reading of the control script that drives it.
#pragma once

#include <glib.h>
#include <stddef.h>
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
    FILE* pipe;         // read end of the running block's standard output
    guint outputTimer;  // the output monitor's timeout, 0 once it has stopped
    int noWait;         // the open block came from a "#script_start_nowait" line
    struct timeval lastOutput;
};

// Builds and shows the progress window and starts the interpreter. The returned record is
// owned by the window and released by destroy.
ProgressState* create_progress();
// Tears the run down (when data is the run record) and quits the main loop. The window's "destroy"
// handler, also called directly for the exit directive and connected by the licence dialog.
void destroy(GtkWidget* widget, gpointer data);
// Sets the icon of every window from "./korvalen-48x48.png"; silently none when it cannot.
void load_icon();
// Fills the bar and shows the "OK" button.
void show_finished(ProgressState* record);

// What one line of the control script asks for; decided without a window.
enum class Directive { None, Title, Text, Progress, ScriptStart, Exit };

struct ControlLine {
    Directive directive;
    const char* value;  // points into the line: the rest of it after the directive, or nullptr
};

enum class BlockMode { Async, NoWait, Blocking };

ControlLine parseControlLine(const char* line);
// How the block opened by a "#script_start" line is run.
BlockMode blockMode(const char* line);
// Reads a "#progress=" value as a number with "." as the decimal point, clamped into 0..1.
float readFraction(const char* value);
// Collects the lines of a block from *cursor up to and including the "#script_end" line,
// empty lines dropped, each kept line preceded by a line feed. Returns the new text (caller
// g_frees) and its length in *length.
char* collectBlock(char** cursor, size_t* length);
// True when the interpreter has nothing more to read: fewer than two bytes are left, or no
// further complete line can be read.
bool scriptFinished(const char* cursor, const char* script, size_t length);
