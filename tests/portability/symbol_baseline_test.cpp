// The shipped programs ask the C library and the C++ runtime for no symbol version newer than
// the oldest systems they promise to run on have: glibc 2.17, and the runtime of GCC 4.8.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include "support/support.h"

namespace {

// The newest version allowed of each versioned library.
struct Baseline {
    const char* prefix;
    const char* newest;
};
const Baseline kBaselines[] = {
    {"GLIBC", "2.17"},      // glibc: RHEL 7, Ubuntu 14.04, Debian 8
    {"GLIBCXX", "3.4.19"},  // libstdc++ of GCC 4.8
    {"CXXABI", "1.3.7"},    // its C++ ABI
    {"GCC", "4.8.0"},       // libgcc_s of GCC 4.8
};

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
            for (const Baseline& baseline : kBaselines) {
                // A version that is no number (GLIBC_PRIVATE) is no one's promise.
                if (library == baseline.prefix &&
                    (version.find_first_not_of("0123456789.") != std::string::npos ||
                     newer(version, baseline.newest)))
                    tooNew.append("  ")
                        .append(match[4].str())
                        .append("@")
                        .append(match[1].str())
                        .append("\n");
            }
        }
        EXPECT_GT(versioned, 10) << table;
        EXPECT_EQ("", tooNew) << "newer than the baseline, in " << program;
    }
}

}  // namespace
