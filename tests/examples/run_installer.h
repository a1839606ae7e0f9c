// Runs an installer directory with its windows as a user would: placing the windows, clicking
// "Accept" and, once the run is finished, "OK".
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "support/support.h"

// Other test programs centre their windows on the same display: move ours out of their way
// (below and beside the centre) and bring it to the front, so that what is read and clicked
// there is ours.
inline void bringForward(WindowId window, int x, int y) {
    runCommand(
        {"xdotool", "windowmove", "--sync", std::to_string(window), std::to_string(x), std::to_string(y)});
    runCommand({"xdotool", "windowraise", std::to_string(window)});
}

inline void bringProgressForward(WindowId window) {
    bringForward(window, 20 + static_cast<int>(getpid() % 4) * 310, 880);
}

// The "OK" button's lower edge, drawn only once the button is shown, lies where the window
// was plain background before.
inline bool okButtonShown(WindowId window) {
    return pixelColour(window, 20, 92) != pixelColour(window, 3, 3);
}

// Clicks at a point of the window until the program reacts (`done`), for up to a minute.
// `ready` tells when the click can be made.
inline bool clickUntil(WindowId window, int x, int y, const std::function<bool()>& done,
                       const std::function<bool()>& ready) {
    double end = now() + 60;
    while (now() < end) {
        if (ready()) {
            clickAt(window, x, y);
            double settle = now() + 3;
            while (!done() && now() < settle)
                pause(0.05);
        }
        if (done())
            return true;
        pause(0.1);
    }
    return false;
}

// Waits for the finished progress window and clicks "OK"; the program's exit status, or -1
// when the button never came or clicking it did not end the program.
inline int finishWithOk(Program& program, WindowId window) {
    bool ended = clickUntil(
        window, 150, 82, [&program] { return !program.running(); },
        [window] {
            bringProgressForward(window);
            return okButtonShown(window);
        });
    return ended ? program.wait(1) : -1;
}

// Clicks "Accept" in the licence dialog; true once the dialog has gone. The dialog is moved
// to the right edge, half off the screen, clear of the windows that others centre.
inline bool acceptLicence(WindowId dialog) {
    return clickUntil(
        dialog, 150, 573, [dialog] { return !windowMapped(dialog); },
        [dialog] {
            bringForward(dialog, 980, 400);
            return true;
        });
}

// Runs the installer in `directory` with its windows: accepts the licence when there is one,
// waits for `last` on the output when given (clicking "OK" early would cut a block short
// that still runs), then clicks "OK".
inline Result runWithWindows(const std::string& directory, const std::vector<std::string>& environment = {},
                             const std::string& last = "") {
    Program program(directory, {}, environment);
    if (fileExists(directory + "/eula/English")) {
        WindowId dialog = findWindow(program.pid(), "License Agreement", 30);
        EXPECT_NE(0u, dialog) << "no licence dialog";
        if (dialog) {
            EXPECT_TRUE(acceptLicence(dialog));
        }
    }
    WindowId window = findWindow(program.pid(), "", 30);
    EXPECT_NE(0u, window) << "no progress window";
    if (!last.empty()) {
        EXPECT_TRUE(program.waitForOutput(last, 60)) << program.out();
    }
    int status = window ? finishWithOk(program, window) : program.wait(5);
    return {status, program.out(), program.err()};
}
