// The GUI platform layer: application object, dialogs facade, controls, system services.
#include "platform/forms/BitmapImage.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/forms/ListBox.h"
#include "platform/forms/Progress.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/Exceptions.h"
#include "platform/win/KeyState.h"
#include "platform/win/MMSystem.h"
#include "platform/win/ShellApi.h"
#include "platform/win/WinBase.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TApplication& App() {
    static int argc = 1;
    static char name[] = "test_gui";
    static char* argv[] = {name, nullptr};
    static auto* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new TApplication(argc, argv);
    }();
    return *app;
}

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        App().Title = "Test Title";
        SetDialogAnswerer([this](const DialogRequest& r) {
            requests.push_back(r);
            DialogAnswer a;
            a.modalResult = answer;
            a.accepted = !file.empty();
            a.fileName = file;
            return a;
        });
        SetMessageBeepOverride([this](uint32_t t) { beeps.push_back(t); });
    }
    void TearDown() override {
        SetDialogAnswerer({});
        SetMessageBeepOverride({});
        App().SetOnIdle({});
    }
    std::vector<DialogRequest> requests;
    std::vector<uint32_t> beeps;
    int answer = mrOk;
    std::string file;
};

} // namespace

TEST_F(GuiTest, QuestionsAndNoticesBeepFailuresDoNot) {
    answer = mrYes;
    EXPECT_TRUE(AskYesNo("Really?"));
    answer = mrNo;
    EXPECT_FALSE(AskYesNo("Really?"));
    NoticeBox("Done");
    InformationBox("Started");
    ErrorBox("Broken");
    EXPECT_EQ(beeps, (std::vector<uint32_t>{32, 32, 64}));
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].type, mtConfirmation);
    EXPECT_EQ(requests[0].buttons, mbYesNo);
    EXPECT_EQ(requests[0].caption, "Test Title");
    EXPECT_EQ(requests[2].type, mtInformation);
    EXPECT_EQ(requests[2].buttons, mbOK);
    EXPECT_EQ(requests[4].type, mtError);
}

TEST_F(GuiTest, AFileSizeLimitFailsWritesRatherThanEndingTheProgram) {
    App();
    struct sigaction action {};
    ASSERT_EQ(sigaction(SIGXFSZ, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_IGN);
}

TEST_F(GuiTest, ErrorBoxAddsAFullStopAfterLettersOnly) {
    EXPECT_EQ(ErrorBoxText("Cannot open"), "Cannot open.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Why!"), "Why!");
    EXPECT_EQ(ErrorBoxText("ビットマップイメージが不正です"), "ビットマップイメージが不正です.");
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST_F(GuiTest, ExceptionsInHandlersAndIdleReachTheDefaultErrorBox) {
    Guarded([] { throw EInvalidGraphic("Bad picture"); });
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].text, "Bad picture.");
    EXPECT_EQ(requests[0].type, mtError);
    EXPECT_EQ(requests[0].caption, "Test Title");

    int calls = 0;
    App().SetOnIdle([&](TObject*, bool& done) {
        ++calls;
        done = false;
        throw std::runtime_error("idle failed");
    });
    App().DoIdle();
    App().DoIdle();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].text, "idle failed.");
}

TEST_F(GuiTest, IdleRunsFromTheMessageLoopUntilDone) {
    int calls = 0;
    App().SetOnIdle([&](TObject*, bool& done) { done = ++calls >= 3; });
    for (int i = 0; i < 20; ++i)
        App().ProcessMessages();
    EXPECT_EQ(calls, 3); // Done: waits for the next message
    EXPECT_TRUE(App().HasIdleHandler());
}

TEST_F(GuiTest, FileDialogsGoThroughTheFacade) {
    TOpenPictureDialog open;
    open.Filter = "ビットマップ (*.bmp)|*.bmp|PNGファイル (*.png)|*.png";
    file = "/tmp/picked.png";
    EXPECT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName, "/tmp/picked.png");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, DialogRequest::OpenFile);
    EXPECT_EQ(requests[0].filter, open.Filter);
    EXPECT_TRUE(requests[0].picturePreview);
    file.clear();
    TSaveDialog save;
    save.FileName = "MVX_Movie";
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(save.FileName, "MVX_Movie");
    EXPECT_EQ(requests[1].kind, DialogRequest::SaveFile);
    EXPECT_FALSE(requests[1].picturePreview);
}

