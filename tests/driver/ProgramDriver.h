// The common part of the Qt input plugins that play a user at the real programs: a script of
// steps, each taken once its condition holds, polled from the program's own event loop; the main
// window and its controls by name; and a log beside the program of everything seen.
#pragma once

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QGenericPlugin>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

class ProgramDriver : public QObject {
public:
    struct Step {
        const char* name;
        std::function<bool()> ready;
        std::function<void()> act;
    };

    explicit ProgramDriver(int giveUpMs) {
        connect(&timer_, &QTimer::timeout, this, &ProgramDriver::Poll);
        timer_.start(PollMs);
        QTimer::singleShot(giveUpMs, this,
                           [this] { Fail("gave up at step " + QString::number(step_)); });
    }

protected:
    // Answers the dialog in front, if any; True when it did.
    virtual bool AnswerDialog() = 0;
    void SetScript(std::vector<Step> script) { script_ = std::move(script); }

    QWidget* Window() const {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "TMainForm" && w->isVisible()) return w;
        return nullptr;
    }
    template <class T = QWidget>
    T* Control(const char* name) const {
        QWidget* w = Window();
        return w != nullptr ? w->findChild<T*>(name) : nullptr;
    }
    // Actions run from the event loop, so a message box they open does not block the polling.
    void Later(std::function<void()> action) {
        QMetaObject::invokeMethod(qApp, std::move(action), Qt::QueuedConnection);
    }
    void Log(const QString& line) {
        QFile log(QCoreApplication::applicationDirPath() + "/driver.log");
        if (log.open(QIODevice::Append | QIODevice::Text)) log.write((line + "\n").toUtf8());
    }
    void Fail(const QString& why) {
        Log("fail: " + why);
        QCoreApplication::exit(3);
    }
    // As the window system delivers a drop: the window takes the drag, then the drop.
    void DropFile(const QString& file, QPoint at) {
        Later([this, file, at] {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(file)});
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(Window(), &enter);
            QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(Window(), &drop);
        });
    }

private:
    static constexpr int PollMs = 20;

    void Poll() {
        if (AnswerDialog()) return;
        if (step_ >= script_.size()) return;
        const Step& s = script_[step_];
        if (Window() == nullptr || !s.ready()) return;
        Log(QString("step: ") + s.name);
        ++step_;
        s.act();
    }

    QTimer timer_;
    std::vector<Step> script_;
    size_t step_ = 0;
};

// The plugin of a driver: each plugin class adds only its Qt metadata.
template <class Driver>
class DriverPlugin : public QGenericPlugin {
public:
    QObject* create(const QString&, const QString& parameters) override {
        return new Driver(parameters);
    }
};
