// The whole-file loaders and the line reader, on real files.
#include "buffers/buffers.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "buffers/owned.h"
#include "support/support.h"

namespace {

// The script buffer as a string of its stated length.
std::string heldScript() {
    return m_pBuffer ? std::string(m_pBuffer, m_nBuffer) : std::string();
}

// A path that stat accepts but that no open can read, whoever runs the tests: a socket.
class SocketFile {
public:
    explicit SocketFile(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~SocketFile() { close(fd_); }
    bool bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

// Every test starts and ends with no text held.
class Loaders : public testing::Test {
protected:
    void SetUp() override { releaseAll(); }
    void TearDown() override { releaseAll(); }
    static void releaseAll() {
        releaseScript();
        g_free(m_pBufferEULA);
        m_pBufferEULA = nullptr;
    }
    TempDir dir;
};

using ScriptLoader = Loaders;
using LicenceLoader = Loaders;

}  // namespace

TEST_F(ScriptLoader, HoldsTheWholeFileWithItsLengthAndATrailingNul) {
    const std::string bytes = "#title=Setup\r\necho \"$HOME\"\n\xff\xfe tail without line feed";
    dir.write("script", bytes);
    ASSERT_EQ(1, readScript((dir / "script").c_str()));
    ASSERT_NE(nullptr, m_pBuffer);
    EXPECT_EQ(bytes.size(), m_nBuffer);
    EXPECT_EQ(bytes, heldScript());
    EXPECT_EQ('\0', m_pBuffer[m_nBuffer]);
}

TEST_F(ScriptLoader, ReplacesTheFirstScriptWithASecondOne) {
    dir.write("first", "first script\n");
    dir.write("second", "second\n");
    ASSERT_EQ(1, readScript((dir / "first").c_str()));
    ASSERT_EQ(1, readScript((dir / "second").c_str()));
    EXPECT_EQ("second\n", heldScript());
    EXPECT_EQ(7u, m_nBuffer);
}

TEST_F(ScriptLoader, RefusesAZeroByteFileAndReleasesThePreviousText) {
    dir.write("first", "first\n");
    dir.write("empty", "");
    ASSERT_EQ(1, readScript((dir / "first").c_str()));
    EXPECT_EQ(0, readScript((dir / "empty").c_str()));
    EXPECT_EQ(nullptr, m_pBuffer);
    EXPECT_EQ(0u, m_nBuffer);
}

TEST_F(ScriptLoader, KeepsThePreviousTextWhenTheFileDoesNotExist) {
    dir.write("first", "first\n");
    ASSERT_EQ(1, readScript((dir / "first").c_str()));
    char* held = m_pBuffer;
    EXPECT_EQ(0, readScript((dir / "missing").c_str()));
    EXPECT_EQ(held, m_pBuffer);
    EXPECT_EQ("first\n", heldScript());
}

TEST_F(ScriptLoader, KeepsThePreviousTextWhenTheFileCannotBeOpened) {
    dir.write("first", "first\n");
    SocketFile unreadable(dir / "socket");
    ASSERT_TRUE(unreadable.bound());
    ASSERT_EQ(1, readScript((dir / "first").c_str()));
    EXPECT_EQ(0, readScript((dir / "socket").c_str()));
    EXPECT_EQ("first\n", heldScript());
}

TEST_F(ScriptLoader, ReleasesThePreviousTextWhenADirectoryIsRead) {
    dir.write("first", "first\n");
    dir.write("folder/inside", "x\n");
    ASSERT_EQ(1, readScript((dir / "first").c_str()));
    EXPECT_EQ(0, readScript((dir / "folder").c_str()));
    EXPECT_EQ(nullptr, m_pBuffer);
    EXPECT_EQ(0u, m_nBuffer);
}

TEST_F(ScriptLoader, GivesNoTextForAFifoWithoutWaitingForAWriter) {
    dir.write("first", "first\n");
    ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));
    ASSERT_EQ(1, readScript((dir / "first").c_str()));
    // A blocking open would wait for a writer for ever: end the test program instead.
    alarm(30);
    int loaded = readScript((dir / "fifo").c_str());
    alarm(0);
    EXPECT_EQ(0, loaded);
    EXPECT_EQ(nullptr, m_pBuffer);
}

TEST_F(LicenceLoader, HoldsTheTextAndLeavesTheScriptAlone) {
    dir.write("script", "script\n");
    dir.write("English", "Licence\r\n\xe9t\xe9");
    ASSERT_EQ(1, readScript((dir / "script").c_str()));
    ASSERT_EQ(1, readEULA((dir / "English").c_str()));
    EXPECT_STREQ("Licence\r\n\xe9t\xe9", m_pBufferEULA);
    EXPECT_EQ("script\n", heldScript());

    // Releasing the licence does not touch the script either.
    dir.write("empty", "");
    EXPECT_EQ(0, readEULA((dir / "empty").c_str()));
    EXPECT_EQ("script\n", heldScript());
}

