// The commands' facts and the option reader: what a command's words make it do, one row per
// behaviour, without a parser ("$x" stands for one unknown word, "$@" for any number).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/check.h"

namespace {

enum class Ask { Reader, Manager, Sudo, Prints, Buffers, PerFile, Slow, Wraps };

struct FactRow {
    const char* name;
    std::vector<const char*> words;
    Ask ask;
    std::string answer;  // the reader's or manager's name, "yes"/"no", or the wrapped command's word
};

std::string answer(Ask ask, const Words& words) {
    auto yes = [](bool value) { return std::string(value ? "yes" : "no"); };
    switch (ask) {
        case Ask::Reader:
            return stdinReader(words) ? stdinReader(words) : "";
        case Ask::Manager:
            return askingManager(words) ? askingManager(words) : "";
        case Ask::Sudo:
            return yes(asksOnTerminal(words));
        case Ask::Prints:
            return yes(printsToStdout(words));
        case Ask::Buffers:
            return yes(buffersOutput(words));
        case Ask::PerFile:
            return yes(writesLinePerFile(words));
        case Ask::Slow:
            return yes(writesSlowly(words));
        case Ask::Wraps: {
            bool lineBuffered = false;
            guint at = wrappedCommand(words, &lineBuffered);
            return at ? std::string(wordAt(words, at)) + (lineBuffered ? " line-buffered" : "") : "";
        }
    }
    return "";
}

TEST(CommandFacts, AnswerFromEachCommandsRowAndItsOptions) {
    const FactRow rows[] = {
        {"TacReadsStandardInputWithoutAFile", {"tac", "-s", ":"}, Ask::Reader, "tac"},
        {"TacReadsTheFileItNames", {"tac", "-s", ":", "log"}, Ask::Reader, ""},
        {"UniqSkipsTheFieldCountBeforeItsFile", {"uniq", "-f", "1", "names"}, Ask::Reader, ""},
        {"UniqWithOnlyOptionsReadsStandardInput", {"uniq", "-c", "-f", "1"}, Ask::Reader, "uniq"},
        {"WcReadsStandardInputNamedByDash", {"wc", "-l", "-"}, Ask::Reader, "wc"},
        {"WcWithAFileOfUnknownNameReadsIt", {"wc", "-l", "$x"}, Ask::Reader, ""},
        {"TeeAlwaysReadsStandardInput", {"tee", "-a", "log"}, Ask::Reader, "tee"},
        {"XargsReadsStandardInput", {"xargs", "-0", "grep", "-a", "x"}, Ask::Reader, "xargs"},
        {"XargsWithAnArgumentFileReadsNone", {"xargs", "-a", "list", "rm"}, Ask::Reader, ""},
        {"MapfileReadsStandardInput", {"mapfile", "-t", "lines"}, Ask::Reader, "mapfile"},
        {"MapfileFromADescriptorReadsNone", {"mapfile", "-t", "-u", "3", "lines"}, Ask::Reader, ""},
        {"GrepPatternOptionLeavesNoOperandForThePattern",
         {"grep", "-e", "x", "-e", "y"},
         Ask::Reader,
         "grep"},
        {"GrepPatternOfManyWordsMayHoldFiles", {"grep", "$@"}, Ask::Reader, ""},
        {"GrepRecursiveReadsTheDirectory", {"grep", "-rn", "x"}, Ask::Reader, ""},
        {"AwkBeginProgramReadsNothing", {"awk", "-v", "n=1", "BEGIN { print n }"}, Ask::Reader, ""},
        {"AptGetInstallAsks",
         {"apt-get", "-o", "Debug::NoLocking=1", "install", "curl"},
         Ask::Manager,
         "apt-get"},
        {"AptGetWithYesInACluster", {"apt-get", "-qy", "install", "curl"}, Ask::Manager, ""},
        {"AptGetUpdateOnlyReadsLists", {"apt-get", "update"}, Ask::Manager, ""},
        {"DnfUpdateChangesTheSystem", {"dnf", "update"}, Ask::Manager, "dnf"},
        {"SudoAsksForAPassword", {"sudo", "-u", "root", "ls", "-S"}, Ask::Sudo, "yes"},
        {"SudoNonInteractiveDoesNotAsk", {"sudo", "-n", "true"}, Ask::Sudo, "no"},
        {"SudoForgettingItsTicketDoesNotAsk", {"sudo", "-k"}, Ask::Sudo, "no"},
        {"PrintfIntoAVariablePrintsNothing", {"printf", "-v", "line", "%s", "x"}, Ask::Prints, "no"},
        {"SedWithoutPrintUnderQuietPrintsNothing", {"sed", "-n", "s/a/b/"}, Ask::Buffers, "no"},
        {"SedUnbufferedWritesLineByLine", {"sed", "-u", "s/a/b/"}, Ask::Buffers, "no"},
        {"GrepBuffersIntoAPipe", {"grep", "x"}, Ask::Buffers, "yes"},
        {"PerlPrintingProgramBuffers", {"perl", "-ne", "print if /x/"}, Ask::Buffers, "yes"},
        {"TarVerboseInAFirstWordWithoutDash", {"tar", "xvf", "payload.tar"}, Ask::PerFile, "yes"},
        {"TarFileNamedVIsNotVerbose", {"tar", "-xf", "v"}, Ask::PerFile, "no"},
        {"TarFirstWordTakesArgumentsFromTheNextWords", {"tar", "tfvv", "-"}, Ask::PerFile, "yes"},
        {"UnzipNamesEveryFile", {"unzip", "-o", "payload.zip"}, Ask::PerFile, "yes"},
        {"UnzipQuietNamesNone", {"unzip", "-qq", "payload.zip"}, Ask::PerFile, "no"},
        {"GitCloneIsSlow", {"git", "clone", "url"}, Ask::Slow, "yes"},
        {"GitStatusIsNot", {"git", "status"}, Ask::Slow, "no"},
        {"StdbufRunsItsCommandLineBuffered",
         {"stdbuf", "-o", "L", "sed", "s/a/b/"},
         Ask::Wraps,
         "sed line-buffered"},
        {"TimeoutRunsTheCommandAfterItsDuration", {"timeout", "-k", "5", "60", "cat"}, Ask::Wraps, "cat"},
        {"NiceRunsTheCommandAfterItsAdjustment", {"nice", "-n", "5", "read", "x"}, Ask::Wraps, "read"},
        {"EnvRunsTheCommandAfterUnsetAndAssignments", {"env", "-u", "HOME", "A=1", "cat"}, Ask::Wraps, "cat"},
        {"CommandLookupRunsNothing", {"command", "-v", "cat"}, Ask::Wraps, ""},
    };
    for (const FactRow& row : rows) {
        SCOPED_TRACE(row.name);
        Words words{g_ptr_array_new(), 0};
        for (const char* word : row.words) {
            const char* stands = std::string(word) == "$x"   ? kDynamic
                                 : std::string(word) == "$@" ? kMany
                                                             : nullptr;
            g_ptr_array_add(words.all, stands ? const_cast<char*>(stands) : g_strdup(word));
        }
        EXPECT_EQ(row.answer, answer(row.ask, words));
        releaseWords(&words);
    }
}

}  // namespace
