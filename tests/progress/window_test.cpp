// The progress window's widgets, its finished state and its tear-down, in the test's process.
#include <vector>

#include "progress/in_process.h"

// Xlib's macros would clash with the test framework: include it last.
#include <gdk/gdkx.h>

namespace {

std::vector<GtkWidget*> childrenOf(GtkWidget* container) {
    std::vector<GtkWidget*> children;
    GList* list = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList* item = list; item; item = item->next)
        children.push_back(GTK_WIDGET(item->data));
    g_list_free(list);
    return children;
}

struct Packing {
    gboolean expand;
    gboolean fill;
    guint padding;
};

Packing packingOf(GtkWidget* box, GtkWidget* child) {
    Packing packing{};
    GtkPackType type;
    gtk_box_query_child_packing(GTK_BOX(box), child, &packing.expand, &packing.fill, &packing.padding, &type);
    return packing;
}

void expectAlignment(GtkWidget* widget) {
    ASSERT_TRUE(GTK_IS_ALIGNMENT(widget));
    gfloat xalign, yalign, xscale, yscale;
    g_object_get(widget, "xalign", &xalign, "yalign", &yalign, "xscale", &xscale, "yscale", &yscale, nullptr);
    EXPECT_EQ(0.0f, xalign);
    EXPECT_EQ(0.0f, yalign);
    EXPECT_EQ(1.0f, xscale);
    EXPECT_EQ(0.0f, yscale);
    EXPECT_TRUE(gtk_widget_get_visible(widget));
}

}  // namespace

using ProgressWindow = InProcessRun;

