// The checker run in this process on small control scripts, and tables of rows that each
// name the behaviour they show.
#include "rows.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <sstream>

#include "check/check.h"
#include "support/support.h"

std::string block(const std::string& body) {
    return "#script_start\n" + body + "#script_end\n#progress=1\n";
}

std::vector<std::string> findingsOf(const std::string& script) {
    TempDir directory;
    directory.write("installer", script);
    char* previous = takeReports();  // nothing of an earlier row
    g_free(previous);
    EXPECT_TRUE(checkScript((directory / "installer").c_str(), "installer")) << script;
    char* text = takeReports();
    std::istringstream stream(text);
    g_free(text);
    std::vector<std::string> found;
    for (std::string line; std::getline(stream, line);) {
        if (line.find(": ShellCheck: ") == std::string::npos)
            found.push_back(line);
    }
    return found;
}

void expectFindings(const std::vector<Expected>& expected, const std::vector<std::string>& found) {
    // The expected findings written out; a finding that matches its entry is shown the same way.
    std::vector<std::string> wanted, matched;
    for (const Expected& finding : expected)
        wanted.push_back(std::string("installer:") + finding.place + "…" + finding.piece + "…");
    for (size_t i = 0; i < found.size(); ++i) {
        bool matches = i < expected.size() &&
                       found[i].rfind(std::string("installer:") + expected[i].place, 0) == 0 &&
                       found[i].find(expected[i].piece) != std::string::npos;
        matched.push_back(matches ? wanted[i] : found[i]);
    }
    EXPECT_EQ(wanted, matched);
}

void expectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SCOPED_TRACE(row.script);
        expectFindings(row.findings, findingsOf(row.script));
    }
}

bool parserInstalled() {
    gchar* shfmt = g_find_program_in_path("shfmt");
    EXPECT_NE(nullptr, shfmt) << "shfmt, the bash parser, is not installed (tools/install-deps installs it): "
                                 "the checker cannot read the blocks' commands";
    g_free(shfmt);
    return shfmt != nullptr;
}
