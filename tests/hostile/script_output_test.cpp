// Scripts that misbehave while they run: output without line feeds, a background process
// that holds the output open, no bash to run them, a script that kills its own shell.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "hostile/hostile.h"
#include "progress/progress.h"
#include "shell/shell.h"
#include "support/support.h"

namespace {

// "1,2,3,..." cut to `size` bytes: no line feed, and every piece has its place.
std::string numbers(size_t size) {
    std::string text;
    for (int i = 1; text.size() < size; ++i)
        text += std::to_string(i) + ',';
    text.resize(size);
    return text;
}

// The block text that prints numbers(size) the same way.
std::string printNumbers(size_t size) {
    return "seq 1 1000000 | tr '\\n' , | head -c " + std::to_string(size);
}

// The echoed lines between two marker lines of the program's output.
std::vector<std::string> linesBetween(const std::string& out, const std::string& first,
                                      const std::string& last) {
    std::vector<std::string> lines;
    size_t start = out.find(first);
    size_t end = out.find(last);
    if (start == std::string::npos || end == std::string::npos)
        return lines;
    for (size_t at = start + first.size(); at < end;) {
        size_t feed = out.find('\n', at);
        lines.push_back(out.substr(at, feed - at));
        at = feed + 1;
    }
    return lines;
}

}  // namespace

// Driven in-process at full speed, so that the megabyte does not take 1,025 ticks of 100 ms.
// Each tick echoes at most 1023 bytes; a piece may be shorter when the pipe is momentarily
// empty, but together the pieces are the output, in order, with nothing lost or added.
TEST(OutputWithoutLineFeed, MegabyteIsEchoedAndShownInPiecesWithNothingLost) {
    ProgressState* record = create_progress();
    GtkWidget* window = record->window;
    // Only the output monitor runs here.
    g_source_remove(record->timer);
    record->timer = 0;
    const size_t size = size_t{1024} * 1024;
    std::string block = "\n" + printNumbers(size);
    CapturedStdout printed;
    Bash(block.c_str(), block.size(), record);
    ASSERT_EQ(1, record->running);
    // Consecutive pieces differ, so a new label text is a new piece.
    std::string echoed, console, shown = gtk_label_get_text(GTK_LABEL(record->label));
    size_t pieces = 0;
    for (double end = now() + 120 * timeScale(); record->running && now() < end;) {
        fireSource(record->outputTimer);
        std::string label = gtk_label_get_text(GTK_LABEL(record->label));
        if (!record->running || label == shown) {
            pause(0.001);
            continue;
        }
        EXPECT_LE(label.size(), 1023u);
        echoed += label;
        console += label + "\n";
        shown = label;
        ++pieces;
    }
    EXPECT_EQ(0, record->running);
    EXPECT_TRUE(echoed == numbers(size)) << "echoed " << echoed.size() << " bytes";
    EXPECT_GE(pieces, (size + 1022) / 1023);
    EXPECT_TRUE(console == printed.text()) << "the console got other pieces than the label";
    EXPECT_STREQ("", gtk_label_get_text(GTK_LABEL(record->label)));
    gtk_widget_destroy(window);
}

// At the real pace the whole output is waiting in the pipe, so every piece but the last is
// exactly 1023 bytes, and the interpreter goes on once all of it has been shown.
TEST(OutputWithoutLineFeed, BuiltProgramEchoesEveryPieceOf1023Bytes) {
    TempDir dir;
    const size_t size = 40 * 1023 + 100;
    // One write of the whole file puts it into the pipe at once.
    dir.write("installer", "#script_start\necho first\n" + printNumbers(size) +
                               " > out.txt; cat out.txt; echo\necho last\n" + "#script_end\n#title=After\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "After", 60);
    ASSERT_NE(0u, window) << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    std::vector<std::string> pieces = linesBetween(program.out(), "first \n", "last \n");
    ASSERT_EQ(41u, pieces.size()) << program.out();
    std::string echoed;
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(1023u, pieces[i].size()) << i;
        echoed += pieces[i];
    }
    // The last piece held the line feed of the closing echo.
    const size_t shown = size_t{40} * 1023;
    EXPECT_EQ(numbers(size).substr(shown) + " ", pieces[40]);
    EXPECT_EQ(numbers(size).substr(0, shown), echoed);
}

