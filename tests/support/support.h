// Helpers for the tests: scratch directories, the built program run as a user would run it,
// the windows it shows on the test display, and GLib sources fired by hand.
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <string>
#include <vector>

// A fresh directory, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes to a file below the directory, creating the folders on the way.
    void write(const std::string& name, const std::string& bytes, mode_t mode = 0644) const;

private:
    std::string path_;
};

// How much slower than usual the program under test runs ($OSTREL_TIME_SCALE, at least 1, e.g.
// under valgrind); the waits for it are multiplied by this.
double timeScale();

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// The words of a command started in place of the built program, e.g. one that starts it
// somewhere else: no emulator or wrapper is put before them.
struct Command {
    std::vector<std::string> words;
};

// The built Ostrel (under the emulator for a foreign architecture, and under the words of
// $OSTREL_WRAPPER, e.g. valgrind, when set), started in a directory, with standard input from
// /dev/null and standard output and error going to files. Environment entries are
// "NAME=value" to set and "NAME" to remove. A sanitizer or valgrind report on its standard
// error fails the test. Its waits are stretched by timeScale().
class Program {
public:
    Program(const std::string& directory, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment = {});
    // Starts the command instead, with the same standard input, output and error.
    Program(const Command& command, const std::string& directory,
            const std::vector<std::string>& environment = {});
    ~Program();  // kills the program if it still runs
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    std::string out() const;  // standard output so far
    std::string err() const;  // standard error so far
    bool waitForOutput(const std::string& text, double seconds) const;
    bool running();
    // Waits for the end; the exit status, or -1 when it still ran after `seconds` (then it is
    // killed).
    int wait(double seconds);

private:
    void start(const std::vector<std::string>& words, const std::string& directory,
               const std::vector<std::string>& environment);

    TempDir files_;
    pid_t pid_ = -1;
    int status_ = -1;
};

struct Result {
    int status;
    std::string out;
    std::string err;
};
Result runProgram(const std::string& directory, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment = {}, double seconds = 60);

// Runs a command from the PATH and waits; its exit status.
int runCommand(const std::vector<std::string>& argv);

// Runs a command from the PATH and waits; what it wrote to standard output.
std::string commandOutput(const std::vector<std::string>& argv);
// The path of the built program under test.
std::string programPath();

// Sends this process's standard output (descriptor 1) to a file while the object lives, so
// that what the code under test prints can be checked without the test framework's output.
class CapturedStdout {
public:
    CapturedStdout();
    ~CapturedStdout();  // flushes and puts the old standard output back
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    std::string text() const;  // everything printed so far, flushed first

private:
    TempDir files_;
    int saved_ = -1;
};

// The test display's windows, as an X client sees them.
using WindowId = unsigned long;
struct Geometry {
    int x, y, width, height;
};
// A mapped top-level window of the process whose title is `title` (any title when empty);
// 0 when none appeared within `seconds` (times timeScale()).
WindowId findWindow(pid_t pid, const std::string& title, double seconds);
std::string windowTitle(WindowId window);
Geometry windowGeometry(WindowId window);
bool windowMapped(WindowId window);
// A property of the window as xprop prints it, e.g. "_NET_WM_STATE".
std::string windowProperty(WindowId window, const std::string& name);
// A left click at a point inside the window.
void clickAt(WindowId window, int x, int y);
// Focuses the window and presses a key, e.g. "Escape" or "Return".
void pressKey(WindowId window, const std::string& key);
// Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW).
void requestClose(WindowId window);
// Writes a PNG of the window; true on success.
bool screenshot(WindowId window, const std::string& path);
// The colour of one pixel of the window, as "#rrggbb".
std::string pixelColour(WindowId window, int x, int y);

// Runs the callback of a registered GLib source once, as the main loop would, and removes
// the source when the callback asks to stop. Returns the callback's result.
gboolean fireSource(guint id);
// Whether a source with this id is still registered.
bool sourceExists(guint id);
// Handles the toolkit's pending events without waiting.
void processEvents();

// Seconds on a monotonic clock.
double now();
// Sleeps without handling any event.
void pause(double seconds);

// Makes sure there is an X display to test on: $DISPLAY when it works, else an Xvfb started
// here and stopped when the tests end.
void ensureDisplay();
