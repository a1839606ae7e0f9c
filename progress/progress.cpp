// The progress window and the timer that applies the control script to it, one line a tick.
#include "progress/progress.h"

#include <string.h>

#include <initializer_list>

#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "progress/control.h"
#include "shell/shell.h"
#include "toolkit/toolkit.h"

int m_nStatus = 0;

namespace {

gboolean progress_timeout(gpointer data);

guint startInterpreter(ProgressState* record) {
    return g_timeout_add(50, progress_timeout, record);
}

// The property the window changes on itself after a block that held the loop up: the X
// server reports the change after every event that came before it.
GdkAtom caughtUpAtom() {
    return gdk_atom_intern("_OSTREL_CAUGHT_UP", FALSE);
}

// Only an X server hands the marker back among the other events, in order.
bool onX11(GtkWidget* window) {
    const char* type = G_OBJECT_TYPE_NAME(gtk_widget_get_display(window));
    return strcmp(type, "GdkDisplayX11") == 0 || strcmp(type, "GdkX11Display") == 0;
}

// What the user did while a block held the loop up, a close among it, waits in the toolkit's
// events, which it hands out one per loop iteration. The next line is read only once all of
// them have been handled: when the marker sent now comes back.
void awaitEventsBefore(ProgressState* record) {
    if (!onX11(record->window))
        return;
    static const guchar kMarker[] = {1};
    gdk_property_change(gtk_widget_get_window(record->window), caughtUpAtom(), caughtUpAtom(), 8,
                        GDK_PROP_MODE_REPLACE, kMarker, 1);
    record->catchingUp = 1;
}

gboolean caughtUp(GtkWidget*, GdkEventProperty* event, gpointer data) {
    if (event->atom == caughtUpAtom())
        static_cast<ProgressState*>(data)->catchingUp = 0;
    return FALSE;
}

// Collects and starts the block that the line opens; true when its shell ran to its end here,
// holding the main loop up meanwhile.
bool runBlock(ProgressState* record, const char* openingLine) {
    BlockMode mode = blockMode(openingLine);
    record->noWait = mode == BlockMode::NoWait;
    size_t length = 0;
    GCharPtr text(collectBlock(&m_pBufferIndex, &length));
    if (length == 0)
        return false;
    // The window cannot redraw while such a block holds the loop up: what it shows of the
    // step (its title, its text) reaches the screen first, however busy the loop was.
    if (mode != BlockMode::Async) {
        gdk_window_process_all_updates();
        gdk_flush();
    }
    if (mode == BlockMode::Blocking) {
        int status = 0;
        BashBlocking(text.get(), length, &status);
        blockEnded(record, status);
    } else {
        Bash(text.get(), length, record);
    }
    return mode != BlockMode::Async;
}

// After a failed block: the bar keeps its fraction and shows the failure's text, "OK" ends the
// program with the block's status, and no later line is read.
gboolean stopRun(ProgressState* record) {
    m_nStatus = record->failed;
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(record->bar), record->stopText);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(record->bar), record->fraction);
    gtk_button_set_label(GTK_BUTTON(record->button), "OK");
    gtk_widget_show(record->button);
    record->timer = 0;
    return FALSE;
}

gboolean progress_timeout(gpointer data) {
    auto* record = static_cast<ProgressState*>(data);
    if (record->running || record->catchingUp)
        return TRUE;
    if (record->failed)
        return stopRun(record);
    bool heldUp = false;
    size_t length = 0;
    GCharPtr line(getLine(&m_pBufferIndex, &length));
    if (line && length != 0) {
        ControlLine control = parseControlLine(line.get());
        switch (control.directive) {
            case Directive::Title:
            case Directive::Text:
            case Directive::Progress:
                applyDirective(record, control);
                break;
            case Directive::ScriptStart:
                heldUp = runBlock(record, line.get());
                if (heldUp)
                    awaitEventsBefore(record);
                // A close that came while the block held the loop up ends the run first, as
                // a close during a block does.
                if (record->failed)
                    return record->catchingUp ? TRUE : stopRun(record);
                break;
            case Directive::Exit:
                // destroy releases the record: nothing below may touch it.
                destroy(nullptr, record);
                return FALSE;
            case Directive::StopOnFailure:
                g_free(record->stopText);
                record->stopText = g_strdup(control.value);
                break;
            case Directive::None:
                break;
        }
    }
    // A block still running is the installation's last step, not its end: "OK" waits until
    // the output monitor has shown its last line and let the interpreter go on.
    if (record->running || !scriptFinished(m_pBufferIndex, m_pBuffer, m_nBuffer)) {
        if (!heldUp || record->catchingUp)
            return TRUE;
        // No marker comes back without an X server: the next line is read a whole interval
        // from now, by when the loop has most likely handled those events; the timer as it is
        // would be overdue at once.
        record->timer = startInterpreter(record);
        return FALSE;
    }
    show_finished(record);
    record->timer = 0;
    return FALSE;
}

