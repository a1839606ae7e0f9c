// What a control script line means, how a block is collected and when a script is used up.
#include "progress/control.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <limits>
#include <string>

#include "buffers/buffers.h"
#include "buffers/owned.h"

namespace {

const char* nameOf(Directive directive) {
    switch (directive) {
        case Directive::None:
            return "None";
        case Directive::Title:
            return "Title";
        case Directive::Text:
            return "Text";
        case Directive::Progress:
            return "Progress";
        case Directive::ScriptStart:
            return "ScriptStart";
        case Directive::Exit:
            return "Exit";
        case Directive::StopOnFailure:
            return "StopOnFailure";
    }
    return "?";
}

}  // namespace

TEST(ControlLine, FindsTheFirstDirectiveInTestOrderAndTakesTheRestOfTheLineAsValue) {
    struct Case {
        const char* line;
        Directive directive;
        const char* value;  // nullptr: none
    };
    const Case cases[] = {
        {"#title=Example Setup", Directive::Title, "Example Setup"},
        {"#title=", Directive::Title, ""},
        {"#title=Spaces  \r", Directive::Title, "Spaces  \r"},
        {"cp a b #title=T", Directive::Title, "T"},
        {"#text=#title=X", Directive::Title, "X"},
        {"#progress=0.5 #text=Y", Directive::Text, "Y"},
        {"#title=a #title=b", Directive::Title, "a #title=b"},
        {"#text=Copying files", Directive::Text, "Copying files"},
        {"#progress=0.25", Directive::Progress, "0.25"},
        {"#progress=", Directive::Progress, ""},
        {"#script_start", Directive::ScriptStart, nullptr},
        {"#script_start_nowait", Directive::ScriptStart, nullptr},
        {"#script_start_blocking", Directive::ScriptStart, nullptr},
        {"#script_start #Ostrel_Exit", Directive::ScriptStart, nullptr},
        {"#title=Bye #Ostrel_Exit", Directive::Title, "Bye #Ostrel_Exit"},
        {"#Ostrel_Exit", Directive::Exit, nullptr},
        {"#stop_on_failure=Disk full", Directive::StopOnFailure, "Disk full"},
        {"#stop_on_failure=#text=T", Directive::Text, "T"},
        {"#stop_on_failure=#Ostrel_Exit", Directive::Exit, nullptr},
        {"  #Ostrel_Exit now", Directive::Exit, nullptr},
        {"#script_end", Directive::None, nullptr},
        {"#TITLE=upper case", Directive::None, nullptr},
        {"#title", Directive::None, nullptr},
        {"#ostrel_exit", Directive::None, nullptr},
        {"echo hello", Directive::None, nullptr},
        {"", Directive::None, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ControlLine parsed = parseControlLine(c.line);
        EXPECT_STREQ(nameOf(c.directive), nameOf(parsed.directive));
        if (c.value)
            EXPECT_STREQ(c.value, parsed.value);
        else
            EXPECT_EQ(nullptr, parsed.value);
    }
}

TEST(ControlLine, ValuePointsIntoTheLineItself) {
    const char line[] = "xx#text=abc";
    EXPECT_EQ(line + 8, parseControlLine(line).value);
}

TEST(BlockMode, BlockingWinsOverNoWaitAndPlainStartIsAsynchronous) {
    struct Case {
        const char* line;
        BlockMode mode;
    };
    const Case cases[] = {
        {"#script_start", BlockMode::Async},
        {"  #script_start  ", BlockMode::Async},
        {"#script_start_nowait", BlockMode::NoWait},
        {"#script_start_blocking", BlockMode::Blocking},
        {"#script_start_nowait #script_start_blocking", BlockMode::Blocking},
        {"#script_start_blocking #script_start_nowait", BlockMode::Blocking},
        {"#script_start_NOWAIT", BlockMode::Async},
        {"#script_start_blockingly", BlockMode::Blocking},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(static_cast<int>(c.mode), static_cast<int>(blockMode(c.line)));
    }
}

TEST(ProgressValue, ReadsTheLongestNumberAfterBlanksAndClampsIntoZeroToOne) {
    struct Case {
        const char* value;
        float expected;
    };
    const Case cases[] = {
        {"0.25", 0.25f}, {"  0.75", 0.75f}, {"\t0.5", 0.5f},   {"0.5  \r", 0.5f}, {"0.5abc", 0.5f},
        {".5", 0.5f},    {"5e-1", 0.5f},    {"0x1p-2", 0.25f}, {"1", 1.0f},       {"0", 0.0f},
        {"", 0.0f},      {"abc", 0.0f},     {"-1", 0.0f},      {"-0.25", 0.0f},   {"1.5", 1.0f},
        {"7", 1.0f},     {"1e10", 1.0f},    {"inf", 1.0f},     {"-inf", 0.0f},    {"nan", 0.0f},
        {"-nan", 0.0f},  {"0,5", 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_FLOAT_EQ(c.expected, readFraction(c.value));
    }
}

TEST(ProgressValue, ReadsAPointAsDecimalSeparatorUnderADecimalCommaLocale) {
    std::string old = setlocale(LC_NUMERIC, nullptr);
    // The build machine's dependencies provide this locale; without it the test has no meaning.
    ASSERT_NE(nullptr, setlocale(LC_NUMERIC, "de_DE.UTF-8"));
    ASSERT_EQ(0.0, atof("0.5")) << "the locale should read a comma as decimal separator";
    float half = readFraction("0.5");
    float comma = readFraction("0,5");
    setlocale(LC_NUMERIC, old.c_str());
    EXPECT_FLOAT_EQ(0.5f, half);
    EXPECT_FLOAT_EQ(0.0f, comma);
}

TEST(BlockCollection, JoinsKeptLinesEachAfterALineFeedAndStopsAfterTheEndLine) {
    struct Case {
        const char* script;  // what follows the opening line
        const char* text;    // the collected block
        const char* rest;    // what the cursor points at afterwards
    };
    const Case cases[] = {
        {"cp -r data /opt/example\necho copied\n#script_end\n#progress=1\n",
         "\ncp -r data /opt/example\necho copied", "#progress=1\n"},
        {"\n\necho a\n\n\necho b\n\n#script_end\nnext\n", "\necho a\necho b", "next\n"},
        {"echo one\necho '#script_end' is here\necho three\n#script_end\n", "\necho one",
         "echo three\n#script_end\n"},
        {"  #script_end  \nafter\n", "", "after\n"},
        {"#script_end\nafter\n", "", "after\n"},
        {"\n\n#script_end\nafter\n", "", "after\n"},
        {"echo a\r\n#script_end\n", "\necho a\r", ""},
        {"echo a\necho b\n", "\necho a\necho b", ""},
        {"echo a\necho b", "\necho a", "echo b"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        std::string script = c.script;
        char* cursor = script.data();
        size_t length = 99;
        GCharPtr text(collectBlock(&cursor, &length));
        ASSERT_NE(nullptr, text.get());
        EXPECT_STREQ(c.text, text.get());
        EXPECT_EQ(strlen(c.text), length);
        EXPECT_STREQ(c.rest, cursor);
    }
}

TEST(BlockCollection, StopsAtANulByteWithTheLinesBeforeIt) {
    std::string script("echo a\n\0echo b\n#script_end\n", 27);
    char* cursor = script.data();
    size_t length = 0;
    GCharPtr text(collectBlock(&cursor, &length));
    EXPECT_STREQ("\necho a", text.get());
    EXPECT_EQ(7u, length);
    EXPECT_EQ(script.data() + 7, cursor);
}

TEST(ScriptEnd, IsReachedWhenNoFurtherCompleteLineCanBeRead) {
    struct Case {
        std::string script;
        size_t cursorAt;
        bool finished;
    };
    const Case cases[] = {
        {"", 0, true},
        {"a\n", 0, false},
        {"a\n", 2, true},
        {"a\nb\n", 2, false},
        {"a\nb", 2, true},
        {"a\nbc", 2, true},
        {"a\nbc\r", 2, true},
        {"a\n\n", 2, true},
        {"a\n\n\n", 2, false},
        {std::string("a\n\0b\n", 5), 2, true},
        {std::string("a\n\0", 3), 2, true},
        {std::string("a\nb\n\0", 5), 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.script) + " at " + std::to_string(c.cursorAt));
        // The script as the loader holds it: followed by one NUL byte.
        std::string held = c.script + '\0';
        EXPECT_EQ(c.finished, scriptFinished(held.data() + c.cursorAt, held.data(), c.script.size()));
    }
}
