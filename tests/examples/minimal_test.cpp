// The minimal example installer, run end to end with its windows and silently.
#include <gtest/gtest.h>

#include "support/support.h"

namespace {

const std::string kExample = OSTREL_SOURCE_DIR "/examples/minimal";

std::string steps(const std::string& end) {
    return "Installing part one" + end + "Installing part two" + end + "Installing part three" + end;
}

TEST(MinimalExample, RunsThroughTheLicenceAndTheProgressWindowToOk) {
    Result result = runWithWindows(kExample, {}, "Installing part three \n");
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(0u, result.out.find("Display EULA: English\nChecking the system \n")) << result.out;
    EXPECT_NE(std::string::npos, result.out.find("Linux")) << result.out;
    EXPECT_EQ(result.out.size() - steps(" \n").size(), result.out.rfind(steps(" \n"))) << result.out;
}

TEST(MinimalExample, RunsSilentlyWithItsOutputOnTheConsole) {
    Result result = runProgram(kExample, {"-s"});
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(0u, result.out.find("Checking the system\nLinux ")) << result.out;
    EXPECT_EQ(result.out.size() - steps("\n").size(), result.out.rfind(steps("\n"))) << result.out;
    EXPECT_EQ("", result.err);
}

}  // namespace
