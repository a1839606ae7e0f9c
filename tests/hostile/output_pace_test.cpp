// A block that prints far faster than the output monitor shows: every line is shown and echoed
// in order, one a tick, and the run goes on after the last of them. The pace itself, ten
// lines a second, is measured by make bench.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

TEST(OutputPace, QuickLinesAreAllEchoedInOrderBeforeTheRunGoesOn) {
    TempDir dir;
    dir.write("installer", "#script_start\nseq -f line-%g 1 40\n#script_end\n#title=After\n");
    Program program(dir.path(), {});
    ASSERT_TRUE(program.waitForOutput("line-1 \n", 60)) << program.err();
    // The shell is done long before its lines have been shown.
    EXPECT_EQ(std::string::npos, program.out().find("line-40 \n"));
    WindowId window = findWindow(program.pid(), "After", 60);
    ASSERT_NE(0u, window);
    EXPECT_EQ(0, finishWithOk(program, window));
    std::string expected = "Warning:  EULA not found\n";
    for (int i = 1; i <= 40; ++i)
        expected += "line-" + std::to_string(i) + " \n";
    EXPECT_EQ(expected, program.out());
}

// Lines that drive the window are applied as they come, however many: 3,000 of them, shown one
// a tick, would hold the run for five minutes.
TEST(OutputPace, DirectiveLinesAreAppliedWithoutWaitingForATickEach) {
    TempDir dir;
    dir.write("installer",
              "#script_start\nfor i in \\$(seq 1 3000); do echo \"#progress=0.\\$i\"; done\necho unpacked\n"
              "#script_end\n#title=After\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "After", 20);
    ASSERT_NE(0u, window) << program.out().substr(program.out().size() - 200);
    EXPECT_EQ(0, finishWithOk(program, window));
    std::string expected = "Warning:  EULA not found\n";
    for (int i = 1; i <= 3000; ++i)
        expected += "#progress=0." + std::to_string(i) + " \n";
    EXPECT_EQ(expected + "unpacked \n", program.out());
}
