// Helpers shared by the hostile-input tests: big generated files, the run's end by "OK",
// the working directory, the program's printed lines in-process, and a user without rights.
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "support/support.h"

// Writes head, then unit count times, then tail, without holding the whole file in memory.
void writeRepeated(const std::string& path, const std::string& head, const std::string& unit, size_t count,
                   const std::string& tail);

// Clicks where the "OK" button appears at the bottom of the progress window until the
// program ends; its exit status, or -1 when it still runs after `seconds`.
int clickOkUntilExit(Program& program, WindowId window, double seconds);

// How often `what` occurs in `text`.
size_t occurrences(const std::string& text, const std::string& what);

// Seeded bytes of every value, CR and LF included, NUL only when asked for.
std::string randomBytes(unsigned seed, size_t size, bool withNul);

// Makes a directory the working directory while the object lives.
class InDirectory {
public:
    explicit InDirectory(const std::string& path);
    ~InDirectory();
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

private:
    std::string old_;
};

// Collects what the code under test prints with g_print, one entry per call, while it lives.
class PrintedLines {
public:
    PrintedLines();
    ~PrintedLines();
    PrintedLines(const PrintedLines&) = delete;
    PrintedLines& operator=(const PrintedLines&) = delete;

    const std::vector<std::string>& lines() const;

private:
    GPrintFunc old_;
};

// Checks file access as an ordinary user (nobody) while the object lives, so that files
// without read permission are unreadable even when the tests run as root.
class AsOrdinaryUser {
public:
    AsOrdinaryUser();
    ~AsOrdinaryUser();
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

private:
    bool switched_ = false;
};
