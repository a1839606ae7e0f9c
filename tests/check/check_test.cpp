// ostrel-check run as an author runs it: on small control scripts with one trap each, on a
// clean one, and on installer directories with faulty files.
#include <glib.h>
#include <gtest/gtest.h>

#include <sstream>

#include "support/support.h"

namespace {

const std::string kSource = OSTREL_SOURCE_DIR;

struct Checked {
    int status;
    std::string out;
};

// Runs the checker in directory; a PATH of "" keeps the test's own.
Checked runChecker(const std::string& directory, const std::vector<std::string>& arguments,
                   const std::string& path = "") {
    std::vector<std::string> environment;
    if (!path.empty())
        environment.push_back("PATH=" + path);
    Program checker(checkerCommand(arguments), directory, environment);
    int status = checker.wait(60);
    return {status, checker.out()};
}

// The checker on one control script, named "installer" and given with -f.
Checked checkScript(const std::string& script, const std::string& path = "") {
    TempDir directory;
    directory.write("installer", script);
    return runChecker(directory.path(), {"-f", "installer"}, path);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        found.push_back(line);
    return found;
}

// The checker's own findings, ShellCheck's left out.
std::vector<std::string> ownFindings(const std::string& out) {
    std::vector<std::string> found;
    for (const std::string& line : lines(out)) {
        if (line.find(": ShellCheck: ") == std::string::npos)
            found.push_back(line);
    }
    return found;
}

struct Trap {
    std::string script;
    // "LINE: SEVERITY: " and a piece of the message, for each finding in order.
    std::vector<std::pair<const char*, const char*>> findings;
    int status;
};

using namespace std::string_literals;

TEST(Checker, NamesEachTrapWithItsLineAndSeverity) {
    const Trap traps[] = {
        // Blocks.
        {"#script_start\necho a\n", {{"1: warning: ", "no `#script_end`"}}, 1},
        {"#title=A\n#script_end\n", {{"2: warning: ", "no open block"}}, 1},
        {"#script_start\n\n#script_end\n#progress=1\n", {{"1: warning: ", "empty"}}, 1},
        {"#script_start\n  \t\n#script_end\n#progress=1\n", {{"1: warning: ", "empty"}}, 1},
        {"#script_start\necho a\n#progress=0.5\n#script_end\n#progress=1\n",
         {{"3: warning: ", "`#progress=` inside a block"}},
         1},
        {"#script_start\n#script_start\necho a\n#script_end\n#progress=1\n",
         {{"2: warning: ", "opened on line 1"}},
         1},
        {"#script_start_noWait\necho a\n#script_end\n#progress=1\n",
         {{"1: warning: ", "`#script_start_noWait` is no kind of block"}},
         1},
        // The outer shell.
        {"#script_start\nname=x\necho \"$name\"\n#script_end\n#progress=1\n",
         {{"3: warning: ", "script's own `name` is not set yet"}},
         1},
        {"#script_start\necho \"$HOME\"\n#script_end\n#progress=1\n",
         {{"2: warning: ", "write `\\${HOME}`"}},
         1},
        {"#script_start\necho \"${PREFIX:-/opt}\"\n#script_end\n#progress=1\n",
         {{"2: warning: ", "write `\\${PREFIX:-/opt}`"}},
         1},
        {"#script_start\necho \"$?\"\n#script_end\n#progress=1\n", {{"2: warning: ", "replaces `$?`"}}, 1},
        {"#script_start\ncd /tmp\necho \"$(pwd)\"\n#script_end\n#progress=1\n",
         {{"3: warning: ", "runs `$(pwd)`"}},
         1},
        {"#script_start\necho `date`\n#script_end\n#progress=1\n",
         {{"2: warning: ", "write `\\`date\\``"}},
         1},
        {"#script_start\necho \"$((6 * 7))\"\n#script_end\n#progress=1\n", {{"2: warning: ", "computes"}}, 1},
        {"#script_start\necho one \\\n  two\n#script_end\n#progress=1\n", {{"2: warning: ", "backslash"}}, 1},
        {"#script_start\ncat > notes <<EOF\nnotes\nEOF\n#script_end\n#progress=1\n",
         {{"4: error: ", "exactly `EOF`"}},
         1},
        {"#script_start\nlist=(a b)\necho ${list[0]}\n#script_end\n#progress=1\n",
         {{"3: error: ", "Bad substitution"}},
         1},
        {"#script_start\necho \"$(date\"\n#script_end\n#progress=1\n", {{"2: error: ", "finds no end"}}, 1},
        {"#script_start\necho \"\\$USER\" > who\nread -r answer\necho "
         "\"\\$answer\"\n#script_end\n#progress=1\n",
         {{"3: warning: ", "`read` reads standard input"}},
         1},
        {"#script_start\ncat\n#script_end\n#progress=1\n",
         {{"2: warning: ", "`cat` reads standard input"}},
         1},
        {"#script_start\ngrep -q -e ready\nsort -o names -k 2\n#script_end\n#progress=1\n",
         {{"2: warning: ", "`grep` reads standard input"}, {"3: warning: ", "`sort` reads standard input"}},
         1},
        {"#script_start\nsudo apt-get -o Debug::NoLocking=1 install curl\napt-get update\ndnf -qy install "
         "curl\n#script_end\n#progress=1\n",
         {{"2: warning: ", "`apt-get` asks before it changes the system"}},
         1},
        // Modes that differ.
        {"#title=A\necho hello\n", {{"2: warning: ", "outside any block"}}, 1},
        {"echo \"hi\" #title=A\n", {{"1: warning: ", "ignores `echo \"hi\" ` in front of it"}}, 1},
        {"# #progress=1\n", {{"1: warning: ", "looks commented out"}}, 1},
        {"#title=A #text=B\n", {{"1: warning: ", "`#text=` is not"}}, 1},
        {"#Title=A\n#progress =1\n",
         {{"1: warning: ", "write `#title=`"}, {"2: warning: ", "`#progress=`"}},
         1},
        {"#title=A\n# Costs $(touch surprise) nothing\n", {{"2: warning: ", "in silent mode"}}, 1},
        {"#title=A\nEOF\n", {{"2: error: ", "in silent mode a line that is exactly `EOF`"}}, 1},
        {"#script_start\ncd payload\n#script_end\n#script_start\nls\n#script_end\n#progress=1\n",
         {{"2: warning: ", "`cd` here also moves the later blocks"}},
         1},
        {"#script_start_nowait\necho registered\n#script_end\n#progress=1\n",
         {{"2: note: ", "in silent mode `echo` prints"}},
         0},
        {"#script_start\nprintf 'a\\n'\n#script_end\n#Ostrel_Exit\n#script_start\nls\n#script_end\n",
         {{"4: warning: ", "never reads the 3 lines"}},
         1},
        // Bytes.
        {"#title=A\n#progress=1", {{"2: warning: ", "does not end with a line feed"}}, 1},
        {"#title=A\r\n#progress=1\r\n", {{"1: error: ", "CR LF line ends (2 lines"}}, 1},
        {"#title=A\n\n#progress=\0"
         "1\n"s,
         {{"3: error: ", "a NUL byte"}},
         1},
        {"", {{"1: error: ", "the file is empty"}}, 1},
        // Values.
        {"#progress=0,5\n", {{"1: warning: ", "decimal comma"}}, 1},
        {"#progress=half\n", {{"1: warning: ", "`half` is not a number"}}, 1},
        {"#progress=0.5 done\n#progress=0.75 \n", {{"1: warning: ", "reads it as 0.5 and ignores"}}, 1},
        {"#progress=50\n", {{"1: warning: ", "held at 1"}}, 1},
        // Blocks' output and input.
        {"#script_start\nsleep 100 &\n#script_end\n#progress=1\n", {{"2: warning: ", "`sleep … &`"}}, 1},
        {"#script_start\nseq 3 | sed 's/^/at /'\n#script_end\n#progress=1\n",
         {{"2: note: ", "in chunks"}},
         0},
        {"#script_start\ntar -xvf payload.tar\n#script_end\n#progress=1\n",
         {{"2: note: ", "a line per file"}},
         0},
        {"#script_start\ncat > motd <<'END'\nWelcome\n\nEnjoy\nEND\n#script_end\n#progress=1\n",
         {{"4: warning: ", "drops it"}},
         1},
    };
    for (const Trap& trap : traps) {
        const std::string& script = trap.script;
        Checked checked = checkScript(script);
        std::vector<std::string> found = ownFindings(checked.out);
        EXPECT_EQ(trap.status, checked.status) << script << checked.out;
        ASSERT_EQ(trap.findings.size(), found.size()) << script << checked.out;
        for (size_t i = 0; i < found.size(); ++i) {
            std::string place = std::string("installer:") + trap.findings[i].first;
            EXPECT_EQ(0u, found[i].rfind(place, 0)) << script << found[i];
            EXPECT_NE(std::string::npos, found[i].find(trap.findings[i].second)) << script << found[i];
        }
    }
}

TEST(Checker, FindsNothingInACleanScriptWithEveryKindOfBlock) {
    Checked checked = checkScript(
        "# Clean Setup: every kind of block, written so that both modes agree.\n"
        "#title=Clean Setup\n"
        "#text=Unpacking\n"
        "#progress=0.25\n"
        "#script_start\n"
        "prefix=\"\\${CLEAN_PREFIX:-\\$HOME/.local}\"\n"
        "mkdir -p \"\\$prefix/share\"\n"
        "( cd \"\\$prefix\" && ls >/dev/null )\n"
        "while read -r name; do echo \"\\$name\"; done < /etc/hostname\n"
        "grep -q -e localhost -- /etc/hosts && head -n 1 /etc/hosts | sort -k 2\n"
        "grep -r -l \"\\$prefix\" >/dev/null; awk 'BEGIN { print 6 * 7 }'\n"
        "case \"\\$prefix\" in\n"
        "  /*) echo \"absolute: \\$prefix\" ;;\n"
        "  *) echo relative ;;\n"
        "esac\n"
        "#script_end\n"
        "#text=Registering\n"
        "#progress=0.5\n"
        "#script_start_nowait\n"
        "touch registered\n"
        "#script_end\n"
        "#text=Logging\n"
        "#script_start_blocking\n"
        "cat > log.txt <<END\n"
        "Installed on \\$(date)\n"
        "END\n"
        "echo \"Price: \\$5, path C:\\\\\\\\Games\"\n"
        "#script_end\n"
        "#progress=1\n"
        // The window waits for a block at the very end before it shows "OK".
        "#script_start\n"
        "echo \"Installed\"\n"
        "#script_end\n");
    EXPECT_EQ(0, checked.status) << checked.out;
    EXPECT_EQ("", checked.out);
}

TEST(Checker, CountsLinesAcrossDroppedEmptyLinesAndCrLf) {
    const std::string script = "#title=A\n\n#script_start\n\n\necho \"$HOME\"\n\n#script_end\n#progress=1\n";
    for (const char* end : {"\n", "\r\n"}) {
        std::string text;
        for (char c : script)
            text += c == '\n' ? std::string(end) : std::string(1, c);
        Checked checked = checkScript(text);
        bool found = false;
        for (const std::string& line : ownFindings(checked.out))
            found |= line.rfind("installer:6: warning: /bin/sh pastes the value of `$HOME`", 0) == 0;
        EXPECT_TRUE(found) << checked.out;
    }
}

TEST(Checker, PutsShellCheckFindingsOnTheScriptLine) {
    // Dropped empty lines, a line that /bin/sh joins to the next and an escaped dollar sign
    // before the finding.
    Checked checked = checkScript(
        "#title=A\n#script_start\n\nfiles=\"a b\"\n\necho one \\\n  two\nls "
        "\\$files\n#script_end\n#progress=1\n");
    std::vector<std::string> found = lines(checked.out);
    ASSERT_EQ(2u, found.size()) << checked.out;
    EXPECT_EQ(0u, found[0].find("installer:6: warning: /bin/sh removes the backslash")) << checked.out;
    EXPECT_EQ(0u, found[1].find("installer:8: note: ShellCheck: Double quote")) << checked.out;
    EXPECT_NE(std::string::npos, found[1].find("[SC2086]")) << checked.out;
    EXPECT_EQ(1, checked.status);
}

TEST(Checker, SaysOnceThatBlocksWentUncheckedWithoutShellCheck) {
    TempDir empty;
    Checked checked =
        checkScript("#title=A\n#script_start\nls\n#script_end\n#script_start\nls\n#script_end\n#progress=1\n",
                    empty.path());
    EXPECT_EQ(0, checked.status);
    ASSERT_EQ(1u, lines(checked.out).size()) << checked.out;
    EXPECT_EQ(0u, checked.out.find("installer:2: note: shellcheck is not installed")) << checked.out;
}

TEST(Checker, ChecksTheFilesOfAnInstallerDirectory) {
    const std::string icon = readFile(kSource + "/examples/hello/korvalen-48x48.png");
    std::string small = icon;
    small[19] = 32;  // the width in the header
    struct Layout {
        std::vector<std::pair<const char*, std::string>> files;
        const char* directory;  // made below "inst"
        const char* finding;    // the expected first line's start, or "" for none
        int status;
    };
    const Layout layouts[] = {
        {{{"eula/English", "Terms\n"}, {"korvalen-48x48.png", icon}}, nullptr, "", 0},
        {{{"eula/Deutsch", "Bedingungen\n"}, {"korvalen-48x48.png", icon}},
         nullptr,
         "inst/eula/English:1: warning: eula/ has no English file",
         1},
        {{{"eula/english", "Terms\n"}, {"korvalen-48x48.png", icon}},
         nullptr,
         "inst/eula/English:1: warning: eula/ has no English file: Ostrel shows no licence at all and "
         "starts installing at once; add the licence as eula/English (the name is exact: `english` is not "
         "it)",
         1},
        {{{"eula/English", ""}, {"korvalen-48x48.png", icon}},
         nullptr,
         "inst/eula/English:1: warning: the file is empty",
         1},
        {{{"eula/English", "Terms\n"},
          {"eula/Deutsch", "Bedingungen\nf\xfcr alle\n"},
          {"korvalen-48x48.png", icon}},
         nullptr,
         "inst/eula/Deutsch:2: warning: not valid UTF-8",
         1},
        {{{"eula/English", "Terms\n"}, {"korvalen-48x48.png", icon}},
         "eula/Old",
         "inst/eula/Old:1: warning: not a regular file",
         1},
        {{{"eula/English", "Terms\n"}, {"korvalen-48x48.png", "GIF89a and more than 24 bytes of it"}},
         nullptr,
         "inst/korvalen-48x48.png:1: warning: not a PNG",
         1},
        {{{"eula/English", "Terms\n"}, {"korvalen-48x48.png", small}},
         nullptr,
         "inst/korvalen-48x48.png:1: warning: the icon is 32x48",
         1},
        {{{"eula/English", "Terms\n"}, {"korvalen-48x48.png", icon}, {"Ostrel", "#!/bin/sh\n"}},
         nullptr,
         "inst/Ostrel:1: error: not executable",
         1},
    };
    for (const Layout& layout : layouts) {
        TempDir top;
        top.write("inst/installer", "#title=A\n#progress=1\n");
        for (const auto& file : layout.files)
            top.write(std::string("inst/") + file.first, file.second);
        if (layout.directory) {
            ASSERT_EQ(0, runCommand({"mkdir", "-p", top / (std::string("inst/") + layout.directory)}));
        }
        Checked checked = runChecker(top.path(), {"inst"});
        EXPECT_EQ(layout.status, checked.status) << checked.out;
        std::vector<std::string> found = lines(checked.out);
        if (*layout.finding == '\0') {
            EXPECT_EQ("", checked.out);
            continue;
        }
        ASSERT_EQ(1u, found.size()) << checked.out;
        EXPECT_EQ(0u, found[0].rfind(layout.finding, 0)) << checked.out;
    }
}

TEST(Checker, ExitsWithTwoWhenTheScriptCannotBeReadAndPrintsUsageOnRequest) {
    TempDir empty;
    EXPECT_EQ(2, runChecker(empty.path(), {}).status);
    EXPECT_EQ(2, runChecker(empty.path(), {"-f", "missing"}).status);
    Checked help = runChecker(empty.path(), {"-h"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("Usage: ostrel-check [DIR]")) << help.out;
}

TEST(Checker, FindsNothingInTheExamples) {
    TempDir scratch;
    for (const char* example : {"hello", "minimal"}) {
        Checked checked = runChecker(scratch.path(), {kSource + "/examples/" + example});
        EXPECT_EQ(0, checked.status) << example << "\n" << checked.out;
        EXPECT_EQ("", checked.out) << example;
    }
}

}  // namespace
