// Helpers for the tests: files, processes, X windows and GLib sources.
#include "support/support.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

// Xlib's macros (None, Bool, Status) would clash with the test framework: include it last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

std::vector<char*> argvOf(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (const std::string& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int statusOf(int raw) {
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    return 128 + WTERMSIG(raw);
}

// Starts argv in directory with the given descriptors; the child's pid, or -1.
pid_t spawn(const std::vector<std::string>& words, const std::string& directory, char** environment, int in,
            int out, int err, bool keepDescriptors = false) {
    std::vector<char*> argv = argvOf(words);
    GPid pid = -1;
    GError* error = nullptr;
    auto flags = static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH |
                                          (keepDescriptors ? G_SPAWN_LEAVE_DESCRIPTORS_OPEN : 0));
    if (!g_spawn_async_with_fds(directory.empty() ? nullptr : directory.c_str(), argv.data(), environment,
                                flags, nullptr, nullptr, &pid, in, out, err, &error)) {
        ADD_FAILURE() << "cannot start " << words[0] << ": " << error->message;
        g_error_free(error);
        return -1;
    }
    return pid;
}

Display* display();

XErrorHandler toolkitErrorHandler = nullptr;

// Windows of other programs may vanish between two requests about them: an error on our own
// connection means "no such window", while the toolkit's connection keeps its own handler.
int ignoreOwnErrors(Display* connection, XErrorEvent* error) {
    if (connection == display())
        return 0;
    return toolkitErrorHandler ? toolkitErrorHandler(connection, error) : 0;
}

Display* display() {
    static Display* connection = [] {
        Display* opened = XOpenDisplay(nullptr);
        toolkitErrorHandler = XSetErrorHandler(ignoreOwnErrors);
        return opened;
    }();
    return connection;
}

Atom atom(const char* name) {
    return XInternAtom(display(), name, False);
}

// The value of a CARDINAL property, or -1.
long cardinal(Window window, const char* name) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(display(), window, atom(name), 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success &&
        data && count == 1)
        value = *reinterpret_cast<long*>(data);
    if (data)
        XFree(data);
    return value;
}

std::string capture(const std::vector<std::string>& words) {
    TempDir scratch;
    std::string path = scratch / "out";
    int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = spawn(words, "", nullptr, -1, out, -1);
    close(out);
    if (pid < 0)
        return "";
    int raw = 0;
    waitpid(pid, &raw, 0);
    return readFile(path);
}

// What runs the program under test, e.g. valgrind: the words of $OSTREL_WRAPPER.
std::vector<std::string> wrapperWords() {
    std::vector<std::string> words;
    const char* wrapper = getenv("OSTREL_WRAPPER");
    char** parsed = nullptr;
    if (wrapper && *wrapper && g_shell_parse_argv(wrapper, nullptr, &parsed, nullptr)) {
        for (char** word = parsed; *word; ++word)
            words.emplace_back(*word);
        g_strfreev(parsed);
    }
    return words;
}

// A sanitizer or valgrind report on the program's standard error fails the test, whatever
// exit status the test expects.
void checkForMemoryErrors(const std::string& err) {
    static const char* const markers[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                          "runtime error:"};
    for (const char* marker : markers) {
        if (err.find(marker) != std::string::npos)
            ADD_FAILURE() << "the program reported a memory error:\n" << err;
    }
    // valgrind --quiet writes nothing but its findings, each line starting "==<pid>== ".
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        size_t mark = line.find("== ", 2);
        if (line.compare(0, 2, "==") == 0 && mark != std::string::npos && mark > 2 &&
            line.find_first_not_of("0123456789", 2) == mark) {
            ADD_FAILURE() << "valgrind found errors in the program:\n" << err;
            break;
        }
    }
}

}  // namespace

