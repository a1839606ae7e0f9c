// The built program on other distributions, in the roots that tools/distro-root makes: Debian 11
// (glibc 2.31, GTK+ 2.24), Debian 13 with GTK 3 and no GTK+ 2, and Debian 13 with GLib and no
// toolkit at all. Started there as a user would start an installer (the 32-bit program under
// the emulator), its windows on the test display; and the hello example's .run with both
// programs, started there as a user starts it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

const std::string kSource = OSTREL_SOURCE_DIR;
const std::string kRoots = OSTREL_DISTRO_ROOTS;
const std::string kProgram = OSTREL_PROGRAM;
// What starts a program of the build's architecture inside the root: nothing (64-bit), or the
// emulator.
// NOLINTNEXTLINE(readability-redundant-string-init): empty for 64-bit
const std::string kEmulator(OSTREL_ROOT_EMULATOR);
// The program of the other architecture, from the build tree beside this one, for the .run
// that holds both.
const std::string kOtherProgram = OSTREL_OTHER_PROGRAM;

const double kAppear = 30;
const double kEnd = 30;

struct Distribution {
    const char* root;        // below kRoots
    const char* version;     // what /etc/debian_version begins with
    const char* name;        // of the test
    const char* absent;      // the toolkit it does not have, as OSTREL_TOOLKIT names it
    bool noexecTmp = false;  // its /tmp mounted noexec, as on hardened systems
};
const Distribution kDebian11{"bullseye", "11.", "11", "gtk3"};
const Distribution kDebian13{"trixie", "13.", "13", "gtk2"};
const Distribution kDebian13WithoutToolkit{"trixie-bare", "13.", "13WithoutToolkit", ""};
const Distribution kDebian13NoexecTmp{"trixie", "13.", "13NoexecTmp", "gtk2", true};

std::string nameOf(const testing::TestParamInfo<Distribution>& info) {
    return info.param.name;
}

// The program in an installer directory, started there inside a distribution's root.
class OnDistribution : public testing::TestWithParam<Distribution> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(findRoot());
        // The installer's directory as a user unpacks it: the program beside its files.
        installer.write("Ostrel", readFile(kProgram), 0755);
    }

    void findRoot() {
        root = kRoots + "/" + GetParam().root;
        ASSERT_TRUE(fileExists(root + "/.ostrel-complete"))
            << "no complete root at " << root
            << ": `make distro-roots` makes it (`make check` does so first); " << root
            << ".log tells why an attempt failed";
        ASSERT_EQ(0, debianLine().rfind(std::string("on Debian ") + GetParam().version, 0)) << debianLine();
    }

    // "on Debian 13.x": printed by the scripts, so that a run outside the root shows.
    std::string debianLine() const {
        std::string version = readFile(root + "/etc/debian_version");
        return "on Debian " + version.substr(0, version.find('\n'));
    }

    // ./Ostrel with the arguments, started in the installer's directory inside the root, with
    // the environment entries ("NAME=value") added to the root's plain one.
    Command inRoot(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {}) const {
        std::vector<std::string> words;
        if (!kEmulator.empty())
            words.push_back(kEmulator);
        words.emplace_back("./Ostrel");
        words.insert(words.end(), arguments.begin(), arguments.end());
        return inRootWith({}, words, environment);
    }

    // The command's words, started in the installer's directory inside the root, with
    // tools/distro-run's options.
    Command inRootWith(const std::vector<std::string>& options, const std::vector<std::string>& words,
                       const std::vector<std::string>& environment) const {
        Command command{{"bash", kSource + "/tools/distro-run"}};
        command.words.insert(command.words.end(), options.begin(), options.end());
        command.words.insert(command.words.end(), {root, installer.path(), "env"});
        command.words.insert(command.words.end(), environment.begin(), environment.end());
        command.words.insert(command.words.end(), words.begin(), words.end());
        return command;
    }

    std::string root;
    TempDir installer;
};

// Help and silent mode need no toolkit: every root runs them.
using AnyDistribution = OnDistribution;

