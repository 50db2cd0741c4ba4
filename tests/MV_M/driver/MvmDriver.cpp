// A Qt input plugin that plays a user at the real programs, loaded through
// QT_QPA_GENERIC_PLUGINS=mvmdriver:<task>. Tasks:
//   button                         logs whether the window's movie maker button is enabled,
//                                  presses it and closes the window
//   make;<frame>;<movie>;<codec>[;after]
//                                  in mv_m: drops the frame file, makes the movie at the path,
//                                  raw (uncompressed) or a compressor's FourCC picked while
//                                  writing (with "after": picked to re-compress the finished
//                                  uncompressed movie), says No to running it and closes the
//                                  window once the make button's handler has returned
//   scan;<frame>                   in mv_m: drops the frame file, logs how long the folder took
//                                  to list ("scan: N File. in <ms> ms") and closes the window
// Every box it answers and the steps it takes go to driver.log beside the program, with
// "clock: <event> <ms>" lines (a monotonic clock) around the movie.
#include "../../driver/ProgramDriver.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QStatusBar>

namespace {

constexpr int GiveUpMs = 90000;

class Driver : public ProgramDriver {
public:
    explicit Driver(const QString& task) : ProgramDriver(GiveUpMs), args_(task.split(';')) {
        clock_.start();
        const QString kind = args_.value(0);
        SetScript(kind == "button" ? ButtonScript() : kind == "scan" ? ScanScript() : MakeScript());
    }

private:
    bool Enabled(const char* name) const {
        QWidget* w = Control(name);
        return w != nullptr && w->isEnabled();
    }
    QString Status() const {
        auto* bar = Control<QStatusBar>("StatusBar");
        return bar != nullptr ? bar->currentMessage() : QString();
    }
    // Message boxes: No to running the movie, otherwise Yes or OK. The save dialog: the movie's
    // path. Any other dialog: the compressor choice.
    bool AnswerDialog() override {
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
            if (accepted_ == files) return true;
            Log("save: " + args_.value(2));
            // Typed into the name field, as a user does: the dialog may still be listing its
            // folder, which resets a selection made through the API.
            if (auto* name = files->findChild<QLineEdit*>("fileNameEdit"))
                name->setText(args_.value(2));
            else
                files->selectFile(args_.value(2));
            // Queued: a box the dialog opens (replace the existing file?) must not block the
            // polling, which does not run again until this call returns.
            QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
            accepted_ = files;
            return true;
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            Log("dialog: " + dialog->windowTitle());
            // The compressor whose FourCC the task names (its data in the list).
            const QByteArray code = args_.value(3).toLatin1().leftJustified(4, ' ');
            const uint32_t fourCC = uint8_t(code[0]) | uint8_t(code[1]) << 8 |
                                    uint8_t(code[2]) << 16 | uint32_t(uint8_t(code[3])) << 24;
            if (auto* list = dialog->findChild<QComboBox*>()) {
                for (int i = 0; i < list->count(); ++i)
                    if (list->itemData(i).toUInt() == fourCC) list->setCurrentIndex(i);
                Log("compressor: " + list->currentText());
            }
            dialog->accept();
            return true;
        }
        return false;
    }

    void Clock(const char* event) { Log(QString("clock: %1 %2").arg(event).arg(clock_.elapsed())); }
    // "N File.": the scan is over.
    bool Listed() const {
        static const QRegularExpression done("^\\d+ File\\.$");
        return done.match(Status()).hasMatch();
    }

    void CloseWindow() {
        Later([this] { Window()->close(); });
    }

    std::vector<Step> ButtonScript() {
        return {{"start", [this] { return Window() != nullptr; },
                 [this] {
                     // The program the button starts inherits this task: it logs its own
                     // window, which has no such button, and closes.
                     auto* button = Control<QAbstractButton>("MVMSpeedButton");
                     Log(QString("movie maker button: ") +
                         (button == nullptr     ? "absent in " + Window()->windowTitle()
                          : button->isEnabled() ? "enabled"
                                                : "disabled"));
                     if (button != nullptr && button->isEnabled()) button->click();
                     CloseWindow();
                 }}};
    }

    // The drop is timed from its delivery to the status that ends the scan: checked right after
    // the drop and, should the scan go on in the background, at every poll.
    std::vector<Step> ScanScript() {
        return {
            {"start", [this] { return Window() != nullptr; },
             [this] {
                 Later([this] { dropped_ = clock_.elapsed(); });
                 DropFile(args_.value(1), QPoint(50, 50));
                 Later([this] { ScanOver(); });
             }},
            {"listed", [this] { return ScanOver(); }, [this] { CloseWindow(); }},
        };
    }
    bool ScanOver() {
        if (dropped_ < 0 || !Listed()) return false;
        if (!scanLogged_)
            Log(QString("scan: %1 in %2 ms").arg(Status()).arg(clock_.elapsed() - dropped_));
        scanLogged_ = true;
        return true;
    }

    std::vector<Step> MakeScript() {
        const bool raw = args_.value(3) == "raw";
        const bool after = args_.value(4) == "after";
        return {
            {"start", [this] { return Window() != nullptr; },
             [this] {
                 Clock("drop");
                 DropFile(args_.value(1), QPoint(50, 50));
             }},
            {"listed", [this] { return Enabled("MakeBitBtn"); },
             [this, raw, after] {
                 Clock("listed");
                 Log("status: " + Status());
                 Control<QCheckBox>("CompressCheckBox")->setChecked(!raw);
                 Control<QCheckBox>("PreCompressCheckBox")->setChecked(!raw && !after);
                 Later([this] {
                     Clock("make");
                     Control<QAbstractButton>("MakeBitBtn")->click();
                     Clock("made");
                     made_ = true;
                 });
             }},
            // The handler returns once the movie is done or given up, its boxes answered; the
            // first frame count shown is logged on the way, so a test can stop the program there.
            {"made",
             [this] {
                 static const QRegularExpression frameCount("\\(\\d+/\\d+\\)$");
                 if (!progressLogged_ && frameCount.match(Status()).hasMatch()) {
                     Log("status: " + Status());
                     progressLogged_ = true;
                 }
                 return made_;
             },
             [this] {
                 Log("status: " + Status());
                 CloseWindow();
             }},
        };
    }

    QStringList args_;
    QPointer<QFileDialog> accepted_;
    QElapsedTimer clock_;
    qint64 dropped_ = -1;
    bool scanLogged_ = false;
    bool made_ = false;
    bool progressLogged_ = false;
};

} // namespace

class MvmDriverPlugin : public DriverPlugin<Driver> {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "MvmDriver.json")
};

#include "MvmDriver.moc"
