// Feeds arbitrary bytes to the output monitor's line reader as a script's output stream and
// checks the pieces it shows against the bytes that went in.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "fuzz/require.h"
#include "shell/shell.h"

namespace {

std::string blanked(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    std::string input(reinterpret_cast<const char*>(data), size);
    FILE* stream = fmemopen(input.data(), size, "r");
    REQUIRE(stream != nullptr);

    const size_t limit = kOutputLineSize - 1;
    std::string joined;
    size_t offset = 0;
    char line[kOutputLineSize];
    for (size_t got; (got = readOutputPiece(stream, line, 0)) != 0;) {
        blankLineEnds(line);
        REQUIRE(offset < size);
        // The bytes this read took: up to and including a line feed, at most the limit.
        size_t taken = 0;
        while (taken < limit && offset + taken < size && input[offset + taken++] != '\n') {
        }
        bool atLineFeed = input[offset + taken - 1] == '\n';
        REQUIRE(atLineFeed || taken == limit || offset + taken == size);
        REQUIRE(got == taken);

        size_t piece = strnlen(line, kOutputLineSize);
        REQUIRE(piece <= limit && piece <= taken);
        REQUIRE(memchr(line, '\n', piece) == nullptr && memchr(line, '\r', piece) == nullptr);
        // The piece is those bytes with line ends blanked, cut at a NUL among them.
        std::string expected = blanked(input.substr(offset, taken));
        REQUIRE(std::string(line, piece) == expected.substr(0, expected.find('\0')));
        // A piece that held its line's feed ends in the space that replaced it.
        if (atLineFeed && piece == taken)
            REQUIRE(line[piece - 1] == ' ');

        joined.append(line, piece);
        offset += taken;
    }
    REQUIRE(offset == size && feof(stream));
    fclose(stream);

    // Put together, the pieces give the output up to its first NUL, line ends blanked.
    size_t nul = input.find('\0');
    std::string whole = blanked(input.substr(0, nul));
    REQUIRE(joined.compare(0, whole.size(), whole) == 0);
    if (nul == std::string::npos)
        REQUIRE(joined == whole);
    return 0;
}
