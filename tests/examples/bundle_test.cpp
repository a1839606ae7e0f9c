// The shippable installer made from an installer directory: the tarball holds exactly its files,
// with their modes, and the program; the launcher starts the program for the machine; the .run
// unpacks itself and starts it. Each works from wherever it is unpacked.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <sstream>

#include "support/support.h"

namespace {

const std::string kSource = OSTREL_SOURCE_DIR;
const std::string kProgram = OSTREL_PROGRAM;
// What runs a program of the build's architecture here: nothing, or an emulator.
const std::string kEmulator(OSTREL_EMULATOR);  // NOLINT(readability-redundant-string-init): empty without one

// Runs a shell command line, its output caught; the exit status.
int shell(const std::string& commandLine, std::string* out = nullptr) {
    TempDir scratch;
    int status = runCommand({"sh", "-c", commandLine + " >" + (scratch / "out") + " 2>&1 </dev/null"});
    if (out)
        *out = readFile(scratch / "out");
    return status;
}

// The checker as tools/bundle runs it: a script that starts it under the emulator when the
// build is of a foreign architecture.
std::string checker() {
    static TempDir wrapper;
    if (kEmulator.empty())
        return OSTREL_CHECK;
    if (!fileExists(wrapper / "ostrel-check"))
        wrapper.write("ostrel-check", "#!/bin/sh\nexec " + kEmulator + " " + OSTREL_CHECK + " \"$@\"\n",
                      0755);
    return wrapper / "ostrel-check";
}

// Runs tools/bundle as make bundle does, with the checker and this build's program; its exit
// status.
int runBundle(const std::string& installer, const std::string& tarball, std::string* log,
              const std::string& options = "") {
    return shell("bash " + kSource + "/tools/bundle --checker " + checker() + " " + options + " '" +
                     installer + "' " + tarball + " " + kProgram,
                 log);
}

int bundle(const std::string& installer, const std::string& tarball, const std::string& options = "") {
    std::string log;
    int status = runBundle(installer, tarball, &log, options);
    EXPECT_EQ(0, status) << log;
    return status;
}

// Each entry of the tarball with its permissions as tar lists them, e.g. "-rwxr-xr-x".
std::map<std::string, std::string> entries(const std::string& tarball) {
    std::string listing;
    EXPECT_EQ(0, shell("tar -tvzf " + tarball, &listing));
    std::map<std::string, std::string> found;
    std::istringstream lines(listing);
    std::string permissions, owner, size, date, time, name;
    while (lines >> permissions >> owner >> size >> date >> time >> name)
        found[name] = permissions;
    return found;
}

// An author's own installer directory, outside the repository: a payload with programs of its
// own, and files whose modes a careless umask or a shared folder left.
void writeAuthorsInstaller(const TempDir& dir) {
    dir.write("installer", "#title=Game Setup\n#script_start\n./game/start\n#script_end\n#progress=1\n");
    dir.write("eula/English", "The game's terms.\n");
    dir.write("game/start", "#!/bin/sh\necho started\n", 0775);
    dir.write("game/data", "levels\n", 0666);
    dir.write("helper", "#!/bin/sh\n", 0700);
    chmod((dir / "game").c_str(), 0775);
}

TEST(Bundle, HoldsExactlyTheInstallersFilesWithTheirModesAndTheProgram) {
    TempDir authors;
    writeAuthorsInstaller(authors);
    const std::map<std::string, std::string> common = {
        {"", "drwxr-xr-x"},      {"Ostrel", "-rwxr-xr-x"},       {"installer", "-rw-r--r--"},
        {"eula/", "drwxr-xr-x"}, {"eula/English", "-rw-r--r--"},
    };
    struct Row {
        std::string installer, name;
        std::map<std::string, std::string> more;
    };
    const Row rows[] = {
        {kSource + "/examples/hello",
         "hello",
         {{"eula/Deutsch", "-rw-r--r--"},
          {"korvalen-48x48.png", "-rw-r--r--"},
          {"greetings/", "drwxr-xr-x"},
          {"greetings/English", "-rw-r--r--"},
          {"greetings/Deutsch", "-rw-r--r--"}}},
        {kSource + "/examples/minimal",
         "minimal",
         {{"eula/Deutsch", "-rw-r--r--"}, {"korvalen-48x48.png", "-rw-r--r--"}}},
        // Run bits kept, write bits of the group and others gone, nothing else changed.
        {authors.path(),
         "game",
         {{"game/", "drwxr-xr-x"},
          {"game/start", "-rwxr-xr-x"},
          {"game/data", "-rw-r--r--"},
          {"helper", "-rwx------"}}},
    };
    for (const Row& row : rows) {
        TempDir out;
        std::string tarball = out / (row.name + "-test.tar.gz");
        ASSERT_EQ(0, bundle(row.installer, tarball)) << row.name;
        std::map<std::string, std::string> expected;
        for (const auto& entry : common)
            expected[row.name + "-test/" + entry.first] = entry.second;
        for (const auto& entry : row.more)
            expected[row.name + "-test/" + entry.first] = entry.second;
        EXPECT_EQ(expected, entries(tarball)) << row.name;
    }
}

TEST(Bundle, UnpackedInstallerRunsAndInstalls) {
    TempDir out, prefix;
    std::string tarball = out / "hello-test.tar.gz";
    ASSERT_EQ(0, bundle(kSource + "/examples/hello", tarball));
    ASSERT_EQ(0, shell("tar -xzf " + tarball + " -C " + out.path()));
    EXPECT_EQ(readFile(kSource + "/examples/hello/installer"), readFile(out / "hello-test/installer"));
    // Shipped without symbols, which wait beside the tarball for a debugger.
    std::string description = commandOutput({"file", out / "hello-test/Ostrel"});
    EXPECT_NE(std::string::npos, description.find(", stripped")) << description;
    EXPECT_TRUE(fileExists(out / "hello-test.debug"));

    std::string log;
    int status = shell(
        "cd " + (out / "hello-test") + " && HELLO_PREFIX=" + prefix.path() + " " + kEmulator + " ./Ostrel -s",
        &log);
    EXPECT_EQ(0, status) << log;
    EXPECT_NE(std::string::npos, log.find("Added the menu entry\n")) << log;
    EXPECT_TRUE(fileExists(prefix / "bin/hello"));
    EXPECT_TRUE(fileExists(prefix / "share/applications/hello.desktop"));
}

TEST(Bundle, RefusesADirectoryWithoutAControlScriptOrWithAProgramOfItsOwnAndLeavesNoEarlierBundle) {
    TempDir noScript, withProgram, out;
    noScript.write("eula/English", "Terms\n");
    withProgram.write("installer", "#title=Own program\n");
    withProgram.write("Ostrel", "#!/bin/sh\n", 0755);
    const struct {
        std::string installer, says;
    } rows[] = {
        {noScript.path(),
         noScript.path() + " has no control script: an installer directory holds one, named installer"},
        {withProgram.path(), withProgram.path() + " already holds Ostrel: the bundle brings its own program"},
        {withProgram / "installer", withProgram.path() + "/installer is not a directory"},
    };
    for (const auto& row : rows) {
        out.write("refused.tar.gz", "an earlier bundle\n");
        out.write("refused.run", "an earlier bundle\n");
        std::string log;
        EXPECT_EQ(1, runBundle(row.installer, out / "refused.tar.gz", &log, "--run")) << log;
        EXPECT_NE(std::string::npos, log.find("bundle: " + row.says)) << log;
        EXPECT_FALSE(fileExists(out / "refused.tar.gz"));
        EXPECT_FALSE(fileExists(out / "refused.run"));
    }
}

TEST(Bundle, StopsOnAnErrorThatTheCheckerFinds) {
    TempDir installer, out;
    // A warning alone lets the bundle through; the line that is exactly EOF is an error.
    const std::string warned = "#title=Checked\n#script_start\necho \"$HOME\"\n#script_end\n#progress=1\n";
    const std::string broken = "#title=Checked\n#script_start\ncat <<EOF\nx\nEOF\n#script_end\n#progress=1\n";
    installer.write("eula/English", "Terms\n");
    installer.write("korvalen-48x48.png", readFile(kSource + "/examples/hello/korvalen-48x48.png"));
    for (const std::string& script : {warned, broken}) {
        bool refused = script == broken;
        const std::string tarball = out / (refused ? "broken.tar.gz" : "warned.tar.gz");
        installer.write("installer", script);
        std::string log;
        int status = runBundle(installer.path(), tarball, &log);
        EXPECT_EQ(refused ? 1 : 0, status) << log;
        EXPECT_EQ(refused, log.find("installer:5: error: ") != std::string::npos) << log;
        EXPECT_EQ(refused, log.find("bundle: ostrel-check found errors") != std::string::npos) << log;
        EXPECT_EQ(!refused, fileExists(tarball)) << log;
    }
}

// What follows starts the program, and the .run, here: in the 64-bit tree, whose program the
// kernel here runs (the 32-bit one's .run and launcher run in a Debian root, distribution_test).
#ifdef __x86_64__

TEST(Bundle, SameInputsGiveTheSameBytesWhateverTheFilesTimes) {
    TempDir installer, first, second;
    ASSERT_EQ(0, shell("cp -R " + kSource + "/examples/hello/. " + installer.path()));
    ASSERT_EQ(0, bundle(installer.path(), first / "hello.tar.gz", "--run"));
    ASSERT_EQ(0, shell("touch -d 2001-02-03 " + installer.path() + " " + installer.path() + "/*"));
    ASSERT_EQ(0, bundle(installer.path(), second / "hello.tar.gz", "--run"));
    for (const char* file : {"hello.tar.gz", "hello.run", "hello.debug"}) {
        ASSERT_TRUE(fileExists(first / file)) << file;
        EXPECT_TRUE(readFile(first / file) == readFile(second / file)) << file << " differs";
    }
}

// A stand-in for one of the two programs: it says which one it is, where it runs and what
// arguments it got, and ends with status 3.
std::string standIn(const std::string& which) {
    return "#!/bin/sh\necho \"" + which +
           " in $(pwd)\"\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\nexit 3\n";
}

TEST(Bundle, LauncherStartsTheProgramForTheMachineWithEverythingUntouched) {
    const std::vector<std::string> arguments = {"-s", "-f", "two words", "", "*", "$HOME", "a\nb"};
    const std::string passed = "[-s]\n[-f]\n[two words]\n[]\n[*]\n[$HOME]\n[a\nb]\n";
    const struct {
        std::vector<std::string> machine;  // what makes uname -m say another machine
        bool x86_64, i386;                 // which programs the installer holds
        int status;
        std::string started;  // "" for none
    } rows[] = {
        {{}, true, true, 3, "64-bit"},
        {{"setarch", "i686"}, true, true, 3, "32-bit"},
        {{}, false, true, 3, "32-bit"},
        {{"setarch", "i686"}, true, false, 1, ""},
    };
    for (const auto& row : rows) {
        TempDir parent;
        parent.write("installer/Ostrel", readFile(kSource + "/tools/launcher"), 0755);
        if (row.x86_64)
            parent.write("installer/Ostrel.x86_64", standIn("64-bit"), 0755);
        if (row.i386)
            parent.write("installer/Ostrel.i386", standIn("32-bit"), 0755);
        // Started in its own directory as ./Ostrel, and from the one above it.
        for (const std::string& directory : {parent / "installer", parent.path()}) {
            const std::string here = directory == parent.path() ? "installer" : ".";
            Command command{row.machine};
            command.words.emplace_back(here + "/Ostrel");
            command.words.insert(command.words.end(), arguments.begin(), arguments.end());
            Program program(command, directory);
            EXPECT_EQ(row.status, program.wait(10)) << row.started << " " << directory;
            if (row.started.empty()) {
                EXPECT_EQ("", program.out());
                EXPECT_EQ("Ostrel: no program in " + here +
                              " starts on this i686 machine: the installer holds Ostrel for x86-64 and i386 "
                              "Linux\n",
                          program.err());
            } else {
                std::string expected = row.started;
                expected.append(" in ").append(directory).append("\n").append(passed);
                EXPECT_EQ(expected, program.out());
                EXPECT_EQ("", program.err());
            }
        }
    }
}

// The names in a directory, "" when it is empty.
std::string listing(const std::string& directory) {
    return commandOutput({"ls", "-A", directory});
}

TEST(Bundle, RunFileStartsTheInstallerWithItsArgumentsAndLeavesNothingBehind) {
    TempDir out;
    ASSERT_EQ(0, bundle(kSource + "/examples/hello", out / "hello.tar.gz", "--run"));
    const std::string ran =
        "Installing into PREFIX\nInstalled PREFIX/bin/hello\n#text=Adding the menu "
        "entry\n#progress=0.75\nAdded the menu entry\n";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string ends;  // how its output ends, PREFIX for the prefix
        bool exact;        // the output is all of that
        bool kept;         // unpacked below the working directory, as --keep asks
    } rows[] = {
        {{"-s"}, 0, ran, false, false},
        // makeself's own options before the installer's, with nothing of makeself's printed.
        {{"--quiet", "-s"}, 0, ran, true, false},
        {{"--quiet", "--keep", "-s"}, 0, ran, true, true},
        {{"--quiet", "-f", "no-such-script"},
         1,
         "Error:  Script File Required (-f /some/File.sh)\n",
         true,
         false},
        // -h is makeself's help; after -- it is the installer's.
        {{"--quiet", "--", "-h"}, 0, "Ostrel Help...\n", true, false},
        // An unknown option of makeself's kind is refused, before anything runs.
        {{"--no-such-option", "-s"}, 1, "", true, false},
        {{"--list"}, 0, " 1970-01-01 00:00 ./korvalen-48x48.png\n", false, false},
    };
    for (const auto& row : rows) {
        TempDir scratch, prefix, cwd;
        std::vector<std::string> words = {out / "hello.run"};
        words.insert(words.end(), row.arguments.begin(), row.arguments.end());
        Program program(Command{words}, cwd.path(),
                        {"TMPDIR=" + scratch.path(), "HELLO_PREFIX=" + prefix.path()});
        std::string shown = row.arguments.back();
        EXPECT_EQ(row.status, program.wait(30)) << shown << program.err();
        std::string ends = row.ends;
        size_t at = 0;
        while ((at = ends.find("PREFIX")) != std::string::npos)
            ends.replace(at, 6, prefix.path());
        std::string output = program.out();
        if (row.exact) {
            EXPECT_EQ(ends, output) << shown;
        } else {
            EXPECT_TRUE(output.size() >= ends.size() &&
                        output.compare(output.size() - ends.size(), ends.size(), ends) == 0)
                << shown << ": " << output;
        }
        EXPECT_EQ(row.ends == ran, fileExists(prefix / "bin/hello")) << shown;
        EXPECT_EQ("", listing(scratch.path())) << shown;
        EXPECT_EQ(row.kept ? "hello\n" : "", listing(cwd.path())) << shown;
        EXPECT_EQ(row.kept, fileExists(cwd / "hello/installer")) << shown;
    }
}

