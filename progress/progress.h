// The progress window and the timer that applies the control script to it, one line a tick.
#pragma once

#include <glib.h>

#include "progress/control.h"
#include "progress/record.h"

// The status the program ends with after the window: 0, or the status of the failed block
// that stopped the run after "#stop_on_failure=".
extern int m_nStatus;

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
// Applies a "#title=", "#text=" or "#progress=" line to the window, from the control script or
// from a block's output; its value must live until it returns.
void applyDirective(ProgressState* record, ControlLine control);
// Notes that a block ended with this status: after "#stop_on_failure=", a status other than 0
// stops the run at the interpreter's next step.
void blockEnded(ProgressState* record, int status);
