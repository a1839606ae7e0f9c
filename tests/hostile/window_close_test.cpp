// Closing the progress window while each kind of block runs: the run ends once the shell has
// ended, the shell finishes its work, and no later line of the control script runs.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

namespace {

class WindowClosed : public testing::TestWithParam<const char*> {};

// A blocking or no-wait block holds up the main loop, so the close is handled only after the
// shell; an asynchronous block's shell is waited for by the close itself. Either way the
// shell is neither killed nor left running, and nothing after the block runs.
TEST_P(WindowClosed, DuringABlockEndsTheRunOnceItsShellHasEndedAndRunsNoLaterLine) {
    TempDir dir;
    dir.write("installer", std::string("#title=Busy\n") + GetParam() +
                               "\necho started > started.txt\nwhile [ ! -e go ]; do sleep 0.01; done\n"
                               "echo done > done.txt\n#script_end\n"
                               "#script_start_blocking\ntouch later.txt\n#script_end\n#title=Later\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "Busy", 60);
    ASSERT_NE(0u, window) << program.err();
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "started.txt"); }, 30));
    requestClose(window);
    // Whatever the block kind, the program waits for the shell.
    EXPECT_FALSE(waitUntil([&] { return !program.running(); }, 1));
    dir.write("go", "");
    EXPECT_EQ(0, program.wait(30));
    EXPECT_EQ("done\n", readFile(dir / "done.txt"));
    EXPECT_FALSE(fileExists(dir / "later.txt"));
}

INSTANTIATE_TEST_SUITE_P(EveryBlockKind, WindowClosed,
                         testing::Values("#script_start", "#script_start_blocking", "#script_start_nowait"));

}  // namespace
