// The main of every test program: a display of its own when its tests need one, then the tests.
#include <gtest/gtest.h>

#include "support/support.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    reportFailuresWhileCapturing();
    // Listing the tests at build time needs no display.
    if (!testing::GTEST_FLAG(list_tests))
        prepareDisplay(&argc, &argv);
    return RUN_ALL_TESTS();
}
