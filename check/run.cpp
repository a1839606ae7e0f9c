// The helpers that read a block (shellcheck, shfmt): found once on the PATH, and run with a time
// limit, fed on standard input.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "check/check.h"

namespace {

const double kDefaultSeconds = 10;

// In the child: a helper killed by a closed pipe should die as usual, whatever the checker does.
void defaultSignals(gpointer) {
    signal(SIGPIPE, SIG_DFL);
}

void nonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Reads what is there; false at the end of the stream.
bool drain(int fd, GString* into) {
    char chunk[65536];
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got > 0) {
            g_string_append_len(into, chunk, got);
            continue;
        }
        return got < 0 && (errno == EAGAIN || errno == EINTR);
    }
}

}  // namespace

double helperSeconds() {
    const char* set = g_getenv("OSTREL_CHECK_SECONDS");
    double seconds = set ? g_ascii_strtod(set, nullptr) : 0;
    return seconds > 0 ? seconds : kDefaultSeconds;
}

bool runLimited(char** argv, const char* input, size_t length, double seconds, Ran* ran, GError** error) {
    *ran = Ran{false, -1, g_string_new(nullptr), g_string_new(nullptr)};
    GPid pid = 0;
    int in = -1;
    int out = -1;
    int err = -1;
    if (!g_spawn_async_with_pipes(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, defaultSignals, nullptr,
                                  &pid, &in, &out, &err, error))
        return false;
    nonBlocking(in);
    nonBlocking(out);
    nonBlocking(err);
    size_t written = 0;
    gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
    while (out >= 0 || err >= 0) {
        gint64 left = deadline - g_get_monotonic_time();
        if (left <= 0) {
            ran->timedOut = true;
            break;
        }
        if (in >= 0 && written == length) {
            close(in);
            in = -1;
        }
        struct pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
        int ready = poll(fds, 3, static_cast<int>(left / 1000) + 1);
        if (ready < 0 && errno != EINTR)
            break;
        if (in >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = write(in, input + written, length - written);
            if (put > 0)
                written += static_cast<size_t>(put);
            else if (put < 0 && errno != EAGAIN && errno != EINTR)
                written = length;  // it stopped reading: it has all it wants
        }
        if (out >= 0 && fds[0].revents && !drain(out, ran->out)) {
            close(out);
            out = -1;
        }
        if (err >= 0 && fds[1].revents && !drain(err, ran->err)) {
            close(err);
            err = -1;
        }
    }
    const int fds[] = {in, out, err};
    for (int fd : fds) {
        if (fd >= 0)
            close(fd);
    }
    if (ran->timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_spawn_close_pid(pid);
    ran->status = !ran->timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

void releaseRan(Ran* ran) {
    if (ran->out)
        g_string_free(ran->out, TRUE);
    if (ran->err)
        g_string_free(ran->err, TRUE);
    ran->out = nullptr;
    ran->err = nullptr;
}

const char* helperPath(Helper* helper) {
    if (!helper->lookedUp) {
        helper->path = g_find_program_in_path(helper->name);
        helper->lookedUp = true;
    }
    return helper->path;
}

bool firstTimeFor(Helper* helper, const Script& script) {
    bool first = helper->told != script.serial;
    helper->told = script.serial;
    return first;
}
