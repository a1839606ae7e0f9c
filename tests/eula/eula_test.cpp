// The licence dialog built in this process: its widgets, the language list, the handlers.
#include "eula/eula.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "support/support.h"

namespace {

// The children of a box packed from its start, in packing order.
std::vector<GtkWidget*> startPacked(GtkWidget* box) {
    std::vector<GtkWidget*> packed;
    GList* children = gtk_container_get_children(GTK_CONTAINER(box));
    for (GList* node = children; node; node = node->next) {
        GtkWidget* child = GTK_WIDGET(node->data);
        GtkPackType type;
        gtk_box_query_child_packing(GTK_BOX(box), child, nullptr, nullptr, nullptr, &type);
        if (type == GTK_PACK_START)
            packed.push_back(child);
    }
    g_list_free(children);
    return packed;
}

// Runs the main loop with `action` as its first event, until a handler quits it. False when
// nothing did within `seconds`.
bool runMainLoopWith(GSourceFunc action, gpointer data, double seconds) {
    g_idle_add(action, data);
    return runMainLoop(seconds);
}

// Works in a scratch directory holding the licence folder, as the installer's directory would.
class LicenceDialog : public testing::Test {
protected:
    void SetUp() override {
        oldDirectory_.reset(g_get_current_dir());
        ASSERT_EQ(0, chdir(dir.path().c_str()));
        m_beula = 0;
    }

    void TearDown() override {
        if (dialog)
            gtk_widget_destroy(dialog);
        processEvents();
        g_free(m_pBufferEULA);
        m_pBufferEULA = nullptr;
        m_beula = 0;
        EXPECT_EQ(0, chdir(oldDirectory_.get()));
    }

    // Builds the dialog and keeps what it printed meanwhile.
    void build() {
        {
            CapturedStdout out;
            dialog = create_eula();
            printed = out.text();
        }
        ASSERT_NE(nullptr, dialog);
        // Cleared when the dialog is destroyed, so that no test touches a dead one.
        g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer*>(&dialog));
        parts = licenceParts(dialog);
        ASSERT_NE(nullptr, parts.chooser);
        ASSERT_NE(nullptr, parts.textView);
        ASSERT_NE(nullptr, parts.button);
    }

    // Activates a chooser entry as the user would and returns what that printed.
    std::string choose(int index) {
        CapturedStdout out;
        gtk_combo_box_set_active(GTK_COMBO_BOX(parts.chooser), index);
        return out.text();
    }

    TempDir dir;
    GtkWidget* dialog = nullptr;
    LicenceParts parts;
    std::string printed;

private:
    GCharPtr oldDirectory_;
};

TEST_F(LicenceDialog, PacksChooserTextAndButtonTopToBottom) {
    dir.write("eula/English", "The licence.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    std::vector<GtkWidget*> packed = startPacked(content);
    ASSERT_EQ(3u, packed.size());
    EXPECT_EQ(parts.chooser, packed[0]);
    EXPECT_EQ(parts.scrolled, packed[1]);
    EXPECT_EQ(parts.button, packed[2]);

    struct Expected {
        GtkWidget* widget;
        gboolean expand;
    };
    for (Expected expected :
         {Expected{parts.chooser, FALSE}, Expected{parts.scrolled, TRUE}, Expected{parts.button, FALSE}}) {
        gboolean expand, fill;
        guint padding;
        GtkPackType type;
        gtk_box_query_child_packing(GTK_BOX(content), expected.widget, &expand, &fill, &padding, &type);
        EXPECT_EQ(expected.expand, expand) << G_OBJECT_TYPE_NAME(expected.widget);
        EXPECT_EQ(expected.expand, fill) << G_OBJECT_TYPE_NAME(expected.widget);
        EXPECT_EQ(0u, padding) << G_OBJECT_TYPE_NAME(expected.widget);
    }

    // A text combo box: one string column that the chooser's entries live in.
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(parts.chooser));
    ASSERT_TRUE(GTK_IS_LIST_STORE(model));
    EXPECT_EQ(G_TYPE_STRING, gtk_tree_model_get_column_type(model, 0));
    EXPECT_TRUE(GTK_IS_TEXT_VIEW(parts.textView));
    EXPECT_STREQ("Accept", gtk_button_get_label(GTK_BUTTON(parts.button)));

    GList* actions =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(dialog))));
    EXPECT_EQ(nullptr, actions) << "the action area stays empty";
    g_list_free(actions);

    for (GtkWidget* widget : {dialog, parts.chooser, parts.scrolled, parts.textView, parts.button})
        EXPECT_TRUE(gtk_widget_get_visible(widget)) << G_OBJECT_TYPE_NAME(widget);
}

