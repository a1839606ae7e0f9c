// The built program run interactively on control scripts, watched through its window on the
// test display: what it shows, what it echoes, how it ends.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <locale.h>

#include <set>
#include <string>

#include "support/support.h"

namespace {

const char kWarning[] = "Warning:  EULA not found\n";

// A scratch directory with the control script as "./installer" and no licence directory, so
// the progress window opens straight after the warning.
struct Installer {
    explicit Installer(const std::string& script) { dir.write("installer", script); }
    TempDir dir;
};

// A row of the bar, in window coordinates of the 300-pixel-wide window: above its text with
// GTK+ 2, and in GTK 3's thin bar below the text.
const int kBarY = gtk3Windows() ? 25 : 13;
const int kBarLeft = 11;
const int kBarRight = 288;

// How much of the bar's width is drawn in the dark fill colour.
double barFill(WindowId window) {
    int filled = 0;
    for (int x = kBarLeft; x <= kBarRight; ++x) {
        unsigned int rgb = std::stoul(pixelColour(window, x, kBarY).substr(1), nullptr, 16);
        double luminance =
            (0.3 * ((rgb >> 16) & 0xff) + 0.59 * ((rgb >> 8) & 0xff) + 0.11 * (rgb & 0xff)) / 255.0;
        if (luminance < 0.65)
            ++filled;
    }
    return static_cast<double>(filled) / (kBarRight - kBarLeft + 1);
}

bool barNear(WindowId window, double fraction) {
    double fill = barFill(window);
    return fill > fraction - 0.05 && fill < fraction + 0.05;
}

std::string barRow(WindowId window) {
    std::string row;
    for (int x = kBarLeft; x <= kBarRight; x += 2)
        row += pixelColour(window, x, kBarY);
    return row;
}

// The window of a freshly started program; fails the test when none appears.
WindowId progressWindow(Program& program, const std::string& title = "") {
    EXPECT_TRUE(program.waitForOutput(kWarning, 20));
    WindowId window = findWindow(program.pid(), title, 20);
    EXPECT_NE(0u, window) << "no window titled \"" << title << "\"";
    return window;
}

// A block that prints a line, then holds the run until the test writes "go".
const char kHeldBlock[] = "#script_start\necho shown\nwhile [ ! -e go ]; do sleep 0.01; done\n#script_end\n";

}  // namespace

