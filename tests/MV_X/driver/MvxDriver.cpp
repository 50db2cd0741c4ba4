// A Qt input plugin that plays a user at the real mv_x program: loaded through
// QT_QPA_GENERIC_PLUGINS=mvxdriver:<picture>, it drops the picture on the window, records a few
// frames, paints a stroke in the mask editor, saves the mask and closes the window, answering
// every message box on the way. What it sees goes to driver.log beside the program.
#define QTEST_QPA_MOUSE_HANDLING
#include "../../driver/ProgramDriver.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

constexpr int GiveUpMs = 45000;
constexpr int FramesToRecord = 4;

class Driver : public ProgramDriver {
public:
    explicit Driver(QString picture) : ProgramDriver(GiveUpMs), picture_(std::move(picture)) {
        SetScript(Script());
    }

private:
    QString Text(const char* button) const {
        auto* b = Control<QAbstractButton>(button);
        return b != nullptr ? b->text() : QString();
    }
    void Click(const char* button) {
        Later([this, button] {
            if (auto* b = Control<QAbstractButton>(button)) b->click();
        });
    }

    // Yes where there is a Yes, otherwise OK.
    bool AnswerDialog() override {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return false;
        Log("box: " + box->text().replace("\r\n", "|"));
        QAbstractButton* answer = box->button(QMessageBox::Yes);
        if (answer == nullptr) answer = box->button(QMessageBox::Ok);
        if (answer != nullptr) answer->click();
        return true;
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
            {"start", [this] { return Window() != nullptr; },
             [this] { DropFile(picture_, QPoint(100, 100)); }},
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

    QString picture_;
};

} // namespace

class MvxDriverPlugin : public DriverPlugin<Driver> {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "MvxDriver.json")
};

#include "MvxDriver.moc"