GtkWidget* newAlignment(GtkWidget* box, gboolean expand) {
    GtkWidget* alignment = gtk_alignment_new(0, 0, 1, 0);
    gtk_box_pack_start(GTK_BOX(box), alignment, expand, expand, 0);
    return alignment;
}

}  // namespace

ProgressState* create_progress() {
    auto* record = static_cast<ProgressState*>(g_malloc0(sizeof(ProgressState)));

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    record->window = window;
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
    gtk_window_set_default_size(GTK_WINDOW(window), 300, 100);
    gtk_window_set_title(GTK_WINDOW(window), "Installing...");
    gtk_container_set_border_width(GTK_CONTAINER(window), 0);
    load_icon();
    g_signal_connect(window, "destroy", G_CALLBACK(destroy), record);
    gtk_widget_add_events(window, GDK_PROPERTY_CHANGE_MASK);
    g_signal_connect(window, "property-notify-event", G_CALLBACK(caughtUp), record);

    GtkWidget* box = gtk_vbox_new(FALSE, 5);
    gtk_container_set_border_width(GTK_CONTAINER(box), 10);
    gtk_container_add(GTK_CONTAINER(window), box);

    GtkWidget* upper = newAlignment(box, TRUE);
    record->bar = gtk_progress_bar_new();
    gtk_container_add(GTK_CONTAINER(upper), record->bar);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(record->bar), " ");
    // GTK 3's bars run left to right by themselves, and show their text only when asked.
    if (m_nGtk == 3)
        gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(record->bar), TRUE);
    else
        gtk_progress_bar_set_orientation(GTK_PROGRESS_BAR(record->bar), GTK_PROGRESS_LEFT_TO_RIGHT);

    GtkWidget* lower = newAlignment(box, FALSE);
    record->label = gtk_label_new(" ");
    gtk_misc_set_alignment(GTK_MISC(record->label), 0, 0);
    gtk_label_set_justify(GTK_LABEL(record->label), GTK_JUSTIFY_LEFT);
    gtk_label_set_width_chars(GTK_LABEL(record->label), 30);
    gtk_label_set_max_width_chars(GTK_LABEL(record->label), 30);
    gtk_label_set_line_wrap(GTK_LABEL(record->label), FALSE);
    gtk_label_set_selectable(GTK_LABEL(record->label), FALSE);
    gtk_container_add(GTK_CONTAINER(lower), record->label);

    record->button = gtk_button_new_with_label("Ok");
    g_signal_connect_swapped(record->button, "clicked", G_CALLBACK(gtk_widget_destroy), window);
    gtk_box_pack_start(GTK_BOX(box), record->button, FALSE, FALSE, 0);
    gtk_widget_set_can_default(record->button, TRUE);
    gtk_widget_grab_default(record->button);

    record->timer = startInterpreter(record);

    for (GtkWidget* widget : {box, upper, record->bar, lower, record->label, window})
        gtk_widget_show(widget);
    return record;
}

void load_icon() {
    // With an error to fill in, the toolkit reports nothing itself.
    GError* error = nullptr;
    if (!gtk_window_set_default_icon_from_file("./korvalen-48x48.png", &error))
        g_error_free(error);
}

void applyDirective(ProgressState* record, ControlLine control) {
    switch (control.directive) {
        case Directive::Title:
            gtk_window_set_title(GTK_WINDOW(record->window), control.value);
            gtk_widget_show(record->window);
            break;
        case Directive::Text:
            gtk_progress_bar_set_text(GTK_PROGRESS_BAR(record->bar), control.value);
            gtk_widget_show(record->bar);
            break;
        case Directive::Progress:
            record->fraction = readFraction(control.value);
            gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(record->bar), record->fraction);
            gtk_widget_show(record->bar);
            break;
        default:
            break;
    }
}

void blockEnded(ProgressState* record, int status) {
    if (status != 0 && record->stopText)
        record->failed = status;
}

void show_finished(ProgressState* record) {
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(record->bar), " ");
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(record->bar), 1.0);
    gtk_button_set_label(GTK_BUTTON(record->button), "OK");
    gtk_widget_show(record->button);
}

void destroy(GtkWidget*, gpointer data) {
    if (auto* record = static_cast<ProgressState*>(data)) {
        closePipe(record);
        if (record->outputTimer) {
            g_source_remove(record->outputTimer);
            record->outputTimer = 0;
        }
        if (record->timer) {
            g_source_remove(record->timer);
            record->timer = 0;
        }
        // The window outlives the record after the exit directive: its later destruction
        // must not reach the released record.
        if (record->window)
            g_signal_handlers_disconnect_by_data(record->window, record);
        record->window = nullptr;
        g_free(record->stopText);
        g_free(record);
    }
    if (gtk_main_level() > 0)
        gtk_main_quit();
}
