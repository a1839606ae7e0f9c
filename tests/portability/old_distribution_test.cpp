// The built program on an older distribution, Debian 11 (glibc 2.31, GTK+ 2.24.33), in the root
// that tools/old-distro-root makes: started there as a user would start an installer (the
// 32-bit program under the emulator), its windows on the test display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

const std::string kSource = OSTREL_SOURCE_DIR;
const std::string kRoot = OSTREL_OLD_ROOT;
const std::string kProgram = OSTREL_PROGRAM;
// What starts a program of the build's architecture inside the root: nothing (64-bit), or the
// emulator.
// NOLINTNEXTLINE(readability-redundant-string-init): empty for 64-bit
const std::string kEmulator(OSTREL_OLD_EMULATOR);

const double kAppear = 30;
const double kEnd = 30;

// "on Debian 11.x": printed by the scripts, so that a run outside the root shows.
std::string debianLine() {
    std::string version = readFile(kRoot + "/etc/debian_version");
    return "on Debian " + version.substr(0, version.find('\n'));
}

class OldDistribution : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fileExists(kRoot + "/.ostrel-complete"))
            << "no complete Debian 11 root at " << kRoot
            << ": `make old-distro-root` makes it (`make check` does so first); " << kRoot
            << ".log tells why an attempt failed";
        ASSERT_EQ(0, debianLine().rfind("on Debian 11.", 0)) << debianLine();
        // The installer's directory as a user unpacks it: the program beside its files.
        installer.write("Ostrel", readFile(kProgram), 0755);
    }

    // ./Ostrel with the arguments, started in the installer's directory inside the root.
    Command inRoot(const std::vector<std::string>& arguments) const {
        Command command{{"bash", kSource + "/tools/old-distro-run", kRoot, installer.path()}};
        if (!kEmulator.empty())
            command.words.push_back(kEmulator);
        command.words.emplace_back("./Ostrel");
        command.words.insert(command.words.end(), arguments.begin(), arguments.end());
        return command;
    }

    TempDir installer;
};

TEST_F(OldDistribution, PrintsHelp) {
    Program program(inRoot({"-h"}), installer.path());
    EXPECT_EQ(0, program.wait(kEnd)) << program.err();
    EXPECT_EQ("Ostrel Help...\n", program.out());
    EXPECT_EQ("", program.err());
}

TEST_F(OldDistribution, RunsTheControlScriptSilently) {
    installer.write("installer",
                    "#title=Old System Setup\n"
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

// How dark the bar is at a point of its width, from 0 (black) to 1 (white).
double barLuminance(WindowId window, int x) {
    std::string colour = pixelColour(window, x, 13);
    if (colour.size() != 7)
        return -1;
    auto rgb = static_cast<unsigned int>(std::stoul(colour.substr(1), nullptr, 16));
    return (0.3 * ((rgb >> 16) & 0xff) + 0.59 * ((rgb >> 8) & 0xff) + 0.11 * (rgb & 0xff)) / 255.0;
}

TEST_F(OldDistribution, AcceptsTheLicenceAndRunsTheInstallerInItsWindow) {
    installer.write("eula/English", "The licence of the old system test.\n");
    installer.write("installer",
                    "#title=Old System Setup\n"
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

    WindowId window = findWindow(program.pid(), "Old System Setup", kAppear);
    ASSERT_NE(0u, window) << program.out() << program.err();
    // While the block waits, the bar is half full: dark at a quarter, light at three quarters.
    // (Its output keeps the bar from pulsing, as it does after two quiet seconds.)
    ASSERT_TRUE(program.waitForOutput("waiting \n", kAppear)) << program.out() << program.err();
    waitUntil([&] { return barLuminance(window, 80) < 0.65 && barLuminance(window, 220) > 0.65; }, kEnd);
    EXPECT_LT(barLuminance(window, 80), 0.65);
    EXPECT_GT(barLuminance(window, 220), 0.65);

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

}  // namespace