TEST(InteractiveRun, OpensACentredWindowAboveOthersTitledInstallingAt300By100) {
    Installer installer("#script_start\nwhile [ ! -e go ]; do sleep 0.02; done\n#script_end\n#title=Later\n");
    Program program(installer.dir.path(), {});
    ASSERT_TRUE(program.waitForOutput(kWarning, 20));
    WindowId window = findWindow(program.pid(), "Installing...", 20);
    ASSERT_NE(0u, window);
    Geometry geometry = windowGeometry(window);
    EXPECT_EQ(300, geometry.width);
    EXPECT_EQ(100, geometry.height);
    GdkScreen* screen = gdk_screen_get_default();
    EXPECT_NEAR((gdk_screen_get_width(screen) - 300) / 2.0, geometry.x, 1);
    EXPECT_NEAR((gdk_screen_get_height(screen) - 100) / 2.0, geometry.y, 1);
    EXPECT_NE(std::string::npos, windowProperty(window, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE"));
    installer.dir.write("go", "");
    requestClose(window);
    EXPECT_EQ(0, program.wait(20));
    EXPECT_EQ(kWarning, program.out());
}

TEST(InteractiveRun, ShowsTheExampleScriptAndEchoesItsOutputLine) {
    Installer installer(
        "#title=Example Setup\n"
        "#text=Copying files\n"
        "#progress=0.25\n"
        "#script_start\n"
        "cp -r data example-copy\n"
        "while [ ! -e go ]; do sleep 0.01; done\n"
        "echo copied\n"
        "#script_end\n"
        "#progress=1\n");
    installer.dir.write("data/file", "payload");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Example Setup");
    ASSERT_NE(0u, window);
    // While the block runs the bar is a quarter full.
    ASSERT_TRUE(waitUntil([&] { return fileExists(installer.dir / "example-copy/file"); }, 10));
    EXPECT_TRUE(waitUntil([&] { return barNear(window, 0.25); }, 5)) << barFill(window);
    EXPECT_FALSE(okShown(window));

    installer.dir.write("go", "");
    ASSERT_TRUE(program.waitForOutput("copied \n", 10));
    EXPECT_TRUE(waitUntil([&] { return okShown(window) && barNear(window, 1.0); }, 5)) << barFill(window);
    EXPECT_EQ("Example Setup", windowTitle(window));
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ(std::string(kWarning) + "copied \n", program.out());
    EXPECT_EQ("payload", readFile(installer.dir / "example-copy/file"));
}

TEST(InteractiveRun, EchoesEveryOutputLineEndingInASpaceWithCarriageReturnsBlanked) {
    Installer installer(
        "#script_start\n"
        "echo one\n"
        "echo 'two  '\n"
        "printf 'car\\rriage\\r\\n'\n"
        "echo\n"
        "printf 'no line feed'\n"
        "#script_end\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    std::string expected = std::string(kWarning) + "one \ntwo   \ncar riage  \n \nno line feed\n";
    ASSERT_TRUE(program.waitForOutput("no line feed\n", 10)) << program.out();
    requestClose(window);
    EXPECT_EQ(0, program.wait(10));
    EXPECT_EQ(expected, program.out());
    EXPECT_EQ("", program.err());
}

TEST(InteractiveRun, ExpandsVariablesInTheOuterShellBeforeTheBlockRuns) {
    Installer installer("#script_start\nX=1\necho \"[$X]\"\n#script_end\n");
    Program program(installer.dir.path(), {}, {"X"});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("] \n", 10));
    requestClose(window);
    EXPECT_EQ(0, program.wait(10));
    EXPECT_EQ(std::string(kWarning) + "[] \n", program.out());
}

TEST(InteractiveRun, ClosedMidRunEndsWithStatus0AndRunsNoLaterBlock) {
    Installer installer(
        "#title=Closing\n"
        "#script_start\n"
        "echo ready\n"
        "while [ ! -e go ]; do sleep 0.01; done\n"
        "#script_end\n"
        "#script_start_blocking\n"
        "touch later\n"
        "#script_end\n"
        "#title=Never\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Closing");
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("ready \n", 10));
    requestClose(window);
    // The close waits for the running block, then ends the run before the next one.
    EXPECT_FALSE(waitUntil([&] { return !program.running(); }, 0.5));
    installer.dir.write("go", "");
    EXPECT_EQ(0, program.wait(15));
    EXPECT_FALSE(fileExists(installer.dir / "later"));
    EXPECT_EQ(std::string(kWarning) + "ready \n", program.out());
}

// The same failed step stops both modes with the same status; a failure before the directive
// changes nothing.
TEST(InteractiveRun, StopsAtTheBlockThatFailsAfterStopOnFailureAsSilentModeDoes) {
    const char* const script =
        "#title=Stopping\n#script_start\nfalse\n#script_end\n#stop_on_failure=Can't copy $HOME \\ here\n"
        "#script_start\necho copying\nexit 7\n#script_end\n"
        "#script_start_blocking\ntouch later\n#script_end\n#title=Never\n";
    Installer silent(script);
    Result result = runProgram(silent.dir.path(), {"-s"}, {}, 30);
    EXPECT_EQ(7, result.status);
    EXPECT_EQ("copying\n", result.out);
    // Byte for byte, although /bin/sh sees the line first.
    EXPECT_EQ("Can't copy $HOME \\ here\n", result.err);
    EXPECT_FALSE(fileExists(silent.dir / "later"));

    Installer installer(script);
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Stopping");
    ASSERT_NE(0u, window);
    EXPECT_EQ(7, finishWithOk(program, window));
    EXPECT_EQ(std::string(kWarning) + "copying \n", program.out());
    EXPECT_FALSE(fileExists(installer.dir / "later"));
}

TEST(InteractiveRun, ClosingTheWindowEndsARunningBlockAtItsNextWrite) {
    // Left alone the loop would print for half a minute and then make the file.
    Installer installer(
        "#title=Looping\n"
        "#script_start\n"
        "for n in \\$(seq 1 300); do echo line \\$n; sleep 0.1; done\n"
        "touch finished\n"
        "#script_end\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Looping");
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("line 1 \n", 10));
    requestClose(window);
    EXPECT_EQ(0, program.wait(10));
    EXPECT_FALSE(fileExists(installer.dir / "finished"));
    EXPECT_EQ("", program.err());
}