double timeScale() {
    const char* text = getenv("OSTREL_TIME_SCALE");
    double scale = text ? g_ascii_strtod(text, nullptr) : 1.0;
    return scale >= 1.0 ? scale : 1.0;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/ostrel-test-XXXXXX";
    // Every test writes its files here: without it nothing can be tested.
    if (!mkdtemp(pattern)) {
        fprintf(stderr, "cannot make a scratch directory %s: %s\n", pattern, strerror(errno));
        abort();
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    runCommand({"chmod", "-R", "u+rwx", path_});
    runCommand({"rm", "-rf", path_});
}

void TempDir::write(const std::string& name, const std::string& bytes, mode_t mode) const {
    std::string path = *this / name;
    std::string folder = path.substr(0, path.rfind('/'));
    g_mkdir_with_parents(folder.c_str(), 0755);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    file.close();
    chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool fileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

Program::Program(const std::string& directory, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment) {
    std::vector<std::string> words = wrapperWords();
    if (std::strlen(OSTREL_EMULATOR) != 0)
        words.emplace_back(OSTREL_EMULATOR);
    words.emplace_back(OSTREL_PROGRAM);
    words.insert(words.end(), arguments.begin(), arguments.end());
    start(words, directory, environment);
}

Program::Program(const Command& command, const std::string& directory,
                 const std::vector<std::string>& environment) {
    start(command.words, directory, environment);
}

void Program::start(const std::vector<std::string>& words, const std::string& directory,
                    const std::vector<std::string>& environment) {
    char** env = g_get_environ();
    for (const std::string& entry : environment) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos)
            env = g_environ_unsetenv(env, entry.c_str());
        else
            env = g_environ_setenv(env, entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, TRUE);
    }
    int in = open("/dev/null", O_RDONLY);
    int out = open((files_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open((files_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_ = spawn(words, directory, env, in, out, err);
    close(in);
    close(out);
    close(err);
    g_strfreev(env);
}

Program::~Program() {
    if (running()) {
        kill(pid_, SIGKILL);
        wait(10);
    }
}

std::string Program::out() const {
    return readFile(files_ / "stdout");
}

std::string Program::err() const {
    return readFile(files_ / "stderr");
}

bool Program::waitForOutput(const std::string& text, double seconds) const {
    double end = now() + seconds * timeScale();
    while (out().find(text) == std::string::npos) {
        if (now() > end)
            return false;
        pause(0.02);
    }
    return true;
}

bool Program::running() {
    if (pid_ < 0 || status_ >= 0)
        return false;
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = statusOf(raw);
        checkForMemoryErrors(err());
        return false;
    }
    return true;
}

int Program::wait(double seconds) {
    double end = now() + seconds * timeScale();
    while (running()) {
        if (now() > end) {
            kill(pid_, SIGKILL);
            int raw = 0;
            waitpid(pid_, &raw, 0);
            status_ = statusOf(raw);
            return -1;
        }
        pause(0.01);
    }
    return status_;
}

Result runProgram(const std::string& directory, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, double seconds) {
    Program program(directory, arguments, environment);
    int status = program.wait(seconds);
    return {status, program.out(), program.err()};
}

int runCommand(const std::vector<std::string>& argv) {
    pid_t pid = spawn(argv, "", nullptr, -1, -1, -1);
    if (pid < 0)
        return -1;
    int raw = 0;
    waitpid(pid, &raw, 0);
    return statusOf(raw);
}

std::string commandOutput(const std::vector<std::string>& argv) {
    return capture(argv);
}

std::string programPath() {
    return OSTREL_PROGRAM;
}

CapturedStdout::CapturedStdout() {
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    int file = open((files_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDOUT_FILENO);
    close(file);
}

CapturedStdout::~CapturedStdout() {
    fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
}

std::string CapturedStdout::text() const {
    fflush(stdout);
    return readFile(files_ / "stdout");
}

WindowId findWindow(pid_t pid, const std::string& title, double seconds) {
    double end = now() + seconds * timeScale();
    do {
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        XSync(display(), False);
        XQueryTree(display(), DefaultRootWindow(display()), &root, &parent, &children, &count);
        WindowId found = 0;
        for (unsigned int i = 0; i < count && !found; ++i) {
            if (cardinal(children[i], "_NET_WM_PID") == pid && windowMapped(children[i]) &&
                (title.empty() || windowTitle(children[i]) == title))
                found = children[i];
        }
        if (children)
            XFree(children);
        if (found)
            return found;
        pause(0.05);
    } while (now() < end);
    return 0;
}

std::string windowTitle(WindowId window) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display(), window, atom("_NET_WM_NAME"), 0, 1 << 16, False, atom("UTF8_STRING"),
                           &type, &format, &count, &after, &data) == Success &&
        data)
        title.assign(reinterpret_cast<char*>(data), count);
    if (data)
        XFree(data);
    return title;
}

Geometry windowGeometry(WindowId window) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display(), window, &attributes);
    return {attributes.x, attributes.y, attributes.width, attributes.height};
}

