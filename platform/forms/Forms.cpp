#include "platform/forms/Forms.h"

#include "platform/forms/Dialogs.h"
#include "platform/rtl/Exceptions.h"

#include <QKeyEvent>
#include <QLibraryInfo>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <csignal>

namespace {

// Enter presses the focused push button, as Space does: the desktop convention the forms were
// made for. Qt's buttons take Enter only inside dialogs; held down, it presses once.
bool PressesFocusedButton(QObject* receiver, const QKeyEvent& key) {
    auto* button = qobject_cast<QPushButton*>(receiver);
    if (button == nullptr || !button->isEnabled() || key.isAutoRepeat()) return false;
    if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter) return false;
    if ((key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    button->click();
    return true;
}

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    Application = this;
    // A file size limit is a write that fails, told where it fails like a full disk, not a
    // signal that ends the program in the middle of a file.
    std::signal(SIGXFSZ, SIG_IGN);
    // The user interface is Japanese: the standard buttons of message boxes too.
    if (translator_.load(QLocale(QLocale::Japanese), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(&translator_);
    idleTimer_.setInterval(0);
    connect(&idleTimer_, &QTimer::timeout, this, &TApplication::DoIdle);
    wakeTimer_.setSingleShot(true);
    wakeTimer_.setTimerType(Qt::PreciseTimer);
    connect(&wakeTimer_, &QTimer::timeout, this, [this] {
        if (!idleWaiting_) return;
        idleWaiting_ = false;
        DoIdle();
    });
}

TApplication::~TApplication() {
    idleTimer_.stop();
    wakeTimer_.stop();
    if (Application == this) Application = nullptr;
}

void TApplication::SetOnIdle(TIdleEvent handler) {
    onIdle_ = std::move(handler);
    idleWaiting_ = false;
    wakeTimer_.stop();
    if (onIdle_)
        idleTimer_.start();
    else
        idleTimer_.stop();
}

void TApplication::WakeIdleIn(int milliseconds) {
    wakeTimer_.start(std::max(0, milliseconds));
}

void TApplication::ProcessMessages() {
    QCoreApplication::processEvents();
}

int TApplication::Run() {
    return exec();
}

void TApplication::DoIdle() {
    if (!onIdle_) return;
    bool done = true;
    Guarded([&] { onIdle_(this, done); });
    if (done) {
        idleTimer_.stop();
        idleWaiting_ = true;
    } else if (!idleTimer_.isActive()) {
        idleTimer_.start();
    }
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

void TApplication::ShowException(const std::string& message) {
    MessageDlg(ErrorBoxText(message), mtError, mbOKButton, Title);
}

void TApplication::HandleException() {
    try {
        throw;
    } catch (const Exception& e) {
        ShowException(e.Message());
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown exception");
    }
}

void TApplication::SetEventPreview(QWidget* window, TEventPreview preview) {
    previews_[window] = std::move(preview);
}

void TApplication::RemoveEventPreview(QWidget* window) {
    previews_.erase(window);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    if (idleWaiting_ && event->type() != QEvent::Timer) {
        idleWaiting_ = false;
        idleTimer_.start();
    }
    try {
        const QEvent::Type type = event->type();
        if ((type == QEvent::KeyPress || type == QEvent::Wheel) && receiver->isWidgetType()) {
            const auto found = previews_.find(static_cast<QWidget*>(receiver)->window());
            if (found != previews_.end()) {
                bool swallow = false;
                Guarded([&] { swallow = found->second(*event); });
                if (swallow) return true;
            }
        }
        if (type == QEvent::KeyPress &&
            PressesFocusedButton(receiver, static_cast<const QKeyEvent&>(*event)))
            return true;
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException();
        return false;
    }
}

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
    }
}
