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

struct Dialog {
    GtkWidget* window;
    GtkComboBox* chooser;
    GtkTextView* text;
};

// The dialog built in-process from ./eula, with the English text loaded first as start-up
// does. The chooser is the first child of the content area, the scrolled text view the second.
Dialog buildDialog() {
    EXPECT_EQ(1, readEULA("./eula/English"));
    GtkWidget* window = create_eula();
    EXPECT_NE(nullptr, window);
    GList* children =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(window))));
    auto* chooser = GTK_COMBO_BOX(g_list_nth_data(children, 0));
    auto* text = GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(g_list_nth_data(children, 1))));
    g_list_free(children);
    return {window, chooser, text};
}

void closeDialog(const Dialog& dialog) {
    gtk_widget_destroy(dialog.window);
    g_free(m_pBufferEULA);
    m_pBufferEULA = nullptr;
}

std::vector<std::string> entries(GtkComboBox* chooser) {
    std::vector<std::string> names;
    GtkTreeModel* model = gtk_combo_box_get_model(chooser);
    GtkTreeIter iter;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter)) {
        gchar* name = nullptr;
        gtk_tree_model_get(model, &iter, 0, &name, -1);
        names.emplace_back(name ? name : "");
        g_free(name);
    }
    return names;
}

std::string activeName(GtkComboBox* chooser) {
    gchar* name = gtk_combo_box_get_active_text(chooser);
    std::string text = name ? name : "";
    g_free(name);
    return text;
}

std::string shownText(GtkTextView* view) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string shown = text;
    g_free(text);
    return shown;
}

}  // namespace

TEST(LicenceDirectory, TenThousandLanguagesAreAllOfferedWithEnglishActive) {
    TempDir dir;
    writeLanguages(dir, 9999);
    InDirectory inside(dir.path());
    PrintedLines printed;
    double start = now();
    Dialog dialog = buildDialog();
    RecordProperty("seconds", std::to_string(now() - start));
    std::vector<std::string> names = entries(dialog.chooser);
    ASSERT_EQ(10000u, names.size());
    EXPECT_EQ("English", names[0]);
    EXPECT_EQ("Lang0001", names[1]);
    EXPECT_EQ("Lang9999", names[9999]);
    EXPECT_EQ("English", activeName(dialog.chooser));
    EXPECT_EQ(std::vector<std::string>{"Display EULA: English\n"}, printed.lines());
    EXPECT_EQ("English licence\n", shownText(dialog.text));
    closeDialog(dialog);
}

// Built as an ordinary user, since root reads every file.
TEST(LicenceDirectory, UnreadableLanguageFileLeavesThePreviousTextOnView) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    dir.write("eula/English", "English licence\n");
    dir.write("eula/Deutsch", "Deutsche Lizenz\n", 0);
    InDirectory inside(dir.path());
    AsOrdinaryUser user;
    PrintedLines printed;
    Dialog dialog = buildDialog();
    EXPECT_EQ((std::vector<std::string>{"Deutsch", "English"}), entries(dialog.chooser));
    gtk_combo_box_set_active(dialog.chooser, 0);
    EXPECT_EQ("Deutsch", activeName(dialog.chooser));
    EXPECT_EQ("English licence\n", shownText(dialog.text));
    EXPECT_EQ((std::vector<std::string>{"Display EULA: English\n", "Display EULA: Deutsch\n"}),
              printed.lines());
    closeDialog(dialog);
}

TEST(LicenceDirectory, UnreadableDirectoryGivesAnEmptyChooserAndKeepsTheLoadedText) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    dir.write("eula/English", "English licence\n");
    InDirectory inside(dir.path());
    ASSERT_EQ(1, readEULA("./eula/English"));
    chmod((dir / "eula").c_str(), 0);
    AsOrdinaryUser user;
    PrintedLines printed;
    GtkWidget* window = create_eula();
    ASSERT_NE(nullptr, window);
    GList* children =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(window))));
    auto* chooser = GTK_COMBO_BOX(g_list_nth_data(children, 0));
    auto* text = GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(g_list_nth_data(children, 1))));
    g_list_free(children);
    EXPECT_TRUE(entries(chooser).empty());
    EXPECT_EQ("English licence\n", shownText(text));
    EXPECT_TRUE(printed.lines().empty());
    closeDialog({window, chooser, text});
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
    PrintedLines printed;
    Dialog dialog = buildDialog();
    EXPECT_EQ((std::vector<std::string>{"Deutsch", "English"}), entries(dialog.chooser));
    EXPECT_EQ("English", activeName(dialog.chooser));
    EXPECT_EQ(std::vector<std::string>{"Display EULA: English\n"}, printed.lines());
    closeDialog(dialog);
}

// End to end, all of it at once: the dialog comes up in reasonable time with English active,
// and accepting it leads to the progress window and a normal end.
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
    double start = now();
    Program program(dir.path(), {});
    WindowId dialog = findWindow(program.pid(), "License Agreement", 240);
    ASSERT_NE(0u, dialog) << program.out() << program.err();
    double seconds = now() - start;
    RecordProperty("seconds", std::to_string(seconds));
    // Under the 32-bit build's emulator the time says more about the emulator than the program.
    if (sizeof(void*) == 8) {
        EXPECT_LT(seconds, 30.0);
    }
    EXPECT_EQ("Display EULA: English\n", program.out());
    Geometry geometry = windowGeometry(dialog);
    clickAt(dialog, geometry.width / 2, geometry.height - 27);
    WindowId window = findWindow(program.pid(), "Installed", 60);
    ASSERT_NE(0u, window) << program.out();
    EXPECT_EQ(0, clickOkUntilExit(program, window, 30));
}
