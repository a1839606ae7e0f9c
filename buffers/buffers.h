// The control script and the licence text, each read whole into memory, and the line reader.
#pragma once

#include <stddef.h>

// The whole control script followed by one NUL byte, or none; owned here (GLib heap).
extern char* m_pBuffer;
// Length of the control script in bytes, as the file system reported it.
extern size_t m_nBuffer;
// The interpreter's read cursor into m_pBuffer; moved forward only by getLine.
extern char* m_pBufferIndex;
// The licence text on show followed by one NUL byte, or none; owned here (GLib heap).
extern char* m_pBufferEULA;

// Loads a file as the control script, replacing the previous one. 1 on success, 0 otherwise.
int readScript(const char* path);
// Loads a file as the licence text on show, replacing the previous one. 1 on success, 0 otherwise.
int readEULA(const char* path);
// Releases the control script, if one is held.
void releaseScript();

// Returns the bytes from *cursor up to the next line feed as a new string (caller g_frees),
// stores their count in *length and moves *cursor past the line feed. Returns nullptr, leaving
// both alone, when no line feed follows before the next NUL byte.
char* getLine(char** cursor, size_t* length);
