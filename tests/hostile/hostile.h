// Helpers shared by the hostile-input tests: big generated files, random bytes and a user
// without rights.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/support.h"

// Writes head, then unit count times, then tail, without holding the whole file in memory.
void writeRepeated(const std::string& path, const std::string& head, const std::string& unit, size_t count,
                   const std::string& tail);

// Seeded bytes of every value, CR and LF included, NUL only when asked for.
std::string randomBytes(unsigned seed, size_t size, bool withNul);

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
