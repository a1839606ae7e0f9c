// The command that hands shell text to bash, how it reaches the system shell, and the reading
// of a block's output lines: no window involved.
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include "buffers/owned.h"
#include "shell/shell.h"

namespace {

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

// The command as /bin/sh gets it. The kernel takes at most 32 pages in one argument, so a
// longer command would not even start the shell and its script would be lost: the shell then
// reads the same command from an unlinked file that it inherits. Its first line closes the
// inherited descriptor, so that no command of the block (a daemon, say) keeps the file open.
class ShellInput {
public:
    explicit ShellInput(const char* text) : command_(shellCommand(text)) {
        static const size_t kLongestArgument = 32 * 4096 - 1;
        size_t length = strlen(command_.get());
        if (length <= kLongestArgument)
            return;
        file_.reset(tmpfile());
        if (!file_)
            return;
        int fd = fileno(file_.get());
        GCharPtr close(g_strdup_printf("exec %d<&-\n", fd));
        size_t closeLength = strlen(close.get());
        if (fwrite(close.get(), 1, closeLength, file_.get()) != closeLength ||
            fwrite(command_.get(), 1, length, file_.get()) != length || fflush(file_.get()) != 0) {
            file_.reset();
            return;
        }
        fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) & ~FD_CLOEXEC);
        command_.reset(g_strdup_printf(". /dev/fd/%d", fd));
    }
    const char* command() const { return command_.get(); }

private:
    GCharPtr command_;
    // Closed once the shell has started: the shell holds its own copy.
    FilePtr file_;
};

}  // namespace

char* shellCommand(const char* text) {
    return g_strdup_printf("bash <<EOF\n%s\nEOF", text);
}

FILE* startShell(const char* text) {
    ShellInput input(text);
    ShellStart start;
    return popen(input.command(), "r");
}

int runShell(const char* text) {
    ShellInput input(text);
    ShellStart start;
    return system(input.command());
}

void blankLineEnds(char* line) {
    for (char* c = line; *c; ++c) {
        if (*c == '\n' || *c == '\r')
            *c = ' ';
    }
}

size_t readOutputPiece(FILE* stream, char* line, size_t held) {
    memset(line + held, 0, kOutputLineSize - held);
    size_t count = held;
    while (count + 1 < kOutputLineSize) {
        int c = getc(stream);
        if (c == EOF)
            break;
        line[count++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    return count - held;
}

int exitStatus(int waitStatus) {
    if (waitStatus == -1)
        return 127;
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return WEXITSTATUS(waitStatus);
}