// The output of a block ends when every process holding it has closed it: a background
// process started without redirection keeps the interpreter paused until it ends.
TEST(BackgroundProcess, AsyncBlockPausesTheInterpreterUntilTheBackgroundProcessEnds) {
    TempDir dir;
    dir.write("installer",
              "#title=Waiting\n#script_start\n(while [ ! -e go ]; do sleep 0.01; done; echo late) &\n"
              "echo started\n#script_end\n#title=After\n");
    Program program(dir.path(), {});
    ASSERT_TRUE(program.waitForOutput("started \n", 60)) << program.err();
    WindowId window = findWindow(program.pid(), "Waiting", 10);
    ASSERT_NE(0u, window);
    // The block's own shell has ended; its background process holds the output open.
    EXPECT_EQ(0u, findWindow(program.pid(), "After", 1));
    dir.write("go", "");
    ASSERT_NE(0u, findWindow(program.pid(), "After", 30));
    // The title changes only after the last output line was echoed.
    EXPECT_EQ("Warning:  EULA not found\nstarted \nlate \n", program.out());
    EXPECT_EQ(0, finishWithOk(program, window));
}

// A no-wait block reads its output until every writer has closed it, so the background
// process's writes find a reader and it does all its work before the next line is read.
TEST(BackgroundProcess, NoWaitBlockWaitsForTheBackgroundProcessAndLosesNothing) {
    TempDir dir;
    dir.write("installer",
              "#script_start_nowait\n(touch waiting; while [ ! -e go ]; do sleep 0.01; done; echo late; "
              "touch late.txt) &\necho started\n#script_end\n#title=After\n");
    Program program(dir.path(), {});
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "waiting"); }, 60)) << program.err();
    EXPECT_EQ(0u, findWindow(program.pid(), "After", 1));
    dir.write("go", "");
    WindowId window = findWindow(program.pid(), "After", 60);
    ASSERT_NE(0u, window) << program.err();
    EXPECT_TRUE(fileExists(dir / "late.txt"));
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  EULA not found\n", program.out());
}

// The system shell is /bin/sh whatever the PATH says; it reports the missing bash on standard
// error once per block, and the run goes on to its end with status 0.
TEST(MissingBash, EveryBlockKindFailsWithTheShellsMessageAndTheRunGoesOn) {
    TempDir dir;
    ASSERT_EQ(0, symlink("/bin/sh", (dir / "sh").c_str()));
    dir.write("installer",
              "#script_start\necho async\n#script_end\n#script_start_blocking\necho blocking\n#script_end\n"
              "#script_start_nowait\necho nowait\n#script_end\n#title=After\n");
    const std::vector<std::string> environment = {"PATH=" + dir.path()};
    Program program(dir.path(), {}, environment);
    WindowId window = findWindow(program.pid(), "After", 60);
    ASSERT_NE(0u, window) << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  EULA not found\n", program.out());
    EXPECT_EQ(3u, occurrences(program.err(), "bash: not found")) << program.err();

    Result silent = runProgram(dir.path(), {"-s"}, environment);
    EXPECT_EQ(0, silent.status);
    EXPECT_EQ("", silent.out);
    EXPECT_EQ(1u, occurrences(silent.err, "bash: not found")) << silent.err;
}

// "$$" and "$PPID" written plainly are expanded by the system shell; with a backslash they
// reach bash. Killing the system shell leaves bash running the rest of the block; bash
// killing itself ends the block there. Either way the output ends and the run goes on.
TEST(ShellKilled, BlocksThatKillTheirOwnShellLetTheRunGoOn) {
    TempDir dir;
    dir.write("installer",
              "#script_start\necho parent\nkill -9 \\$PPID\necho orphan\n#script_end\n"
              "#script_start\necho system\nkill $$\necho survived\n#script_end\n"
              "#script_start\necho self\nkill -9 \\$\\$\necho never\n#script_end\n"
              "#script_start_blocking\necho blocking-self\nkill \\$\\$\necho never\n#script_end\n"
              "#script_start_nowait\nkill -9 \\$\\$\n#script_end\n#title=After\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "After", 60);
    ASSERT_NE(0u, window) << program.out() << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  EULA not found\nparent \norphan \nsystem \nsurvived \nself \nblocking-self\n",
              program.out());
}