TEST_P(AnyDistribution, PrintsHelp) {
    Program program(inRoot({"-h"}), installer.path());
    EXPECT_EQ(0, program.wait(kEnd)) << program.err();
    EXPECT_EQ("Ostrel Help...\n", program.out());
    EXPECT_EQ("", program.err());
}

TEST_P(AnyDistribution, RunsTheControlScriptSilently) {
    installer.write("installer",
                    "#title=Other System Setup\n"
                    "#script_start\n"
                    "echo \"on Debian $(cat /etc/debian_version)\"\n"
                    "touch installed\n"
                    "#script_end\n");
    Program program(inRoot({"-s"}), installer.path());
    EXPECT_EQ(0, program.wait(kEnd)) << program.err();
    EXPECT_EQ(debianLine() + "\n", program.out());
    EXPECT_EQ("", program.err());
    EXPECT_TRUE(fileExists(installer / "installed"));
}

INSTANTIATE_TEST_SUITE_P(Debian, AnyDistribution,
                         testing::Values(kDebian11, kDebian13, kDebian13WithoutToolkit), nameOf);

// The windows, with the toolkit that the root has.
using DesktopDistribution = OnDistribution;

// How light the window is at a point, from 0 (black) to 1 (white).
double barLuminance(WindowId window, int x, int y) {
    std::string colour = pixelColour(window, x, y);
    if (colour.size() != 7)
        return -1;
    auto rgb = static_cast<unsigned int>(std::stoul(colour.substr(1), nullptr, 16));
    return (0.3 * ((rgb >> 16) & 0xff) + 0.59 * ((rgb >> 8) & 0xff) + 0.11 * (rgb & 0xff)) / 255.0;
}

// Whether some row of the window's upper half is dark at a quarter of the bar's width and light
// at three quarters: a bar drawn half full, wherever the toolkit draws it.
bool barHalfFull(WindowId window) {
    for (int y = 0; y < windowGeometry(window).height / 2; ++y) {
        double quarter = barLuminance(window, 80, y);
        if (quarter >= 0 && quarter < 0.65 && barLuminance(window, 220, y) > 0.65)
            return true;
    }
    return false;
}

TEST_P(DesktopDistribution, AcceptsTheLicenceAndRunsTheInstallerInItsWindow) {
    installer.write("eula/English", "The licence of the other system test.\n");
    installer.write("installer",
                    "#title=Other System Setup\n"
                    "#text=Installing\n"
                    "#progress=0.5\n"
                    "#script_start\n"
                    "while [ ! -e go ]; do echo waiting; sleep 0.5; done\n"
                    "echo \"on Debian $(cat /etc/debian_version)\"\n"
                    "touch installed\n"
                    "#script_end\n"
                    "#progress=1\n");
    Program program(inRoot({}), installer.path());
    WindowId dialog = findWindow(program.pid(), "License Agreement", kAppear);
    ASSERT_NE(0u, dialog) << program.out() << program.err();
    ASSERT_TRUE(acceptLicence(dialog)) << program.out();

    WindowId window = findWindow(program.pid(), "Other System Setup", kAppear);
    ASSERT_NE(0u, window) << program.out() << program.err();
    // While the block waits, the bar is half full: dark at a quarter, light at three quarters.
    // (Its output keeps the bar from pulsing, as it does after two quiet seconds.)
    ASSERT_TRUE(program.waitForOutput("waiting \n", kAppear)) << program.out() << program.err();
    EXPECT_TRUE(waitUntil([&] { return barHalfFull(window); }, kEnd));

    installer.write("go", "");
    EXPECT_TRUE(program.waitForOutput(debianLine(), kEnd)) << program.out();
    EXPECT_EQ(0, finishWithOk(program, window)) << program.err();
    // Standard output: the licence, the block's lines (each echoed with a space) and nothing else.
    std::string out = program.out();
    int waits = 0;
    for (size_t at = out.find("waiting \n"); at != std::string::npos; at = out.find("waiting \n"), ++waits)
        out.erase(at, 9);
    EXPECT_GT(waits, 0) << program.out();
    EXPECT_EQ("Display EULA: English\n" + debianLine() + " \n", out);
    EXPECT_TRUE(fileExists(installer / "installed"));
    EXPECT_EQ("", program.err());
}