TEST_F(GuiTest, PicturePreviewShrinksKeepingTheAspectAndRefusesBrokenFiles) {
    const std::string dir = ::testing::TempDir();
    TBitmap wide;
    wide.SetPixelFormat(pf24bit);
    wide.SetSize(400, 100);
    wide.Canvas().Brush.Color = clRed;
    wide.Canvas().FillRect(Rect(0, 0, 400, 100));
    wide.SaveToFile(dir + "wide.bmp");
    const QImage big = PicturePreview(dir + "wide.bmp", 160, 160);
    EXPECT_EQ(big.size(), QSize(160, 40));
    EXPECT_EQ(big.pixelColor(80, 20), QColor(255, 0, 0));
    wide.SetSize(30, 20);
    wide.SaveToFile(dir + "small.bmp");
    EXPECT_EQ(PicturePreview(dir + "small.bmp", 160, 160).size(), QSize(30, 20));
    std::ofstream(dir + "broken.bmp") << "BM?";
    for (const std::string& bad : {dir + "broken.bmp", dir + "missing.jpg", dir})
        EXPECT_TRUE(PicturePreview(bad, 160, 160).isNull()) << bad;
}

// Items are drawn by the form's handler on a canvas over the list; a failing item is shown
// after the painting, once until the items are rebuilt, so the box cannot repaint itself into
// another box.
TEST_F(GuiTest, OwnerDrawnListBoxDrawsItemsAndReportsAFailureOnce) {
    TListBox list;
    list.resize(200, 250);
    list.SetItemHeight(100);
    for (int i = 0; i < 3; ++i)
        list.AddItem("A");
    list.OnDrawItem = [&](TControlCanvas& canvas, int, TRect rect, TOwnerDrawState state) {
        canvas.Brush.Color = (state & odSelected) ? clRed : clBlue;
        canvas.FillRect(rect);
    };
    list.show();
    list.SetItemIndex(1);
    const QImage shot = list.viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(50, 99), QColor(0, 0, 255));
    EXPECT_EQ(shot.pixelColor(50, 100), QColor(255, 0, 0));

    list.OnDrawItem = [](TControlCanvas&, int, TRect, TOwnerDrawState) {
        throw EInvalidGraphic("ビットマップイメージが不正です");
    };
    for (int round = 0; round < 2; ++round) {
        list.viewport()->grab();
        EXPECT_TRUE(round > 0 || requests.empty());
        App().ProcessMessages();
    }
    ASSERT_EQ(requests.size(), 3u); // one per item
    EXPECT_EQ(requests[0].text, "ビットマップイメージが不正です.");
    list.ClearItems();
    EXPECT_EQ(list.ItemIndex(), -1);
    list.AddItem("A");
    App().ProcessMessages();
    list.viewport()->grab();
    App().ProcessMessages();
    EXPECT_EQ(requests.size(), 4u);
}

TEST_F(GuiTest, FiltersBecomeQtNameFilters) {
    // A description that ends with its patterns does not get them twice.
    EXPECT_EQ(QtNameFilters("すべて (*.jpg;*.bmp)|*.jpg;*.bmp;|ビットマップ (*.bmp)|*.bmp"),
              "すべて (*.jpg *.bmp);;ビットマップ (*.bmp)");
    EXPECT_EQ(QtNameFilters("AVI ファイル (*.avi)|*.avi|(*.png)|*.png|絵 (bmp)|*.bmp"),
              "AVI ファイル (*.avi);;(*.png);;絵 (bmp) (*.bmp)");
    EXPECT_EQ(QtNameFilters(""), "");
}

