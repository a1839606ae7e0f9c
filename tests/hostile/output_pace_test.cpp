// A block that prints far faster than the output monitor shows: every line is shown and
// echoed in order at ten lines a second, and the run goes on after the last of them.
#include <gtest/gtest.h>

#include <string>

#include "hostile/hostile.h"
#include "support/support.h"

TEST(OutputPace, ThousandQuickLinesAreAllEchoedInOrderAtTenASecond) {
    TempDir dir;
    dir.write("installer", "#script_start\nseq -f line-%g 1 1000\n#script_end\n#title=After\n");
    Program program(dir.path(), {});
    ASSERT_TRUE(program.waitForOutput("line-1 \n", 60)) << program.err();
    double first = now();
    ASSERT_TRUE(program.waitForOutput("line-1000 \n", 250)) << program.out();
    double seconds = now() - first;
    RecordProperty("seconds", std::to_string(seconds));
    // 999 intervals of at least 100 ms; a loaded machine only makes it slower.
    EXPECT_GE(seconds, 99.0);
    EXPECT_LT(seconds, 200.0);

    WindowId window = findWindow(program.pid(), "After", 30);
    ASSERT_NE(0u, window);
    EXPECT_EQ(0, clickOkUntilExit(program, window, 30));
    std::string expected = "Warning:  EULA not found\n";
    for (int i = 1; i <= 1000; ++i)
        expected += "line-" + std::to_string(i) + " \n";
    EXPECT_EQ(expected, program.out());
}
