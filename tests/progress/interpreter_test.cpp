// The interpreter applied tick by tick to real scripts: directives, the three kinds of block,
// the exit directive and the end of the script.
#include <signal.h>

#include "progress/in_process.h"

using Interpreter = InProcessRun;

TEST_F(Interpreter, AppliesOneLinePerTickAndFinishesAfterTheLastLine) {
    start("#title=Example Setup\nnot a directive\n\n#text=Copying files\n#progress=0.25\n");
    EXPECT_TRUE(tick());
    EXPECT_EQ("Example Setup", title());
    EXPECT_EQ("not a directive\n\n#text=Copying files\n#progress=0.25\n", unread());
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    EXPECT_EQ(" ", barText());
    EXPECT_TRUE(tick());
    EXPECT_EQ("Copying files", barText());
    EXPECT_EQ(0.0, barFraction());
    EXPECT_FALSE(gtk_widget_get_visible(record->button));
    EXPECT_FALSE(tick());
    EXPECT_FLOAT_EQ(0.25f, record->fraction);
    EXPECT_TRUE(gtk_widget_get_visible(record->button));
    EXPECT_EQ(1.0, barFraction());
}

TEST_F(Interpreter, TakesTitleAndTextValuesVerbatimAndTitleFirst) {
    struct Case {
        const char* line;
        const char* title;
        const char* text;
    };
    const Case cases[] = {
        {"#title=Spaces kept  ", "Spaces kept  ", " "},
        {"#title=Ends in CR\r", "Ends in CR\r", " "},
        {"#title=", "", " "},
        {"cp a b #title=T", "T", " "},
        {"#text=#title=X", "X", " "},
        {"#text=Copying  \r", "Installing...", "Copying  \r"},
        {"#text=", "Installing...", ""},
        {"#progress=0.5 #text=Y", "Installing...", "Y"},
        {"#title=A #script_start", "A #script_start", " "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        start(std::string(c.line) + "\n#title=unread\n");
        EXPECT_TRUE(tick());
        EXPECT_EQ(c.title, title());
        EXPECT_EQ(c.text, barText());
        EXPECT_EQ(0, record->running);
        EXPECT_EQ("#title=unread\n", unread());
        TearDown();
    }
}

TEST_F(Interpreter, StoresProgressValuesClampedAndHandsThemToTheBarWithoutWarnings) {
    struct Case {
        const char* line;
        float fraction;
    };
    const Case cases[] = {
        {"#progress=0.25", 0.25f}, {"#progress=0.75  \r", 0.75f}, {"#progress=  0.5", 0.5f},
        {"#progress=abc", 0.0f},   {"#progress=", 0.0f},          {"#progress=-1", 0.0f},
        {"#progress=1.5", 1.0f},   {"#progress=nan", 0.0f},       {"#progress=inf", 1.0f},
        {"#progress=-inf", 0.0f},  {"#progress=1", 1.0f},         {"#progress=0.3x", 0.3f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        start(std::string("#progress=0.6\n") + c.line + "\n#title=unread\n");
        WarningCounter warnings;
        EXPECT_TRUE(tick());
        EXPECT_TRUE(tick());
        EXPECT_FLOAT_EQ(c.fraction, record->fraction);
        EXPECT_DOUBLE_EQ(static_cast<double>(c.fraction), barFraction());
        EXPECT_TRUE(gtk_widget_get_visible(record->bar));
        EXPECT_EQ(0, warnings.count()) << warnings.messages();
        TearDown();
    }
}

TEST_F(Interpreter, WaitsWhileAnAsynchronousBlockRunsAndGoesOnAtItsEnd) {
    start("#script_start\necho one\nsleep 0.3\necho two\n#script_end\n#title=After\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_EQ(1, record->running);
    EXPECT_EQ(0, record->noWait);
    EXPECT_NE(nullptr, record->pipe);
    EXPECT_TRUE(sourceExists(record->outputTimer));
    EXPECT_EQ("#title=After\n", unread());

    // Paused: no line is consumed while the block is monitored.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(tick());
    EXPECT_EQ("#title=After\n", unread());
    EXPECT_EQ("Installing...", title());

    EXPECT_EQ("one ", nextShown(" "));
    EXPECT_EQ("two ", nextShown("one "));
    EXPECT_EQ("", nextShown("two "));
    EXPECT_EQ(0, record->running);
    EXPECT_EQ(nullptr, record->pipe);
    EXPECT_EQ("one \ntwo \n", out.text());

    EXPECT_FALSE(tick());
    EXPECT_EQ("After", title());
    EXPECT_TRUE(gtk_widget_get_visible(record->button));
}

TEST_F(Interpreter, RunsABlockingBlockToItsEndWithOutputOnTheProgramsOwnStdout) {
    start("#script_start_blocking\necho to the console\nsleep 0.3\ntouch ran\n#script_end\n#title=Next\n");
    CapturedStdout out;
    tick();
    // The interpreter reads on, in a tick of its own after the events of the held-up loop.
    EXPECT_TRUE(sourceExists(record->timer));
    EXPECT_TRUE(fileExists(dir / "ran"));
    EXPECT_EQ("to the console\n", out.text());
    EXPECT_EQ(0, record->running);
    EXPECT_EQ(0u, record->outputTimer);
    EXPECT_EQ(" ", labelText());
    EXPECT_EQ("#title=Next\n", unread());
}

TEST_F(Interpreter, RunsANoWaitBlockToItsEndPrintingNothing) {
    start("#script_start_nowait\necho never shown\nsleep 0.3\ntouch ran\n#script_end\n#title=Next\n");
    CapturedStdout out;
    tick();
    EXPECT_TRUE(sourceExists(record->timer));
    // Its output is thrown away, yet the shell was waited for and ran every line.
    EXPECT_TRUE(fileExists(dir / "ran"));
    EXPECT_EQ("", out.text());
    EXPECT_EQ(1, record->noWait);
    EXPECT_EQ(0, record->running);
    EXPECT_EQ(nullptr, record->pipe);
    EXPECT_EQ(0u, record->outputTimer);
    EXPECT_EQ(" ", labelText());
    EXPECT_EQ("#title=Next\n", unread());
    catchUp();
    EXPECT_FALSE(tick());
    EXPECT_EQ("Next", title());
}

TEST_F(Interpreter, RunsANoWaitBlockWithMuchOutputWithoutHangingOnAFullPipe) {
    start("#script_start_nowait\nseq 1 200000\ntouch ran\n#script_end\n");
    CapturedStdout out;
    EXPECT_FALSE(tick());
    EXPECT_TRUE(fileExists(dir / "ran"));
    EXPECT_EQ("", out.text());
}

TEST_F(Interpreter, EndsABlockAtAnyLineHoldingTheEndMarkerAndLeavesTheRestOutside) {
    start("#script_start_blocking\ntouch a\ntouch b #script_end\ntouch c\n#script_end\n#title=Next\n");
    tick();
    EXPECT_TRUE(fileExists(dir / "a"));
    EXPECT_FALSE(fileExists(dir / "b"));
    EXPECT_EQ("touch c\n#script_end\n#title=Next\n", unread());
    // Outside a block neither the shell line nor the stray end marker does anything.
    catchUp();
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    EXPECT_FALSE(fileExists(dir / "c"));
    EXPECT_FALSE(tick());
    EXPECT_EQ("Next", title());
}

TEST_F(Interpreter, HandsTheShellTheKeptLinesWithEmptyLinesDropped) {
    // The shell sees each kept line after a line feed: a line continued by a backslash would
    // join the next kept one, so an empty line between them must not survive.
    start("#script_start_blocking\n\nprintf '%s|' first \\\n\nsecond\n\n#script_end\n");
    CapturedStdout out;
    EXPECT_FALSE(tick());
    EXPECT_EQ("first|second|", out.text());
}

TEST_F(Interpreter, RunsNothingForAnEmptyBlockAndReadsOnAtTheNextTick) {
    const char* scripts[] = {
        "#script_start\n#script_end\n#title=Next\n",
        "#script_start\n\n\n\n#script_end\n#title=Next\n",
        "#script_start_blocking\n\n#script_end\n#title=Next\n",
        "#script_start_nowait\n#script_end\n#title=Next\n",
    };
    for (const char* script : scripts) {
        SCOPED_TRACE(script);
        start(script);
        CapturedStdout out;
        EXPECT_TRUE(tick());
        EXPECT_EQ(0, record->running);
        EXPECT_EQ(nullptr, record->pipe);
        EXPECT_EQ(0u, record->outputTimer);
        EXPECT_EQ("#title=Next\n", unread());
        EXPECT_FALSE(tick());
        EXPECT_EQ("Next", title());
        EXPECT_EQ("", out.text());
        TearDown();
    }
}

TEST_F(Interpreter, TakesEveryRemainingLineIntoABlockWithoutEndMarker) {
    start("#script_start_blocking\ntouch a\n#title=Not a directive here\ntouch b\n");
    EXPECT_FALSE(tick());
    EXPECT_TRUE(fileExists(dir / "a"));
    EXPECT_TRUE(fileExists(dir / "b"));
    EXPECT_EQ("Installing...", title());
    EXPECT_TRUE(gtk_widget_get_visible(record->button));
}

TEST_F(Interpreter, ShowsOkOnlyInTheTickAfterALastAsynchronousBlockHasEnded) {
    start(
        "#progress=0.4\n#script_start\necho working\nwhile [ ! -e go ]; do sleep 0.01; done\necho done\n"
        "#script_end\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    EXPECT_EQ(1, record->running);
    EXPECT_EQ("working ", nextShown(" "));
    // Paused on the last step: no finished state while the monitor still reads.
    EXPECT_TRUE(tick());
    EXPECT_FALSE(gtk_widget_get_visible(record->button));
    EXPECT_DOUBLE_EQ(static_cast<double>(0.4f), barFraction());

    dir.write("go", "");
    EXPECT_EQ("done ", nextShown("working "));
    EXPECT_EQ("", nextShown("done "));
    EXPECT_EQ(0, record->running);
    EXPECT_FALSE(gtk_widget_get_visible(record->button));
    EXPECT_DOUBLE_EQ(static_cast<double>(0.4f), barFraction());

    guint timer = record->timer;
    EXPECT_FALSE(tick());
    EXPECT_FALSE(sourceExists(timer));
    EXPECT_TRUE(gtk_widget_get_visible(record->button));
    EXPECT_STREQ("OK", gtk_button_get_label(GTK_BUTTON(record->button)));
    EXPECT_EQ(1.0, barFraction());
    EXPECT_EQ("working \ndone \n", out.text());
}

TEST_F(Interpreter, FinishesInTheSameTickWhenOnlyAnIncompleteLineRemains) {
    const std::string scripts[] = {
        "#title=Shown\n#title=Never",
        "#title=Shown\n#title=Never\r",
        std::string("#title=Shown\n\0#title=Never\n", 27),
        std::string("#title=Shown\n\0", 14),
        "#title=Shown\nx",
    };
    for (const std::string& script : scripts) {
        SCOPED_TRACE(testing::PrintToString(script));
        start(script);
        guint timer = record->timer;
        EXPECT_FALSE(tick());
        EXPECT_EQ("Shown", title());
        EXPECT_TRUE(gtk_widget_get_visible(record->button));
        EXPECT_EQ(1.0, barFraction());
        EXPECT_FALSE(sourceExists(timer));
        TearDown();
    }
}

TEST_F(Interpreter, ExitInTheMiddleReleasesTheRunWithoutFinishedStateOrFurtherLines) {
    start("#title=Before\n#Ostrel_Exit\n#title=After\n#script_start_blocking\ntouch later\n#script_end\n");
    guint timer = record->timer;
    GtkWidget* button = record->button;
    GtkWidget* bar = record->bar;
    record = nullptr;  // released by the run
    EXPECT_TRUE(runMainLoop(10)) << "the exit line did not end the main loop";
    EXPECT_FALSE(sourceExists(timer));
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(gtk_widget_get_visible(window));
    EXPECT_EQ("Before", title());
    EXPECT_FALSE(gtk_widget_get_visible(button));
    EXPECT_STREQ("Ok", gtk_button_get_label(GTK_BUTTON(button)));
    EXPECT_EQ(0.0, gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar)));
    EXPECT_EQ("#title=After\n#script_start_blocking\ntouch later\n#script_end\n", unread());
    // Even with the main loop running again, nothing more of the script is applied.
    EXPECT_FALSE(runMainLoop(0.3));
    EXPECT_FALSE(fileExists(dir / "later"));
    EXPECT_EQ("Before", title());
}

TEST_F(Interpreter, ExitAsTheLastLineEndsTheRunWithoutFinishedState) {
    start("#progress=0.5\n#Ostrel_Exit\n");
    guint timer = record->timer;
    GtkWidget* button = record->button;
    GtkWidget* bar = record->bar;
    record = nullptr;
    EXPECT_TRUE(runMainLoop(10)) << "the exit line did not end the main loop";
    EXPECT_FALSE(sourceExists(timer));
    EXPECT_FALSE(gtk_widget_get_visible(button));
    EXPECT_DOUBLE_EQ(0.5, gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar)));
    EXPECT_TRUE(gtk_widget_get_visible(window));
}