TEST_F(LicenceDialog, SetsUpWindowScrollingTextAndDefaultButton) {
    dir.write("eula/English", "The licence.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();
    processEvents();

    GtkWindow* window = GTK_WINDOW(dialog);
    EXPECT_STREQ("License Agreement", gtk_window_get_title(window));
    gint width = 0, height = 0;
    gtk_window_get_default_size(window, &width, &height);
    EXPECT_EQ(600, width);
    EXPECT_EQ(600, height);
    EXPECT_TRUE(gtk_window_get_resizable(window));
    GtkWindowPosition position;
    g_object_get(dialog, "window-position", &position, nullptr);
    EXPECT_EQ(GTK_WIN_POS_CENTER, position);
    // Without a window manager the toolkit keeps the requested state on the window itself.
    ASSERT_TRUE(gtk_widget_get_realized(dialog));
    EXPECT_TRUE(gdk_window_get_state(gtk_widget_get_window(dialog)) & GDK_WINDOW_STATE_ABOVE);

    EXPECT_EQ(10u, gtk_container_get_border_width(GTK_CONTAINER(parts.scrolled)));
    GtkPolicyType horizontal, vertical;
    gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(parts.scrolled), &horizontal, &vertical);
    EXPECT_EQ(GTK_POLICY_AUTOMATIC, horizontal);
    EXPECT_EQ(GTK_POLICY_ALWAYS, vertical);

    EXPECT_EQ(GTK_WRAP_WORD, gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(parts.textView)));
    EXPECT_FALSE(gtk_text_view_get_editable(GTK_TEXT_VIEW(parts.textView)));

    EXPECT_TRUE(gtk_widget_get_can_default(parts.button));
    EXPECT_EQ(parts.button, gtk_window_get_default_widget(window));
    // A focused button draws as the default for the moment; elsewhere "Accept" is.
    gtk_widget_grab_focus(parts.textView);
    EXPECT_TRUE(gtk_widget_has_default(parts.button));
}

TEST_F(LicenceDialog, BuildsNothingWithoutLicenceText) {
    dir.write("eula/English", "The licence.\n");
    ASSERT_EQ(nullptr, m_pBufferEULA);
    GList* before = gtk_window_list_toplevels();
    CapturedStdout out;
    EXPECT_EQ(nullptr, create_eula());
    EXPECT_EQ("", out.text());
    GList* after = gtk_window_list_toplevels();
    EXPECT_EQ(g_list_length(before), g_list_length(after));
    g_list_free(before);
    g_list_free(after);
}