// The real save dialog, offscreen, typed into: a folder's name and Enter open the folder and
// bring the start name back; the name and Enter then give it with the default extension.
TEST_F(GuiTest, SaveDialogOpensATypedFolderAndAddsTheExtensionToAFile) {
    SetDialogAnswerer({});
    App();
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkdir("clips"));
    const QString clips = root.filePath("clips");
    TSaveDialog save;
    save.Filter = "AVI ファイル (*.avi)|*.avi";
    save.DefaultExt = "avi";
    save.InitialDir = root.path().toStdString();
    save.FileName = "MVX_Movie";
    QStringList filters;
    std::string afterFolder, typedAfterFolder;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        edit->selectAll();
        QTest::keyClicks(edit, "clips");
        QTest::keyClick(edit, Qt::Key_Return);
        afterFolder = dialog->directory().absolutePath().toStdString();
        typedAfterFolder = edit->text().toStdString();
        QTest::keyClick(edit, Qt::Key_Return);
        if (dialog->isVisible()) dialog->reject();
    });
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(filters, QStringList{"AVI ファイル (*.avi)"});
    EXPECT_EQ(afterFolder, clips.toStdString());
    EXPECT_EQ(typedAfterFolder, "MVX_Movie");
    EXPECT_EQ(save.FileName, (clips + "/MVX_Movie.avi").toStdString());
}

TEST_F(GuiTest, RadioGroupKeepsItsIndexInRangeAndReportsChanges) {
    App();
    TRadioGroup group;
    int clicks = 0;
    QObject::connect(&group, &TRadioGroup::Click, [&] { ++clicks; });
    group.SetItems({"a", "b", "c"});
    group.SetItemIndex(9);
    EXPECT_EQ(group.ItemIndex(), 2);
    EXPECT_TRUE(group.Button(2)->isChecked());
    group.SetItemIndex(-5);
    EXPECT_EQ(group.ItemIndex(), -1);
    EXPECT_FALSE(group.Button(2)->isChecked());
    EXPECT_EQ(clicks, 2);
    group.SetItemIndex(-1);
    EXPECT_EQ(clicks, 2);
    group.show();
    QTest::mouseClick(group.Button(1), Qt::LeftButton);
    EXPECT_EQ(group.ItemIndex(), 1);
    EXPECT_EQ(clicks, 3);
}

TEST_F(GuiTest, TrackBarChangesOnlyWhenThePositionMoves) {
    App();
    TTrackBar bar;
    bar.setRange(0, 20);
    int changes = 0;
    QObject::connect(&bar, &TTrackBar::Change, [&] { ++changes; });
    bar.SetPosition(0);
    EXPECT_EQ(changes, 0);
    bar.SetPosition(30);
    EXPECT_EQ(bar.Position(), 20);
    bar.SetPosition(20);
    EXPECT_EQ(changes, 1);
}

TEST_F(GuiTest, SpeedButtonsOfAGroupAreExclusive) {
    App();
    QWidget parent;
    TSpeedButton a(&parent), b(&parent), other(&parent);
    a.SetGroupIndex(1);
    b.SetGroupIndex(1);
    other.SetGroupIndex(2);
    a.SetDown(true);
    other.SetDown(true);
    b.SetDown(true);
    EXPECT_FALSE(a.Down());
    EXPECT_TRUE(b.Down());
    EXPECT_TRUE(other.Down());
    parent.show();
    QTest::mouseClick(&b, Qt::LeftButton); // clicking the down button keeps it down
    EXPECT_TRUE(b.Down());
    int clicks = 0;
    QObject::connect(&a, &QToolButton::clicked, [&] { ++clicks; });
    a.setEnabled(false);
    a.Click();
    EXPECT_EQ(clicks, 1);
}

TEST_F(GuiTest, PictureControlReportsMouseInPicturePixels) {
    App();
    TImage image;
    image.resize(50, 40);
    std::vector<int> seen;
    QObject::connect(&image, &TImage::MouseDown, [&](TMouseButton b, TShiftState s, int x, int y) {
        seen = {b, static_cast<int>(s & ssShift), x, y};
    });
    int doubles = 0;
    QObject::connect(&image, &TImage::DblClick, [&] { ++doubles; });
    image.show();
    QTest::mouseClick(&image, Qt::RightButton, Qt::ShiftModifier, QPoint(7, 9));
    EXPECT_EQ(seen, (std::vector<int>{mbRight, static_cast<int>(ssShift), 7, 9}));
    QTest::mouseDClick(&image, Qt::LeftButton, {}, QPoint(3, 4));
    EXPECT_EQ(doubles, 1);
    // A failing handler goes to the error box, not through Qt.
    QObject::connect(&image, &TImage::MouseMove,
                     [](TShiftState, int, int) { throw EConvertError("x"); });
    QTest::mouseMove(&image, QPoint(10, 10));
    EXPECT_FALSE(requests.empty());
}

