// The shell runners: the command they build, what the system shell and bash make of it, and
// the three ways of running it, through a real /bin/sh and bash.
#include "shell/shell.h"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <string.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "progress/progress.h"
#include "support/support.h"

namespace {

int runBlocking(const std::string& text) {
    return BashBlocking(text.c_str(), text.size());
}

// Removes an environment variable for the life of the object and puts it back afterwards.
class UnsetVariable {
public:
    explicit UnsetVariable(const char* name) : name_(name) {
        if (const char* value = g_getenv(name))
            saved_ = g_strdup(value);
        g_unsetenv(name);
    }
    ~UnsetVariable() {
        if (saved_)
            g_setenv(name_, saved_, TRUE);
        g_free(saved_);
    }
    UnsetVariable(const UnsetVariable&) = delete;
    UnsetVariable& operator=(const UnsetVariable&) = delete;

private:
    const char* name_;
    char* saved_ = nullptr;
};

// A zeroed run record as the runner's callers make one, with no label, as in silent mode.
// The output monitor's pulse step needs a bar: a real one, with a display.
struct Record {
    explicit Record(bool withBar = false)
        : state(static_cast<ProgressState*>(g_malloc0(sizeof(ProgressState)))) {
        if (withBar) {
            state->bar = gtk_progress_bar_new();
            g_object_ref_sink(state->bar);
        }
    }
    ~Record() {
        if (state->outputTimer && sourceExists(state->outputTimer))
            g_source_remove(state->outputTimer);
        closePipe(state);
        if (state->bar) {
            gtk_widget_destroy(state->bar);
            g_object_unref(state->bar);
        }
        g_free(state);
    }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    ProgressState* state;
};

// Sets the broken-pipe signal's action for the life of the object; shells started meanwhile
// inherit it.
class PipeSignal {
public:
    explicit PipeSignal(sighandler_t action) : saved_(signal(SIGPIPE, action)) {}
    ~PipeSignal() { signal(SIGPIPE, saved_); }

private:
    sighandler_t saved_;
};

double seconds(const struct timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

TEST(ShellCommand, WrapsTheTextAsAHereDocumentForBash) {
    const char* text = "echo \"100% done\" %s %d\n$X `pwd` \\$Y\n";
    GCharPtr command(shellCommand(text));
    EXPECT_EQ(std::string("bash <<EOF\n") + text + "\nEOF", command.get());

    GCharPtr single(shellCommand("true"));
    EXPECT_STREQ("bash <<EOF\ntrue\nEOF", single.get());
}

TEST(HereDocument, ExpandsDollarNamesInTheSystemShellUnlessEscaped) {
    UnsetVariable x("X");
    TempDir dir;
    int status =
        runBlocking("X=1\necho \"[$X]\" > " + (dir / "outer") + "\necho \"[\\$X]\" > " + (dir / "deferred"));
    EXPECT_EQ(0, status);
    EXPECT_EQ("[]\n", readFile(dir / "outer"));
    EXPECT_EQ("[1]\n", readFile(dir / "deferred"));
}

TEST(HereDocument, SubstitutesCommandsBeforeBashChangesDirectory) {
    TempDir dir;
    GCharPtr here(g_get_current_dir());
    ASSERT_STRNE("/", here.get());
    int status =
        runBlocking("cd /\necho $(pwd) > " + (dir / "outer") + "\necho \\$(pwd) > " + (dir / "deferred"));
    EXPECT_EQ(0, status);
    EXPECT_EQ(std::string(here.get()) + "\n", readFile(dir / "outer"));
    EXPECT_EQ("/\n", readFile(dir / "deferred"));
}

TEST(HereDocument, RunsTheLinesAfterAnEofLineInTheSystemShell) {
    TempDir dir;
    // $0 names the shell that runs the line: bash reading the here-document, or "sh -c".
    int status = runBlocking("echo \\$0 > " + (dir / "before") + "\nEOF\necho $0 > " + (dir / "after"));
    EXPECT_EQ("bash\n", readFile(dir / "before"));
    EXPECT_EQ("sh\n", readFile(dir / "after"));
    // The command's own closing line is then a command named EOF, which does not exist.
    EXPECT_EQ(127, status);
}

TEST(HereDocument, GivesTheNextLineToAReadCommandInsteadOfRunningIt) {
    TempDir dir;
    const std::string skipped = "echo run > " + (dir / "skipped");
    int status = runBlocking("read LINE\n" + skipped + "\necho \"[\\$LINE]\" > " + (dir / "read"));
    EXPECT_EQ(0, status);
    EXPECT_FALSE(fileExists(dir / "skipped"));
    EXPECT_EQ("[" + skipped + "]\n", readFile(dir / "read"));
}

TEST(BlockingRun, ReturnsTheExitCodeOfTheShell) {
    EXPECT_EQ(3, runBlocking("exit 3"));
    EXPECT_EQ(1, runBlocking("false"));
    EXPECT_EQ(0, runBlocking("true"));
    EXPECT_EQ(0, runBlocking("echo ok > /dev/null"));
}

TEST(BlockingRun, ReturnsZeroWhenTheShellIsKilledByASignal) {
    TempDir dir;
    // $$ is expanded by the system shell: the shell that system() waits for kills itself.
    EXPECT_EQ(0, runBlocking("touch " + (dir / "ran") + "\nkill -KILL $$\nexit 5"));
    EXPECT_TRUE(fileExists(dir / "ran"));
}

TEST(BlockingRun, StartsNoShellForMissingOrEmptyText) {
    EXPECT_EQ(-1, BashBlocking(nullptr, 0));
    EXPECT_EQ(-1, BashBlocking("", 0));
    // Text that a shell would run successfully gives 0, so -1 means nothing was started.
    EXPECT_EQ(0, BashBlocking("\n", 1));
}

TEST(BlockingRun, WritesToTheProgramsOwnOutputAfterWhatWasPrintedBefore) {
    CapturedStdout output;
    // Held in the stdio buffer until flushed: it must reach the output before the shell's.
    printf("printed first|");
    int status = runBlocking("printf 'from the shell\\n'");
    EXPECT_EQ(0, status);
    EXPECT_EQ("printed first|from the shell\n", output.text());
}

TEST(BlockingRun, StartsTheShellWithTheDefaultBrokenPipeActionWhileTheProgramIgnoresIt) {
    TempDir dir;
    PipeSignal ignored(SIG_IGN);
    // yes ends by the signal (status 128 + 13) only when the action is the default one; with it
    // ignored yes would report a write error and end with status 1.
    int status = runBlocking("yes 2> " + (dir / "errors") +
                             " | head -n 1 > /dev/null\necho \\${PIPESTATUS[0]} > " + (dir / "status"));
    EXPECT_EQ(0, status);
    EXPECT_EQ("141\n", readFile(dir / "status"));
    EXPECT_EQ("", readFile(dir / "errors"));
    // The program's own action is left as it was.
    EXPECT_EQ(SIG_IGN, signal(SIGPIPE, SIG_IGN));
}

TEST(AsynchronousRun, EndsTheBlockAtItsNextWriteOnceThePipeIsClosed) {
    TempDir dir;
    Record record;
    PipeSignal ignored(SIG_IGN);
    const std::string text = "echo first\nsleep 0.3\necho second\ntouch " + (dir / "ran-on");
    Bash(text.c_str(), text.size(), record.state);
    ASSERT_NE(nullptr, record.state->pipe);
    g_source_remove(record.state->outputTimer);
    // Nobody reads: closing waits for the shell, which the second echo ends.
    closePipe(record.state);
    record.state->running = 0;
    EXPECT_FALSE(fileExists(dir / "ran-on"));
}

TEST(NoWaitRun, WaitsForTheShellAndDiscardsItsOutput) {
    TempDir dir;
    Record record;
    record.state->noWait = 1;
    PipeSignal defaultAction(SIG_DFL);
    // A write to a pipe nobody reads would end bash before the file is made.
    const std::string text = "echo first line\nsleep 0.3\ntouch " + (dir / "made");
    CapturedStdout output;
    EXPECT_EQ(-1, Bash(text.c_str(), text.size(), record.state));
    EXPECT_TRUE(fileExists(dir / "made"));
    EXPECT_EQ("", output.text());
    EXPECT_EQ(nullptr, record.state->pipe);
    EXPECT_EQ(0, record.state->running);
    EXPECT_EQ(0u, record.state->outputTimer);
}

TEST(NoWaitRun, ReportsNoWriteErrorsWhenBrokenPipesAreIgnored) {
    TempDir dir;
    Record record;
    record.state->noWait = 1;
    // The toolkit ignores the broken-pipe signal, and the shells inherit that.
    PipeSignal ignored(SIG_IGN);
    const std::string text =
        "exec 2> " + (dir / "errors") + "\necho first line\necho second line\ntouch " + (dir / "made");
    Bash(text.c_str(), text.size(), record.state);
    EXPECT_TRUE(fileExists(dir / "made"));
    EXPECT_EQ("", readFile(dir / "errors"));
}

TEST(NoWaitRun, RunsABlockThatPrintsAMegabyteToItsEnd) {
    TempDir dir;
    Record record;
    record.state->noWait = 1;
    PipeSignal defaultAction(SIG_DFL);
    // The builtin printf makes bash itself the writer: a closed pipe would end the block.
    const std::string text = "printf '%1048576s\\n' x\ntouch " + (dir / "made");
    CapturedStdout output;
    Bash(text.c_str(), text.size(), record.state);
    EXPECT_TRUE(fileExists(dir / "made"));
    EXPECT_EQ("", output.text());
    EXPECT_EQ(nullptr, record.state->pipe);
    EXPECT_EQ(0, record.state->running);
}

TEST(AsyncRun, LeavesTheShellRunningUnderTheOutputMonitor) {
    TempDir dir;
    Record record(true);
    const std::string text = "echo one\nwhile [ ! -e " + (dir / "go") +
                             " ]; do sleep 0.01; done\necho two\ntouch " + (dir / "made");
    CapturedStdout output;
    struct timeval before, after;
    gettimeofday(&before, nullptr);
    EXPECT_EQ(-1, Bash(text.c_str(), text.size(), record.state));
    gettimeofday(&after, nullptr);

    // Back from the runner while the shell waits: the monitor, ticking every 100 ms, reads on.
    ProgressState* state = record.state;
    EXPECT_EQ(1, state->running);
    ASSERT_NE(nullptr, state->pipe);
    int flags = fcntl(fileno(state->pipe), F_GETFL);
    ASSERT_NE(-1, flags);
    EXPECT_TRUE(flags & O_NONBLOCK);
    guint monitor = state->outputTimer;
    // The start counts as the last output.
    EXPECT_GE(seconds(state->lastOutput), seconds(before));
    EXPECT_LE(seconds(state->lastOutput), seconds(after));
    EXPECT_FALSE(fileExists(dir / "made"));
    EXPECT_EQ(100, firingInterval(monitor, 10));
    EXPECT_EQ("one \n", output.text());

    // Let the monitor read the output to its end, as the main loop would.
    dir.write("go", "");
    EXPECT_TRUE(waitUntil([&] { return !fireSource(monitor); }, 60));
    EXPECT_FALSE(sourceExists(monitor));
    EXPECT_EQ(0, state->running);
    EXPECT_EQ(nullptr, state->pipe);
    EXPECT_TRUE(fileExists(dir / "made"));
    EXPECT_EQ("one \ntwo \n", output.text());
}

TEST(AsyncRun, StartsNoShellForMissingOrEmptyText) {
    Record record;
    EXPECT_EQ(-1, Bash(nullptr, 0, record.state));
    EXPECT_EQ(-1, Bash("", 0, record.state));
    EXPECT_EQ(nullptr, record.state->pipe);
    EXPECT_EQ(0, record.state->running);
    EXPECT_EQ(0u, record.state->outputTimer);
}