TEST_F(LicenceLoader, ReplacesTheTextWithTheNextLoadedOne) {
    dir.write("English", "english text");
    dir.write("Deutsch", "deutscher Text");
    ASSERT_EQ(1, readEULA((dir / "English").c_str()));
    ASSERT_EQ(1, readEULA((dir / "Deutsch").c_str()));
    EXPECT_STREQ("deutscher Text", m_pBufferEULA);
}

TEST_F(LicenceLoader, KeepsTheTextWhenStatOrOpenFailsAndDropsItWhenTheReadFails) {
    dir.write("English", "english text");
    dir.write("folder/inside", "x");
    SocketFile unreadable(dir / "socket");
    ASSERT_TRUE(unreadable.bound());
    ASSERT_EQ(1, readEULA((dir / "English").c_str()));

    EXPECT_EQ(0, readEULA((dir / "missing").c_str()));
    EXPECT_STREQ("english text", m_pBufferEULA);
    EXPECT_EQ(0, readEULA((dir / "socket").c_str()));
    EXPECT_STREQ("english text", m_pBufferEULA);

    EXPECT_EQ(0, readEULA((dir / "folder").c_str()));
    EXPECT_EQ(nullptr, m_pBufferEULA);
}

TEST_F(LicenceLoader, RefusesAZeroByteFileAndReleasesThePreviousText) {
    dir.write("English", "english text");
    dir.write("empty", "");
    ASSERT_EQ(1, readEULA((dir / "English").c_str()));
    EXPECT_EQ(0, readEULA((dir / "empty").c_str()));
    EXPECT_EQ(nullptr, m_pBufferEULA);
}

using LineReader = Loaders;

TEST_F(LineReader, ReturnsEachLineWithoutItsLineFeedAndMovesPastIt) {
    dir.write("script", "first line\nsecond\n");
    ASSERT_EQ(1, readScript((dir / "script").c_str()));
    char* cursor = m_pBuffer;
    size_t length = 99;

    GCharPtr first(getLine(&cursor, &length));
    ASSERT_NE(nullptr, first);
    EXPECT_STREQ("first line", first.get());
    EXPECT_EQ(10u, length);
    EXPECT_EQ(m_pBuffer + 11, cursor);

    GCharPtr second(getLine(&cursor, &length));
    ASSERT_NE(nullptr, second);
    EXPECT_STREQ("second", second.get());
    EXPECT_EQ(6u, length);
    EXPECT_EQ(m_pBuffer + m_nBuffer, cursor);

    EXPECT_EQ(nullptr, getLine(&cursor, &length));
}

TEST_F(LineReader, NeverReturnsALastLineWithoutLineFeed) {
    dir.write("script", "done\nno line feed");
    ASSERT_EQ(1, readScript((dir / "script").c_str()));
    char* cursor = m_pBuffer;
    size_t length = 0;
    GCharPtr done(getLine(&cursor, &length));
    ASSERT_NE(nullptr, done);

    char* before = cursor;
    length = 42;
    EXPECT_EQ(nullptr, getLine(&cursor, &length));
    EXPECT_EQ(before, cursor);
    EXPECT_EQ(42u, length);
}

TEST_F(LineReader, ReturnsAnEmptyStringForAnEmptyLine) {
    dir.write("script", "\n\nlast\n");
    ASSERT_EQ(1, readScript((dir / "script").c_str()));
    char* cursor = m_pBuffer;
    size_t length = 5;
    for (int i = 0; i < 2; ++i) {
        GCharPtr empty(getLine(&cursor, &length));
        ASSERT_NE(nullptr, empty) << "line " << i;
        EXPECT_STREQ("", empty.get());
        EXPECT_EQ(0u, length);
    }
    GCharPtr last(getLine(&cursor, &length));
    ASSERT_NE(nullptr, last);
    EXPECT_STREQ("last", last.get());
}

TEST_F(LineReader, KeepsCarriageReturnBeforeLineFeed) {
    dir.write("script", "one\r\ntwo\r\n");
    ASSERT_EQ(1, readScript((dir / "script").c_str()));
    char* cursor = m_pBuffer;
    size_t length = 0;
    GCharPtr one(getLine(&cursor, &length));
    EXPECT_STREQ("one\r", one.get());
    EXPECT_EQ(4u, length);
    GCharPtr two(getLine(&cursor, &length));
    EXPECT_STREQ("two\r", two.get());
    EXPECT_EQ(4u, length);
}

TEST_F(LineReader, StopsAtANulByteAlthoughLinesFollowIt) {
    dir.write("script", std::string("before\nhalf\0way\nafter\n", 22));
    ASSERT_EQ(1, readScript((dir / "script").c_str()));
    EXPECT_EQ(22u, m_nBuffer);
    char* cursor = m_pBuffer;
    size_t length = 0;
    GCharPtr before(getLine(&cursor, &length));
    ASSERT_NE(nullptr, before);
    EXPECT_STREQ("before", before.get());

    char* atNul = cursor;
    EXPECT_EQ(nullptr, getLine(&cursor, &length));
    EXPECT_EQ(atNul, cursor);
    EXPECT_EQ(6u, length);
}