TEST_F(GuiTest, BitmapsAndQtImagesShareTheirPixels) {
    App();
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    image.setPixel(2, 1, qRgb(200, 100, 50));
    TBitmap bitmap;
    AssignQImage(bitmap, image);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(bitmap.PixelColor(2, 1), RGB(200, 100, 50));
    EXPECT_EQ(bitmap.PixelColor(0, 0), RGB(10, 20, 30));
    const QImage shown = BitmapToQImage(bitmap);
    EXPECT_EQ(shown.constBits(), bitmap.ScanLine(0));
    EXPECT_EQ(shown.pixel(2, 1), qRgb(200, 100, 50));
    bitmap.SetPixelFormat(pf8bit);
    const TColor c = bitmap.PixelColor(0, 0); // the palette's nearest colour
    EXPECT_EQ(BitmapToQImage(bitmap).pixel(0, 0), qRgb(GetRValue(c), GetGValue(c), GetBValue(c)));
}

// A part of a picture is handed over without a copy, and painting a part of the control
// shows exactly the bitmap's pixels there, for 24-bit and converted bitmaps alike.
TEST_F(GuiTest, PartsOfAPictureAreShownFromTheBitmap) {
    App();
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40 * 3; ++x)
            bitmap.ScanLine(y)[x] = static_cast<uint8_t>(x * 7 + y * 13);
    const QRect part(5, 7, 20, 10);
    const QImage window = BitmapToQImage(bitmap, part);
    EXPECT_EQ(window.constBits(), bitmap.ScanLine(7) + 3 * 5);
    EXPECT_EQ(window.size(), part.size());
    EXPECT_EQ(window.pixel(3, 2), BitmapToQImage(bitmap).pixel(8, 9));

    TImage image;
    image.resize(40, 30);
    for (const TPixelFormat format : {pf24bit, pf8bit}) {
        bitmap.SetPixelFormat(format);
        image.Picture().Bitmap().Assign(&bitmap);
        const QImage whole = BitmapToQImage(bitmap).convertToFormat(QImage::Format_RGB32);
        const QImage shown = image.grab(part).toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shown.size(), part.size());
        for (int y = 0; y < part.height(); ++y)
            for (int x = 0; x < part.width(); ++x)
                ASSERT_EQ(shown.pixel(x, y), whole.pixel(part.x() + x, part.y() + y)) << x << y;
    }
}

TEST_F(GuiTest, SystemServicesHaveTestOverrides) {
    SetKeyStateOverride([](int vk) { return vk == VK_SHIFT; });
    EXPECT_LT(GetKeyState(VK_SHIFT), 0);
    EXPECT_EQ(GetKeyState(VK_LBUTTON), 0);
    SetKeyStateOverride({});
    EXPECT_EQ(GetKeyState(VK_RBUTTON), 0);

    SetTimeGetTimeOverride([] { return 1234u; });
    EXPECT_EQ(timeGetTime(), 1234u);
    SetTimeGetTimeOverride({});
    const uint32_t t0 = timeGetTime();
    Sleep(5);
    EXPECT_GE(timeGetTime() - t0, 5u);

    std::vector<ShellRequest> shell;
    SetShellExecuteOverride([&](const ShellRequest& r) {
        shell.push_back(r);
        return ShellSuccess;
    });
    EXPECT_GT(ShellExecute(nullptr, "Open", "https://example.org/", "", "", SW_SHOW), 32);
    SetShellExecuteOverride({});
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0].file, "https://example.org/");
    EXPECT_EQ(ShellExecute(nullptr, "Open", "/nonexistent/file.chm", "", "", SW_SHOW), 2);
}

