// The checker run in this process on small control scripts, and tables of rows that each
// name the behaviour they show.
#pragma once

#include <string>
#include <vector>

// A finding expected: "LINE: SEVERITY: " and a piece of its message.
struct Expected {
    const char* place;
    const char* piece;
};
struct Row {
    const char* name;  // the behaviour the row shows
    std::string script;
    std::vector<Expected> findings;  // in order; the checker's own, ShellCheck's left out
};

// A control script of one ordinary block holding body (lines from 2 on), and a last directive.
std::string block(const std::string& body);
// The checker's own findings on script, checked in this process as the file "installer".
std::vector<std::string> findingsOf(const std::string& script);
// One expectation: the findings found, in order, as expected.
void expectFindings(const std::vector<Expected>& expected, const std::vector<std::string>& found);
// For each row one expectation, named by the row: its findings as expected.
void expectRows(const std::vector<Row>& rows);
// Whether shfmt is installed; a failure that says so when not.
bool parserInstalled();
