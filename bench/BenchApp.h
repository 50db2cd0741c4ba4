// What the player's benchmarks share: the application object, offscreen, with every box
// answered at once (the start-up's missing-sprite box), so no window waits; and the test picture.
#pragma once

#include "bench/BenchPicture.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"

inline TApplication& BenchApplication() {
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static auto* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        SetDialogAnswerer([](const DialogRequest&) { return DialogAnswer{mrOk, false, {}}; });
        return new TApplication(argc, argv);
    }();
    return *app;
}