TEST_F(GuiTest, ProgressWindowIsCentredModelessAndItsButtonAborts) {
    int aborts = 0;
    auto window =
        ShowProgressWindow({"進行状況", "圧縮ＡＶＩファイル作成中...", "中断"}, [&] { ++aborts; });
    QWidget* w = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->windowTitle() == QString("進行状況")) w = top;
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(w->size(), QSize(200, 80));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((w->frameGeometry().center() - screen.center()).manhattanLength(), 4);
    auto* label = w->findChild<QLabel*>("Label1");
    auto* abort = w->findChild<QPushButton*>("Abort1");
    auto* bar = w->findChild<QProgressBar*>("ProgressBar1");
    ASSERT_TRUE(label && abort && bar);
    EXPECT_EQ(label->text(), QString("圧縮ＡＶＩファイル作成中..."));
    EXPECT_EQ(label->pos(), QPoint(8, 8));
    EXPECT_EQ(abort->text(), QString("中断"));
    EXPECT_EQ(abort->geometry(), QRect(64, 48, 72, 24));
    EXPECT_EQ(bar->geometry(), QRect(20, 24, 160, 16));
    EXPECT_EQ(std::pair(bar->minimum(), bar->maximum()), std::pair(0, 100));
    window->SetPosition(40);
    EXPECT_EQ(bar->value(), 40);
    abort->click();
    EXPECT_EQ(aborts, 1);
    window.reset();
    const QWidgetList tops = QApplication::topLevelWidgets();
    EXPECT_TRUE(std::none_of(tops.begin(), tops.end(), [](QWidget* t) { return t->isVisible(); }));
}

// A desktop with no launcher and no browser: opening a page or a document is a failure.
TEST(PlatformGuiTest, ShellReportsWhatTheDesktopCannotOpen) {
    App();
    const QByteArray path = qgetenv("PATH"), browser = qgetenv("BROWSER");
    const QTemporaryDir empty;
    qputenv("PATH", empty.path().toUtf8());
    qunsetenv("BROWSER");
    QFile document(empty.filePath("help.chm"));
    ASSERT_TRUE(document.open(QIODevice::WriteOnly));
    document.close();
    EXPECT_LE(ShellExecute(nullptr, "Open", "https://example.org/", "", "", SW_SHOW), 32);
    EXPECT_LE(ShellExecute(nullptr, "Open", document.fileName().toStdString(), "", "", SW_SHOW),
              32);
    qputenv("PATH", path);
    if (!browser.isEmpty()) qputenv("BROWSER", browser);
}

// A source that proposes a move (Shift held) gets a copy: answered "move", a file manager
// deletes the dragged original.
TEST(PlatformGuiTest, FileDropsAreAcceptedAsCopiesOnly) {
    App();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.bmp")});
    const auto actions = Qt::MoveAction | Qt::CopyAction;
    QDragEnterEvent enter({1, 1}, actions, &files, Qt::LeftButton, Qt::ShiftModifier);
    QDragMoveEvent move({2, 2}, actions, &files, Qt::LeftButton, Qt::ShiftModifier);
    QDropEvent drop({2, 2}, actions, &files, Qt::LeftButton, Qt::ShiftModifier);
    ASSERT_EQ(drop.proposedAction(), Qt::MoveAction);
    AcceptFileDrag(enter);
    AcceptFileDrag(move);
    EXPECT_EQ(AcceptFileDrop(drop), "/tmp/a.bmp");
    for (const QDropEvent* e : std::initializer_list<const QDropEvent*>{&enter, &move, &drop}) {
        EXPECT_TRUE(e->isAccepted());
        EXPECT_EQ(e->dropAction(), Qt::CopyAction);
    }
}

// Enter presses the focused push button as Space does; line edits and a dialog's default
// button keep Enter as they had it.
TEST(PlatformGuiTest, EnterPressesTheFocusedPushButton) {
    App();
    QWidget window;
    auto* button = new QPushButton("OK", &window);
    auto* edit = new QLineEdit(&window);
    int clicks = 0, returns = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    QObject::connect(edit, &QLineEdit::returnPressed, [&] { ++returns; });
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(button, Qt::Key_Space);
    QTest::keyClick(button, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(clicks, 3);
    button->setEnabled(false);
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(clicks, 3);
    EXPECT_EQ(returns, 1);

    QDialog dialog;
    auto* ok = new QPushButton("OK", &dialog);
    auto* cancel = new QPushButton("Cancel", &dialog);
    auto* field = new QLineEdit(&dialog);
    ok->setDefault(true);
    dialog.show();
    int oks = 0, cancels = 0;
    QObject::connect(ok, &QPushButton::clicked, [&] { ++oks; });
    QObject::connect(cancel, &QPushButton::clicked, [&] { ++cancels; });
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(cancel, Qt::Key_Return);
    EXPECT_EQ(oks, 1);
    EXPECT_EQ(cancels, 1);
}
