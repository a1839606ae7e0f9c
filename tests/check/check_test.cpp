// ostrel-check run as an author runs it: on small control scripts with one trap of each kind,
// on a clean one, and on installer directories with faulty files. The checker's layers have
// their own rows, in this process, beside this file.
#include <glib.h>
#include <gtest/gtest.h>

#include <sstream>

#include "rows.h"
#include "support/support.h"

namespace {

const std::string kSource = OSTREL_SOURCE_DIR;

struct Checked {
    int status;
    std::string out;
};

// Runs the checker in directory, with environment entries ("NAME=value") added.
Checked runChecker(const std::string& directory, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {}) {
    Program checker(checkerCommand(arguments), directory, environment);
    int status = checker.wait(60);
    return {status, checker.out()};
}

// The checker on one control script, named "installer" and given with -f.
Checked checkScript(const std::string& script, const std::vector<std::string>& environment = {}) {
    TempDir directory;
    directory.write("installer", script);
    return runChecker(directory.path(), {"-f", "installer"}, environment);
}

// Where a program is on the PATH, or "".
std::string programPath(const char* name) {
    gchar* found = g_find_program_in_path(name);
    std::string path = found ? found : "";
    g_free(found);
    return path;
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
    std::vector<Expected> findings;
    int status;
};

using namespace std::string_literals;

TEST(Checker, NamesEachTrapWithItsLineAndSeverity) {
    ASSERT_NE("", programPath("shfmt")) << "shfmt, the bash parser, is not installed (tools/install-deps "
                                           "installs it): the checker cannot read the blocks' commands";
    const Trap traps[] = {
        // Blocks.
        {"#script_start\necho a\n", {{"1: warning: ", "no `#script_end`"}}, 1},
        {"#title=A\n#script_end\n", {{"2: warning: ", "no open block"}}, 1},
        {"#script_start\n\n#script_end\n#progress=1\n", {{"1: warning: ", "empty"}}, 1},
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
        {"#script_start\nsudo apt-get -o Debug::NoLocking=1 install curl\napt-get update\ndnf -qy install "
         "curl\n#script_end\n#progress=1\n",
         {{"2: warning: ", "`sudo` asks for a password"},
          {"2: warning: ", "`apt-get` asks before it changes"}},
         1},
        // Modes that differ.
        {"#title=A\necho hello\n", {{"2: warning: ", "outside any block"}}, 1},
        {"echo \"hi\" #title=A\n", {{"1: warning: ", "ignores `echo \"hi\" ` in front of it"}}, 1},
        {"# #progress=1\n", {{"1: warning: ", "looks commented out"}}, 1},
        {"#title=A #text=B\n", {{"1: warning: ", "`#text=` is not"}}, 1},
        {"#Title=A\n#progress =1\n",
         {{"1: warning: ", "write `#title=`"}, {"2: warning: ", "`#progress=`"}},
         1},
        {"#titel=Setup\n#txt=Copying\n#progres=0.9\n#script_stat\n# text and titles\n",
         {{"1: warning: ", "write `#title=`, the directive that it misspells"},
          {"2: warning: ", "`#text=`"},
          {"3: warning: ", "`#progress=`"},
          {"4: warning: ", "`#script_start`"}},
         1},
        {"#script_start\necho a\n#script_ned\n",
         {{"1: warning: ", "no `#script_end`"}, {"3: warning: ", "this is no `#script_end` but a comment"}},
         1},
        {"#title=A\n# Costs $(touch surprise) nothing\n", {{"2: warning: ", "in silent mode"}}, 1},
        {"#title=A\nEOF\n", {{"2: error: ", "in silent mode a line that is exactly `EOF`"}}, 1},
        {"#script_start\ncd payload\n#script_end\n#script_start\nls\n#script_end\n#progress=1\n",
         {{"2: warning: ", "`cd` here also moves the later blocks"}},
         1},
        {"#script_start_blocking\necho \"#progress=0.5\"\n#script_end\n",
         {{"2: warning: ", "the window never reads the output of a #script_start_blocking block"}},
         1},
        {"#script_start\ntrue\n#script_end\n#stop_on_failure=Failed\n", {{"4: note: ", "stops nothing"}}, 0},
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
        {"#script_start\nsleep 100 &\n#script_end\n#progress=1\n",
         {{"2: warning: ", "`sleep 100 &` keeps"}},
         1},
        {"#script_start\nsleep 1 | sed 's/^/at /'\n#script_end\n", {{"2: note: ", "in chunks"}}, 0},
        {"#script_start\ntar -xvf payload.tar\n#script_end\n#progress=1\n",
         {{"2: note: ", "a line per file"}},
         0},
        {"#script_start\ncat > motd <<'END'\nWelcome\n\nEnjoy\nEND\n#script_end\n#progress=1\n",
         {{"4: warning: ", "drops it"}},
         1},
    };
    for (const Trap& trap : traps) {
        SCOPED_TRACE(trap.script);
        Checked checked = checkScript(trap.script);
        expectFindings(trap.findings, ownFindings(checked.out));
        EXPECT_EQ(trap.status, checked.status) << checked.out;
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

TEST(Checker, SaysOnceWhatWentUncheckedWithoutItsHelpersOrPastTheirTime) {
    // Helpers that are missing: what needs no bash parser is still found.
    TempDir neither, shellcheckOnly, shfmtOnly;
    ASSERT_EQ(0, runCommand({"ln", "-s", programPath("shellcheck"), shellcheckOnly / "shellcheck"}));
    ASSERT_EQ(0, runCommand({"ln", "-s", programPath("shfmt"), shfmtOnly / "shfmt"}));
    const std::string script =
        "#title=A\n#script_start\necho \"$HOME\"\n#script_end\n#script_start\nread -r x\necho \"\\$x\"\n"
        "#script_end\n#progress=1\n";
    const char* const noParser =
        "installer:2: warning: shfmt is not installed: the blocks' commands were not checked";
    const char* const noShellCheck = "installer:2: note: shellcheck is not installed";
    const char* const pasted = "installer:3: warning: /bin/sh pastes the value of `$HOME`";
    const char* const replaced =
        "installer:3: warning: /bin/sh replaces `$HOME` before bash runs the block, with";
    const char* const reads = "installer:6: warning: `read` reads standard input";
    struct Case {
        const TempDir& path;
        std::vector<const char*> findings;
    };
    const Case cases[] = {
        {neither, {noParser, noShellCheck, replaced}},
        {shellcheckOnly, {noParser, replaced}},
        {shfmtOnly, {noShellCheck, pasted, reads}},
    };
    for (const Case& helpers : cases) {
        Checked checked = checkScript(script, {"PATH=" + helpers.path.path()});
        std::vector<std::string> found = ownFindings(checked.out);
        EXPECT_EQ(1, checked.status) << checked.out;
        ASSERT_EQ(helpers.findings.size(), found.size()) << checked.out;
        for (size_t i = 0; i < found.size(); ++i)
            EXPECT_EQ(0u, found[i].rfind(helpers.findings[i], 0)) << found[i];
    }

    // 20,000 nested groups and substitutions: each helper gives up on those blocks, and the next
    // block is still checked.
    std::string groups, substitutions;
    for (int i = 0; i < 20000; ++i) {
        groups += "{ ";
        substitutions += "\\$(";
    }
    groups += "true";
    substitutions += "true";
    for (int i = 0; i < 20000; ++i) {
        groups += "; }";
        substitutions += ")";
    }
    Checked checked =
        checkScript("#script_start\n" + groups + "\n#script_end\n#script_start\necho " + substitutions +
                        "\n#script_end\n#script_start\nread -r x\necho \"\\$x\"\n#script_end\n",
                    {"OSTREL_CHECK_SECONDS=1"});
    std::vector<std::string> found = ownFindings(checked.out);
    ASSERT_EQ(5u, found.size()) << checked.out;
    for (const char* line : {"1", "4"}) {
        EXPECT_EQ(1u, occurrences(checked.out, std::string("installer:") + line +
                                                   ": note: the block's commands were not checked: the bash "
                                                   "parser took longer than 1 seconds"))
            << checked.out;
        EXPECT_EQ(1u, occurrences(checked.out, std::string("installer:") + line +
                                                   ": note: shellcheck did not check this block"))
            << checked.out;
    }
    EXPECT_EQ(0u, found[4].rfind("installer:8: warning: `read` reads standard input", 0)) << checked.out;
}

TEST(Checker, ChecksTheFilesOfAnInstallerDirectory) {
    const std::string icon = readFile(kSource + "/examples/hello/korvalen-48x48.png");
    std::string narrow = icon, low = icon;
    narrow[19] = 32;  // the width in the header
    low[23] = 32;     // the height
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
        {{{"eula/English", "Terms\n"}, {"korvalen-48x48.png", narrow}},
         nullptr,
         "inst/korvalen-48x48.png:1: warning: the icon is 32x48",
         1},
        {{{"eula/English", "Terms\n"}, {"korvalen-48x48.png", low}},
         nullptr,
         "inst/korvalen-48x48.png:1: warning: the icon is 48x32",
         1},
        {{{"eula/English", "Terms\nof use\n\0more"s}, {"korvalen-48x48.png", icon}},
         nullptr,
         "inst/eula/English:3: warning: a NUL byte",
         1},
        {{{"eula/English", "Terms\n"},
          {"eula/English~", "Old terms\n"},
          {"eula/english-us", "Terms\n"},
          {"korvalen-48x48.png", icon}},
         nullptr,
         "inst/eula/English~:1: warning: the dialog shows this licence first, not eula/English: it selects "
         "every "
         "name that holds \"English\" in the chooser's order (`English`, `English~`)",
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
