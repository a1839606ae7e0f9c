// The output monitor of an asynchronous block, tick by tick: lines shown and echoed, long and
// partial lines, the end of the output and the pulsing after a quiet spell.
#include "progress/in_process.h"

using OutputMonitor = InProcessRun;

namespace {

// Waits until the block has written everything (it touches "written" last).
void waitForFile(const std::string& path) {
    double end = now() + patience(10);
    while (!fileExists(path) && now() < end)
        pause(0.02);
    ASSERT_TRUE(fileExists(path)) << path;
}

}  // namespace

TEST_F(OutputMonitor, ShowsThreeQuickLinesOneATickThenEmptiesTheLabelAtTheEnd) {
    start("#script_start\necho first\necho second\necho third\ntouch written\n#script_end\n#title=Next\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    waitForFile(dir / "written");
    pause(0.1);
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
    EXPECT_FALSE(monitorTick());
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
    EXPECT_FALSE(tick());
    EXPECT_EQ("a b  ", nextShown(" "));
    EXPECT_EQ("tab\there ", nextShown("a b  "));
    EXPECT_EQ("", nextShown("tab\there "));
    EXPECT_EQ("a b  \ntab\there \n", out.text());
}

TEST_F(OutputMonitor, ShowsALineLongerThan1023BytesInPiecesOnConsecutiveTicks) {
    start("#script_start\nprintf '%3000s\\n' '' | tr ' ' x\ntouch written\n#script_end\n");
    CapturedStdout out;
    EXPECT_FALSE(tick());
    waitForFile(dir / "written");
    pause(0.1);
    std::string piece(1023, 'x');
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ(piece, labelText());
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ(piece, labelText());
    EXPECT_TRUE(monitorTick());
    // Only the piece that held the line feed ends in a space.
    EXPECT_EQ(std::string(954, 'x') + " ", labelText());
    EXPECT_EQ(piece + "\n" + piece + "\n" + std::string(954, 'x') + " \n", out.text());
    EXPECT_FALSE(monitorTick());
}

TEST_F(OutputMonitor, ShowsAPartialLineAsSoonAsPartOfItArrived) {
    start("#script_start\nprintf 'half a '\ntouch written\nsleep 1\necho line\n#script_end\n");
    CapturedStdout out;
    EXPECT_FALSE(tick());
    waitForFile(dir / "written");
    pause(0.1);
    EXPECT_TRUE(monitorTick());
    EXPECT_EQ("half a ", labelText());
    EXPECT_EQ("half a \n", out.text());
    // The rest follows as a line of its own.
    EXPECT_EQ("line ", nextShown("half a "));
    EXPECT_EQ("half a \nline \n", out.text());
    EXPECT_EQ("", nextShown("line "));
}

TEST_F(OutputMonitor, EndsAtEndOfOutputEvenWithoutAnyLine) {
    start("#script_start\ntrue\n#script_end\n#title=Next\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_EQ(1, record->running);
    double end = now() + patience(10);
    while (monitorTick() && now() < end)
        pause(0.05);
    EXPECT_EQ(0, record->running);
    EXPECT_EQ(nullptr, record->pipe);
    EXPECT_EQ("", labelText());
    EXPECT_EQ("", out.text());
    EXPECT_FALSE(tick());
    EXPECT_EQ("Next", title());
}

TEST_F(OutputMonitor, PulsesTheBarAfterMoreThanTwoQuietSecondsAndRestoresTheFractionAtALine) {
    start("#progress=0.4\n#script_start\necho begun\nsleep 4\necho woke\n#script_end\n#title=Next\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    EXPECT_EQ("begun ", nextShown(" "));
    double lineAt = now();
    EXPECT_FALSE(pulsing());

    // Quiet for less than two seconds: no pulse.
    while (now() - lineAt < 1.5) {
        pause(0.1);
        EXPECT_TRUE(monitorTick());
        EXPECT_FALSE(pulsing());
    }
    EXPECT_DOUBLE_EQ(static_cast<double>(0.4f), barFraction());

    // Quiet for more than three seconds: every tick pulses.
    while (now() - lineAt < 3.1)
        pause(0.1);
    EXPECT_TRUE(monitorTick());
    EXPECT_TRUE(pulsing());
    EXPECT_EQ("begun ", labelText());
    EXPECT_EQ("begun \n", out.text());

    EXPECT_EQ("woke ", nextShown("begun "));
    EXPECT_FALSE(pulsing());
    EXPECT_DOUBLE_EQ(static_cast<double>(0.4f), barFraction());
    EXPECT_EQ("", nextShown("woke "));
    EXPECT_FALSE(pulsing());
    EXPECT_DOUBLE_EQ(static_cast<double>(0.4f), barFraction());
}

TEST_F(OutputMonitor, PulsesAQuietBlockFromItsStartAndRestoresTheFractionAtItsEnd) {
    start("#progress=0.7\n#script_start\nsleep 3.5\n#script_end\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_FALSE(tick());
    double startedAt = now();
    // The finished state filled the bar; the block's start counts as its last output.
    EXPECT_EQ(1.0, barFraction());
    bool pulsed = false;
    while (!pulsed && now() - startedAt < 3.3) {
        pause(0.1);
        EXPECT_TRUE(monitorTick());
        pulsed = pulsing();
        if (now() - startedAt < 1.7) {
            EXPECT_FALSE(pulsed);
        }
    }
    EXPECT_TRUE(pulsed);
    EXPECT_GE(now() - startedAt, 1.7);
    double end = now() + patience(10);
    while (monitorTick() && now() < end)
        pause(0.1);
    EXPECT_FALSE(pulsing());
    EXPECT_DOUBLE_EQ(static_cast<double>(0.7f), barFraction());
    EXPECT_EQ("", out.text());
}
