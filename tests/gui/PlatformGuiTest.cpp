// The GUI platform layer: application object, dialogs facade, controls, system services.
#include "platform/forms/BitmapImage.h"
#include "platform/forms/ControlCanvas.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/forms/ListBox.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/Exceptions.h"
#include "platform/win/KeyState.h"
#include "platform/win/MMSystem.h"
#include "platform/win/ShellApi.h"
#include "platform/win/WinBase.h"

#include <QMimeData>
#include <QPainter>
#include <QRadioButton>
#include <QTest>
#include <QWidget>
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
    EXPECT_TRUE(PicturePreview(dir + "broken.bmp", 160, 160).isNull());
    EXPECT_TRUE(PicturePreview(dir + "missing.jpg", 160, 160).isNull());
    EXPECT_TRUE(PicturePreview(dir, 160, 160).isNull());
}

TEST_F(GuiTest, ControlCanvasDrawsLinesTextAndPictures) {
    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        TControlCanvas canvas(painter);
        canvas.Pen.Color = clBlue;
        canvas.MoveTo(2, 2);
        canvas.LineTo(12, 2);
        canvas.LineTo(12, 7);
        EXPECT_EQ(canvas.PenPos, Point(12, 7));
        canvas.Brush.Color = clLime;
        canvas.FillRect(Rect(20, 0, 25, 3));
        canvas.Brush.Style = bsClear;
        canvas.FillRect(Rect(30, 0, 35, 3));
        TBitmap dot;
        dot.SetPixelFormat(pf24bit);
        dot.SetSize(2, 2);
        dot.Canvas().Brush.Color = clRed;
        dot.Canvas().FillRect(Rect(0, 0, 2, 2));
        canvas.Draw(40, 0, dot);
        canvas.Font.Color = clBlack;
        canvas.Font.Size = 12;
        canvas.TextOut(2, 12, "ア");
    }
    // Lines leave out their end points.
    EXPECT_EQ(image.pixelColor(2, 2), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(11, 2), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(12, 6), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(12, 7), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(24, 2), QColor(0, 255, 0));
    EXPECT_EQ(image.pixelColor(25, 2), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(31, 1), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(41, 1), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(42, 1), QColor(Qt::white));
    // The text lies below and right of its point, within a 16-pixel cell.
    int dark = 0, outside = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) {
            const bool ink = image.pixelColor(x, y).red() < 100;
            const bool inCell = x >= 2 && x < 20 && y >= 12 && y < 36;
            dark += ink && inCell;
            outside += ink && !inCell && y > 8;
        }
    EXPECT_GT(dark, 10);
    EXPECT_EQ(outside, 0);
}

TEST_F(GuiTest, OwnerDrawnListBoxDrawsItemsOfItsHeight) {
    TListBox list;
    list.resize(200, 250);
    list.SetItemHeight(100);
    for (int i = 0; i < 3; ++i)
        list.AddItem("A");
    std::vector<std::pair<int, TRect>> drawn;
    list.OnDrawItem = [&](TControlCanvas& canvas, int index, TRect rect, TOwnerDrawState state) {
        drawn.emplace_back(index, rect);
        canvas.Brush.Color = (state & odSelected) ? clRed : clBlue;
        canvas.FillRect(rect);
    };
    list.show();
    list.SetItemIndex(1);
    EXPECT_EQ(list.ItemIndex(), 1);
    const QImage shot = list.viewport()->grab().toImage();
    ASSERT_GE(drawn.size(), 2u);
    EXPECT_EQ(drawn[0].first, 0);
    EXPECT_EQ(drawn[0].second.Height(), 100);
    EXPECT_EQ(drawn[1].second.Top, drawn[0].second.Top + 100);
    EXPECT_EQ(shot.pixelColor(50, 50), QColor(0, 0, 255));
    EXPECT_EQ(shot.pixelColor(50, 150), QColor(255, 0, 0));

    // Enter arrives as character 13; a double click is reported.
    std::vector<int> keys;
    int doubleClicks = 0;
    QObject::connect(&list, &TListBox::KeyPress, [&](char& key) { keys.push_back(key); });
    QObject::connect(&list, &TListBox::DblClick, [&] { ++doubleClicks; });
    QTest::keyClick(&list, Qt::Key_Return);
    QTest::keyClick(&list, Qt::Key_A);
    EXPECT_EQ(keys, (std::vector<int>{13, 'a'}));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, QPoint(50, 20));
    EXPECT_EQ(doubleClicks, 1);

    list.ClearItems();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ItemIndex(), -1);
}

TEST_F(GuiTest, AnItemThatFailsToDrawIsReportedOnceAfterThePainting) {
    TListBox list;
    list.resize(200, 250);
    list.SetItemHeight(100);
    list.AddItem("A");
    list.OnDrawItem = [](TControlCanvas&, int, TRect, TOwnerDrawState) {
        throw EInvalidGraphic("ビットマップイメージが不正です");
    };
    list.show();
    list.viewport()->grab();
    EXPECT_TRUE(requests.empty());
    App().ProcessMessages();
    list.viewport()->grab();
    App().ProcessMessages();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].type, mtError);
    EXPECT_EQ(requests[0].text, "ビットマップイメージが不正です.");
    // A new list of items may report again.
    list.ClearItems();
    list.AddItem("A");
    App().ProcessMessages(); // the new items are laid out
    list.viewport()->grab();
    App().ProcessMessages();
    EXPECT_EQ(requests.size(), 2u);
}

TEST_F(GuiTest, FiltersBecomeQtNameFilters) {
    EXPECT_EQ(QtNameFilters("すべて (*.jpg;*.bmp)|*.jpg;*.bmp;|ビットマップ (*.bmp)|*.bmp"),
              "すべて (*.jpg;*.bmp) (*.jpg *.bmp);;ビットマップ (*.bmp) (*.bmp)");
    EXPECT_EQ(QtNameFilters(""), "");
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
    SetShellExecuteOverride([&](const ShellRequest& r) { shell.push_back(r); });
    EXPECT_GT(ShellExecute(nullptr, "Open", "https://example.org/", "", "", SW_SHOW), 32);
    SetShellExecuteOverride({});
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0].file, "https://example.org/");
    EXPECT_EQ(ShellExecute(nullptr, "Open", "/nonexistent/file.chm", "", "", SW_SHOW), 2);
}
