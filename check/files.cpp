// The files beside the control script: the licences, the icon and the program.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

char* pathIn(const char* directory, const char* name) {
    return g_build_filename(directory, name, nullptr);
}

char* shownPath(const char* shown, const char* name) {
    return *shown ? g_strconcat(shown, "/", name, nullptr) : g_strdup(name);
}

// The whole file, or nullptr; *length its size.
char* contents(const char* path, gsize* length) {
    char* text = nullptr;
    return g_file_get_contents(path, &text, length, nullptr) ? text : nullptr;
}

// The line of the first byte where text stops being valid UTF-8, or 0 when it is valid.
int firstInvalidLine(const char* text, gsize length) {
    const char* end = nullptr;
    if (g_utf8_validate(text, static_cast<gssize>(length), &end))
        return 0;
    return lineOfOffset(text, static_cast<size_t>(end - text));
}

void checkLicence(const char* path, const char* shown, bool english) {
    gsize length = 0;
    GCharPtr text(contents(path, &length));
    if (!text) {
        report(shown, 1, Severity::Warning, "cannot be read: %s", g_strerror(errno));
        return;
    }
    if (length == 0) {
        report(shown, 1, Severity::Warning,
               english ? "the file is empty: Ostrel shows no licence and starts installing at once; "
                         "write the licence text into it"
                       : "the file is empty: choosing it leaves the previous licence on show; write the "
                         "licence text into it, or remove it");
        return;
    }
    if (const char* nul = static_cast<const char*>(memchr(text.get(), '\0', length))) {
        report(shown, lineOfOffset(text.get(), static_cast<size_t>(nul - text.get())), Severity::Warning,
               "a NUL byte: the licence is shown only up to here; remove it");
        length = static_cast<gsize>(nul - text.get());
    }
    if (int line = firstInvalidLine(text.get(), length))
        report(shown, line, Severity::Warning,
               "not valid UTF-8 from this line on: Ostrel shows the whole licence decoded as "
               "Windows-1252; save it as UTF-8 unless that is its encoding");
}

}  // namespace

