// The walk over a block's commands, in this process on shfmt's tree: where standard input and
// output go, functions where they are called, and what each command then does.
#include <gtest/gtest.h>

#include "rows.h"

namespace {

TEST(CommandsWalk, FollowsInputAndOutputThroughTheTree) {
    if (!parserInstalled())
        return;
    expectRows({
        {"ReadersAfterConstructsThatAreEasyToMisread",
         block(": \\${prefix:-\"\\${HOME}\"}\nx=\\${1%\"\\${1##*[!/]}\"}\n\nread -r a\necho \"\\$x "
               "\\$a\"\ncat\n"),
         {{"5: warning: ", "`read` reads"}, {"7: warning: ", "`cat` reads"}}},
        {"ReadersInSubstitutionsAndAfterHereDocuments",
         "#script_start\nfirst=\\$(head -n 1)\nnotes=\\$(cat <<END\na\n\nb\nEND\n)\nread -r a\necho "
         "\\$'it\\\\'s'\nread -r b\nc=\\$( # it's\necho c)\nread -r c\necho \"\\$first \\$notes \\$a \\$b "
         "\\$c\"\n#script_end\n",
         {{"2: warning: ", "`head` reads"},
          {"5: warning: ", "drops it"},
          {"9: warning: ", "`read` reads"},
          {"11: warning: ", "`read` reads"},
          {"14: warning: ", "`read` reads"}}},
        {"FunctionJudgedWhereCalled",
         block("ask() { read -r answer; echo \"\\$answer\"; }\nask\n"),
         {{"2: warning: ", "`read` reads"}}},
        {"InputGivenToReadersOrNoInputRead",
         "#script_start\nsed -E -i notes -e 's/a/b/'\nask() { read -r answer; echo \"\\$answer\"; }\n"
         "never() { read -r unused; echo \"\\$unused\"; }\necho yes | ask\nask < /etc/hostname\nask <<END\n"
         "yes\nEND\nsleep 100 &\nkill \\$!\ngrep -q x notes && echo found\ncommand -v cat >/dev/null\n"
         // shfmt takes the # after the quote for a comment, bash does not.
         "sed -e s#@home@#\"\\$HOME\"# notes > out\n#script_end\n",
         {}},
        {"ReadersUnderWrappers",
         block("nice -n 5 cat\ntimeout 5 tac\nenv -u HOME LANG=C wc -l\nsudo -n tee log\nstdbuf -oL uniq\n"),
         {{"2: warning: ", "`cat` reads"},
          {"3: warning: ", "`tac` reads"},
          {"4: warning: ", "`wc` reads"},
          {"5: warning: ", "`tee` reads"},
          {"6: warning: ", "`uniq` reads"}}},
        {"XargsAndMapfileReadTheBlock",
         block("xargs -0 rm -f\nmapfile -t lines\nmapfile -t more < list\n"),
         {{"2: warning: ", "`xargs` reads"}, {"3: warning: ", "`mapfile` reads"}}},
        {"CoprocessGetsInputFromThePipe", block("coproc cat\necho done\n"), {}},
        {"PushdMovesLaterBlocksPopdUndoesIt",
         "#script_start\npushd data\npopd\npushd lib\n#script_end\n#script_start\nls\n#script_end\n",
         {{"4: warning: ", "`pushd` here also moves the later blocks"}}},
        {"CdBackToASavedDirectoryUndoesTheMove",
         "#script_start\nhere=\\$(pwd)\ncd data\ncd \"\\$here\"\ncd /tmp\ncd \\$OLDPWD\n#script_end\n"
         "#script_start\nls\n#script_end\n",
         {}},
        {"TrapThatKillsTheJobsKeepsNoPipeOpen", block("trap 'rm -f x; kill 0' EXIT\nsleep 100 &\n"), {}},
        {"BackgroundJobInAFunctionHoldsThePipe",
         block("f() { cmd || { echo failed; return 1; } & }\nf\n"),
         {{"2: warning: ", "`cmd || { echo failed; return 1; } &` keeps"}}},
        {"OutputInChunksOnlyFromASlowSourceToTheWindow",
         block("for i in 1 2; do echo \\$i; sleep 1; done | sed 's/^/at /'\n"
               "for i in 1 2; do echo \\$i; sleep 1; done | grep -q 1\n"
               "for i in 1 2; do echo \\$i; sleep 1; done | sed -n 's/1/one/'\n"
               "for i in 1 2; do echo \\$i; sleep 1; done | awk '{ n++ } END { exit n }'\n"
               "x=\\$(for i in 1 2; do echo \\$i; sleep 1; done | sed 's/^/at /')\n"
               "for i in 1 2; do echo \\$i; sleep 1; done | sed 's/^/at /' > log\necho \"\\$x\" | sed "
               "'s/^/at /'\n"
               "sleep 1 | stdbuf -oL sed 's/^/at /'\n"),
         {{"2: note: ", "in chunks"}}},
        // The function is walked once for each way its input and output are set: the call
        // from a slow source is not taken for the one before it.
        {"FunctionWalkedAgainWhereItsInputComesSlowly",
         block("show() { sed 's/^/at /'; }\necho x | show\nsleep 1 | stdbuf -oL show\nsleep 1 | show\n"),
         {{"2: note: ", "`sed` writes its output in chunks"}}},
        {"UnzipWithoutQuietWritesALinePerFile",
         block("unzip -o payload.zip\nunzip -qq payload.zip\n"),
         {{"2: note: ", "`unzip` writes a line per file"}}},
        // A quoted word with "@" in it is one word: the pattern, and no file follows.
        {"QuotedWordWithAnAtSignIsOneWord",
         block("grep \"\\$user@host\"\n"),
         {{"2: warning: ", "`grep` reads"}}},
        // An unquoted expansion may hold the pattern and the files.
        {"UnquotedExpansionMayBeSeveralWords", block("grep \\$options\ngrep \"\\${patterns[@]}\"\n"), {}},
        {"OutputDirectivePrintedByABlockingBlock",
         "#script_start_blocking\necho \"#progress=0.5\"\necho \"#text=done\" > log\n#script_end\n",
         {{"2: warning: ", "a #script_start_blocking block, so the `#progress=` that `echo` prints"}}},
        {"OutputDirectivePrintedByANoWaitBlock",
         "#script_start_nowait\nprintf 'working\\n#text=%s\\n' done\n#script_end\n",
         {{"2: warning: ", "a #script_start_nowait block, so the `#text=`"},
          {"2: note: ", "`printf` prints"}}},
        {"OutputDirectivePrintedByAnOrdinaryBlockIsApplied", block("echo \"#progress=0.5\"\n"), {}},
    });
}

}  // namespace
