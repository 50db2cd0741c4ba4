// The application object: title, idle handler, pending messages, the default error box.
#pragma once

#include "platform/classes/Classes.h"

#include <QApplication>
#include <QTimer>
#include <QTranslator>
#include <exception>
#include <functional>
#include <map>
#include <string>

class QWidget;

// Done starts True; a handler that sets it False is called again at once, otherwise only after
// the next message arrives.
using TIdleEvent = std::function<void(TObject* sender, bool& done)>;
// Sees a window's key and wheel events before its controls; True swallows the event.
using TEventPreview = std::function<bool(QEvent& event)>;

class TApplication : public QApplication, public TObject {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    std::string Title = "";
    void SetOnIdle(TIdleEvent handler);
    bool HasIdleHandler() const { return static_cast<bool>(onIdle_); }

    void ProcessMessages();
    // The running message loop, until the last window closes.
    int Run();

    // Shows the exception being handled in the default error box; call inside a catch block.
    void HandleException();
    void ShowException(const std::string& message);

    // One idle call, as the message loop makes it when no message waits.
    void DoIdle();
    // A handler that set Done is called again after Milliseconds even when no message arrives
    // (a frame falls due); a later request replaces an earlier one.
    void WakeIdleIn(int milliseconds);

    void SetEventPreview(QWidget* window, TEventPreview preview);
    void RemoveEventPreview(QWidget* window);

    bool notify(QObject* receiver, QEvent* event) override;

private:
    TIdleEvent onIdle_;
    QTimer idleTimer_;
    QTimer wakeTimer_;
    bool idleWaiting_ = false;
    QTranslator translator_;
    std::map<QWidget*, TEventPreview> previews_;
};

// The one application object, as the class library has it.
inline TApplication* Application = nullptr;

// Runs a handler; an exception escaping it goes to the default error box, and the program goes on.
template <class F>
void Guarded(F&& handler) {
    try {
        handler();
    } catch (...) {
        if (Application != nullptr)
            Application->HandleException();
        else
            throw;
    }
}

// Connects a signal to a form's handler through Guarded.
template <class Sender, class Signal, class Form, class... Args>
void ConnectHandler(Sender* sender, Signal signal, Form* form, void (Form::*handler)(Args...)) {
    QObject::connect(sender, signal, form, [form, handler](Args... args) {
        Guarded([&] { (form->*handler)(args...); });
    });
}

// Centres a window on the primary screen's work area.
void CentreOnScreen(QWidget& window);

// The text of the default error box: "." added when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);