// Each of these roots has one toolkit: asked for the other one, the program shows no window.
TEST_P(DesktopDistribution, RefusesTheWindowWhenAskedForTheToolkitItLacks) {
    installer.write("installer", "#title=Other\n#script_start\ntouch installed\n#script_end\n");
    std::string asked = GetParam().absent;
    Program program(inRoot({}, {"OSTREL_TOOLKIT=" + asked}), installer.path());
    EXPECT_EQ(1, program.wait(kEnd)) << program.err();
    EXPECT_EQ("Error:  A window with OSTREL_TOOLKIT=" + asked + " needs " +
                  (asked == "gtk2" ? "GTK+ 2" : "GTK 3") + " (-s installs without one)\n",
              program.out());
    EXPECT_FALSE(fileExists(installer / "installed"));
}

INSTANTIATE_TEST_SUITE_P(Debian, DesktopDistribution, testing::Values(kDebian11, kDebian13), nameOf);

// Without a toolkit the window mode says so in one line and runs nothing of the script.
using BareDistribution = OnDistribution;

TEST_P(BareDistribution, RefusesTheWindowInOneLineAndRunsNothing) {
    installer.write("eula/English", "The licence.\n");
    installer.write("installer", "#title=Bare\n#script_start\ntouch installed\n#script_end\n");
    Program program(inRoot({}), installer.path());
    EXPECT_EQ(1, program.wait(kEnd)) << program.err();
    EXPECT_EQ("Error:  A window needs GTK+ 2 or GTK 3 (-s installs without one)\n", program.out());
    EXPECT_EQ("", program.err());
    EXPECT_FALSE(fileExists(installer / "installed"));
}

INSTANTIATE_TEST_SUITE_P(Debian, BareDistribution, testing::Values(kDebian13WithoutToolkit), nameOf);

// The hello example as one file, hello.run with both programs, made as make bundle ARCH=both
// FORMAT=run makes it. Its path, or "" with what went wrong in *log.
std::string helloRun(std::string* log) {
    static TempDir made;
    static std::string said;
    static int status = -1;
    if (status < 0) {
        status = runCommand({"sh", "-c",
                             "bash " + kSource + "/tools/bundle --run " + kSource + "/examples/hello " +
                                 (made / "hello.tar.gz") + " " + kProgram + " " + kOtherProgram + " >" +
                                 (made / "log") + " 2>&1"});
        said = readFile(made / "log");
    }
    *log = said;
    return status == 0 ? made / "hello.run" : "";
}

// What makeself prints on standard output before the installer starts.
const std::string kUnpacked = "Verifying archive integrity... All good.\nUncompressing hello\n";

std::string helloLines(const std::string& end) {
    return "Installing into /installer/prefix" + end + "Installed /installer/prefix/bin/hello" + end +
           "#text=Adding the menu entry" + end + "#progress=0.75" + end + "Added the menu entry" + end;
}

// ./hello.run in the installer's directory, as its user starts it there: in the 32-bit tree on
// a machine that says it is i686 (setarch) and whose kernel starts 32-bit programs through the
// root's emulator, so that the launcher picks the 32-bit program and it runs as on i386.
class RunFileDistribution : public OnDistribution {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(findRoot());
        ASSERT_TRUE(fileExists(kOtherProgram)) << "no program of the other architecture at " << kOtherProgram
                                               << ": the .run holds both (`make build` builds both trees)";
        std::string log;
        std::string run = helloRun(&log);
        ASSERT_NE("", run) << log;
        installer.write("hello.run", readFile(run), 0755);
    }

    Command runFile(const std::vector<std::string>& words) const {
        std::vector<std::string> options, command;
        if (GetParam().noexecTmp)
            options.emplace_back("--noexec-tmp");
        if (!kEmulator.empty()) {
            options.emplace_back("--i386-binfmt");
            command = {"setarch", "i686"};
        }
        command.insert(command.end(), words.begin(), words.end());
        return inRootWith(options, command, {"HELLO_PREFIX=/installer/prefix"});
    }

    // The command that the .run installed works in the root.
    void expectHelloWorks() const {
        Program hello(runFile({"/installer/prefix/bin/hello", "Ostrel"}), installer.path());
        EXPECT_EQ(0, hello.wait(kEnd)) << hello.err();
        EXPECT_EQ("Hello, Ostrel!\n", hello.out());
    }

    // What the .run that was process `pid` left where it unpacks: nothing, unless it failed to
    // clean up. Its directories and probes carry its process id.
    std::string leftBehind(pid_t pid) const {
        std::string left;
        for (const char* place : {"/tmp", "/var/tmp", "/root"}) {
            DIR* directory = opendir((root + place).c_str());
            if (!directory)
                continue;
            while (const dirent* entry = readdir(directory)) {
                std::string name = entry->d_name;
                if (name == "selfgz" + std::to_string(pid) ||
                    name == ".makeself-probe-" + std::to_string(pid))
                    left += std::string(place) + "/" + name + " ";
            }
            closedir(directory);
        }
        return left;
    }
};

