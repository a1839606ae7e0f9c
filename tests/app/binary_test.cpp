// The built program is made for the architecture of the build that made it.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

TEST(BuiltProgram, IsForTheArchitectureOfItsBuild) {
    // The tests come from the same toolchain as the program, so their pointer width is its.
    std::string description = commandOutput({"file", "-L", OSTREL_PROGRAM});
    ASSERT_NE(std::string::npos, description.find("ELF")) << description;
    if (sizeof(void*) == 8) {
        EXPECT_NE(std::string::npos, description.find("ELF 64-bit")) << description;
        EXPECT_NE(std::string::npos, description.find("x86-64")) << description;
    } else {
        EXPECT_NE(std::string::npos, description.find("ELF 32-bit")) << description;
        EXPECT_TRUE(description.find("80386") != std::string::npos ||
                    description.find("i386") != std::string::npos)
            << description;
    }
}
