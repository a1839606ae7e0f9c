// The shippable tarball made from an example: exactly the installer's files, and it works
// from wherever it is unpacked.
#include <gtest/gtest.h>

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

// Runs tools/bundle as make bundle does, with the checker; its exit status.
int runBundle(const std::string& example, const std::string& tarball, std::string* log) {
    return shell(
        "bash " + kSource + "/tools/bundle " + kProgram + " " + example + " " + tarball + " " + checker(),
        log);
}

int bundle(const std::string& example, const std::string& tarball) {
    std::string log;
    int status = runBundle(example, tarball, &log);
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

TEST(Bundle, HoldsExactlyTheProgramControlScriptLicencesAndIcon) {
    for (const char* example : {"hello", "minimal"}) {
        TempDir out;
        std::string tarball = out / (std::string(example) + "-test.tar.gz");
        ASSERT_EQ(0, bundle(kSource + "/examples/" + example, tarball));
        std::string top = std::string(example) + "-test/";
        std::map<std::string, std::string> expected = {
            {top, "drwxr-xr-x"},
            {top + "Ostrel", "-rwxr-xr-x"},
            {top + "installer", "-rw-r--r--"},
            {top + "eula/", "drwxr-xr-x"},
            {top + "eula/English", "-rw-r--r--"},
            {top + "eula/Deutsch", "-rw-r--r--"},
            {top + "korvalen-48x48.png", "-rw-r--r--"},
        };
        EXPECT_EQ(expected, entries(tarball)) << example;
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

TEST(Bundle, RefusesAnExampleWithoutALicence) {
    TempDir example, out;
    example.write("installer", "#title=No licence\n");
    example.write("korvalen-48x48.png", readFile(kSource + "/examples/hello/korvalen-48x48.png"));
    std::string log;
    EXPECT_EQ(1, shell("bash " + kSource + "/tools/bundle " + kProgram + " " + example.path() + " " +
                           (out / "broken.tar.gz"),
                       &log));
    EXPECT_NE(std::string::npos, log.find("no licence")) << log;
    EXPECT_FALSE(fileExists(out / "broken.tar.gz"));
}

TEST(Bundle, StopsOnAnErrorThatTheCheckerFinds) {
    TempDir example, out;
    // A warning alone lets the bundle through; the line that is exactly EOF is an error.
    const std::string warned = "#title=Checked\n#script_start\necho \"$HOME\"\n#script_end\n#progress=1\n";
    const std::string broken = "#title=Checked\n#script_start\ncat <<EOF\nx\nEOF\n#script_end\n#progress=1\n";
    example.write("eula/English", "Terms\n");
    example.write("korvalen-48x48.png", readFile(kSource + "/examples/hello/korvalen-48x48.png"));
    for (const std::string& script : {warned, broken}) {
        bool refused = script == broken;
        const std::string tarball = out / (refused ? "broken.tar.gz" : "warned.tar.gz");
        example.write("installer", script);
        std::string log;
        int status = runBundle(example.path(), tarball, &log);
        EXPECT_EQ(refused ? 1 : 0, status) << log;
        EXPECT_EQ(refused, log.find("installer:5: error: ") != std::string::npos) << log;
        EXPECT_EQ(refused, log.find("bundle: ostrel-check found errors") != std::string::npos) << log;
        EXPECT_EQ(!refused, fileExists(tarball)) << log;
    }
}

}  // namespace
