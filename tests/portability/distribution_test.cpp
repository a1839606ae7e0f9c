// The built program on other distributions, in the roots that tools/distro-root makes: Debian 11
// (glibc 2.31, GTK+ 2.24), Debian 13 with GTK 3 and no GTK+ 2, and Debian 13 with GLib and no
// toolkit at all. Started there as a user would start an installer (the 32-bit program under
// the emulator), its windows on the test display.
#include <gtest/gtest.h>

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

const double kAppear = 30;
const double kEnd = 30;

struct Distribution {
    const char* root;     // below kRoots
    const char* version;  // what /etc/debian_version begins with
    const char* name;     // of the test
    const char* absent;   // the toolkit it does not have, as OSTREL_TOOLKIT names it
};
const Distribution kDebian11{"bullseye", "11.", "11", "gtk3"};
const Distribution kDebian13{"trixie", "13.", "13", "gtk2"};
const Distribution kDebian13WithoutToolkit{"trixie-bare", "13.", "13WithoutToolkit", ""};

std::string nameOf(const testing::TestParamInfo<Distribution>& info) {
    return info.param.name;
}

// The program in an installer directory, started there inside a distribution's root.
class OnDistribution : public testing::TestWithParam<Distribution> {
protected:
    void SetUp() override {
        root = kRoots + "/" + GetParam().root;
        ASSERT_TRUE(fileExists(root + "/.ostrel-complete"))
            << "no complete root at " << root
            << ": `make distro-roots` makes it (`make check` does so first); " << root
            << ".log tells why an attempt failed";
        ASSERT_EQ(0, debianLine().rfind(std::string("on Debian ") + GetParam().version, 0)) << debianLine();
        // The installer's directory as a user unpacks it: the program beside its files.
        installer.write("Ostrel", readFile(kProgram), 0755);
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
        Command command{{"bash", kSource + "/tools/distro-run", root, installer.path(), "env"}};
        command.words.insert(command.words.end(), environment.begin(), environment.end());
        if (!kEmulator.empty())
            command.words.push_back(kEmulator);
        command.words.emplace_back("./Ostrel");
        command.words.insert(command.words.end(), arguments.begin(), arguments.end());
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

}  // namespace
