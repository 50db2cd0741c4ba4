#include "platform/forms/Progress.h"

#include "platform/forms/Forms.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

namespace {

ProgressWindowFactory& Override() {
    static ProgressWindowFactory factory;
    return factory;
}

constexpr int ClientWidth = 200;
constexpr int ClientHeight = 80;
constexpr int TextTop = 8;
constexpr int BarTop = 24;
constexpr int ButtonTop = 48;
constexpr int ButtonWidth = 72;
constexpr int ButtonHeight = 24;
constexpr int BarWidth = 160;
constexpr int BarHeight = 16;

// A plain window owned by no other: a label, the abort button and the bar, created in that
// order with the names the class library gives them.
class TQtProgressWindow final : public TProgressWindow {
public:
    TQtProgressWindow(const ProgressRequest& request, ProgressAbort onAbort)
        : form_(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
        form_.setWindowTitle(QString::fromStdString(request.caption));
        form_.setFixedSize(ClientWidth, ClientHeight);

        auto* label = new QLabel(QString::fromStdString(request.text), &form_);
        label->setObjectName("Label1");
        label->move(TextTop, TextTop);
        label->adjustSize();

        auto* abort = new QPushButton(QString::fromStdString(request.abortText), &form_);
        abort->setObjectName("Abort1");
        abort->setGeometry((ClientWidth - ButtonWidth) / 2, ButtonTop, ButtonWidth, ButtonHeight);
        QObject::connect(abort, &QPushButton::clicked, &form_,
                         [onAbort = std::move(onAbort)] { Guarded([&] { onAbort(); }); });

        bar_ = new QProgressBar(&form_);
        bar_->setObjectName("ProgressBar1");
        bar_->setGeometry((ClientWidth - BarWidth) / 2, BarTop, BarWidth, BarHeight);
        bar_->setRange(0, 100);
        bar_->setValue(0);

        if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr)
            form_.move(screen->availableGeometry().center() - form_.rect().center());
        form_.show();
    }

    void SetPosition(int percent) override {
        bar_->setValue(percent);
        form_.repaint();
    }

private:
    QWidget form_;
    QProgressBar* bar_ = nullptr;
};

class TNoProgressWindow final : public TProgressWindow {
public:
    void SetPosition(int /*percent*/) override {}
};

} // namespace

std::unique_ptr<TProgressWindow> ShowProgressWindow(const ProgressRequest& request,
                                                    ProgressAbort onAbort) {
    if (Override()) return Override()(request, std::move(onAbort));
    if (Application == nullptr) return std::make_unique<TNoProgressWindow>();
    return std::make_unique<TQtProgressWindow>(request, std::move(onAbort));
}

void SetProgressWindowOverride(ProgressWindowFactory factory) {
    Override() = std::move(factory);
}

void ProcessMessages() {
    if (Application != nullptr) Application->ProcessMessages();
}

TBusyCursor::TBusyCursor() {
    if (Application != nullptr) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

TBusyCursor::~TBusyCursor() {
    if (Application != nullptr) QGuiApplication::restoreOverrideCursor();
}