TEST_F(ProgressWindow, IsACentredResizableTopLevelTitledInstallingOfDefaultSize300By100) {
    start("#title=Later\n");
    ASSERT_TRUE(GTK_IS_WINDOW(window));
    GtkWindow* top = GTK_WINDOW(window);
    EXPECT_EQ(GTK_WINDOW_TOPLEVEL, gtk_window_get_window_type(top));
    EXPECT_EQ("Installing...", title());
    gint width = 0, height = 0;
    gtk_window_get_default_size(top, &width, &height);
    EXPECT_EQ(300, width);
    EXPECT_EQ(100, height);
    EXPECT_TRUE(gtk_window_get_resizable(top));
    GtkWindowPosition position = GTK_WIN_POS_NONE;
    g_object_get(window, "window-position", &position, nullptr);
    EXPECT_EQ(GTK_WIN_POS_CENTER, position);
    EXPECT_EQ(0u, gtk_container_get_border_width(GTK_CONTAINER(window)));
    EXPECT_TRUE(gtk_widget_get_visible(window));

    // Keeping above is a request to the window manager, made through the X window's state.
    gdk_flush();
    WindowId xid = GDK_WINDOW_XID(gtk_widget_get_window(window));
    EXPECT_NE(std::string::npos, windowProperty(xid, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE"));
}

TEST_F(ProgressWindow, HoldsABoxWithBarLabelAndHiddenOkButton) {
    start("#title=Later\n");
    std::vector<GtkWidget*> top = childrenOf(window);
    ASSERT_EQ(1u, top.size());
    GtkWidget* box = top[0];
    ASSERT_TRUE(GTK_IS_VBOX(box));
    EXPECT_FALSE(gtk_box_get_homogeneous(GTK_BOX(box)));
    EXPECT_EQ(5, gtk_box_get_spacing(GTK_BOX(box)));
    EXPECT_EQ(10u, gtk_container_get_border_width(GTK_CONTAINER(box)));
    EXPECT_TRUE(gtk_widget_get_visible(box));

    std::vector<GtkWidget*> rows = childrenOf(box);
    ASSERT_EQ(3u, rows.size());
    GtkWidget* upper = rows[0];
    GtkWidget* lower = rows[1];
    expectAlignment(upper);
    expectAlignment(lower);
    Packing upperPacking = packingOf(box, upper);
    EXPECT_TRUE(upperPacking.expand);
    EXPECT_TRUE(upperPacking.fill);
    EXPECT_EQ(0u, upperPacking.padding);
    Packing lowerPacking = packingOf(box, lower);
    EXPECT_FALSE(lowerPacking.expand);
    EXPECT_FALSE(lowerPacking.fill);
    EXPECT_EQ(0u, lowerPacking.padding);

    EXPECT_EQ(record->bar, gtk_bin_get_child(GTK_BIN(upper)));
    ASSERT_TRUE(GTK_IS_PROGRESS_BAR(record->bar));
    EXPECT_EQ(" ", barText());
    EXPECT_EQ(GTK_PROGRESS_LEFT_TO_RIGHT, gtk_progress_bar_get_orientation(GTK_PROGRESS_BAR(record->bar)));
    EXPECT_EQ(0.0, barFraction());
    EXPECT_TRUE(gtk_widget_get_visible(record->bar));

    EXPECT_EQ(record->label, gtk_bin_get_child(GTK_BIN(lower)));
    ASSERT_TRUE(GTK_IS_LABEL(record->label));
    GtkLabel* label = GTK_LABEL(record->label);
    EXPECT_EQ(" ", labelText());
    gfloat xalign = -1, yalign = -1;
    gtk_misc_get_alignment(GTK_MISC(label), &xalign, &yalign);
    EXPECT_EQ(0.0f, xalign);
    EXPECT_EQ(0.0f, yalign);
    EXPECT_EQ(GTK_JUSTIFY_LEFT, gtk_label_get_justify(label));
    EXPECT_EQ(30, gtk_label_get_width_chars(label));
    EXPECT_EQ(30, gtk_label_get_max_width_chars(label));
    EXPECT_FALSE(gtk_label_get_line_wrap(label));
    EXPECT_FALSE(gtk_label_get_selectable(label));
    EXPECT_TRUE(gtk_widget_get_visible(record->label));

    GtkWidget* button = rows[2];
    EXPECT_EQ(record->button, button);
    ASSERT_TRUE(GTK_IS_BUTTON(button));
    EXPECT_STREQ("Ok", gtk_button_get_label(GTK_BUTTON(button)));
    Packing buttonPacking = packingOf(box, button);
    EXPECT_FALSE(buttonPacking.expand);
    EXPECT_FALSE(buttonPacking.fill);
    EXPECT_EQ(0u, buttonPacking.padding);
    EXPECT_TRUE(gtk_widget_get_can_default(button));
    EXPECT_TRUE(gtk_widget_has_default(button));
    EXPECT_FALSE(gtk_widget_get_visible(button));
}

TEST_F(ProgressWindow, StartsWithAZeroedRecordAndAnInterpreterTickingEvery50Milliseconds) {
    start("#title=Later\n#title=Again\n");
    EXPECT_EQ(0.0f, record->fraction);
    ASSERT_TRUE(sourceExists(record->timer));
    EXPECT_EQ(0, record->running);
    EXPECT_EQ(nullptr, record->pipe);
    EXPECT_EQ(0u, record->outputTimer);
    EXPECT_EQ(0, record->noWait);
    // Nothing of the script is read before the first tick.
    EXPECT_EQ(m_pBuffer, m_pBufferIndex);
    EXPECT_EQ(50, firingInterval(record->timer, 10));
    EXPECT_EQ("Later", title());
}

TEST_F(ProgressWindow, FinishedStateFillsTheBarBlanksItsTextAndShowsOK) {
    start("#text=Copying\n#progress=0.3\n");
    EXPECT_TRUE(tick());
    EXPECT_EQ("Copying", barText());
    EXPECT_FALSE(gtk_widget_get_visible(record->button));
    guint timer = record->timer;
    EXPECT_FALSE(tick());
    EXPECT_EQ(" ", barText());
    EXPECT_EQ(1.0, barFraction());
    EXPECT_FLOAT_EQ(0.3f, record->fraction);
    EXPECT_STREQ("OK", gtk_button_get_label(GTK_BUTTON(record->button)));
    EXPECT_TRUE(gtk_widget_get_visible(record->button));
    EXPECT_FALSE(sourceExists(timer));
}

TEST_F(ProgressWindow, OkButtonDestroysTheWindowAndEndsTheMainLoop) {
    start("#title=Done\n");
    EXPECT_FALSE(tick());
    // The click comes from inside a running main loop, which it must end.
    g_idle_add(
        [](gpointer button) -> gboolean {
            gtk_button_clicked(GTK_BUTTON(button));
            return FALSE;
        },
        record->button);
    EXPECT_TRUE(runMainLoop(10)) << "the main loop should have ended by the click";
    EXPECT_EQ(nullptr, window) << "the click should have destroyed the window";
    record = nullptr;
}

TEST_F(ProgressWindow, DestroyWhileABlockRunsClosesItsPipeAndRemovesBothTimers) {
    // A quiet block: one that wrote after the close would end at that write.
    start("#script_start\nsleep 0.3\ntouch ended\n#script_end\n#title=Never\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    ASSERT_EQ(1, record->running);
    ASSERT_NE(nullptr, record->pipe);
    guint timer = record->timer;
    guint outputTimer = record->outputTimer;
    ASSERT_TRUE(sourceExists(timer));
    ASSERT_TRUE(sourceExists(outputTimer));

    gtk_widget_destroy(window);
    // The pipe was closed by waiting for the shell: it ran to its end.
    EXPECT_TRUE(fileExists(dir / "ended"));
    EXPECT_EQ(nullptr, window);
    EXPECT_FALSE(sourceExists(timer));
    EXPECT_FALSE(sourceExists(outputTimer));
    EXPECT_EQ("#title=Never\n", unread());
    record = nullptr;
}

TEST_F(ProgressWindow, DestroyReturnsWhenTheRunningBlockHasMoreOutputThanThePipeHolds) {
    // Once the read end is closed the writes fail instead of waiting for a reader.
    start("#script_start\nseq 1 200000 2>/dev/null\ntouch ended\n#script_end\n");
    CapturedStdout out;
    EXPECT_TRUE(tick());
    EXPECT_EQ("1 ", nextShown(" "));
    gtk_widget_destroy(window);
    EXPECT_TRUE(fileExists(dir / "ended"));
    EXPECT_EQ("1 \n", out.text());
    record = nullptr;
}

// Such a block holds the loop up from the tick after the title's: the X server has the title
// before the block starts, although no event was handled in between.
TEST_F(ProgressWindow, ShowsTheTitleSetBeforeABlockThatHoldsTheLoopUpWhileItRuns) {
    for (const char* kind : {"#script_start_blocking", "#script_start_nowait"}) {
        SCOPED_TRACE(kind);
        // /bin/sh puts the window's id in.
        start("#title=Busy\n" + std::string(kind) +
              "\nxprop -id $BUSY_WINDOW -notype WM_NAME > name.txt 2>&1\n#script_end\n");
        g_setenv("BUSY_WINDOW", std::to_string(GDK_WINDOW_XID(gtk_widget_get_window(window))).c_str(), TRUE);
        EXPECT_TRUE(tick());
        tick();
        EXPECT_EQ("WM_NAME = \"Busy\"\n", readFile(dir / "name.txt"));
        TearDown();
    }
}

// Hands each event to the toolkit a millisecond late, as a busy machine does.
void slowEventHandler(GdkEvent* event, gpointer) {
    g_usleep(1000);
    gtk_main_do_event(event);
}

TEST_F(ProgressWindow, CloseThatCameWhileABlockHeldTheLoopUpIsHandledBeforeTheNextLine) {
    for (const char* kind : {"#script_start_blocking", "#script_start_nowait"}) {
        SCOPED_TRACE(kind);
        // A block that fails after #stop_on_failure= does not change what the close means.
        start("#stop_on_failure=Failed\n" + std::string(kind) +
              "\nfalse\n#script_end\n#script_start_blocking\ntouch later\n#script_end\n");
        EXPECT_TRUE(tick());
        // Events that came while the block held the loop up, the close after 300 others, whose
        // handling takes six times the interpreter's interval.
        for (int i = 0; i < 300; ++i) {
            GdkEvent* other = gdk_event_new(GDK_NOTHING);
            gdk_event_put(other);
            gdk_event_free(other);
        }
        GdkEvent* close = gdk_event_new(GDK_DELETE);
        close->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
        gdk_event_put(close);
        gdk_event_free(close);
        gdk_event_handler_set(slowEventHandler, nullptr, nullptr);
        tick();
        record = nullptr;  // released by the close
        double end = now() + 10 * timeScale();
        while (window && now() < end)
            g_main_context_iteration(nullptr, FALSE);
        gdk_event_handler_set([](GdkEvent* event, gpointer) { gtk_main_do_event(event); }, nullptr, nullptr);
        EXPECT_EQ(nullptr, window);
        EXPECT_FALSE(fileExists(dir / "later"));
        EXPECT_EQ(0, m_nStatus);
    }
}

// After such a block no line is read until the toolkit has handed out every event from before
// its end; then the next tick reads on.
TEST_F(ProgressWindow, ReadsTheLineAfterABlockThatHeldTheLoopUpOnceItsEventsAreHandled) {
    start("#script_start_blocking\ntrue\n#script_end\n#title=After\n#title=Last\n");
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    EXPECT_EQ("#title=After\n#title=Last\n", unread());
    catchUp();
    EXPECT_TRUE(tick());
    EXPECT_EQ("After", title());
}

TEST_F(ProgressWindow, DestroyedWindowAfterAnExitLeavesTheReleasedRecordAlone) {
    start("#title=First\n#Ostrel_Exit\n#title=Never\n");
    EXPECT_TRUE(tick());
    guint timer = record->timer;
    EXPECT_FALSE(tick());
    record = nullptr;
    EXPECT_FALSE(sourceExists(timer));
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(gtk_widget_get_visible(window));
    // Its destroy handler is gone with the record: destroying the window touches nothing.
    EXPECT_EQ(0u, g_signal_handlers_disconnect_matched(window, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                                       reinterpret_cast<gpointer>(destroy), nullptr));
    gtk_widget_destroy(window);
    EXPECT_EQ(nullptr, window);
}

TEST(WindowIcon, ComesFromTheWorkingDirectoryAndIsSilentlyNoneWithoutTheFile) {
    TempDir dir;
    GCharPtr old(g_get_current_dir());
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    {
        WarningCounter warnings;
        CapturedStdout out;
        load_icon();
        EXPECT_EQ(nullptr, gtk_window_get_default_icon_list());
        EXPECT_EQ("", out.text());
        EXPECT_EQ(0, warnings.count()) << warnings.messages();
    }
    GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 48, 48);
    gdk_pixbuf_fill(image, 0x3366ccff);
    ASSERT_TRUE(gdk_pixbuf_save(image, "korvalen-48x48.png", "png", nullptr, nullptr));
    g_object_unref(image);
    load_icon();
    GList* icons = gtk_window_get_default_icon_list();
    ASSERT_EQ(1u, g_list_length(icons));
    EXPECT_EQ(48, gdk_pixbuf_get_width(GDK_PIXBUF(icons->data)));
    g_list_free(icons);
    gtk_window_set_default_icon_list(nullptr);
    EXPECT_EQ(0, chdir(old.get()));
}
