// Silent mode from end to end: the whole control script through the shell, no window.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

TEST(SilentMode, PassesTheScriptOutputThroughByteForByte) {
    TempDir dir;
    dir.write("script",
              "printf 'tab\\there|'\n"
              "printf 'carriage\\rreturn\\r\\n\\351\\n'\n"
              "head -c 100000 /dev/zero | tr '\\0' z\n"
              "printf '\\n\\nno line feed at the end'\n");
    Result result = runProgram(dir.path(), {"-s", "-f", "script"}, {}, 30);
    EXPECT_EQ(0, result.status);
    std::string expected =
        "tab\there|carriage\rreturn\r\n\xe9\n" + std::string(100000, 'z') + "\n\nno line feed at the end";
    EXPECT_EQ(expected.size(), result.out.size());
    EXPECT_TRUE(expected == result.out) << "output differs";
}

TEST(SilentMode, WaitsForTheShellToEnd) {
    TempDir dir;
    dir.write("installer", "touch started\nwhile [ ! -e go ]; do sleep 0.01; done\ntouch done\n");
    Program program(dir.path(), {"-s"});
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "started"); }, 20));
    EXPECT_FALSE(waitUntil([&] { return !program.running(); }, 0.5));
    dir.write("go", "");
    EXPECT_EQ(0, program.wait(30));
    EXPECT_TRUE(fileExists(dir / "done"));
}

TEST(SilentMode, EndsWithStatusZeroWhenTheScriptFails) {
    TempDir dir;
    dir.write("installer", "echo failing\nexit 7\necho not reached\n");
    Result result = runProgram(dir.path(), {"-s"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("failing\n", result.out);
}

TEST(SilentMode, TreatsDirectivesAsCommentsButRunsTextBeforeThem) {
    TempDir dir;
    dir.write("installer",
              "#title=Silent\n"
              "#progress=0.5\n"
              "#text=Working\n"
              "echo before #text=after a blank\n"
              "echo glued#text=kept\n"
              "#script_start\n"
              "echo inside\n"
              "#script_end\n"
              "#script_start_nowait\n"
              "echo no wait\n"
              "#script_end\n"
              "#exit\n"
              "echo after exit\n"
              "echo \"\\$OSTREL_MODE \\${OSTREL_LANGUAGE-unset}\"\n");
    Result result = runProgram(dir.path(), {"-s"}, {"OSTREL_MODE=window", "OSTREL_LANGUAGE=English"}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("before\nglued#text=kept\ninside\nno wait\nafter exit\nsilent unset\n", result.out);
}

TEST(SilentMode, SharesTheProgramsStandardError) {
    TempDir dir;
    dir.write("installer", "echo to-err >&2\necho to-out\n");
    Result result = runProgram(dir.path(), {"-s"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("to-out\n", result.out);
    EXPECT_NE(std::string::npos, result.err.find("to-err\n"));
}

TEST(SilentMode, RunsTheScriptAfterAnEofLineInTheSystemShell) {
    TempDir dir;
    dir.write("installer", "echo \\$0\nEOF\necho $0\n");
    Result result = runProgram(dir.path(), {"-s"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("bash\nsh\n", result.out);
    // The closing line of the here-document is left over as a command.
    EXPECT_NE(std::string::npos, result.err.find("EOF"));
    EXPECT_NE(std::string::npos, result.err.find("not found"));
}

TEST(SilentMode, HandsTheShellTheScriptUpToItsFirstNulByte) {
    TempDir dir;
    dir.write("installer", std::string("echo one\n\0echo two\n", 19));
    Result result = runProgram(dir.path(), {"-s"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("one\n", result.out);

    // Nothing at all before the NUL: nothing runs.
    dir.write("installer", std::string("\0touch made\n", 12));
    Result empty = runProgram(dir.path(), {"-s"}, {}, 30);
    EXPECT_EQ(0, empty.status);
    EXPECT_EQ("", empty.out);
    EXPECT_FALSE(fileExists(dir / "made"));
}

// Interactive mode would end at once with status 1 where no display can be reached.
TEST(SilentMode, NeedsNoDisplay) {
    TempDir dir;
    dir.write("installer", "#title=Never shown\necho ran\n");
    Result result = runProgram(dir.path(), {"-s"}, {"DISPLAY"}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("ran\n", result.out);
    EXPECT_EQ("", result.err);
}

// Only a block that fails after #stop_on_failure= ends the run with its status and text; not a
// block before it, nor a command outside the blocks, which the window would never run.
TEST(SilentMode, EndsWithTheStatusOfABlockThatFailsAfterStopOnFailure) {
    struct Case {
        const char* script;
        int status;
        const char* err;
    };
    const Case cases[] = {
        {"#script_start\nexit 3\n#script_end\n#stop_on_failure=X\n", 0, ""},
        {"#stop_on_failure=X\n#script_start\necho ok\n#script_end\nfalse\n", 0, ""},
        {"#stop_on_failure=X\n#script_start\nfalse", 1, "X\n"},
        {"#stop_on_failure=X\n#stop_on_failure=Y\n#script_start\n(exit 9)\n#script_end\ntouch later\n", 9,
         "Y\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        TempDir dir;
        dir.write("installer", c.script);
        Result result = runProgram(dir.path(), {"-s"}, {}, 30);
        EXPECT_EQ(c.status, result.status);
        EXPECT_EQ(c.err, result.err);
        EXPECT_FALSE(fileExists(dir / "later"));
    }
}
