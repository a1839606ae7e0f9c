// The shell runners and the output monitor of asynchronous runs.
#include "shell/shell.h"

#include <fcntl.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

#include <memory>

#include "buffers/buffers.h"
#include "progress/progress.h"

namespace {

bool hasText(const char* text, size_t length) {
    return text != nullptr && length != 0 && text[0] != '\0';
}

// Held while a shell starts. What the program printed so far must reach the console before
// the shell's own output. The toolkit ignores the broken-pipe signal, and a shell would inherit
// that: its commands would go on writing into a closed pipe (a closed window) instead of ending
// as commands expect, so the shell gets the default action.
class ShellStart {
public:
    ShellStart() : saved_(signal(SIGPIPE, SIG_DFL)) { fflush(stdout); }
    ~ShellStart() { signal(SIGPIPE, saved_); }
    ShellStart(const ShellStart&) = delete;
    ShellStart& operator=(const ShellStart&) = delete;

private:
    sighandler_t saved_;
};

FILE* openShell(const char* command) {
    ShellStart start;
    return popen(command, "r");
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
        pclose(record->pipe);
        record->pipe = nullptr;
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

// The command as /bin/sh gets it. The kernel takes at most 32 pages in one argument, so a
// longer command would not even start the shell and its script would be lost: the shell then
// reads the same command from an unlinked file that it inherits.
class ShellInput {
public:
    explicit ShellInput(const char* text) : command_(shellCommand(text)) {
        static const size_t kLongestArgument = 32 * 4096 - 1;
        size_t length = strlen(command_.get());
        if (length <= kLongestArgument)
            return;
        file_.reset(tmpfile());
        if (!file_ || fwrite(command_.get(), 1, length, file_.get()) != length || fflush(file_.get()) != 0) {
            file_.reset();
            return;
        }
        int fd = fileno(file_.get());
        fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) & ~FD_CLOEXEC);
        command_.reset(g_strdup_printf(". /dev/fd/%d", fd));
    }
    const char* command() const { return command_.get(); }

private:
    struct FileCloser {
        void operator()(FILE* file) const { fclose(file); }
    };
    GCharPtr command_;
    // Closed once the shell has started: the shell holds its own copy.
    std::unique_ptr<FILE, FileCloser> file_;
};

// Reads the shell's output to its end and throws it away, so that a write never meets a
// closed pipe.
void drain(FILE* pipe) {
    char discard[4096];
    while (fread(discard, 1, sizeof discard, pipe) > 0) {
    }
}

}  // namespace

char* shellCommand(const char* text) {
    return g_strdup_printf("bash <<EOF\n%s\nEOF", text);
}

void blankLineEnds(char* line) {
    for (char* c = line; *c; ++c) {
        if (*c == '\n' || *c == '\r')
            *c = ' ';
    }
}

bool readOutputLine(FILE* stream, char* line) {
    memset(line, 0, kOutputLineSize);
    if (!fgets(line, static_cast<int>(kOutputLineSize), stream))
        return false;
    blankLineEnds(line);
    return true;
}

int Bash(const char* text, size_t length, ProgressState* record) {
    if (!hasText(text, length))
        return -1;
    ShellInput input(text);
    FILE* pipe = openShell(input.command());
    if (!pipe)
        return -1;
    record->pipe = pipe;
    if (record->noWait) {
        drain(pipe);
        pclose(pipe);
        record->pipe = nullptr;
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
    ShellInput input(text);
    ShellStart start;
    int status = system(input.command());
    if (status > 0)
        status /= 256;
    return status;
}
