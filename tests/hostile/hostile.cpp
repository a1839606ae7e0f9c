// Helpers shared by the hostile-input tests.
#include "hostile/hostile.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>

namespace {

std::vector<std::string> printed;

void collect(const gchar* text) {
    printed.emplace_back(text);
}

const uid_t kNobody = 65534;

}  // namespace

void writeRepeated(const std::string& path, const std::string& head, const std::string& unit, size_t count,
                   const std::string& tail) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "wb"), fclose);
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

int clickOkUntilExit(Program& program, WindowId window, double seconds) {
    double end = now() + seconds;
    while (program.running() && now() < end) {
        Geometry geometry = windowGeometry(window);
        clickAt(window, geometry.width / 2, geometry.height - 18);
        pause(0.3);
    }
    return program.wait(2);
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

std::string randomBytes(unsigned seed, size_t size, bool withNul) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(withNul ? 0 : 1, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));
    return bytes;
}

InDirectory::InDirectory(const std::string& path) {
    char* old = getcwd(nullptr, 0);
    old_ = old ? old : ".";
    free(old);
    EXPECT_EQ(0, chdir(path.c_str())) << path;
}

InDirectory::~InDirectory() {
    EXPECT_EQ(0, chdir(old_.c_str()));
}

PrintedLines::PrintedLines() {
    printed.clear();
    old_ = g_set_print_handler(collect);
}

PrintedLines::~PrintedLines() {
    g_set_print_handler(old_);
}

// A member although it reads the process-wide list: the lines are only there while the object lives.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
const std::vector<std::string>& PrintedLines::lines() const {
    return printed;
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