bool windowMapped(WindowId window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display(), window, &attributes) && attributes.map_state == IsViewable;
}

std::string windowProperty(WindowId window, const std::string& name) {
    return capture({"xprop", "-id", std::to_string(window), name});
}

void clickAt(WindowId window, int x, int y) {
    std::string id = std::to_string(window);
    runCommand({"xdotool", "mousemove", "--window", id, std::to_string(x), std::to_string(y), "click", "1"});
}

void pressKey(WindowId window, const std::string& key) {
    std::string id = std::to_string(window);
    runCommand({"xdotool", "windowfocus", "--sync", id, "key", "--clearmodifiers", key});
}

void requestClose(WindowId window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom("WM_PROTOCOLS");
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(atom("WM_DELETE_WINDOW"));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display(), window, False, NoEventMask, &event);
    XFlush(display());
}

bool screenshot(WindowId window, const std::string& path) {
    return runCommand({"import", "-window", std::to_string(window), path}) == 0;
}

std::string pixelColour(WindowId window, int x, int y) {
    XImage* image = XGetImage(display(), window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return "";
    unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    char text[8];
    snprintf(text, sizeof text, "#%06lx", pixel & 0xffffff);
    return text;
}

gboolean fireSource(guint id) {
    GSource* source = g_main_context_find_source_by_id(nullptr, id);
    if (!source) {
        ADD_FAILURE() << "no source with id " << id;
        return FALSE;
    }
    // The callback may remove its own source: keep it alive until we are done with it.
    g_source_ref(source);
    GSourceFunc callback = nullptr;
    gpointer data = nullptr;
    source->callback_funcs->get(source->callback_data, source, &callback, &data);
    gboolean again = callback(data);
    if (!again && !g_source_is_destroyed(source))
        g_source_destroy(source);
    g_source_unref(source);
    return again;
}

bool sourceExists(guint id) {
    return id != 0 && g_main_context_find_source_by_id(nullptr, id) != nullptr;
}

void processEvents() {
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

double now() {
    struct timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

void pause(double seconds) {
    g_usleep(static_cast<gulong>(seconds * 1e6));
}

namespace {
pid_t xvfb = -1;
void stopXvfb() {
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
}
}  // namespace

void ensureDisplay() {
    if (const char* name = getenv("DISPLAY")) {
        if (Display* probe = XOpenDisplay(name)) {
            XCloseDisplay(probe);
            return;
        }
    }
    int fds[2];
    if (pipe(fds) != 0)
        abort();
    xvfb = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten",
                  "tcp", "-noreset"},
                 "", nullptr, -1, -1, -1, true);
    close(fds[1]);
    char number[16] = {0};
    ssize_t got = read(fds[0], number, sizeof number - 1);
    close(fds[0]);
    if (xvfb < 0 || got <= 0) {
        fprintf(stderr, "no X display and Xvfb could not be started\n");
        abort();
    }
    atexit(stopXvfb);
    std::string name = ":" + std::string(number, strcspn(number, "\n"));
    setenv("DISPLAY", name.c_str(), 1);
}
