// The manual page: it renders cleanly, its example does what it says, and it is installed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "support/support.h"

namespace {

const std::string kPage = OSTREL_SOURCE_DIR "/Ostrel.1";
const std::string kCheckerPage = OSTREL_SOURCE_DIR "/ostrel-check.1";

struct Captured {
    int status;
    std::string out;
    std::string err;
};

// Runs a shell command line with its output and errors caught in files.
Captured capture(const std::string& commandLine) {
    TempDir scratch;
    int status = runCommand(
        {"sh", "-c", commandLine + " >" + (scratch / "out") + " 2>" + (scratch / "err") + " </dev/null"});
    return {status, readFile(scratch / "out"), readFile(scratch / "err")};
}

// The lines of the page between its EXAMPLE heading's first .nf and .fi, as roff source.
std::string exampleScript() {
    std::istringstream page(readFile(kPage));
    std::string line, script;
    bool inExample = false, inText = false;
    while (std::getline(page, line)) {
        if (line.rfind(".SH", 0) == 0)
            inExample = line == ".SH EXAMPLE";
        else if (inExample && line == ".nf")
            inText = true;
        else if (inText && line == ".fi")
            break;
        else if (inText)
            script += line + "\n";
    }
    // The only escapes the example uses: \- for a plain minus and \e for a backslash.
    for (size_t at = script.find('\\'); at != std::string::npos; at = script.find('\\', at + 1)) {
        if (script.compare(at, 2, "\\-") == 0)
            script.erase(at, 1);
        else if (script.compare(at, 2, "\\e") == 0)
            script.erase(at + 1, 1);
    }
    return script;
}

TEST(ManPage, RendersWithoutWarningsAndHasEverySection) {
    // Plain text: no bold or underline in the way of the search.
    Captured page = capture("groff -man -Tutf8 -ww -P-cbu " + kPage);
    EXPECT_EQ(0, page.status);
    EXPECT_EQ("", page.err);
    for (const char* heading :
         {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "EXIT STATUS", "EXAMPLE"})
        EXPECT_NE(std::string::npos, page.out.find("\n" + std::string(heading) + "\n")) << heading;
    EXPECT_NE(std::string::npos, page.out.find("Ostrel - graphical front end")) << page.out;
}

TEST(ManPage, ExampleCopiesTheDataAsItSays) {
    std::string script = exampleScript();
    ASSERT_EQ(0u, script.find("#title=Example Setup\n")) << script;
    TempDir installer, home;
    installer.write("installer", script);
    installer.write("data/readme.txt", "read me\n");
    // Blanks, quotes and a dollar sign: the environment is used as bash's own.
    const std::string homeDirectory = home / "my \"home\" $x";
    Result result = runProgram(installer.path(), {"-s"}, {"HOME=" + homeDirectory});
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("copied the data\n", result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ("read me\n", readFile(homeDirectory + "/.local/share/example/data/readme.txt"));
}

TEST(ManPage, IsInstalledWithTheProgram) {
    TempDir prefix;
    Captured install = capture("cmake --install " OSTREL_BINARY_DIR " --prefix " + prefix.path());
    ASSERT_EQ(0, install.status) << install.out << install.err;
    EXPECT_EQ(readFile(kPage), readFile(prefix / "share/man/man1/Ostrel.1"));
    struct stat program;
    ASSERT_EQ(0, stat((prefix / "bin/Ostrel").c_str(), &program));
    EXPECT_TRUE(program.st_mode & S_IXUSR);
    EXPECT_EQ(readFile(OSTREL_PROGRAM), readFile(prefix / "bin/Ostrel"));
    // The checker comes along, with a page of its own.
    EXPECT_EQ(readFile(OSTREL_CHECK), readFile(prefix / "bin/ostrel-check"));
    EXPECT_EQ(readFile(kCheckerPage), readFile(prefix / "share/man/man1/ostrel-check.1"));
}

TEST(ManPage, CheckerPageRendersWithoutWarnings) {
    Captured page = capture("groff -man -Tutf8 -ww -P-cbu " + kCheckerPage);
    EXPECT_EQ(0, page.status);
    EXPECT_EQ("", page.err);
    for (const char* heading : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLE"})
        EXPECT_NE(std::string::npos, page.out.find("\n" + std::string(heading) + "\n")) << heading;
}

}  // namespace