TEST_F(LicenceDialog, ListsDeutschBeforeEnglishAndShowsEnglish) {
    dir.write("eula/English", "English licence text.\n");
    dir.write("eula/Deutsch", "Deutscher Lizenztext.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ((std::vector<std::string>{"Deutsch", "English"}), entries(parts.chooser));
    EXPECT_EQ(1, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
    EXPECT_EQ("English licence text.\n", shownText(parts.textView));
    EXPECT_EQ("Display EULA: English\n", printed);
}

TEST_F(LicenceDialog, ReadsTheEnglishFileAgainWhenItsEntryIsActivated) {
    dir.write("eula/English", "As loaded at start.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    dir.write("eula/English", "As read for the chooser.\n");
    build();

    EXPECT_EQ("As read for the chooser.\n", shownText(parts.textView));
    EXPECT_EQ("Display EULA: English\n", printed);
}

TEST_F(LicenceDialog, SortsIgnoringAsciiCase) {
    for (const char* name : {"Zulu", "afrikaans", "English", "bahasa", "Deutsch"})
        dir.write(std::string("eula/") + name, std::string(name) + "\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ((std::vector<std::string>{"afrikaans", "bahasa", "Deutsch", "English", "Zulu"}),
              entries(parts.chooser));
    EXPECT_EQ(3, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
}

TEST_F(LicenceDialog, ActivatesOnlyNamesContainingEnglishWithThatCase) {
    dir.write("eula/english", "lower case english\n");
    dir.write("eula/English-UK", "British English\n");
    ASSERT_EQ(1, readEULA("./eula/english"));
    build();

    EXPECT_EQ((std::vector<std::string>{"english", "English-UK"}), entries(parts.chooser));
    EXPECT_EQ(1, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
    EXPECT_EQ("British English\n", shownText(parts.textView));
    EXPECT_EQ("Display EULA: English-UK\n", printed);
}

TEST_F(LicenceDialog, LeavesTheLastEnglishNameActiveAfterShowingEachInTurn) {
    dir.write("eula/American", "American\n");
    dir.write("eula/English", "English\n");
    dir.write("eula/English-UK", "English-UK\n");
    dir.write("eula/Middle English", "Middle English\n");
    dir.write("eula/Welsh", "Welsh\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ((std::vector<std::string>{"American", "English", "English-UK", "Middle English", "Welsh"}),
              entries(parts.chooser));
    EXPECT_EQ(3, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
    EXPECT_EQ("Middle English\n", shownText(parts.textView));
    EXPECT_EQ("Display EULA: English\nDisplay EULA: English-UK\nDisplay EULA: Middle English\n", printed);
}

TEST_F(LicenceDialog, OffersNoSymbolicLinkAndActivatesNothingWithoutAnotherEnglish) {
    dir.write("english.txt", "Linked English licence.\n");
    dir.write("eula/Deutsch", "Deutscher Lizenztext.\n");
    ASSERT_EQ(0, symlink("../english.txt", (dir / "eula/English").c_str()));
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ((std::vector<std::string>{"Deutsch"}), entries(parts.chooser));
    EXPECT_EQ(-1, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
    EXPECT_EQ("Linked English licence.\n", shownText(parts.textView));
    EXPECT_EQ("", printed);
}

TEST_F(LicenceDialog, ActivatesAnotherEnglishNameWhenEnglishIsASymbolicLink) {
    dir.write("english.txt", "Linked English licence.\n");
    dir.write("eula/Old English", "Old English licence.\n");
    ASSERT_EQ(0, symlink("../english.txt", (dir / "eula/English").c_str()));
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ((std::vector<std::string>{"Old English"}), entries(parts.chooser));
    EXPECT_EQ(0, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
    EXPECT_EQ("Old English licence.\n", shownText(parts.textView));
    EXPECT_EQ("Display EULA: Old English\n", printed);
}

TEST_F(LicenceDialog, OffersNeitherSubdirectoriesNorFifos) {
    dir.write("eula/English", "English\n");
    dir.write("eula/Archive/Deutsch", "old\n");
    ASSERT_EQ(0, mkfifo((dir / "eula/Pipe").c_str(), 0644));
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ((std::vector<std::string>{"English"}), entries(parts.chooser));
}

TEST_F(LicenceDialog, LeavesOutNamesThatAreNotUtf8) {
    dir.write("eula/English", "English\n");
    dir.write(
        "eula/Fran\xe7"
        "ais",
        "Licence en fran\xe7"
        "ais\n");
    ASSERT_TRUE(fileExists(dir / "eula/Fran\xe7"
                                 "ais"));
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ((std::vector<std::string>{"English"}), entries(parts.chooser));
    EXPECT_EQ(0, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
}

TEST_F(LicenceDialog, ShowsAnotherLanguageWhenChosen) {
    dir.write("eula/English", "English licence text.\n");
    dir.write("eula/Deutsch", "Deutscher Lizenztext.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ("Display EULA: Deutsch\n", choose(0));
    EXPECT_EQ("Deutscher Lizenztext.\n", shownText(parts.textView));
    EXPECT_EQ("Display EULA: English\n", choose(1));
    EXPECT_EQ("English licence text.\n", shownText(parts.textView));
}

TEST_F(LicenceDialog, KeepsThePreviousTextWhenALanguageCannotBeRead) {
    dir.write("eula/English", "English licence text.\n");
    dir.write("eula/Empty", "");
    dir.write("eula/Gone", "Soon removed.\n");
    dir.write("eula/Swapped", "Soon a directory.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();
    ASSERT_EQ((std::vector<std::string>{"Empty", "English", "Gone", "Swapped"}), entries(parts.chooser));
    // Listed as regular files, then made unreadable in ways that hold even for root.
    ASSERT_EQ(0, unlink((dir / "eula/Gone").c_str()));
    ASSERT_EQ(0, unlink((dir / "eula/Swapped").c_str()));
    ASSERT_EQ(0, mkdir((dir / "eula/Swapped").c_str(), 0755));

    EXPECT_EQ("Display EULA: Empty\n", choose(0));
    EXPECT_EQ("English licence text.\n", shownText(parts.textView));
    EXPECT_EQ("Display EULA: Gone\n", choose(2));
    EXPECT_EQ("English licence text.\n", shownText(parts.textView));
    EXPECT_EQ("Display EULA: Swapped\n", choose(3));
    EXPECT_EQ("English licence text.\n", shownText(parts.textView));
    // The failed loads change nothing that a later choice depends on.
    EXPECT_EQ("Display EULA: English\n", choose(1));
    EXPECT_EQ("English licence text.\n", shownText(parts.textView));
}

TEST_F(LicenceDialog, OffersNothingButKeepsTheTextWhenTheFolderCannotBeListed) {
    dir.write("eula/English", "English licence text.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    ASSERT_EQ(0, rename((dir / "eula").c_str(), (dir / "moved").c_str()));
    build();

    EXPECT_TRUE(entries(parts.chooser).empty());
    EXPECT_EQ(-1, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
    EXPECT_EQ("English licence text.\n", shownText(parts.textView));
    EXPECT_EQ("", printed);

    ASSERT_TRUE(runMainLoopWith(
        [](gpointer button) -> gboolean {
            gtk_button_clicked(GTK_BUTTON(button));
            return FALSE;
        },
        parts.button, 30));
    EXPECT_EQ(1, m_beula);
}

TEST_F(LicenceDialog, ShowsAnEmptyTextWhenTheFileStartsWithNul) {
    dir.write("eula/English", std::string("\0hidden\n", 8));
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ("", shownText(parts.textView));
    EXPECT_EQ(0, gtk_combo_box_get_active(GTK_COMBO_BOX(parts.chooser)));
}

TEST_F(LicenceDialog, AcceptSetsTheFlagHidesTheDialogAndQuitsTheLoop) {
    dir.write("eula/English", "English licence text.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();
    processEvents();
    ASSERT_TRUE(gtk_widget_get_mapped(dialog));

    ASSERT_TRUE(runMainLoopWith(
        [](gpointer button) -> gboolean {
            gtk_button_clicked(GTK_BUTTON(button));
            return FALSE;
        },
        parts.button, 30))
        << "accepting did not quit the main loop";
    EXPECT_EQ(1, m_beula);
    ASSERT_NE(nullptr, dialog) << "the dialog was destroyed";
    processEvents();
    for (GtkWidget* widget : {dialog, parts.chooser, parts.scrolled, parts.textView, parts.button})
        EXPECT_FALSE(gtk_widget_get_visible(widget)) << G_OBJECT_TYPE_NAME(widget);
    EXPECT_FALSE(gtk_widget_get_mapped(dialog));
}

TEST_F(LicenceDialog, DestroyQuitsTheLoopWithoutAccepting) {
    dir.write("eula/English", "English licence text.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    ASSERT_TRUE(runMainLoopWith(
        [](gpointer window) -> gboolean {
            gtk_widget_destroy(GTK_WIDGET(window));
            return FALSE;
        },
        dialog, 30))
        << "destroying the dialog did not quit the main loop";
    EXPECT_EQ(nullptr, dialog);
    EXPECT_EQ(0, m_beula);
}

TEST_F(LicenceDialog, CloseSignalQuitsTheLoopWithoutAccepting) {
    dir.write("eula/English", "English licence text.\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();
    processEvents();

    // What Escape does in a dialog.
    ASSERT_TRUE(runMainLoopWith(
        [](gpointer window) -> gboolean {
            g_signal_emit_by_name(window, "close");
            return FALSE;
        },
        dialog, 30));
    EXPECT_EQ(nullptr, dialog);
    EXPECT_EQ(0, m_beula);
}

TEST_F(LicenceDialog, ShowsLicenceThatIsNotUtf8AsWindows1252) {
    dir.write("eula/English", "caf\xe9 \x80 \x81\n");
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ("caf\u00e9 \u20ac \u0081\n", shownText(parts.textView));
}

TEST_F(LicenceDialog, ShowsUtf8LicenceExactly) {
    const std::string text = "Gr\u00fc\u00dfe \u20ac \u65e5\u672c \U0001F600\r\n\ttab\n";
    dir.write("eula/English", text);
    ASSERT_EQ(1, readEULA("./eula/English"));
    build();

    EXPECT_EQ(text, shownText(parts.textView));
}

// Windows-1252 from the C library's converter, with the bytes it leaves undefined taken as
// ISO-8859-1.
std::string windows1252(unsigned char byte) {
    const char in[2] = {static_cast<char>(byte), 0};
    GCharPtr out(g_convert(in, 1, "UTF-8", "WINDOWS-1252", nullptr, nullptr, nullptr));
    if (!out)
        out.reset(g_convert(in, 1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr));
    return out ? out.get() : "?";
}

TEST(LicenceText, KeepsValidUtf8AsItIs) {
    for (const char* text : {"", "plain ASCII\n", "caf\u00e9 \u20ac", "\U0001F600 line\r\n"}) {
        GCharPtr shown(licenceText(text));
        EXPECT_STREQ(text, shown.get());
    }
}

TEST(LicenceText, DecodesEveryByteOfInvalidUtf8AsWindows1252) {
    std::string bytes;
    std::string expected;
    for (int byte = 1; byte < 256; ++byte) {
        bytes += static_cast<char>(byte);
        expected += windows1252(static_cast<unsigned char>(byte));
    }
    ASSERT_FALSE(g_utf8_validate(bytes.c_str(), -1, nullptr));
    GCharPtr shown(licenceText(bytes.c_str()));
    EXPECT_TRUE(g_utf8_validate(shown.get(), -1, nullptr));
    EXPECT_EQ(expected, shown.get());
    EXPECT_EQ(255, g_utf8_strlen(shown.get(), -1)) << "one character for each byte";
    for (unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        gunichar expectedChar = undefined;
        GCharPtr one(licenceText(std::string(1, static_cast<char>(undefined)).c_str()));
        EXPECT_EQ(expectedChar, g_utf8_get_char(one.get())) << std::hex << int(undefined);
    }
}

TEST(LicenceText, DecodesAWholeTextAsWindows1252WhenAnyOfItIsInvalid) {
    // The valid sequence for é turns into two characters once one stray byte is present.
    GCharPtr shown(licenceText("caf\xc3\xa9 \xff"));
    EXPECT_STREQ("caf\u00c3\u00a9 \u00ff", shown.get());
}

}  // namespace
