// A program far behind with its events still follows its control script: the interpreter is
// not starved by the toolkit's events.
#include <gtest/gtest.h>

#include "support/support.h"

// The events pile up in front of a close, and the block ends amid them: most are still to be
// sent and handled after it, so the close comes well after the block's end. A starved
// interpreter would read on only once the program has caught up, and then the close has ended
// the run. A program that runs slower (under valgrind, say) is sent fewer events, which take it
// as long.
TEST(EventFlood, TheScriptGoesOnWhileTheProgramIsBehindWithItsEvents) {
    TempDir dir;
    dir.write("installer",
              "#title=Flooded\n#script_start\nwhile [ ! -e go ]; do sleep 0.01; done\n#script_end\n"
              "#script_start_blocking\ntouch applied\n#script_end\n#title=Done\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "Flooded", 60);
    ASSERT_NE(0u, window) << program.err();
    const int events = static_cast<int>(100000 / timeScale());
    floodWithEvents(window, events * 3 / 10);
    dir.write("go", "");
    floodWithEvents(window, events * 7 / 10);
    requestClose(window);
    EXPECT_EQ(0, program.wait(120));
    EXPECT_TRUE(fileExists(dir / "applied")) << "the block after the flood did not run before the close";
}
