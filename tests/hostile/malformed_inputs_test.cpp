// Control scripts that are not text as an installer author writes it: random bytes, NUL
// bytes, CR LF line ends. None of them crashes or hangs a run.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <random>
#include <string>

#include "buffers/buffers.h"
#include "hostile/hostile.h"
#include "progress/progress.h"
#include "support/support.h"

using namespace std::string_literals;

namespace {

// Loads the script, builds the window and fires the interpreter tick by tick until it stops
// itself; the number of ticks it took, or -1 when it still ran after `limit` ticks.
int ticksUntilFinished(ProgressState* record, int limit) {
    for (int tick = 1; tick <= limit; ++tick) {
        if (!fireSource(record->timer))
            return tick;
        // An asynchronous block keeps the interpreter waiting for its output.
        if (record->running)
            waitUntil([&] { return !fireSource(record->outputTimer); }, 30);
    }
    return -1;
}

// The complete lines the interpreter can read: line feeds before the first NUL byte.
int completeLines(const std::string& script) {
    std::string readable = script.substr(0, script.find('\0'));
    return static_cast<int>(std::count(readable.begin(), readable.end(), '\n'));
}

// Lines of random bytes (CR and bytes that are not UTF-8 included, no NUL), most of them
// carrying a directive that sets the title, the bar's text or its fraction.
std::string randomDirectiveLines(unsigned seed, int count) {
    static const char* const directives[] = {
        "#title=",         "#text=",        "#progress=",   "#script_end",  "",
        "#progress=1e999", "#progress=nan", "#progress=-3", "#title=#text="};
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> pick(0, 8);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<int> size(0, 200);
    std::string script;
    for (int i = 0; i < count; ++i) {
        std::string line;
        for (int n = size(generator); n > 0; --n) {
            char c = static_cast<char>(byte(generator));
            if (c != '\n')
                line += c;
        }
        line.insert(std::min(line.size(), static_cast<size_t>(size(generator))), directives[pick(generator)]);
        script += line + '\n';
    }
    return script;
}

struct Interpreter {
    ProgressState* record;
    GtkWidget* window;
};

Interpreter startInterpreter(const std::string& path) {
    EXPECT_EQ(1, readScript(path.c_str()));
    m_pBufferIndex = m_pBuffer;
    ProgressState* record = create_progress();
    return {record, record->window};
}

// Destroying the window releases the record through its destroy handler.
void stopInterpreter(const Interpreter& run) {
    gtk_widget_destroy(run.window);
    releaseScript();
}

}  // namespace

TEST(RandomBytes, InterpreterTakesOneTickPerLineAndFinishes) {
    TempDir dir;
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE(seed);
        // Without NUL bytes the interpreter gets through about a thousand lines.
        std::string script = randomBytes(seed, size_t{256} * 1024, false);
        dir.write("random", script);
        Interpreter run = startInterpreter(dir / "random");
        EXPECT_EQ(std::max(1, completeLines(script)), ticksUntilFinished(run.record, 100000));
        EXPECT_TRUE(gtk_widget_get_visible(run.record->button));
        EXPECT_DOUBLE_EQ(1.0, gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(run.record->bar)));
        stopInterpreter(run);
    }
}

// Titles, texts and numbers made of random bytes are handed on as they are; the toolkit may
// warn about text that is not UTF-8, but the run goes on to its last line.
TEST(RandomBytes, RandomDirectiveValuesNeverStopTheRun) {
    TempDir dir;
    for (unsigned seed : {11u, 12u, 13u}) {
        SCOPED_TRACE(seed);
        std::string script = randomDirectiveLines(seed, 2000) + "#title=survived\n#progress=0.25\n";
        dir.write("random", script);
        Interpreter run = startInterpreter(dir / "random");
        EXPECT_EQ(2002, ticksUntilFinished(run.record, 100000));
        EXPECT_STREQ("survived", gtk_window_get_title(GTK_WINDOW(run.window)));
        EXPECT_FLOAT_EQ(0.25f, run.record->fraction);
        stopInterpreter(run);
    }
}

TEST(RandomBytes, BuiltProgramFinishesOnRandomScriptsInBothModes) {
    for (unsigned seed : {21u, 22u, 23u}) {
        SCOPED_TRACE(seed);
        TempDir dir;
        dir.write("installer", randomBytes(seed, 4096, true));
        Program program(dir.path(), {});
        WindowId window = findWindow(program.pid(), "", 60);
        ASSERT_NE(0u, window) << program.err();
        EXPECT_EQ(0, finishWithOk(program, window));

        // Silent mode hands the bytes to the shell, which rejects them; the program still ends.
        EXPECT_EQ(0, runProgram(dir.path(), {"-s"}, {}, 60).status);
    }
}