TEST(Bundle, RunFileCutShortOrCorruptedRefusesToStart) {
    TempDir out;
    ASSERT_EQ(0, bundle(kSource + "/examples/hello", out / "hello.tar.gz", "--run"));
    std::string whole = readFile(out / "hello.run");
    std::string corrupted = whole;
    corrupted[whole.size() - 1000] = static_cast<char>(corrupted[whole.size() - 1000] ^ 1);
    const struct {
        std::string name, bytes, says;
    } rows[] = {
        // As a download that broke off near the end.
        {"cut.run", whole.substr(0, whole.size() - 4096), "Unexpected archive size."},
        {"corrupted.run", corrupted, "Error in SHA256 checksums"},
    };
    for (const auto& row : rows) {
        TempDir scratch, prefix;
        out.write(row.name, row.bytes, 0755);
        Program program(Command{{out / row.name, "-s"}}, out.path(),
                        {"TMPDIR=" + scratch.path(), "HELLO_PREFIX=" + prefix.path()});
        EXPECT_EQ(2, program.wait(30)) << row.name << program.err();
        EXPECT_NE(std::string::npos, program.err().find(row.says)) << row.name << ": " << program.err();
        EXPECT_EQ(std::string::npos, program.out().find("Installing")) << row.name;
        EXPECT_EQ("", listing(prefix.path())) << row.name;
        EXPECT_EQ("", listing(scratch.path())) << row.name;
    }
}

#endif

}  // namespace