TEST(InteractiveRun, OkButtonEndsTheFinishedRunWithStatus0) {
    Installer installer("#title=Short\n#progress=0.3\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Short");
    ASSERT_NE(0u, window);
    ASSERT_TRUE(waitUntil([&] { return okShown(window) && barNear(window, 1.0); }, 10)) << barFill(window);
    EXPECT_TRUE(program.running());
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ(kWarning, program.out());
    EXPECT_EQ("", program.err());
}

TEST(InteractiveRun, ShowsOkOnlyAfterTheLastBlockHasEchoedItsLastLine) {
    Installer installer(
        "#progress=0.5\n#script_start\necho working\nwhile [ ! -e go ]; do sleep 0.01; done\necho installed\n"
        "#script_end\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("working \n", 10));
    // The last step still runs: the bar shows the stored fraction and there is no "OK" yet.
    EXPECT_TRUE(waitUntil([&] { return barNear(window, 0.5); }, 5)) << barFill(window);
    EXPECT_FALSE(okShown(window));
    installer.dir.write("go", "");
    ASSERT_TRUE(program.waitForOutput("installed \n", 10));
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ(std::string(kWarning) + "working \ninstalled \n", program.out());
}

TEST(InteractiveRun, PulsesTheBarWhileABlockIsQuietAndShowsTheFractionAgainAtItsNextLine) {
    Installer installer(
        "#progress=0.5\n#script_start\necho quiet\nwhile [ ! -e go ]; do sleep 0.01; done\necho again\n"
        "while [ ! -e end ]; do sleep 0.01; done\n#script_end\n#title=After\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("quiet \n", 10));
    ASSERT_TRUE(waitUntil([&] { return barNear(window, 0.5); }, 5)) << barFill(window);
    std::string still = barRow(window);
    // After two quiet seconds the bar moves, though nothing is printed.
    std::set<std::string> rows;
    EXPECT_TRUE(waitUntil(
        [&] {
            rows.insert(barRow(window));
            return rows.size() >= 3;
        },
        15))
        << "the bar should pulse";
    EXPECT_EQ(std::string(kWarning) + "quiet \n", program.out());

    installer.dir.write("go", "");
    ASSERT_TRUE(program.waitForOutput("again \n", 10));
    EXPECT_TRUE(waitUntil([&] { return barRow(window) == still; }, 2));
    installer.dir.write("end", "");
    requestClose(window);
    EXPECT_EQ(0, program.wait(10));
}

TEST(InteractiveRun, ReadsAPointAsDecimalSeparatorUnderADecimalCommaLocale) {
    std::string old = setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(nullptr, setlocale(LC_NUMERIC, "de_DE.UTF-8")) << "the de_DE.UTF-8 locale is missing";
    setlocale(LC_NUMERIC, old.c_str());

    Installer installer(std::string("#progress=0.5\n") + kHeldBlock);
    Program program(installer.dir.path(), {}, {"LC_ALL=de_DE.UTF-8"});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("shown \n", 10));
    EXPECT_TRUE(waitUntil([&] { return barNear(window, 0.5); }, 5)) << barFill(window);
    installer.dir.write("go", "");
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("", program.err());
}

TEST(InteractiveRun, ShowsOutOfRangeProgressAsAFullOrEmptyBarWithoutWarnings) {
    struct Case {
        const char* value;
        double fill;
    };
    for (const Case& c : {Case{"7", 1.0}, Case{"-3", 0.0}, Case{"nan", 0.0}}) {
        SCOPED_TRACE(c.value);
        Installer installer(std::string("#progress=") + c.value + "\n" + kHeldBlock);
        Program program(installer.dir.path(), {});
        WindowId window = progressWindow(program);
        ASSERT_NE(0u, window);
        ASSERT_TRUE(program.waitForOutput("shown \n", 10));
        EXPECT_TRUE(waitUntil([&] { return barNear(window, c.fill); }, 5)) << barFill(window);
        installer.dir.write("go", "");
        EXPECT_EQ(0, finishWithOk(program, window));
        EXPECT_EQ("", program.err());
    }
}

TEST(InteractiveRun, FinishesWhenTheLastLineHasNoLineFeed) {
    Installer installer("#title=Tail\n#progress=0.2\n#title=Never");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Tail");
    ASSERT_NE(0u, window);
    ASSERT_TRUE(waitUntil([&] { return okShown(window) && barNear(window, 1.0); }, 10)) << barFill(window);
    EXPECT_EQ("Tail", windowTitle(window));
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ(kWarning, program.out());
}
