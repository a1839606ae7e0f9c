// The control script's lines in this process: directives read from the one table, their near
// misses, and the lines around the blocks.
#include <gtest/gtest.h>

#include "rows.h"

namespace {

TEST(ScriptLines, ReadsTheDirectivesFromTheirTable) {
    expectRows({
        {"BlockOfBlanksIsEmpty",
         "#script_start\n  \t\n#script_end\n#progress=1\n",
         {{"1: warning: ", "empty"}}},
        {"StopOnFailureAfterTheLastBlockStopsNothing",
         "#script_start\ntrue\n#script_end\n#stop_on_failure=Failed\n#progress=1\n",
         {{"4: note: ", "`#stop_on_failure=` comes after the last block"}}},
        {"StopOnFailureBeforeABlockGuardsIt", "#stop_on_failure=Failed\n" + block("true\n"), {}},
        {"NearMissesOfStopOnFailure",
         "#stop_on_fail=Failed\n#Stop_On_Failure=Failed\n#stop-on-failure=Failed\n",
         {{"1: warning: ", "write `#stop_on_failure=`, the directive that it misspells"},
          {"2: warning: ", "not a directive but a comment (directives are case-sensitive"},
          {"3: warning: ", "write `#stop_on_failure=`"}}},
        {"SecondDirectiveOfALineNamesTheTablesOrder",
         "#stop_on_failure=x #title=A\n",
         {{"1: warning: ",
           "the first of #title=, #text=, #progress=, #script_start, #Ostrel_Exit, "
           "#stop_on_failure= wins"}}},
        {"StopOnFailureInsideABlockIsShellText",
         block("#stop_on_failure=x\ntrue\n"),
         {{"2: warning: ", "`#stop_on_failure=` inside a block is shell text"}}},
        {"BlockKindsFromTheTable",
         "#script_start_blocking\ntrue\n#script_end\n#script_start_nowait\ntrue\n#script_end\n",
         {}},
    });
}

}  // namespace
