// Licence directories an installer should not ship: ten thousand languages, files nobody may
// read, names that are not UTF-8. The dialog still comes up and can be accepted.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "buffers/buffers.h"
#include "eula/eula.h"
#include "hostile/hostile.h"
#include "support/support.h"

namespace {

// A licence directory with English and `others` further languages named Lang0001 and on,
// written by the shell: file by file from the 32-bit tests under the emulator is slow.
void writeLanguages(const TempDir& dir, int others) {
    dir.write("eula/English", "English licence\n");
    std::string loop =
        "for i in $(seq -f %04g 1 " + std::to_string(others) + "); do echo \"Licence $i\" > Lang$i; done";
    ASSERT_EQ(0, runCommand({"sh", "-c", "cd " + dir.path() + "/eula && " + loop}));
}

// The dialog built in-process from ./eula, with the English text loaded first as start-up
// does.
struct Dialog {
    Dialog() {
        EXPECT_EQ(1, readEULA("./eula/English"));
        window = create_eula();
        EXPECT_NE(nullptr, window);
        parts = licenceParts(window);
    }
    ~Dialog() {
        gtk_widget_destroy(window);
        g_free(m_pBufferEULA);
        m_pBufferEULA = nullptr;
    }
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    GtkWidget* window = nullptr;
    LicenceParts parts;
};

}  // namespace

TEST(LicenceDirectory, TenThousandLanguagesAreAllOfferedWithEnglishActive) {
    TempDir dir;
    writeLanguages(dir, 9999);
    InDirectory inside(dir.path());
    CapturedStdout printed;
    Dialog dialog;
    std::vector<std::string> names = entries(dialog.parts.chooser);
    ASSERT_EQ(10000u, names.size());
    EXPECT_EQ("English", names[0]);
    EXPECT_EQ("Lang0001", names[1]);
    EXPECT_EQ("Lang9999", names[9999]);
    EXPECT_EQ("English", activeEntry(dialog.parts.chooser));
    EXPECT_EQ("Display EULA: English\n", printed.text());
    EXPECT_EQ("English licence\n", shownText(dialog.parts.textView));
}

// Built as an ordinary user, since root reads every file.
TEST(LicenceDirectory, UnreadableLanguageFileLeavesThePreviousTextOnView) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    dir.write("eula/English", "English licence\n");
    dir.write("eula/Deutsch", "Deutsche Lizenz\n", 0);
    InDirectory inside(dir.path());
    AsOrdinaryUser user;
    CapturedStdout printed;
    Dialog dialog;
    EXPECT_EQ((std::vector<std::string>{"Deutsch", "English"}), entries(dialog.parts.chooser));
    gtk_combo_box_set_active(GTK_COMBO_BOX(dialog.parts.chooser), 0);
    EXPECT_EQ("Deutsch", activeEntry(dialog.parts.chooser));
    EXPECT_EQ("English licence\n", shownText(dialog.parts.textView));
    EXPECT_EQ("Display EULA: English\nDisplay EULA: Deutsch\n", printed.text());
}

TEST(LicenceDirectory, UnreadableDirectoryGivesAnEmptyChooserAndKeepsTheLoadedText) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    dir.write("eula/English", "English licence\n");
    InDirectory inside(dir.path());
    ASSERT_EQ(1, readEULA("./eula/English"));
    chmod((dir / "eula").c_str(), 0);
    AsOrdinaryUser user;
    CapturedStdout printed;
    GtkWidget* window = create_eula();
    ASSERT_NE(nullptr, window);
    LicenceParts parts = licenceParts(window);
    EXPECT_TRUE(entries(parts.chooser).empty());
    EXPECT_EQ("English licence\n", shownText(parts.textView));
    EXPECT_EQ("", printed.text());
    gtk_widget_destroy(window);
    g_free(m_pBufferEULA);
    m_pBufferEULA = nullptr;
}

TEST(LicenceDirectory, NamesThatAreNotUtf8AreLeftOut) {
    TempDir dir;
    dir.write("eula/English", "English licence\n");
    dir.write("eula/Deutsch", "Deutsche Lizenz\n");
    dir.write(
        "eula/Fran\xe7"
        "ais",
        "Licence latin-1\n");
    dir.write("eula/\xff\xfe", "Licence\n");
    dir.write("eula/Eng\xc0lish", "Licence\n");
    InDirectory inside(dir.path());
    CapturedStdout printed;
    Dialog dialog;
    EXPECT_EQ((std::vector<std::string>{"Deutsch", "English"}), entries(dialog.parts.chooser));
    EXPECT_EQ("English", activeEntry(dialog.parts.chooser));
    EXPECT_EQ("Display EULA: English\n", printed.text());
}

// End to end, all of it at once: the dialog comes up with English active, and accepting it
// leads to the progress window and a normal end. How long it takes is measured by make bench.
TEST(LicenceDirectory, BuiltProgramShowsAHostileDirectoryAndRunsOnAfterAccept) {
    TempDir dir;
    writeLanguages(dir, 9996);
    dir.write("eula/Unreadable", "Licence\n", 0);
    dir.write(
        "eula/Fran\xe7"
        "ais",
        "Licence\n");
    dir.write("eula/\xff\xfe", "Licence\n");
    dir.write("installer", "#title=Installed\n");
    Program program(dir.path(), {});
    WindowId dialog = findWindow(program.pid(), "License Agreement", 240);
    ASSERT_NE(0u, dialog) << program.out() << program.err();
    EXPECT_EQ("Display EULA: English\n", program.out());
    EXPECT_TRUE(acceptLicence(dialog));
    WindowId window = findWindow(program.pid(), "Installed", 60);
    ASSERT_NE(0u, window) << program.out();
    EXPECT_EQ(0, finishWithOk(program, window));
}
