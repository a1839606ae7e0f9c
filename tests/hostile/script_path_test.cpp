// Control script paths that name no ordinary file: a FIFO and character devices. None of
// them hangs the program; they give no script text, so the error follows, and "./installer"
// beside them is not run instead.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "hostile/hostile.h"
#include "support/support.h"

namespace {

const char* const kScriptRequired = "Error:  Script File Required (-f /some/File.sh)\n";

}  // namespace

TEST(ScriptPath, FifoWithoutWriterIsNoScript) {
    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0644));
    Result result = runProgram(dir.path(), {"-f", "pipe"}, {}, 30);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(kScriptRequired, result.out);

    dir.write("installer", "echo ran > ran.txt\n");
    result = runProgram(dir.path(), {"-s", "-f", "pipe"}, {}, 30);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(kScriptRequired, result.out);
    EXPECT_FALSE(fileExists(dir / "ran.txt"));
    ASSERT_EQ(0, unlink((dir / "installer").c_str()));

    // The same FIFO as the default script.
    ASSERT_EQ(0, rename((dir / "pipe").c_str(), (dir / "installer").c_str()));
    result = runProgram(dir.path(), {"-s"}, {}, 30);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(kScriptRequired, result.out);
}

// A pipe has no size, so even text waiting in it is not read: the program does not wait for
// the writer to finish.
TEST(ScriptPath, FifoWithTextWaitingIsNoScriptEither) {
    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0644));
    int writer = open((dir / "pipe").c_str(), O_RDWR);
    // A failed open holds no descriptor to leak.
    // cppcheck-suppress resourceLeak
    ASSERT_GE(writer, 0);
    EXPECT_EQ(8, write(writer, "echo hi\n", 8));
    Result result = runProgram(dir.path(), {"-s", "-f", "pipe"}, {}, 30);
    close(writer);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(kScriptRequired, result.out);
}

TEST(ScriptPath, CharacterDevicesGiveNoText) {
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        SCOPED_TRACE(device);
        TempDir dir;
        Result result = runProgram(dir.path(), {"-f", device}, {}, 30);
        EXPECT_EQ(1, result.status);
        EXPECT_EQ(kScriptRequired, result.out);

        dir.write("installer", "echo ran > ran.txt\n");
        result = runProgram(dir.path(), {"-s", "-f", device}, {}, 30);
        EXPECT_EQ(1, result.status);
        EXPECT_EQ(kScriptRequired, result.out);
        EXPECT_FALSE(fileExists(dir / "ran.txt"));
    }
}
