// The shipped programs need no more of a system than the oldest ones they promise to run on:
// no C library symbol newer than the first of its architecture, no C++ runtime, and at load
// time only the C library, GLib and GObject; the toolkit is opened at run time.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/support.h"

namespace {

// The oldest version of the C library on each architecture, and the newest one asked for:
// the first C library of x86-64 (2.2.5), and on i386 2.2, whose stat64 the program calls.
const char* const kNewestGlibc = sizeof(void*) == 8 ? "2.2.5" : "2.2";

// Whether a dotted version is newer than another, part by part: 2.17 is newer than 2.2.5.
bool newer(const std::string& version, const std::string& than) {
    std::istringstream a(version), b(than);
    std::string x, y;
    while (true) {
        bool moreA = static_cast<bool>(std::getline(a, x, '.'));
        bool moreB = static_cast<bool>(std::getline(b, y, '.'));
        if (!moreA || !moreB)
            return moreA;
        if (std::stoul(x) != std::stoul(y))
            return std::stoul(x) > std::stoul(y);
    }
}

// The libraries a program needs at load time, in order.
std::vector<std::string> needed(const std::string& program) {
    std::vector<std::string> libraries;
    std::istringstream lines(commandOutput({"objdump", "-p", program}));
    std::regex entry(R"(^\s*NEEDED\s+(\S+)$)");
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, entry))
            libraries.push_back(match[1]);
    }
    return libraries;
}

TEST(SymbolBaseline, NoSymbolIsNewerThanTheOldestSupportedSystems) {
    for (const char* program : {OSTREL_PROGRAM, OSTREL_CHECK}) {
        SCOPED_TRACE(program);
        std::string table = commandOutput({"objdump", "-T", program});
        ASSERT_NE(std::string::npos, table.find("DYNAMIC SYMBOL TABLE")) << table;
        // e.g. "0000000000000000      DF *UND*  0000000000000000 (GLIBC_2.34) __libc_start_main"
        std::regex entry(R"(\(?\b((GLIBC|GLIBCXX|CXXABI|GCC)_([0-9A-Z_.]+))\)?\s+(\S+)$)");
        std::string tooNew;
        int versioned = 0;
        std::istringstream lines(table);
        for (std::string line; std::getline(lines, line);) {
            std::smatch match;
            if (!std::regex_search(line, match, entry))
                continue;
            ++versioned;
            std::string library = match[2], version = match[3];
            // The C++ runtime is not there at all; a version that is no number (GLIBC_PRIVATE)
            // is no one's promise.
            if (library != "GLIBC" || version.find_first_not_of("0123456789.") != std::string::npos ||
                newer(version, kNewestGlibc))
                tooNew.append("  ").append(match[4].str()).append("@").append(match[1].str()).append("\n");
        }
        EXPECT_GT(versioned, 10) << table;
        EXPECT_EQ("", tooNew) << "newer than the baseline, in " << program;
    }
}

TEST(SymbolBaseline, TheProgramNeedsOnlyTheCLibraryGLibAndGObjectToStart) {
    const std::set<std::string> allowed = {"libc.so.6", "libdl.so.2", "libglib-2.0.so.0",
                                           "libgobject-2.0.so.0"};
    std::vector<std::string> libraries = needed(OSTREL_PROGRAM);
    EXPECT_EQ(allowed, std::set<std::string>(libraries.begin(), libraries.end()));
    // The checker has no window and needs no toolkit either.
    for (const std::string& library : needed(OSTREL_CHECK)) {
        EXPECT_EQ(std::string::npos, library.find("gtk")) << library;
        EXPECT_EQ(std::string::npos, library.find("libX")) << library;
        EXPECT_EQ(std::string::npos, library.find("stdc++")) << library;
        EXPECT_EQ(std::string::npos, library.find("gcc_s")) << library;
    }
}

// GTK 3 ends a process in which it finds a GTK+ 2 symbol, the program's own ones included.
TEST(SymbolBaseline, TheProgramOffersNoToolkitSymbolOfItsOwn) {
    std::istringstream lines(commandOutput({"objdump", "-T", OSTREL_PROGRAM}));
    std::string offered;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("*UND*") == std::string::npos &&
            std::regex_search(line, std::regex(R"(\s(gtk|gdk)_\w+$)")))
            offered += line + "\n";
    }
    EXPECT_EQ("", offered);
}

}  // namespace
