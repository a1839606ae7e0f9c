// The whole-file loaders and the line reader, on real files.
#include "buffers/buffers.h"

#include <gtest/gtest.h>

#include "support/support.h"

TEST(LineReader, KeepsCarriageReturnBeforeLineFeed) {
    TempDir dir;
    dir.write("script", "one\r\ntwo\n");
    ASSERT_EQ(1, readScript((dir / "script").c_str()));
    char* cursor = m_pBuffer;
    size_t length = 0;
    GCharPtr line(getLine(&cursor, &length));
    EXPECT_STREQ("one\r", line.get());
    EXPECT_EQ(4u, length);
    releaseScript();
}
