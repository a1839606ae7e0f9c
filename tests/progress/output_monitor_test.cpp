// The output monitor of an asynchronous block, tick by tick: lines shown and echoed, long and
// partial lines, the end of the output and the pulsing after a quiet spell.
#include "progress/in_process.h"

using OutputMonitor = InProcessRun;

namespace {

// A block line that waits until the test lets it go on.
const char kWaitForGo[] = "while [ ! -e go ]; do sleep 0.01; done\n";

}  // namespace

TEST_F(OutputMonitor, ShowsThreeQuickLinesOneATickThenEmptiesTheLabelAtTheEnd) {
    start("#script_start\necho first\necho second\necho third\ntouch written\n#script_end\n#title=Next\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    // The lines are in the pipe before the file is made.
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "written"); }, 10));
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("first ", labelText());
    EXPECT_EQ("first \n", out.text());
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("second ", labelText());
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("third ", labelText());
    EXPECT_EQ(1, record->running);
    EXPECT_TRUE(gtk_widget_get_visible(record->label));

    guint outputTimer = record->outputTimer;
    EXPECT_TRUE(waitUntil([&] { return !monitorTick(); }, 10));
    EXPECT_EQ("", labelText());
    EXPECT_EQ(0, record->running);
    EXPECT_EQ(nullptr, record->pipe);
    EXPECT_FALSE(sourceExists(outputTimer));
    EXPECT_EQ("first \nsecond \nthird \n", out.text());
    EXPECT_EQ("#title=Next\n", unread());
}