TEST_P(RunFileDistribution, InstallsSilently) {
    if (GetParam().noexecTmp) {
        // Where the .run would unpack by default, nothing may run.
        Program probe(runFile({"sh", "-c", "cp /bin/true /tmp/probe && /tmp/probe"}), installer.path());
        EXPECT_EQ(126, probe.wait(kEnd)) << probe.err();
    }
    Program program(runFile({"./hello.run", "-s"}), installer.path());
    EXPECT_EQ(0, program.wait(kEnd)) << program.err();
    EXPECT_EQ(kUnpacked + helloLines("\n"), program.out()) << program.err();
    expectHelloWorks();
    EXPECT_EQ("", leftBehind(program.pid()));
}

// The process that ran the windows: the launcher started the program for the machine in its
// place (the 64-bit one, or the 32-bit one through the emulator).
void expectProgramForTheMachine(pid_t pid) {
    char exe[4096] = {};
    ssize_t length = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
    ASSERT_GT(length, 0) << "the window's process " << pid << " has gone";
    std::string program = exe;
    std::string arguments = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    if (kEmulator.empty()) {
        EXPECT_EQ("/Ostrel.x86_64", program.substr(program.rfind('/'))) << program;
    } else {
        EXPECT_EQ("/qemu-i386-static", program.substr(program.rfind('/'))) << program;
        // The emulator's arguments: itself, then the program it runs.
        std::string second = arguments.substr(arguments.find('\0') + 1);
        EXPECT_EQ("./Ostrel.i386", second.substr(0, second.find('\0'))) << arguments;
    }
}

TEST_P(RunFileDistribution, InstallsThroughTheWindows) {
    Program program(runFile({"./hello.run"}), installer.path());
    pid_t owner = 0;
    WindowId dialog = findWindowBelow(program.pid(), "License Agreement", kAppear, &owner);
    ASSERT_NE(0u, dialog) << program.out() << program.err();
    expectProgramForTheMachine(owner);
    ASSERT_TRUE(acceptLicence(dialog)) << program.out();
    WindowId window = findWindowBelow(program.pid(), "Hello Setup", kAppear);
    ASSERT_NE(0u, window) << program.out() << program.err();
    // Clicking "OK" early would cut short a block that still runs.
    EXPECT_TRUE(program.waitForOutput("Added the menu entry \n", kEnd)) << program.out();
    EXPECT_EQ(0, finishWithOk(program, window)) << program.err();
    EXPECT_EQ(kUnpacked + "Display EULA: English\n" + helloLines(" \n"), program.out()) << program.err();
    expectHelloWorks();
    EXPECT_EQ("", leftBehind(program.pid()));
}

// Debian 11 and Debian 13 with /tmp noexec for the 64-bit program; Debian 11 for the 32-bit one,
// whose every start goes through the emulator.
std::vector<Distribution> runFileRoots() {
    if (kEmulator.empty())
        return {kDebian11, kDebian13NoexecTmp};
    return {kDebian11};
}

INSTANTIATE_TEST_SUITE_P(Debian, RunFileDistribution, testing::ValuesIn(runFileRoots()), nameOf);

}  // namespace
