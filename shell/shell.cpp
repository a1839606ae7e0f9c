// The shell runners and the output monitor of asynchronous runs.
#include "shell/shell.h"

#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>

#include "buffers/owned.h"
#include "progress/control.h"
#include "progress/progress.h"
#include "progress/record.h"
#include "toolkit/toolkit.h"

namespace {

// The most directive lines one tick applies: a block that writes them fast is never held
// back by them, and the window still redraws between ticks.
const int kDirectivesPerTick = 1000;

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

// The end of the block's output: its shell is reaped, and the interpreter may go on. A block
// that stops the run leaves its last line under the bar for the interpreter's stop.
gboolean endOfOutput(ProgressState* record) {
    int status = exitStatus(closePipe(record));
    fflush(stdout);
    record->running = 0;
    record->outputTimer = 0;
    blockEnded(record, status);
    if (record->label && !record->failed)
        showOutput(record, "");
    return FALSE;
}

// Echoes a piece of output as it has always been echoed, its line ends blanked.
void echo(char* piece) {
    blankLineEnds(piece);
    g_print("%s\n", piece);
    fflush(stdout);
}

gboolean Bash_Output_timeout(gpointer data) {
    auto* record = static_cast<ProgressState*>(data);
    struct timeval now;
    gettimeofday(&now, nullptr);
    char line[kOutputLineSize];
    for (int applied = 0; applied < kDirectivesPerTick; ++applied) {
        size_t held = strlen(record->held);
        memcpy(line, record->held, held);
        size_t got = readOutputPiece(record->pipe, line, held);
        record->held[0] = '\0';
        bool atEnd = got == 0 && feof(record->pipe);
        if (got == 0 && held == 0) {
            if (atEnd)
                return endOfOutput(record);
            // No data yet: the pipe is non-blocking, so this is the normal quiet case.
            clearerr(record->pipe);
            if (now.tv_sec - record->lastOutput.tv_sec > 2)
                gtk_progress_bar_pulse(GTK_PROGRESS_BAR(record->bar));
            return TRUE;
        }
        // A NUL byte cuts what the piece shows and what it applies.
        size_t length = held + got;
        bool lineFeed = line[length - 1] == '\n';
        bool whole = lineFeed || length + 1 == kOutputLineSize || atEnd;
        bool startsLine = !record->midLine;
        // The start of a directive line waits for the rest of it.
        if (!whole && startsLine && strlen(line) == length && mayBeOutputDirective(line)) {
            memcpy(record->held, line, length + 1);
            clearerr(record->pipe);
            return TRUE;
        }
        record->midLine = !lineFeed;
        gettimeofday(&record->lastOutput, nullptr);
        size_t end = length - lineFeed;
        if (lineFeed && end > 0 && line[end - 1] == '\r')
            --end;
        ControlLine control = startsLine ? parseOutputLine(line) : ControlLine{Directive::None, nullptr};
        GCharPtr value(control.value
                           ? g_strndup(control.value, end - static_cast<size_t>(control.value - line))
                           : nullptr);
        echo(line);
        if (control.directive == Directive::None) {
            if (record->label)
                showOutput(record, line);
            return TRUE;
        }
        control.value = value.get();
        applyDirective(record, control);
    }
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

int closePipe(ProgressState* record) {
    int status = record->pipe ? pclose(record->pipe) : -1;
    record->pipe = nullptr;
    return status;
}

int Bash(const char* text, size_t length, ProgressState* record) {
    if (!hasText(text, length))
        return -1;
    FILE* pipe = startShell(text);
    if (!pipe) {
        blockEnded(record, exitStatus(-1));
        return -1;
    }
    record->pipe = pipe;
    if (record->noWait) {
        drain(pipe);
        blockEnded(record, exitStatus(closePipe(record)));
        return -1;
    }
    record->running = 1;
    record->midLine = 0;
    record->held[0] = '\0';
    gettimeofday(&record->lastOutput, nullptr);
    int fd = fileno(pipe);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    record->outputTimer = g_timeout_add(100, Bash_Output_timeout, record);
    return -1;
}

int BashBlocking(const char* text, size_t length, int* status) {
    if (status)
        *status = 0;
    if (!hasText(text, length))
        return -1;
    int result = runShell(text);
    if (status)
        *status = exitStatus(result);
    if (result > 0)
        result /= 256;
    return result;
}
