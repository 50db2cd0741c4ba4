// The modeless progress window of a long step (a bar and an abort button), through the same kind
// of facade as the dialogs: tests install their own window, and without an application object
// nothing is shown. The header needs no Qt.
#pragma once

#include <functional>
#include <memory>
#include <string>

struct ProgressRequest {
    std::string caption;
    std::string text;
    std::string abortText;
};

class TProgressWindow {
public:
    virtual ~TProgressWindow() = default;
    // Moves the bar (0 to 100) and repaints the window at once.
    virtual void SetPosition(int percent) = 0;
};

using ProgressAbort = std::function<void()>;
using ProgressWindowFactory =
    std::function<std::unique_ptr<TProgressWindow>(const ProgressRequest&, ProgressAbort)>;

// Shows the window centred on the screen; OnAbort runs when its abort button is clicked. The
// window goes when the result is destroyed.
std::unique_ptr<TProgressWindow> ShowProgressWindow(const ProgressRequest& request,
                                                    ProgressAbort onAbort);
// An empty factory restores the real window.
void SetProgressWindowOverride(ProgressWindowFactory factory);

// Lets the pending window messages through (the abort button, the main window); nothing without
// an application object.
void ProcessMessages();

// A busy pointer over the program's windows for as long as it lives: for steps during which the
// window takes no input.
class TBusyCursor {
public:
    TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
    ~TBusyCursor();
};
