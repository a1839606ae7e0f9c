// Helpers shared by the hostile-input tests.
#include "hostile/hostile.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "buffers/owned.h"

namespace {

const uid_t kNobody = 65534;

}  // namespace

void writeRepeated(const std::string& path, const std::string& head, const std::string& unit, size_t count,
                   const std::string& tail) {
    FilePtr file(fopen(path.c_str(), "wb"));
    ASSERT_TRUE(file) << path;
    // Many units per write keep a 100 MB file quick to make.
    std::string chunk;
    size_t perChunk = unit.empty() ? 1 : std::max<size_t>(1, (1 << 20) / unit.size());
    for (size_t i = 0; i < perChunk; ++i)
        chunk += unit;
    fwrite(head.data(), 1, head.size(), file.get());
    for (size_t done = 0; done < count; done += perChunk) {
        size_t units = std::min(perChunk, count - done);
        fwrite(chunk.data(), 1, units * unit.size(), file.get());
    }
    fwrite(tail.data(), 1, tail.size(), file.get());
    ASSERT_EQ(0, ferror(file.get()));
}

std::string randomBytes(unsigned seed, size_t size, bool withNul) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(withNul ? 0 : 1, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));
    return bytes;
}

AsOrdinaryUser::AsOrdinaryUser() {
    if (geteuid() != 0)
        return;
    // Group first: without root the group can no longer be changed.
    EXPECT_EQ(0, setegid(kNobody));
    EXPECT_EQ(0, seteuid(kNobody));
    switched_ = true;
}

AsOrdinaryUser::~AsOrdinaryUser() {
    if (!switched_)
        return;
    EXPECT_EQ(0, seteuid(0));
    EXPECT_EQ(0, setegid(0));
}
