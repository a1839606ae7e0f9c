// Control scripts far larger than any installer's: 100 MB files and 10 MB lines load, run
// and end, in silent and in interactive mode.
#include <gtest/gtest.h>

#include <string>

#include "buffers/buffers.h"
#include "hostile/hostile.h"
#include "progress/progress.h"
#include "shell/shell.h"
#include "support/support.h"

namespace {

const size_t kMegabyte = size_t{1024} * 1024;

}  // namespace

// bash reads a here-document from the system shell's pipe one byte per system call, so the
// script ends itself before its 100 MB of directive lines (comments to the shell). A line
// "EOF" ends the here-document: the command after it is run by the system shell once it has
// read all the 100 MB. (A command substitution would not do: dash copies the text before it
// onto its stack and overflows.)
TEST(HugeControlScript, SilentRunHandsAllHundredMegabytesToTheShellAndEnds) {
    TempDir dir;
    const std::string directive = "#progress=0.5\n";
    writeRepeated(dir / "installer", "echo ran > ran.txt\nexit 0\n", directive,
                  100 * kMegabyte / directive.size(), "EOF\necho whole > whole.txt\n");
    Result result = runProgram(dir.path(), {"-s"}, {}, 240);
    EXPECT_EQ(0, result.status) << result.err;
    EXPECT_EQ("ran\n", readFile(dir / "ran.txt")) << result.err;
    EXPECT_EQ("whole\n", readFile(dir / "whole.txt"));
    EXPECT_EQ("", result.out);
}

// Interactive mode takes one line per tick, so the 100 MB are one long comment line between
// a block and a last directive: the run reads it in one tick and reaches the finished state.
TEST(HugeControlScript, InteractiveRunReadsPastAHundredMegabyteLineAndFinishes) {
    TempDir dir;
    writeRepeated(dir / "installer", "#title=Big\n#script_start\necho block-ran\n#script_end\n# ", "x",
                  100 * kMegabyte, "\n#title=After\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "After", 180);
    ASSERT_NE(0u, window) << program.out() << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  EULA not found\nblock-ran \n", program.out());
}

TEST(LongLine, TenMegabyteTitleIsSetWholeAndTheRunGoesOn) {
    TempDir dir;
    std::string value;
    for (int i = 0; value.size() < 10 * kMegabyte; ++i)
        value += std::to_string(i) + ' ';
    value.resize(10 * kMegabyte);
    // The blocking block holds the long title on screen until it has been read.
    dir.write("installer",
              "#title=" + value +
                  "\n#script_start_blocking\nwhile [ ! -e go ]; do sleep 0.01; done\n#script_end\n"
                  "#title=After\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "", 60);
    ASSERT_NE(0u, window) << program.err();
    std::string title;
    // The reader takes the first 256 KiB of the property.
    EXPECT_TRUE(waitUntil(
        [&] {
            title = windowTitle(window);
            return title.size() >= 65536;
        },
        60));
    EXPECT_EQ(value.substr(0, title.size()), title);
    dir.write("go", "");
    ASSERT_NE(0u, findWindow(program.pid(), "After", 60));
    EXPECT_EQ(0, finishWithOk(program, window));
}

// Such a block is far longer than one argument of a new program may be, yet the shell must
// get all of it. As above, bash ends before the long line and the system shell runs the
// command after the "EOF" line.
TEST(LongLine, TenMegabyteBlockLineReachesTheShellInEveryBlockKind) {
    TempDir dir;
    auto block = [](const std::string& opening, const std::string& kind) {
        return opening + "\necho " + kind + "; exit 0\n: " + std::string(10 * kMegabyte, 'v') +
               "\nEOF\necho " + kind + " > " + kind + ".txt\n#script_end\n";
    };
    dir.write("installer", block("#script_start", "async") + block("#script_start_blocking", "blocking") +
                               block("#script_start_nowait", "nowait") + "#title=After\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "After", 120);
    ASSERT_NE(0u, window) << program.out() << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  EULA not found\nasync \nblocking\n", program.out());
    for (const char* kind : {"async", "blocking", "nowait"})
        EXPECT_EQ(std::string(kind) + "\n", readFile(dir / (std::string(kind) + ".txt"))) << kind;
}

// In-process, on both sides of the length at which a command stops fitting into one argument
// (the command is the text and 15 bytes of here-document around it).
TEST(LongLine, RunnersStartShellTextOnBothSidesOfTheArgumentLimit) {
    TempDir dir;
    InDirectory inside(dir.path());
    for (size_t length : {size_t{131056}, size_t{131057}, size_t{300000}}) {
        SCOPED_TRACE(length);
        auto padded = [length](const std::string& command) {
            return command + "\n#" + std::string(length - command.size() - 2, 'c');
        };
        std::string failing = padded("exit 3");
        ASSERT_EQ(length, failing.size());
        EXPECT_EQ(3, BashBlocking(failing.c_str(), failing.size()));
        std::string blocking = padded("echo blocking > blocking.txt");
        BashBlocking(blocking.c_str(), blocking.size());
        EXPECT_EQ("blocking\n", readFile(dir / "blocking.txt"));
        // The unlinked command file reaches the system shell only: the block's commands
        // (a daemon, say) do not hold it open.
        std::string descriptors = padded("ls -l /proc/self/fd > descriptors.txt");
        BashBlocking(descriptors.c_str(), descriptors.size());
        EXPECT_EQ(std::string::npos, readFile(dir / "descriptors.txt").find("(deleted)"))
            << readFile(dir / "descriptors.txt");

        auto* record = static_cast<ProgressState*>(g_malloc0(sizeof(ProgressState)));
        record->noWait = 1;
        std::string noWait = padded("echo nowait > nowait.txt");
        Bash(noWait.c_str(), noWait.size(), record);
        EXPECT_EQ("nowait\n", readFile(dir / "nowait.txt"));

        record->noWait = 0;
        std::string async = padded("echo async");
        CapturedStdout printed;
        Bash(async.c_str(), async.size(), record);
        ASSERT_EQ(1, record->running);
        waitUntil([&] { return !fireSource(record->outputTimer); }, 30);
        EXPECT_EQ(0, record->running);
        EXPECT_EQ("async \n", printed.text());
        g_free(record);
        unlink((dir / "blocking.txt").c_str());
        unlink((dir / "nowait.txt").c_str());
    }
}
