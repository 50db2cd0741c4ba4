// The one application object of a GUI test program: made at first use, headless, and kept to
// the end of the process as the programs keep theirs.
#pragma once

#include "platform/forms/Forms.h"

inline TApplication& HeadlessApplication(const char* title) {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static auto* app = [title] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new TApplication(argc, argv);
        a->Title = title;
        return a;
    }();
    return *app;
}