TEST(NulBytes, NulInADirectiveLineEndsTheReadableScript) {
    TempDir dir;
    dir.write("installer",
              "#title=Before\n#title=Mid\0dle\n#title=After\n"
              "#script_start_blocking\ntouch after.txt\n#script_end\n"s);
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "Before", 60);
    ASSERT_NE(0u, window) << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_FALSE(fileExists(dir / "after.txt"));
}

TEST(NulBytes, NulInABlockRunsTheLinesBeforeItAndNothingAfter) {
    TempDir dir;
    dir.write("installer",
              "#script_start\necho one\necho t\0wo\necho three\n#script_end\n"
              "#script_start_blocking\ntouch after.txt\n#script_end\n"s);
    Program program(dir.path(), {});
    // The block is the last thing read, so "OK" is shown while it runs: wait for its output.
    ASSERT_TRUE(program.waitForOutput("one \n", 60)) << program.err();
    WindowId window = findWindow(program.pid(), "", 10);
    ASSERT_NE(0u, window);
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  EULA not found\none \n", program.out());
    EXPECT_FALSE(fileExists(dir / "after.txt"));
}

TEST(NulBytes, SilentModeRunsTheTextUpToTheFirstNul) {
    TempDir dir;
    dir.write("installer", "echo one\necho t\0wo\necho three\n"s);
    Result result = runProgram(dir.path(), {"-s"});
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("one\nt\n", result.out);
}

// An output line is a C string: it is echoed up to its NUL byte, and the lines after it
// are all shown.
TEST(NulBytes, NulInScriptOutputCutsOnlyThatLine) {
    TempDir dir;
    dir.write("installer", "#script_start\nprintf 'a\\0b\\nc\\n'\n#script_end\n#title=After\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "After", 60);
    ASSERT_NE(0u, window) << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  EULA not found\na\nc \n", program.out());
}

// Directive values keep the carriage return; the interpreter reads the number before it.
TEST(CarriageReturns, CrLfDirectivesKeepTheCarriageReturnInTheirValues) {
    TempDir dir;
    dir.write("script", "#title=Setup\r\n#text=Copying\r\n#progress=0.5\r\n");
    Interpreter run = startInterpreter(dir / "script");
    EXPECT_EQ(3, ticksUntilFinished(run.record, 10));
    EXPECT_STREQ("Setup\r", gtk_window_get_title(GTK_WINDOW(run.window)));
    EXPECT_FLOAT_EQ(0.5f, run.record->fraction);
    // The finished state replaces the bar's text, so look at it one script earlier.
    stopInterpreter(run);
    dir.write("script", "#text=Copying\r\n#title=x\n#title=y\n");
    run = startInterpreter(dir / "script");
    fireSource(run.record->timer);
    EXPECT_STREQ("Copying\r", gtk_progress_bar_get_text(GTK_PROGRESS_BAR(run.record->bar)));
    stopInterpreter(run);
}

// In a block the carriage return reaches bash as the last byte of the line's last word: echo
// prints it (the monitor blanks it like the line feed), touch makes a name that ends in it,
// and a command name followed by it is not found.
TEST(CarriageReturns, CrLfBlockLinesReachBashWithTheCarriageReturn) {
    TempDir dir;
    dir.write("installer",
              "#title=Crlf\r\n#script_start\r\necho one\r\ntouch made\r\n#script_end\r\n"
              "#script_start_blocking\r\nprintf '[%s]' two\r\n#script_end\r\n"
              "#script_start\r\nfalse\r\n#script_end\r\n#title=After\r\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "After\r", 60);
    ASSERT_NE(0u, window) << program.out() << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  EULA not found\none  \n[two\r]", program.out());
    EXPECT_TRUE(fileExists(dir / "made\r"));
    EXPECT_FALSE(fileExists(dir / "made"));
    EXPECT_NE(std::string::npos, program.err().find("command not found")) << program.err();
}

TEST(CarriageReturns, SilentModePassesTheCarriageReturnsThrough) {
    TempDir dir;
    dir.write("installer", "#title=Crlf\r\necho one\r\n");
    Result result = runProgram(dir.path(), {"-s"});
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("one\r\n", result.out);
}