// After #stop_on_failure= a failing block of any kind stops the run: the bar keeps its fraction
// and shows the text, "OK" comes, the status is the block's, and no later line is read. Before
// that line a failure changes nothing.
TEST_F(Interpreter, StopsAtABlockThatFailsAfterStopOnFailure) {
    struct Case {
        const char* block;
        int status;
        const char* shown;  // under the bar once stopped
    };
    const Case cases[] = {
        {"#script_start\necho copying\nexit 3", 3, "copying "},
        {"#script_start\necho copying\nfalse", 1, "copying "},
        {"#script_start_blocking\nexit 4", 4, " "},
        {"#script_start_nowait\nexit 5", 5, " "},
        {"#script_start_blocking\nkill -TERM \\$\\$", 128 + SIGTERM, " "},
        {"#script_start\ntrue", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block);
        start(std::string("#script_start_blocking\nexit "
                          "2\n#script_end\n#progress=0.4\n#stop_on_failure=Copying failed\n") +
              c.block + "\n#script_end\n#title=Never\n");
        CapturedStdout out;
        // Both timers as the main loop runs them, until the interpreter has stopped.
        EXPECT_TRUE(waitUntil(
            [&] {
                g_main_context_iteration(nullptr, FALSE);
                return record->timer == 0;
            },
            10));
        EXPECT_EQ(c.status, m_nStatus);
        EXPECT_EQ(c.status ? "Copying failed" : " ", barText());
        EXPECT_FLOAT_EQ(c.status ? 0.4f : 1.0f, static_cast<float>(barFraction()));
        EXPECT_EQ(c.status ? "Installing..." : "Never", title());
        EXPECT_EQ(c.shown, labelText());
        EXPECT_TRUE(gtk_widget_get_visible(record->button));
        EXPECT_STREQ("OK", gtk_button_get_label(GTK_BUTTON(record->button)));
        TearDown();
    }
}
