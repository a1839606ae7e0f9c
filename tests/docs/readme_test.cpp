// The README's promises that can go stale: its links, its pictures, its make commands and the
// checker's findings it quotes.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "support/support.h"

namespace {

const std::string kSource = OSTREL_SOURCE_DIR;

std::string readme() {
    return readFile(kSource + "/README.md");
}

// Width and height of a PNG file, from its header; 0 x 0 when it is none.
std::pair<unsigned, unsigned> pngSize(const std::string& path) {
    std::string bytes = readFile(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
        bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto number = [&bytes](size_t at) {
        unsigned value = 0;
        for (size_t i = at; i < at + 4; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[i]);
        return value;
    };
    return {number(16), number(20)};
}

TEST(Readme, LinksOnlyToFilesThatExist) {
    std::string text = readme();
    std::regex link(R"(\]\(([^)#]+)\))");
    int links = 0;
    for (auto match = std::sregex_iterator(text.begin(), text.end(), link); match != std::sregex_iterator();
         ++match, ++links)
        EXPECT_TRUE(fileExists(kSource + "/" + (*match)[1].str())) << (*match)[1].str();
    EXPECT_GE(links, 4);
}

TEST(Readme, ShowsScreenshotsOfTheLicenceDialogAndTheProgressWindow) {
    std::string text = readme();
    // Drawn by GTK+ 2 and by GTK 3, at the windows' sizes.
    for (const char* toolkit : {"", "-gtk3"}) {
        for (const char* picture : {"docs/licence", "docs/progress-running", "docs/progress-finished"}) {
            std::string path = std::string(picture) + toolkit + ".png";
            EXPECT_NE(std::string::npos, text.find("](" + path + ")")) << path;
            EXPECT_EQ(path.find("licence") != std::string::npos ? 600u : 300u,
                      pngSize(std::string(kSource).append("/").append(path)).first)
                << path;
        }
    }
}

TEST(Readme, QuickStartAndMakeTargetsExist) {
    std::string text = readme();
    EXPECT_NE(std::string::npos, text.find("    make demo     #"));
    EXPECT_NE(std::string::npos, text.find("    make check    #"));
    TempDir scratch;
    for (const char* target :
         {"demo", "check", "bundle", "screenshots", "build-x86_64", "build-i386", "distro-roots"}) {
        EXPECT_NE(std::string::npos, text.find(std::string("make ") + target)) << target;
        // A dry run only prints, also in the makes it starts.
        std::string command = "make -n -C " + kSource + " BUILD=" + scratch.path() + " " + target + " >" +
                              (scratch / "log") + " 2>&1";
        EXPECT_EQ(0, runCommand({"sh", "-c", command})) << target << ": " << readFile(scratch / "log");
    }
}

TEST(Readme, QuotesWhatTheCheckerSaysAboutEachMistakeThatMakesAnInstallerMisbehave) {
    // The five mistakes as small control scripts, in the README's order.
    const char* const unescaped =
        "#script_start\nname=\"My App\"\necho \"Installing $name\"\nmkdir -p \"$HOME/.local/share/my-app\"\n"
        "#script_end\n";
    const char* const mistakes[] = {
        unescaped,
        "#title=Copying\n#title=Finished",
        "#script_start\necho \"copying\"\n#script_end\necho \"copied\"\n",
        "#title=My App Setup\r\n#script_start\r\ncd data\r\n#script_end\r\n",
        "#script_start\ncd data\n#script_end\n#script_start\ncp -r files copied\n#script_end\n",
    };
    std::string text = readme();
    for (const char* mistake : mistakes) {
        TempDir dir;
        dir.write("installer", mistake);
        InDirectory inside(dir.path());
        std::istringstream findings(commandOutput(checkerCommand({"-f", "installer"}).words));
        int quoted = 0;
        for (std::string line; std::getline(findings, line);) {
            if (line.find(": ShellCheck: ") != std::string::npos)
                continue;
            ++quoted;
            EXPECT_NE(std::string::npos, text.find("\n    " + line + "\n")) << line;
        }
        EXPECT_GE(quoted, 1) << mistake;
    }
}

}  // namespace