TEST_F(OutputMonitor, TurnsEveryCarriageReturnAndTheLineFeedIntoSpaces) {
    start("#script_start\nprintf 'a\\rb\\r\\n'\nprintf 'tab\\there\\n'\n#script_end\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_EQ("a b  ", nextShown(" "));
    EXPECT_EQ("tab\there ", nextShown("a b  "));
    EXPECT_EQ("", nextShown("tab\there "));
    EXPECT_EQ("a b  \ntab\there \n", out.text());
}

TEST_F(OutputMonitor, ShowsALineLongerThan1023BytesInPiecesOnConsecutiveTicks) {
    start("#script_start\nprintf '%3000s\\n' '' | tr ' ' x\ntouch written\n#script_end\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "written"); }, 10));
    std::string piece(1023, 'x');
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ(piece, labelText());
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ(piece, labelText());
    EXPECT_TRUE(monitorTick());
    // Only the piece that held the line feed ends in a space.
    EXPECT_EQ(std::string(954, 'x') + " ", labelText());
    EXPECT_EQ(piece + "\n" + piece + "\n" + std::string(954, 'x') + " \n", out.text());
    EXPECT_TRUE(waitUntil([&] { return !monitorTick(); }, 10));
}

TEST_F(OutputMonitor, ShowsAPartialLineAsSoonAsPartOfItArrived) {
    start(std::string("#script_start\nprintf 'half a '\ntouch written\n") + kWaitForGo +
          "echo line\n#script_end\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "written"); }, 10));
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("half a ", labelText());
    EXPECT_EQ("half a \n", out.text());
    // The rest follows as a line of its own.
    dir.write("go", "");
    EXPECT_EQ("line ", nextShown("half a "));
    EXPECT_EQ("half a \nline \n", out.text());
    EXPECT_EQ("", nextShown("line "));
}

// A line that begins with #title=, #text= or #progress= is applied, not shown, and does not
// wait for a tick of its own; the start of one waits for its end. Every line is echoed.
TEST_F(OutputMonitor, AppliesDirectiveLinesAtOnceAndShowsTheOthersOneATick) {
    start(std::string("#script_start\n"
                      "printf '#title=Unpacking\\n#progress=0.5\\r\\nplain\\n#text=Half\\n #title=x\\n'\n"
                      "printf '#Ostrel_Exit\\ny #title=late\\n#prog'\ntouch written\n") +
          kWaitForGo + "printf 'ress=0.25\\n'\n#script_end\n#title=After\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "written"); }, 10));
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("Unpacking", title());
    EXPECT_FLOAT_EQ(0.5f, record->fraction);
    EXPECT_EQ("plain ", labelText());
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("Half", barText());
    EXPECT_EQ(" #title=x ", labelText());
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("#Ostrel_Exit ", labelText());
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("y #title=late ", labelText());
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("y #title=late ", labelText());
    EXPECT_EQ("Unpacking", title());
    dir.write("go", "");
    EXPECT_TRUE(waitUntil([&] { return !monitorTick(); }, 10));
    EXPECT_FLOAT_EQ(0.25f, record->fraction);
    EXPECT_EQ(
        "#title=Unpacking \n#progress=0.5  \nplain \n#text=Half \n #title=x \n#Ostrel_Exit \n"
        "y #title=late \n#progress=0.25 \n",
        out.text());
    EXPECT_FALSE(tick());
    EXPECT_EQ("After", title());
}

TEST_F(OutputMonitor, EndsAtEndOfOutputEvenWithoutAnyLine) {
    start("#script_start\ntrue\n#script_end\n#title=Next\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_EQ(1, record->running);
    EXPECT_TRUE(waitUntil([&] { return !monitorTick(); }, 10));
    EXPECT_EQ(0, record->running);
    EXPECT_EQ(nullptr, record->pipe);
    EXPECT_EQ("", labelText());
    EXPECT_EQ("", out.text());
    EXPECT_FALSE(tick());
    EXPECT_EQ("Next", title());
}

TEST_F(OutputMonitor, PulsesTheBarAfterMoreThanTwoQuietSecondsAndRestoresTheFractionAtALine) {
    start(std::string("#progress=0.4\n#script_start\necho begun\n") + kWaitForGo +
          "echo woke\nwhile [ ! -e again ]; do sleep 0.01; done\n#script_end\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    EXPECT_EQ("begun ", nextShown(" "));
    EXPECT_FALSE(pulsing());

    // Quiet for two seconds: not more than two, no pulse.
    for (int seconds : {1, 2}) {
        quietFor(seconds);
        EXPECT_TRUE(monitorTick());
        EXPECT_FALSE(pulsing()) << seconds;
        EXPECT_DOUBLE_EQ(static_cast<double>(0.4f), barFraction());
    }

    // For more than two: every tick pulses, and nothing is printed.
    quietFor(3);
    EXPECT_TRUE(monitorTick());
    EXPECT_TRUE(pulsing());
    EXPECT_EQ("begun ", labelText());
    EXPECT_EQ("begun \n", out.text());

    dir.write("go", "");
    EXPECT_EQ("woke ", nextShown("begun "));
    EXPECT_FALSE(pulsing());
    EXPECT_DOUBLE_EQ(static_cast<double>(0.4f), barFraction());
    // The line restarted the quiet clock: the ticks right after it do not pulse.
    EXPECT_TRUE(monitorTick());
    EXPECT_TRUE(monitorTick());
    EXPECT_FALSE(pulsing());

    dir.write("again", "");
    EXPECT_EQ("", nextShown("woke "));
    EXPECT_FALSE(pulsing());
    EXPECT_DOUBLE_EQ(static_cast<double>(0.4f), barFraction());
}

TEST_F(OutputMonitor, PulsesAQuietLastBlockAndShowsOkOnlyOnceItHasEnded) {
    start(std::string("#progress=0.7\n#script_start\n") + kWaitForGo + "#script_end\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    // The block is the last line, yet the run is not finished while it runs.
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    EXPECT_EQ(1, record->running);
    EXPECT_FALSE(gtk_widget_get_visible(record->button));
    EXPECT_DOUBLE_EQ(static_cast<double>(0.7f), barFraction());

    quietFor(3);
    EXPECT_TRUE(monitorTick());
    EXPECT_TRUE(pulsing());
    EXPECT_TRUE(tick());
    EXPECT_FALSE(gtk_widget_get_visible(record->button));

    dir.write("go", "");
    EXPECT_TRUE(waitUntil([&] { return !monitorTick(); }, 10));
    EXPECT_FALSE(pulsing());
    EXPECT_DOUBLE_EQ(static_cast<double>(0.7f), barFraction());
    EXPECT_FALSE(gtk_widget_get_visible(record->button));
    // The interpreter's next tick finds the script used up.
    EXPECT_FALSE(tick());
    EXPECT_TRUE(gtk_widget_get_visible(record->button));
    EXPECT_STREQ("OK", gtk_button_get_label(GTK_BUTTON(record->button)));
    EXPECT_EQ(1.0, barFraction());
    EXPECT_EQ("", out.text());
}