void checkLicences(const char* directory, const char* shown) {
    GCharPtr folder(pathIn(directory, "eula"));
    GCharPtr shownFolder(shownPath(shown, "eula"));
    GCharPtr shownEnglish(shownPath(shown, "eula/English"));
    struct stat info;
    if (stat(folder.get(), &info) != 0) {
        report(shownFolder.get(), 1, Severity::Note,
               "there is no licence directory: Ostrel shows no licence and starts installing at once");
        return;
    }
    DIR* entries = opendir(folder.get());
    if (!entries) {
        report(shownFolder.get(), 1, Severity::Warning, "cannot be read: %s", g_strerror(errno));
        return;
    }
    bool english = false;
    const char* nearly = nullptr;  // "english", "English.txt": a name meant as English
    GSList* names = nullptr;
    GSList* chosen = nullptr;  // the chooser's entries holding "English", in its order (not owned)
    while (struct dirent* entry = readdir(entries)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names =
                g_slist_insert_sorted(names, g_strdup(entry->d_name), reinterpret_cast<GCompareFunc>(strcmp));
    }
    closedir(entries);
    for (GSList* node = names; node; node = node->next) {
        const char* name = static_cast<const char*>(node->data);
        GCharPtr path(pathIn(folder.get(), name));
        GCharPtr shownName(shownPath(shownFolder.get(), name));
        bool isEnglish = strcmp(name, "English") == 0;
        if (!isEnglish && !nearly && g_ascii_strncasecmp(name, "English", 7) == 0)
            nearly = name;
        struct stat entry;
        if (lstat(path.get(), &entry) != 0 || !S_ISREG(entry.st_mode)) {
            report(shownName.get(), 1, Severity::Warning,
                   "not a regular file (a folder, link or device): the language chooser leaves it out; "
                   "make it a plain file, or remove it");
            // Ostrel still shows an English licence that a link leads to.
            english |= isEnglish && stat(path.get(), &entry) == 0 && S_ISREG(entry.st_mode);
            continue;
        }
        if (!g_utf8_validate(name, -1, nullptr))
            report(shownName.get(), 1, Severity::Warning,
                   "the name is not valid UTF-8: the language chooser leaves it out; rename it");
        english |= isEnglish;
        if (strstr(name, "English") && g_utf8_validate(name, -1, nullptr))
            chosen = g_slist_insert_sorted(chosen, const_cast<char*>(name),
                                           reinterpret_cast<GCompareFunc>(g_ascii_strcasecmp));
        checkLicence(path.get(), shownName.get(), isEnglish);
    }
    // The dialog makes each of these the chooser's entry in turn, and the last one stays.
    const char* shownFirst = chosen ? static_cast<const char*>(g_slist_last(chosen)->data) : nullptr;
    if (english && shownFirst && strcmp(shownFirst, "English") != 0) {
        GString* all = g_string_new(nullptr);
        for (GSList* node = chosen; node; node = node->next)
            g_string_append_printf(all, "%s`%s`", all->len ? ", " : "", static_cast<const char*>(node->data));
        GCharPtr shownName(shownPath(shownFolder.get(), shownFirst));
        report(shownName.get(), 1, Severity::Warning,
               "the dialog shows this licence first, not eula/English: it selects every name that "
               "holds \"English\" in the chooser's order (%s), and the last one stays; rename or "
               "remove the others",
               all->str);
        g_string_free(all, TRUE);
    }
    g_slist_free(chosen);
    if (!english) {
        GCharPtr hint(nearly ? g_strdup_printf(" (the name is exact: `%s` is not it)", nearly)
                             : g_strdup(""));
        report(shownEnglish.get(), 1, Severity::Warning,
               "eula/ has no English file: Ostrel shows no licence at all and starts installing at "
               "once; add the licence as eula/English%s",
               hint.get());
    }
    g_slist_free_full(names, g_free);
}

void checkIcon(const char* directory, const char* shown) {
    GCharPtr path(pathIn(directory, "korvalen-48x48.png"));
    GCharPtr shownIcon(shownPath(shown, "korvalen-48x48.png"));
    struct stat info;
    if (stat(path.get(), &info) != 0) {
        report(shownIcon.get(), 1, Severity::Note,
               "there is no icon: the windows show the desktop's default one");
        return;
    }
    FilePtr file(fopen(path.get(), "rb"));
    unsigned char header[24] = {};
    size_t got = file ? fread(header, 1, sizeof header, file.get()) : 0;
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (got < sizeof header || memcmp(header, kSignature, sizeof kSignature) != 0 ||
        memcmp(header + 12, "IHDR", 4) != 0) {
        report(shownIcon.get(), 1, Severity::Warning,
               "not a PNG image: the windows may show no icon; save a 48x48 PNG under this name");
        return;
    }
    auto number = [&header](int at) {
        return static_cast<unsigned long>(header[at]) << 24 |
               static_cast<unsigned long>(header[at + 1]) << 16 |
               static_cast<unsigned long>(header[at + 2]) << 8 | header[at + 3];
    };
    if (number(16) != 48 || number(20) != 48)
        report(shownIcon.get(), 1, Severity::Warning,
               "the icon is %lux%lu, not 48x48: the desktop scales it; save it at 48x48", number(16),
               number(20));
}

void checkProgram(const char* directory, const char* shown) {
    GCharPtr path(pathIn(directory, "Ostrel"));
    GCharPtr shownProgram(shownPath(shown, "Ostrel"));
    struct stat info;
    if (stat(path.get(), &info) != 0)
        return;
    if (!S_ISREG(info.st_mode))
        report(shownProgram.get(), 1, Severity::Error, "not a regular file: `./Ostrel` cannot start");
    else if ((info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0)
        report(shownProgram.get(), 1, Severity::Error,
               "not executable: `./Ostrel` fails with \"Permission denied\"; run `chmod 755 Ostrel` "
               "before packing");
}
