// A Qt input plugin that plays a user at the real mv_x program: loaded through
// QT_QPA_GENERIC_PLUGINS=mvxdriver:<picture>, it drops the picture on the window, records a few
// frames, paints a stroke in the mask editor, saves the mask and closes the window, answering
// every message box on the way. What it sees goes to driver.log beside the program.
#define QTEST_QPA_MOUSE_HANDLING
#include <QAbstractButton>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QGenericPlugin>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

namespace {

constexpr int PollMs = 20;
constexpr int GiveUpMs = 45000;
constexpr int FramesToRecord = 4;

class Driver : public QObject {
public:
    explicit Driver(QString picture) : picture_(std::move(picture)) {
        connect(&timer_, &QTimer::timeout, this, &Driver::Poll);
        timer_.start(PollMs);
        QTimer::singleShot(GiveUpMs, this,
                           [this] { Fail("gave up at step " + QString::number(step_)); });
    }

private:
    struct Step {
        const char* name;
        std::function<bool()> ready;
        std::function<void()> act;
    };

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
    QString Text(const char* button) const {
        auto* b = Control<QAbstractButton>(button);
        return b != nullptr ? b->text() : QString();
    }
    // Actions run from the event loop, so a message box they open does not block the polling.
    void Later(std::function<void()> action) {
        QMetaObject::invokeMethod(qApp, std::move(action), Qt::QueuedConnection);
    }
    void Click(const char* button) {
        Later([this, button] {
            if (auto* b = Control<QAbstractButton>(button)) b->click();
        });
    }

    void Log(const QString& line) {
        QFile log(QCoreApplication::applicationDirPath() + "/driver.log");
        if (log.open(QIODevice::Append | QIODevice::Text)) log.write((line + "\n").toUtf8());
    }
    void Fail(const QString& why) {
        Log("fail: " + why);
        QCoreApplication::exit(3);
    }

    // Yes where there is a Yes, otherwise OK.
    bool AnswerBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return false;
        Log("box: " + box->text().replace("\r\n", "|"));
        QAbstractButton* answer = box->button(QMessageBox::Yes);
        if (answer == nullptr) answer = box->button(QMessageBox::Ok);
        if (answer != nullptr) answer->click();
        return true;
    }

    void Drop() {
        Later([this] {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(picture_)});
            // As the window system delivers it: the window takes the drag, then the drop.
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::NoButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(Window(), &enter);
            QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(Window(), &drop);
        });
    }

    void Stroke() {
        QWidget* image = Control("Image");
        QTest::keyClick(Window(), Qt::Key_Q);
        QTest::mousePress(image, Qt::LeftButton, {}, QPoint(10, 10));
        // The press draws nothing; the stroke starts at the first move.
        QTest::mouseMove(image, QPoint(12, 10));
        QTest::mouseMove(image, QPoint(30, 10));
        QTest::mouseMove(image, QPoint(30, 25));
        QTest::mouseRelease(image, Qt::LeftButton, {}, QPoint(30, 25));
        Log("stroke");
    }

    std::vector<Step> Script() {
        return {
            {"start", [this] { return Window() != nullptr; }, [this] { Drop(); }},
            {"imported", [this] { return Window()->windowTitle().startsWith("MX"); },
             [this] { Click("RokugaBitBtn"); }},
            {"recorded", [this] { return Text("RokugaBitBtn").toInt() >= FramesToRecord - 1; },
             [this] { Click("RokugaBitBtn"); }},
            {"stopped", [this] { return Text("RokugaBitBtn") == "録画"; },
             [this] { Click("MaskEditBitBtn"); }},
            {"editing", [this] { return Text("MaskEditBitBtn") == "完了"; }, [this] { Stroke(); }},
            {"painted", [] { return true; }, [this] { Click("MaskEditBitBtn"); }},
            {"saved", [this] { return Text("MaskEditBitBtn") == "編集"; },
             [this] { Later([this] { Window()->close(); }); }},
        };
    }

    void Poll() {
        if (AnswerBox()) return;
        if (step_ >= script_.size()) return;
        const Step& s = script_[step_];
        if (Window() == nullptr || !s.ready()) return;
        Log(QString("step: ") + s.name);
        ++step_;
        s.act();
    }

    QString picture_;
    QTimer timer_;
    std::vector<Step> script_ = Script();
    size_t step_ = 0;
};

} // namespace

class MvxDriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "MvxDriver.json")
public:
    QObject* create(const QString&, const QString& parameters) override {
        return new Driver(parameters);
    }
};

#include "MvxDriver.moc"
