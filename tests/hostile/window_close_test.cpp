// Closing the progress window while each kind of block runs: the run ends once the shell has
// ended, the shell finishes its work, and no later line of the control script runs.
#include <gtest/gtest.h>

#include <string>

#include "hostile/hostile.h"
#include "support/support.h"

namespace {

// A control script whose first block runs the given way and whose later block would leave
// later.txt behind if it ever ran.
std::string scriptWithBlock(const std::string& opening) {
    return "#title=Busy\n" + opening +
           "\necho started > started.txt\nsleep 3\necho done > done.txt\n#script_end\n"
           "#script_start_blocking\ntouch later.txt\n#script_end\n#title=Later\n";
}

struct Closed {
    int status;
    bool runningAfterASecond;  // the shell sleeps for three
    double secondsAfterShell;  // from done.txt's appearance to the program's end
};

// Starts the script, waits for its block to start, asks the window to close as a window
// manager does, and waits for the end.
Closed closeWhileTheBlockRuns(const TempDir& dir, Program& program) {
    WindowId window = findWindow(program.pid(), "Busy", 60);
    EXPECT_NE(0u, window) << program.err();
    for (double end = now() + 30; !fileExists(dir / "started.txt") && now() < end;)
        pause(0.02);
    EXPECT_TRUE(fileExists(dir / "started.txt"));
    requestClose(window);
    pause(1);
    bool running = program.running();
    double done = 0;
    for (double end = now() + 30; program.running() && now() < end; pause(0.02)) {
        if (done == 0 && fileExists(dir / "done.txt"))
            done = now();
    }
    int status = program.wait(1);
    EXPECT_TRUE(fileExists(dir / "done.txt"));
    return {status, running, done > 0 ? now() - done : 0.0};
}

}  // namespace

// The window goes at once, but the close waits for the shell: it is neither killed nor left
// running, and the program ends as soon as it has ended.
TEST(WindowClosed, DuringAnAsyncBlockEndsOnceTheShellHasEnded) {
    TempDir dir;
    dir.write("installer", scriptWithBlock("#script_start"));
    Program program(dir.path(), {});
    Closed closed = closeWhileTheBlockRuns(dir, program);
    EXPECT_EQ(0, closed.status);
    EXPECT_TRUE(closed.runningAfterASecond);
    EXPECT_EQ("done\n", readFile(dir / "done.txt"));
    EXPECT_LT(closed.secondsAfterShell, 2.0);
    EXPECT_FALSE(fileExists(dir / "later.txt"));
}

// The main loop is held up while the shell runs, so the close is handled only afterwards;
// it then comes before the interpreter's next tick.
TEST(WindowClosed, DuringABlockingBlockTakesEffectAfterTheShellAndRunsNoLaterLine) {
    TempDir dir;
    dir.write("installer", scriptWithBlock("#script_start_blocking"));
    Program program(dir.path(), {});
    Closed closed = closeWhileTheBlockRuns(dir, program);
    EXPECT_EQ(0, closed.status);
    EXPECT_TRUE(closed.runningAfterASecond);
    EXPECT_EQ("done\n", readFile(dir / "done.txt"));
    EXPECT_LT(closed.secondsAfterShell, 2.0);
    EXPECT_FALSE(fileExists(dir / "later.txt"));
}

TEST(WindowClosed, DuringANoWaitBlockTakesEffectAfterTheShellAndRunsNoLaterLine) {
    TempDir dir;
    dir.write("installer", scriptWithBlock("#script_start_nowait"));
    Program program(dir.path(), {});
    Closed closed = closeWhileTheBlockRuns(dir, program);
    EXPECT_EQ(0, closed.status);
    EXPECT_TRUE(closed.runningAfterASecond);
    EXPECT_EQ("done\n", readFile(dir / "done.txt"));
    EXPECT_LT(closed.secondsAfterShell, 2.0);
    EXPECT_FALSE(fileExists(dir / "later.txt"));
}
