// Owning pointers for what the GLib heap and the C library hand out.
#pragma once

#include <glib.h>
#include <stdio.h>

#include <memory>

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
// A string from the GLib heap, released with g_free when it goes out of scope.
using GCharPtr = std::unique_ptr<char, GFreeDeleter>;

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
// A C stdio stream, closed with fclose when it goes out of scope.
using FilePtr = std::unique_ptr<FILE, FileCloser>;
