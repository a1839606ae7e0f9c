// The shell runners and the output monitor of asynchronous runs.
#include "shell/shell.h"

#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <sys/time.h>

#include "progress/record.h"
#include "toolkit/toolkit.h"

namespace {

bool hasText(const char* text, size_t length) {
    return text != nullptr && length != 0 && text[0] != '\0';
}

// Shows a line (or nothing) under the bar and puts the bar back to the stored fraction,
// which also ends any pulsing.
void showOutput(ProgressState* record, const char* text) {
    gtk_label_set_text(GTK_LABEL(record->label), text);
    gtk_widget_show(record->label);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(record->bar), record->fraction);
    gtk_widget_show(record->bar);
}

gboolean Bash_Output_timeout(gpointer data) {
    auto* record = static_cast<ProgressState*>(data);
    struct timeval now;
    gettimeofday(&now, nullptr);
    char line[kOutputLineSize];
    if (readOutputLine(record->pipe, line)) {
        gettimeofday(&record->lastOutput, nullptr);
        g_print("%s\n", line);
        fflush(stdout);
        if (record->label)
            showOutput(record, line);
        return TRUE;
    }
    if (feof(record->pipe)) {
        closePipe(record);
        fflush(stdout);
        record->running = 0;
        record->outputTimer = 0;
        if (record->label)
            showOutput(record, "");
        return FALSE;
    }
    // No data yet: the pipe is non-blocking, so this is the normal quiet case.
    clearerr(record->pipe);
    if (now.tv_sec - record->lastOutput.tv_sec > 2)
        gtk_progress_bar_pulse(GTK_PROGRESS_BAR(record->bar));
    return TRUE;
}

// Reads the shell's output to its end and throws it away, so that a write never meets a
// closed pipe.
void drain(FILE* pipe) {
    char discard[4096];
    while (fread(discard, 1, sizeof discard, pipe) > 0) {
    }
}

}  // namespace

void closePipe(ProgressState* record) {
    if (record->pipe)
        pclose(record->pipe);
    record->pipe = nullptr;
}

int Bash(const char* text, size_t length, ProgressState* record) {
    if (!hasText(text, length))
        return -1;
    FILE* pipe = startShell(text);
    if (!pipe)
        return -1;
    record->pipe = pipe;
    if (record->noWait) {
        drain(pipe);
        closePipe(record);
        return -1;
    }
    record->running = 1;
    gettimeofday(&record->lastOutput, nullptr);
    int fd = fileno(pipe);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    record->outputTimer = g_timeout_add(100, Bash_Output_timeout, record);
    return -1;
}

int BashBlocking(const char* text, size_t length) {
    if (!hasText(text, length))
        return -1;
    int status = runShell(text);
    if (status > 0)
        status /= 256;
    return status;
}
