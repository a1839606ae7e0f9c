// The system-wide example installer and its uninstaller, run as root and as a user who cannot
// get root, with their windows and silently, below a scratch folder instead of /.
#include <errno.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "support/support.h"

namespace {

const std::string kExample = OSTREL_SOURCE_DIR "/examples/system-wide";
// The user without root: nobody.
const char* const kUser = "65534";

const std::string kInstalled = "Installed Quill for all users";
const std::string kRemoved = "Removed Quill for all users";

// What system-steps says to a user who cannot get root, as lines ending in `end`.
std::string askForRoot(const std::string& action, const std::string& start, const std::string& end) {
    return "Quill needs root to " + action + "." + end + "Start the " + action + "er as root:" + end + start +
           end;
}

// The built Ostrel with these arguments, started as that user.
Command asUser(const std::vector<std::string>& arguments) {
    Command command{{"setpriv", std::string("--reuid=") + kUser, std::string("--regid=") + kUser,
                     "--clear-groups", "--"}};
    std::vector<std::string> program = programCommand(arguments).words;
    command.words.insert(command.words.end(), program.begin(), program.end());
    return command;
}

// A copy of the example and an empty folder that stands for /, both the user's, so that only
// the lack of root can keep the user from installing.
class SystemWideExample : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, geteuid())
            << "this test runs the installer as root and as another user: run it as root";
        ASSERT_EQ(0, runCommand({"cp", "-R", kExample, dir()}));
        ASSERT_EQ(0, mkdir(root().c_str(), 0755));
        ASSERT_EQ(0, runCommand({"chown", "-R", std::string(kUser) + ":" + kUser, scratch.path()}));
        ASSERT_EQ(0, chmod(scratch.path().c_str(), 0755));
    }

    std::string dir() const { return scratch / "system-wide"; }
    std::string root() const { return scratch / "root"; }
    std::vector<std::string> environment() const {
        return {"QUILL_ROOT=" + root(), "HOME=" + scratch.path(), "SUDO_ASKPASS"};
    }

    // A PATH that finds, through links, every program that this one finds but pkexec and sudo,
    // after the folder `first` when given: the PATH of a system that has neither.
    std::string pathWithoutRoot(const std::string& first = "") const {
        const std::string links = scratch / "bin";
        EXPECT_EQ(0, mkdir(links.c_str(), 0755));
        std::istringstream folders(g_getenv("PATH"));
        for (std::string folder; std::getline(folders, folder, ':');) {
            GDir* programs = g_dir_open(folder.c_str(), 0, nullptr);
            while (const char* name = programs ? g_dir_read_name(programs) : nullptr) {
                std::string link = links + "/" + name;
                // The first of a name wins, as in a search of the PATH.
                if (strcmp(name, "pkexec") != 0 && strcmp(name, "sudo") != 0 &&
                    symlink((folder + "/" + name).c_str(), link.c_str()) != 0 && errno != EEXIST)
                    ADD_FAILURE() << "cannot link " << link << ": " << strerror(errno);
            }
            if (programs)
                g_dir_close(programs);
        }
        return "PATH=" + (first.empty() ? "" : first + ":") + links;
    }

    // Accepts the licence of the started installer; its progress window, 0 when none came.
    static WindowId progressWindow(Program& program, const std::string& title) {
        WindowId dialog = findWindow(program.pid(), "License Agreement", 30);
        EXPECT_NE(0u, dialog) << "no licence dialog";
        EXPECT_TRUE(dialog && acceptLicence(dialog)) << "the licence dialog did not go";
        return findWindow(program.pid(), title, 30);
    }

    // Everything below the folder that stands for /, one sorted path a line.
    std::string below() const {
        return commandOutput({"sh", "-c", "find " + root() + " -mindepth 1 -printf '%P\\n' | LC_ALL=C sort"});
    }

    void expectInstalled() const {
        EXPECT_EQ(
            "opt\nopt/quill\nopt/quill/bin\nopt/quill/bin/quill\nopt/quill/quill.png\nusr\nusr/local\n"
            "usr/local/bin\nusr/local/bin/quill\nusr/share\nusr/share/applications\n"
            "usr/share/applications/quill.desktop\n",
            below());
        struct stat command;
        ASSERT_EQ(0, stat((root() + "/opt/quill/bin/quill").c_str(), &command));
        EXPECT_EQ(0755u, command.st_mode & 07777);
        EXPECT_EQ(readFile(kExample + "/quill/quill"), readFile(root() + "/opt/quill/bin/quill"));
        EXPECT_EQ(readFile(kExample + "/quill/quill.desktop"),
                  readFile(root() + "/usr/share/applications/quill.desktop"));
        EXPECT_EQ(readFile(kExample + "/korvalen-48x48.png"), readFile(root() + "/opt/quill/quill.png"));
        // The command's link holds no trace of the folder that stood for /.
        GError* error = nullptr;
        char* target = g_file_read_link((root() + "/usr/local/bin/quill").c_str(), &error);
        EXPECT_STREQ("../../../opt/quill/bin/quill", target) << (error ? error->message : "");
        g_free(target);
        if (error)
            g_error_free(error);
        EXPECT_EQ("Quill 1.0\n", commandOutput({root() + "/usr/local/bin/quill", "--version"}));
    }

    // What the uninstaller leaves: the folders that every system has anyway.
    void expectRemoved() const {
        EXPECT_EQ("opt\nusr\nusr/local\nusr/local/bin\nusr/share\nusr/share/applications\n", below());
    }

    TempDir scratch;
};

