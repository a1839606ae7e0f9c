// A progress window built in the test's own process on a control script, with its two timers
// fired by hand, standard output captured and the toolkit's warnings counted.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <sys/time.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "progress/progress.h"
#include "support/support.h"

// Counts the warnings and critical messages of every log domain while it lives.
class WarningCounter {
public:
    WarningCounter() { previous_ = g_log_set_default_handler(count, this); }
    ~WarningCounter() { g_log_set_default_handler(previous_, nullptr); }
    WarningCounter(const WarningCounter&) = delete;
    WarningCounter& operator=(const WarningCounter&) = delete;

    int count() const { return count_; }
    const std::string& messages() const { return messages_; }

private:
    static void count(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
        auto* self = static_cast<WarningCounter*>(data);
        if (level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)) {
            ++self->count_;
            self->messages_ += std::string(domain ? domain : "") + ": " + message + "\n";
        }
    }
    GLogFunc previous_ = nullptr;
    int count_ = 0;
    std::string messages_;
};

// The fixture: start(script) writes the script to "installer" in a scratch directory, makes that
// the working directory, loads it and builds the window. The record is released by the window's
// destruction at the end (or earlier by the run itself: then `record` is cleared by the test).
class InProcessRun : public testing::Test {
protected:
    void start(const std::string& script) {
        dir.write("installer", script);
        inside.reset();
        inside = std::make_unique<InDirectory>(dir.path());
        ASSERT_EQ(1, readScript("./installer"));
        m_pBufferIndex = m_pBuffer;
        m_nStatus = 0;
        record = create_progress();
        window = record->window;
        g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
    }

    void TearDown() override {
        if (window)
            gtk_widget_destroy(window);
        releaseScript();
        m_pBufferIndex = nullptr;
        inside.reset();
    }

    // One tick of the interpreter, as the main loop would run it.
    gboolean tick() { return fireSource(record->timer); }
    // Lets the toolkit hand out the events from before the end of a block that held the loop
    // up, after which the interpreter reads on. Its timer is held meanwhile: the test ticks it.
    void catchUp() {
        g_source_set_ready_time(g_main_context_find_source_by_id(nullptr, record->timer), -1);
        EXPECT_TRUE(waitUntil(
            [&] {
                processEvents();
                return !record->catchingUp;
            },
            10));
    }
    // One tick of the output monitor.
    gboolean monitorTick() { return fireSource(record->outputTimer); }

    // Monitor ticks until the label shows something other than `shown` or the output ends;
    // the label's new text.
    std::string nextShown(const std::string& shown) {
        waitUntil([&] { return !monitorTick() || labelText() != shown; }, 10);
        return labelText();
    }
    // Makes the block look quiet since `seconds` ago to the monitor, whose clock is the time
    // of the last output. The monitor counts whole seconds: this starts early in a second, so
    // that its next tick falls in the same one and sees exactly `seconds`.
    void quietFor(int seconds) {
        struct timeval time;
        gettimeofday(&time, nullptr);
        if (time.tv_usec > 500000)
            pause(static_cast<double>(1000000 - time.tv_usec) / 1e6);
        gettimeofday(&record->lastOutput, nullptr);
        record->lastOutput.tv_sec -= seconds;
    }

    std::string labelText() const { return gtk_label_get_text(GTK_LABEL(record->label)); }
    std::string barText() const {
        const char* text = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(record->bar));
        return text ? text : "";
    }
    std::string title() const { return gtk_window_get_title(GTK_WINDOW(window)); }
    double barFraction() const { return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(record->bar)); }
    bool pulsing() const {
        gboolean activity = FALSE;
        g_object_get(record->bar, "activity-mode", &activity, nullptr);
        return activity;
    }
    // The script text not yet read by the interpreter.
    static std::string unread() { return m_pBufferIndex; }

    TempDir dir;
    ProgressState* record = nullptr;
    GtkWidget* window = nullptr;          // cleared when the window is destroyed
    std::unique_ptr<InDirectory> inside;  // the scratch directory is the working directory
};
