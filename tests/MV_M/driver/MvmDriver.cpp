// A Qt input plugin that plays a user at the real programs, loaded through
// QT_QPA_GENERIC_PLUGINS=mvmdriver:<task>. Tasks:
//   button                         in mv_x: logs whether the movie maker button is enabled
//   make;<frame>;<movie>;<codec>   in mv_m: drops the frame file, makes the movie at the path,
//                                  raw (uncompressed) or a compressor's FourCC picked while
//                                  writing, says No to running it and closes the window
// Every box it answers and the steps it takes go to driver.log beside the program.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGenericPlugin>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

namespace {

constexpr int PollMs = 20;
constexpr int GiveUpMs = 90000;

class Driver : public QObject {
public:
    explicit Driver(const QString& task) : args_(task.split(';')) {
        connect(&timer_, &QTimer::timeout, this, &Driver::Poll);
        timer_.start(PollMs);
        QTimer::singleShot(GiveUpMs, this,
                           [this] { Fail("gave up at step " + QString::number(step_)); });
        script_ = args_.value(0) == "button" ? ButtonScript() : MakeScript();
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
    bool Enabled(const char* name) const {
        QWidget* w = Control(name);
        return w != nullptr && w->isEnabled();
    }
    QString Status() const {
        auto* bar = Control<QStatusBar>("StatusBar");
        return bar != nullptr ? bar->currentMessage() : QString();
    }
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

    // Message boxes: No to running the movie, otherwise Yes or OK. The save dialog: the movie's
    // path. Any other dialog: the compressor choice.
    bool AnswerDialog() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) return false;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            const QString text = box->text().replace("\r\n", "|");
            Log("box: " + text);
            QAbstractButton* answer = text.startsWith("現在作成したファイルを実行しますか?")
                                          ? box->button(QMessageBox::No)
                                          : box->button(QMessageBox::Yes);
            if (answer == nullptr) answer = box->button(QMessageBox::Ok);
            if (answer != nullptr) answer->click();
            return true;
        }
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            Log("save: " + args_.value(2));
            files->selectFile(args_.value(2));
            files->accept();
            return true;
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            Log("compressor: " + dialog->windowTitle());
            if (auto* list = dialog->findChild<QComboBox*>()) {
                for (int i = 0; i < list->count(); ++i)
                    if (list->itemText(i).contains(args_.value(3), Qt::CaseInsensitive))
                        list->setCurrentIndex(i);
            }
            dialog->accept();
            return true;
        }
        return false;
    }

    void Drop(const QString& file) {
        Later([this, file] {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(file)});
            QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::NoButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(Window(), &enter);
            QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(Window(), &drop);
        });
    }
    void CloseWindow() {
        Later([this] { Window()->close(); });
    }

    std::vector<Step> ButtonScript() {
        return {{"start", [this] { return Window() != nullptr; },
                 [this] {
                     Log(QString("movie maker button: ") +
                         (Enabled("MVMSpeedButton") ? "enabled" : "disabled"));
                     CloseWindow();
                 }}};
    }

    std::vector<Step> MakeScript() {
        const bool raw = args_.value(3) == "raw";
        return {
            {"start", [this] { return Window() != nullptr; }, [this] { Drop(args_.value(1)); }},
            {"listed", [this] { return Enabled("MakeBitBtn"); },
             [this, raw] {
                 Log("status: " + Status());
                 Control<QCheckBox>("CompressCheckBox")->setChecked(!raw);
                 Control<QCheckBox>("PreCompressCheckBox")->setChecked(!raw);
                 Later([this] { Control<QAbstractButton>("MakeBitBtn")->click(); });
             }},
            {"made", [this] { return Status().endsWith(" : 完了."); },
             [this] {
                 Log("status: " + Status());
                 CloseWindow();
             }},
        };
    }

    void Poll() {
        if (AnswerDialog()) return;
        if (step_ >= script_.size()) return;
        const Step& s = script_[step_];
        if (Window() == nullptr || !s.ready()) return;
        Log(QString("step: ") + s.name);
        ++step_;
        s.act();
    }

    QStringList args_;
    QTimer timer_;
    std::vector<Step> script_;
    size_t step_ = 0;
};

} // namespace

class MvmDriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "MvmDriver.json")
public:
    QObject* create(const QString&, const QString& parameters) override {
        return new Driver(parameters);
    }
};

#include "MvmDriver.moc"