TEST_F(SystemWideExample, InstallsForAllUsersAndUninstallsThroughTheWindowsAsRoot) {
    Program install(dir(), {}, environment());
    WindowId window = progressWindow(install, "Quill Setup");
    ASSERT_NE(0u, window);
    EXPECT_TRUE(install.waitForOutput(kInstalled + " \n", 60)) << install.out();
    EXPECT_EQ(0, finishWithOk(install, window));
    EXPECT_EQ("Display EULA: English\n" + kInstalled + " \n", install.out());
    EXPECT_EQ("", install.err());
    expectInstalled();

    Program uninstall(dir(), {"-f", "uninstall"}, environment());
    window = progressWindow(uninstall, "Quill Uninstall");
    ASSERT_NE(0u, window);
    EXPECT_TRUE(uninstall.waitForOutput(kRemoved + " \n", 60)) << uninstall.out();
    EXPECT_EQ(0, finishWithOk(uninstall, window));
    EXPECT_EQ("Display EULA: English\n" + kRemoved + " \n", uninstall.out());
    expectRemoved();
}

TEST_F(SystemWideExample, InstallsAndUninstallsSilentlyAsRoot) {
    Result install = runProgram(dir(), {"-s"}, environment());
    EXPECT_EQ(0, install.status);
    EXPECT_EQ(kInstalled + "\n", install.out);
    EXPECT_EQ("", install.err);
    expectInstalled();

    Result uninstall = runProgram(dir(), {"-s", "-f", "uninstall"}, environment());
    EXPECT_EQ(0, uninstall.status);
    EXPECT_EQ(kRemoved + "\n", uninstall.out);
    EXPECT_EQ("", uninstall.err);
    expectRemoved();
}

TEST_F(SystemWideExample, TellsAUserWithoutRootHowToGetItInTheWindowAndEndsWithTheStepsStatus) {
    std::vector<std::string> environment = this->environment();
    environment.push_back(pathWithoutRoot());
    Program program(asUser({}), dir(), environment);
    WindowId window = progressWindow(program, "Quill Setup");
    ASSERT_NE(0u, window);
    const std::string message = askForRoot("install", "sudo ./Ostrel -s", " \n");
    EXPECT_TRUE(program.waitForOutput("Display EULA: English\n" + message, 60)) << program.out();
    EXPECT_EQ(1, finishWithOk(program, window));
    EXPECT_EQ("Display EULA: English\n" + message, program.out());
    EXPECT_EQ("", program.err());
    EXPECT_EQ("", below());
}

TEST_F(SystemWideExample, TellsAUserWithoutRootHowToGetItSilentlyAndChangesNothing) {
    std::vector<std::string> environment = this->environment();
    environment.push_back(pathWithoutRoot());
    Program install(asUser({"-s"}), dir(), environment);
    EXPECT_EQ(1, install.wait(60));
    EXPECT_EQ(askForRoot("install", "sudo ./Ostrel -s", "\n"), install.out());
    EXPECT_EQ("Quill is not installed\n", install.err());
    EXPECT_EQ("", below());

    ASSERT_EQ(0, runProgram(dir(), {"-s"}, this->environment()).status);
    Program uninstall(asUser({"-s", "-f", "uninstall"}), dir(), environment);
    EXPECT_EQ(1, uninstall.wait(60));
    EXPECT_EQ(askForRoot("uninstall", "sudo ./Ostrel -s -f uninstall", "\n"), uninstall.out());
    EXPECT_EQ("Quill is not removed\n", uninstall.err());
    expectInstalled();
}

TEST_F(SystemWideExample, FindsRootThroughPkexecFirstThenSudoWithAnAskpassProgram) {
    const struct {
        std::vector<const char*> programs;  // on the PATH
        bool askpass;                       // SUDO_ASKPASS names a program
        const char* called;                 // "" when neither may be used
    } cases[] = {
        {{"pkexec"}, false, "pkexec"},
        {{"sudo"}, true, "sudo -A"},
        {{"pkexec", "sudo"}, true, "pkexec"},
        {{"sudo"}, false, ""},
    };
    const std::string askpass = scratch / "askpass";
    scratch.write("askpass", "#!/bin/sh\necho secret\n", 0755);
    const std::string record = scratch / "called";
    for (const auto& row : cases) {
        SCOPED_TRACE(row.called);
        TempDir fakes;
        ASSERT_EQ(0, chmod(fakes.path().c_str(), 0755));
        // Each says how it was called and does nothing; the user can write the record.
        for (const char* name : row.programs)
            fakes.write(name, "#!/bin/sh\necho \"" + std::string(name) + " $*\" > " + record + "\n", 0755);
        runCommand({"rm", "-rf", scratch / "bin", record});
        std::vector<std::string> environment = this->environment();
        environment.push_back(pathWithoutRoot(fakes.path()));
        if (row.askpass)
            environment.push_back("SUDO_ASKPASS=" + askpass);
        Program program(asUser({"-s"}), dir(), environment);
        EXPECT_EQ(*row.called ? 0 : 1, program.wait(60));
        if (*row.called) {
            EXPECT_EQ(kInstalled + "\n", program.out());
            EXPECT_EQ(
                std::string(row.called) + " /bin/bash " + dir() + "/system-steps install " + root() + "\n",
                readFile(record));
        } else {
            EXPECT_EQ(askForRoot("install", "sudo ./Ostrel -s", "\n"), program.out());
            EXPECT_FALSE(fileExists(record));
        }
        EXPECT_EQ("", below());
    }
}

TEST(SystemWideExampleCheck, FindsNothingInTheInstallerNorTheUninstaller) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{kExample}, std::vector<std::string>{"-f", kExample + "/uninstall"}}) {
        Program checker(checkerCommand(arguments), "");
        EXPECT_EQ(0, checker.wait(60)) << arguments.back();
        EXPECT_EQ("", checker.out()) << arguments.back();
    }
}

}  // namespace
