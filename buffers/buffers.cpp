// Whole-file buffers for the control script and the licence text, and the line reader.
#include "buffers/buffers.h"

#include <fcntl.h>
#include <glib.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "buffers/owned.h"

char* m_pBuffer = nullptr;
size_t m_nBuffer = 0;
char* m_pBufferIndex = nullptr;
char* m_pBufferEULA = nullptr;

namespace {

// Opens for reading without waiting for a writer, so that a FIFO cannot hang the program;
// O_NONBLOCK changes nothing for regular files.
FilePtr openForReading(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "r");
    if (!file)
        close(fd);
    return FilePtr(file);
}

// Reads the whole file at path into *buffer (size + 1 zeroed bytes), releasing what *buffer
// held once the file is open. A failure before that leaves the old text; a failed read leaves
// none.
int loadWhole(const char* path, char** buffer, size_t* length) {
    struct stat info;
    if (stat(path, &info) != 0)
        return 0;
    FilePtr file = openForReading(path);
    if (!file)
        return 0;
    g_free(*buffer);
    *buffer = nullptr;
    *length = 0;
    // A zero-byte file reads no item, and a file larger than the address space cannot be held.
    if (info.st_size <= 0 || static_cast<uintmax_t>(info.st_size) >= SIZE_MAX)
        return 0;
    size_t size = static_cast<size_t>(info.st_size);
    char* text = static_cast<char*>(g_malloc0(size + 1));
    if (fread(text, size, 1, file.get()) != 1) {
        g_free(text);
        return 0;
    }
    *buffer = text;
    *length = size;
    return 1;
}

}  // namespace

int readScript(const char* path) {
    return loadWhole(path, &m_pBuffer, &m_nBuffer);
}

int readEULA(const char* path) {
    size_t unused = 0;
    return loadWhole(path, &m_pBufferEULA, &unused);
}

void releaseScript() {
    m_nBuffer = 0;
    g_free(m_pBuffer);
    m_pBuffer = nullptr;
    m_pBufferIndex = nullptr;
}

char* getLine(char** cursor, size_t* length) {
    const char* end = strchr(*cursor, '\n');
    if (!end)
        return nullptr;
    *length = static_cast<size_t>(end - *cursor);
    char* line = static_cast<char*>(g_malloc0(*length + 1));
    memcpy(line, *cursor, *length);
    *cursor += *length + 1;
    return line;
}
