// Picture import into the album, and the album window: listing, drawing, opening, deleting.
#include "AlbumFixture.h"
#include "MV_X/PictureFile.h"
#include "common/BitmapUtils.h"
#include "common/Qmlib2002.h"
#include "platform/forms/ControlCanvas.h"
#include "platform/rtl/Exceptions.h"

#include <QPainter>
#include <QScrollBar>
#include <QTest>

// ---------------------------------------------------------------- import

TEST_F(AlbumTest, ImportWritesTheEntryAndPlaysIt) {
    TMainForm& f = MakeForms();
    f.EkiChangeBitBtnClick();
    f.EkiChangeBitBtnClick();
    Access::Form(f).RTrackBar->SetPosition(7);
    auto picture = Pattern(401, 400);
    picture->SaveToFile(Dir() + "face.small.BMP");
    f.WMDropFiles(Dir() + "face.small.BMP");

    const std::string name = "MX20240131235959_face.small";
    EXPECT_EQ(Access::ImageName(f), name);
    EXPECT_EQ(f.windowTitle().toStdString(), name);
    EXPECT_EQ(AlbumFiles(),
              (std::vector<std::string>{name + ".bmp", name + ".msk", name + ".thu"}));
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry(name, ".bmp")), *picture));
    const auto mask = LoadBmp(Entry(name, ".msk"));
    EXPECT_EQ(mask->PixelFormat(), pf8bit);
    EXPECT_EQ(mask->Width(), 401);
    EXPECT_EQ(MaskBytes(*mask), std::vector<uint8_t>(401 * 400, ptHada));
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry(name, ".thu")), *ResampleBitmap(*picture, 100, 100)));

    // One notice, after the beep of a notice.
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, Notice);
    EXPECT_EQ(dialogs[0].type, mtInformation);
    EXPECT_EQ(dialogs[0].buttons, mbOK);
    EXPECT_EQ(beeps, std::vector<uint32_t>{64});

    // Playing with the spot's corner at the centre, new-entry options, no filter, same sprite.
    EXPECT_EQ(Access::Mode(f), 1);
    EXPECT_EQ(Access::PosX(f), 200);
    EXPECT_EQ(Access::PosY(f), 200);
    EXPECT_EQ(Options(), (std::vector<int>{3, 1, 1, 0, 1, 0}));
    EXPECT_EQ(Bars(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Access::EkiNo(f), 2);
    EXPECT_TRUE(SamePixels(Access::Screen(f), *picture));
    EXPECT_TRUE(SamePixels(Access::Trace(f), *picture));
    EXPECT_TRUE(SamePixels(Access::Base(f), *picture));
    EXPECT_EQ(Access::MaskView(f).Width(), 401);
    EXPECT_EQ(Access::MaskView(f).PixelFormat(), pf24bit);
    EXPECT_EQ(Names(), std::vector<std::string>{name});

    // A wide picture still gives a square thumbnail: squeezed, not letter-boxed.
    At(2024, 2, 1, 0, 0, 0);
    auto wide = Pattern(640, 120);
    wide->SaveToFile(Dir() + "wide.bmp");
    f.WMDropFiles(Dir() + "wide.bmp");
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry("MX20240201000000_wide", ".thu")),
                           *ResampleBitmap(*wide, 100, 100)));
    EXPECT_EQ(Names(), (std::vector<std::string>{"MX20240201000000_wide", name}));
}

TEST_F(AlbumTest, PngAndJpegPicturesGoThroughTheirDecoders) {
    TMainForm& f = MakeForms();
    fs::copy_file(PngSuiteFile("basn2c08.png"), Dir() + "FACE.PNG");
    f.WMDropFiles(Dir() + "FACE.PNG");
    EXPECT_EQ(Access::ImageName(f), "MX20240131235959_FACE");
    TBitmap png;
    ASSERT_TRUE(LoadPNGToBitmap(PngSuiteFile("basn2c08.png"), png));
    EXPECT_TRUE(SamePixels(Access::Image(f), png));
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry("MX20240131235959_FACE", ".bmp")), png));

    At(2024, 1, 31, 23, 59, 58);
    WriteJpeg(Dir() + "face.Jpeg", 37, 29);
    f.WMDropFiles(Dir() + "face.Jpeg");
    EXPECT_EQ(Access::ImageName(f), "MX20240131235958_face");
    const TBitmap& jpeg = Access::Image(f);
    ASSERT_EQ(jpeg.PixelFormat(), pf24bit);
    ASSERT_EQ(jpeg.Width(), 37);
    ASSERT_EQ(jpeg.Height(), 29);
    int worst = 0;
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 37; ++x) {
            const uint8_t* p = jpeg.ScanLine(y) + 3 * x;
            worst = std::max({worst, std::abs(p[2] - SmoothR(x, y)), std::abs(p[1] - SmoothG(x, y)),
                              std::abs(p[0] - SmoothB(x, y))});
        }
    EXPECT_LE(worst, 4);

    // ".jpg" in any case goes the same way.
    At(2024, 1, 31, 23, 59, 57);
    fs::copy_file(Dir() + "face.Jpeg", Dir() + "other.JPG");
    f.WMDropFiles(Dir() + "other.JPG");
    EXPECT_EQ(Access::ImageName(f), "MX20240131235957_other");
    EXPECT_EQ(Access::Image(f).Width(), 37);
}

TEST_F(AlbumTest, OnlyExistingPicturesAreImportedAndNotWhileEditingTheMask) {
    TMainForm& f = MakeForms();
    for (const char* name : {"face.gif", "face.jpe", "face", "face.bmp.txt"})
        Pattern(10, 10)->SaveToFile(Dir() + name);
    for (const char* name : {"face.gif", "face.jpe", "face", "face.bmp.txt", "missing.bmp"})
        Drop(Dir() + name);
    EXPECT_TRUE(AlbumFiles().empty());
    EXPECT_TRUE(dialogs.empty());
    EXPECT_EQ(Access::Mode(f), 0);

    // The mask editor open: nothing at all, not even the recording stops.
    Pattern(10, 10)->SaveToFile(Dir() + "face.bmp");
    Access::Mode(f) = 2;
    Access::Recording(f) = true;
    Drop(Dir() + "face.bmp");
    f.LoadBitBtnClick();
    EXPECT_TRUE(AlbumFiles().empty());
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(Access::Recording(f));
}

TEST_F(AlbumTest, ARecordingStopsBeforeTheExtensionIsLookedAt) {
    TMainForm& f = MakeForms();
    Ui::TMainForm& ui = Access::Form(f);
    std::ofstream(Dir() + "notes.txt") << "text";
    Access::Recording(f) = true;
    ui.RokugaBitBtn->setText("0002");
    Drop(Dir() + "notes.txt");
    EXPECT_FALSE(Access::Recording(f));
    EXPECT_EQ(ui.RokugaBitBtn->text().toStdString(), "録画");
    EXPECT_TRUE(AlbumFiles().empty());

    Access::Recording(f) = true;
    ImportAt("face.bmp", 1);
    EXPECT_FALSE(Access::Recording(f));
    EXPECT_EQ(Access::Mode(f), 1);
}

TEST_F(AlbumTest, UnreadablePicturesLeaveTheAlbumAndThePictureAsTheyWere) {
    TMainForm& f = MakeForms();
    // With nothing open yet, a broken PNG must not leave an entry made of an empty picture.
    std::ifstream in(PngSuiteFile("basn2c08.png"), std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(Dir() + "broken.png", std::ios::binary) << png.substr(0, png.size() / 2);
    Drop(Dir() + "broken.png");
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors()[0].text, "PNG ファイル " + Dir() + "broken.png を読み込めません.");
    EXPECT_TRUE(AlbumFiles().empty());
    EXPECT_EQ(Access::Mode(f), 0);

    const std::string good = ImportAt("good.bmp", 1);
    const auto files = AlbumFiles();
    const auto picture = Pattern(40, 30);
    WriteJpeg(Dir() + "whole.jpg", 37, 29);
    std::ifstream jin(Dir() + "whole.jpg", std::ios::binary);
    std::string jpeg((std::istreambuf_iterator<char>(jin)), {});
    std::ofstream(Dir() + "broken.jpg", std::ios::binary) << jpeg.substr(0, jpeg.size() / 3);
    std::ofstream(Dir() + "broken.bmp", std::ios::binary) << "BM not really a bitmap";
    dialogs.clear();
    for (int second = 2; second <= 4; ++second) {
        At(2024, 1, 31, 12, 0, second);
        Drop(Dir() + (second == 2 ? "broken.png" : second == 3 ? "broken.jpg" : "broken.bmp"));
    }
    ASSERT_EQ(Errors().size(), 3u);
    EXPECT_EQ(Errors()[2].text, "ビットマップイメージが不正です.");
    EXPECT_EQ(AlbumFiles(), files);
    EXPECT_EQ(Access::ImageName(f), good);
    EXPECT_EQ(Access::Mode(f), 1);
    EXPECT_TRUE(SamePixels(Access::Image(f), *picture));
    EXPECT_EQ(Names(), std::vector<std::string>{good});
}

TEST_F(AlbumTest, ImportsWithinOneSecondShareTheirEntry) {
    TMainForm& f = MakeForms();
    const std::string first = ImportAt("face.bmp", 9, 20, 20);
    const auto second = Solid(30, 10, 1, 2, 3);
    second->SaveToFile(Dir() + "face.bmp");
    f.WMDropFiles(Dir() + "face.bmp");
    EXPECT_EQ(Access::ImageName(f), first);
    EXPECT_EQ(AlbumFiles().size(), 3u);
    EXPECT_EQ(Names(), std::vector<std::string>{first});
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry(first, ".bmp")), *second));
}

TEST_F(AlbumTest, LoadButtonAsksForAPictureWithPreview) {
    TMainForm& f = MakeForms();
    Pattern(12, 8)->SaveToFile(Dir() + "face.bmp");
    std::string pick;
    SetDialogAnswerer([&](const DialogRequest& r) {
        dialogs.push_back(r);
        DialogAnswer a;
        a.modalResult = mrOk;
        a.accepted = !pick.empty() && r.kind == DialogRequest::OpenFile;
        a.fileName = pick;
        return a;
    });
    Access::Form(f).LoadBitBtn->click();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].kind, DialogRequest::OpenFile);
    EXPECT_TRUE(dialogs[0].picturePreview);
    EXPECT_EQ(dialogs[0].filterIndex, 1);
    EXPECT_EQ(dialogs[0].initialDir, "");
    EXPECT_EQ(dialogs[0].filter,
              "すべてのファイル (*.jpg;*.jpeg;*.bmp;*.png)|*.jpg;*.jpeg;*.bmp;*.png;|JPEG "
              "イメージファイル (*.jpg)|*.jpg|JPEG イメージファイル (*.jpeg)|*.jpeg|ビットマップ "
              "(*.bmp)|*.bmp|PNGファイル (*.png)|*.png");
    EXPECT_EQ(Access::Mode(f), 0);

    pick = Dir() + "face.bmp";
    Access::Form(f).LoadBitBtn->click();
    EXPECT_EQ(Access::ImageName(f), "MX20240131235959_face");
    EXPECT_EQ(Access::Screen(f).Width(), 12);
}

TEST_F(AlbumTest, PictureLoadingRuleMakesEveryPicture24Bit) {
    auto grey = Pattern(9, 5);
    grey->SetPixelFormat(pf8bit);
    grey->SaveToFile(Dir() + "grey.bmp");
    grey->SetPixelFormat(pf24bit);
    TBitmap bitmap;
    LoadPictureFile(Dir() + "grey.bmp", bitmap);
    EXPECT_TRUE(SamePixels(bitmap, *grey));
    WriteJpeg(Dir() + "face.jpeg", 16, 8);
    LoadPictureFile(Dir() + "face.jpeg", bitmap);
    EXPECT_EQ(bitmap.Width(), 16);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    // A failed PNG leaves the bitmap as it was.
    std::ofstream(Dir() + "bad.png") << "\x89PNG\r\n\x1a\n";
    EXPECT_THROW(LoadPictureFile(Dir() + "bad.png", bitmap), EInvalidGraphic);
    EXPECT_EQ(bitmap.Width(), 16);
    // Other extensions are read as Windows bitmaps.
    std::ofstream(Dir() + "face.gif") << "GIF89a";
    EXPECT_THROW(LoadPictureFile(Dir() + "face.gif", bitmap), EInvalidGraphic);
}

// ---------------------------------------------------------------- the album window

TEST_F(AlbumTest, WindowListsThumbnailsNewestFirst) {
    TMainForm& f = MakeForms();
    EXPECT_EQ(album->windowTitle().toStdString(), "アルバム");
    EXPECT_EQ(album->width(), 550);
    EXPECT_EQ(album->height(), 400);
    EXPECT_EQ(AlbumUi().AlbumListBox->ItemHeight(), 100);
    EXPECT_EQ(AlbumUi().DelBitBtn->text().toStdString(), "アルバムから削除 (&D)");
    EXPECT_EQ(AlbumUi().OpenBitBtn->text().toStdString(), "開く (&O)");
    EXPECT_EQ(AlbumUi().CloseBitBtn->text().toStdString(), "閉じる (&X)");

    const std::string a = ImportAt("a.bmp", 1);
    const std::string c = ImportAt("c.bmp", 3);
    const std::string b = ImportAt("b.bmp", 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{c, b, a}));
    ASSERT_EQ(AlbumUi().AlbumListBox->Count(), 3);
    EXPECT_EQ(AlbumUi().AlbumListBox->item(0)->text().toStdString(), "A");

    // Listed by thumbnail: a lone thumbnail counts, a lone picture and a folder do not; the
    // list changes only when it is refreshed, not when the window is shown.
    fs::copy_file(Entry(a, ".thu"), Album() + "MX20200101000000_lone.thu");
    fs::copy_file(Entry(a, ".bmp"), Album() + "MX20300101000000_nothumb.bmp");
    fs::create_directory(Album() + "MX20300101000000_folder.thu");
    f.LibBitBtnClick();
    EXPECT_TRUE(album->isVisible());
    EXPECT_EQ(Names().size(), 3u);
    AlbumUi().AlbumListBox->SetItemIndex(1);
    album->RefreshAlbum();
    EXPECT_EQ(Names(), (std::vector<std::string>{c, b, a, "MX20200101000000_lone"}));
    EXPECT_EQ(AlbumUi().AlbumListBox->ItemIndex(), -1);
}

TEST_F(AlbumTest, ItemShowsThumbnailFrameNameAndPath) {
    MakeForms();
    const std::string name = ImportAt("face.bmp", 5, 300, 200);
    const auto thumbnail = LoadBmp(Entry(name, ".thu"));
    fs::copy_file(Entry(name, ".thu"), Album() + "MXshort.thu");
    album->RefreshAlbum();
    ASSERT_EQ(Names(), (std::vector<std::string>{"MXshort", name}));

    const QColor brush(255, 255, 230);
    auto draw = [&](int index, TOwnerDrawState state) {
        QImage image(600, 101, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        TControlCanvas canvas(painter);
        canvas.Brush.Color = RGB(255, 255, 230);
        canvas.Font.Color = clBlack;
        album->AlbumListBoxDrawItem(canvas, index, Rect(0, 0, 600, 100), state);
        return image;
    };
    auto count = [](const QImage& image, QRect area, auto&& test) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += test(image.pixelColor(x, y));
        return n;
    };
    auto blue = [](QColor c) { return c.blue() > 200 && c.red() < 90 && c.green() < 90; };
    auto darkGrey = [](QColor c) {
        return std::abs(c.red() - c.green()) < 10 && std::abs(c.green() - c.blue()) < 40 &&
               c.red() < 160;
    };

    const QImage item = draw(1, 0);
    EXPECT_EQ(item.pixelColor(37, 61), QColor(thumbnail->PixelColor(37, 61) & 0xFF,
                                              (thumbnail->PixelColor(37, 61) >> 8) & 0xFF,
                                              (thumbnail->PixelColor(37, 61) >> 16) & 0xFF));
    // The frame: right of the thumbnail and below it, each without its end point.
    EXPECT_EQ(item.pixelColor(100, 0), QColor(102, 102, 102));
    EXPECT_EQ(item.pixelColor(100, 99), QColor(102, 102, 102));
    EXPECT_EQ(item.pixelColor(0, 100), QColor(102, 102, 102));
    EXPECT_EQ(item.pixelColor(99, 100), QColor(102, 102, 102));
    EXPECT_EQ(item.pixelColor(100, 100), QColor(Qt::white));
    // The text area is filled with the brush; nothing outside the item.
    EXPECT_EQ(item.pixelColor(590, 95), brush);
    EXPECT_EQ(item.pixelColor(590, 100), QColor(Qt::white));
    // The name after its time stamp in blue at the top, the picture's path in grey below.
    EXPECT_GT(count(item, QRect(104, 2, 300, 24), blue), 20);
    EXPECT_GT(count(item, QRect(124, 32, 470, 20), darkGrey), 20);
    EXPECT_EQ(count(item, QRect(101, 0, 499, 100), [](QColor c) { return c == Qt::black; }), 0);

    // Focused and selected: a dotted frame around the text area.
    const QImage focused = draw(1, odFocused | odSelected);
    EXPECT_GT(
        count(focused, QRect(110, 0, 480, 1), [](QColor c) { return c == QColor(128, 128, 128); }),
        100);

    // A name of 17 characters or fewer has no caption but still its path and thumbnail.
    const QImage shortName = draw(0, 0);
    EXPECT_EQ(count(shortName, QRect(104, 2, 300, 24), blue), 0);
    EXPECT_GT(count(shortName, QRect(124, 32, 470, 20), darkGrey), 20);
    EXPECT_EQ(shortName.pixelColor(100, 50), QColor(102, 102, 102));

    // A thumbnail that is not a bitmap raises after the texts were drawn.
    std::ofstream(Album() + "MXshort.thu", std::ios::trunc) << "junk";
    QImage broken(600, 101, QImage::Format_RGB32);
    broken.fill(Qt::white);
    {
        QPainter painter(&broken);
        TControlCanvas canvas(painter);
        EXPECT_THROW(album->AlbumListBoxDrawItem(canvas, 0, Rect(0, 0, 600, 100), 0),
                     EInvalidGraphic);
    }
    EXPECT_GT(count(broken, QRect(124, 32, 470, 20), darkGrey), 20);

    // The list itself paints its items this way.
    album->show();
    const QImage shot = AlbumUi().AlbumListBox->viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(100, 150), QColor(102, 102, 102));
}

TEST_F(AlbumTest, OpeningAnEntrySavesTheOpenOneFirst) {
    TMainForm& f = MakeForms();
    Ui::TMainForm& ui = Access::Form(f);
    const std::string a = ImportAt("a.bmp", 1, 64, 48);
    const std::string b = ImportAt("b.bmp", 2, 120, 90);
    Group("RyouRadioGroup").SetItemIndex(4);
    ui.RTrackBar->SetPosition(5);
    f.EkiChangeBitBtnClick();
    f.EkiChangeBitBtnClick();
    ui.ImageScrollBox->resize(50, 50);
    ui.ImageScrollBox->horizontalScrollBar()->setValue(20);
    f.EmitDrops(10, 10, 0, 0, 0, 3);

    Select(a);
    AlbumUi().OpenBitBtn->click();
    EXPECT_TRUE(FileExists(Entry(b, ".ini")));
    EXPECT_FALSE(FileExists(Entry(a, ".ini")));
    EXPECT_EQ(Access::ImageName(f), a);
    EXPECT_EQ(f.windowTitle().toStdString(), a);
    EXPECT_EQ(Access::Mode(f), 1);
    EXPECT_EQ(Access::Screen(f).Width(), 64);
    EXPECT_EQ(Access::PosX(f), 32);
    EXPECT_EQ(Access::PosY(f), 24);
    EXPECT_EQ(ui.ImageScrollBox->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(Access::Drop(f, 0).State, 0);
    EXPECT_EQ(Access::Mask(f).PixelFormat(), pf8bit);
    EXPECT_EQ(MaskBytes(Access::Mask(f)), std::vector<uint8_t>(64 * 48, ptHada));
    EXPECT_EQ(Options(), (std::vector<int>{3, 1, 1, 0, 1, 0}));
    EXPECT_EQ(Bars(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Access::EkiNo(f), 2); // a new entry keeps the sprite

    // Double click opens as the button does, and brings back what b was left with.
    album->show();
    Select(b);
    const QRect r = AlbumUi().AlbumListBox->visualItemRect(AlbumUi().AlbumListBox->item(0));
    QTest::mouseDClick(AlbumUi().AlbumListBox->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(Access::ImageName(f), b);
    EXPECT_TRUE(FileExists(Entry(a, ".ini")));
    EXPECT_EQ(Options()[0], 4);
    EXPECT_EQ(Bars(), (std::vector<int>{0, 5, 0, 0}));
    EXPECT_EQ(Access::EkiNo(f), 2);

    // Enter opens too; opening the open entry again reloads it and wipes drops and traces.
    f.EmitDrops(10, 10, 0, 0, 0, 3);
    Access::Trace(f).Canvas().SetPixels(1, 1, clRed);
    AlbumUi().AlbumListBox->setFocus();
    Select(b);
    QTest::keyClick(AlbumUi().AlbumListBox, Qt::Key_Return);
    EXPECT_EQ(Access::Drop(f, 0).State, 0);
    EXPECT_TRUE(SamePixels(Access::Trace(f), Access::Image(f)));

    // Esc anywhere in the window closes it.
    QTest::keyClick(AlbumUi().OpenBitBtn, Qt::Key_Escape);
    EXPECT_FALSE(album->isVisible());

    // Nothing opens while the mask editor is open or nothing is selected.
    Access::Mode(f) = 2;
    Select(a);
    AlbumUi().OpenBitBtn->click();
    EXPECT_EQ(Access::ImageName(f), b);
    Access::Mode(f) = 1;
    AlbumUi().AlbumListBox->SetItemIndex(-1);
    AlbumUi().OpenBitBtn->click();
    EXPECT_EQ(Access::ImageName(f), b);
}

TEST_F(AlbumTest, OpeningAnEntryWithoutPictureReportsTheFile) {
    TMainForm& f = MakeForms();
    const std::string a = ImportAt("a.bmp", 1);
    fs::copy_file(Entry(a, ".thu"), Album() + "MX20200101000000_lone.thu");
    album->RefreshAlbum();
    Access::Recording(f) = true;
    Select("MX20200101000000_lone");
    dialogs.clear();
    AlbumUi().OpenBitBtn->click();
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors()[0].text, "ファイル " + Album() + "MX20200101000000_lone.bmp は開けません.");
    // What came before the failing step stays done.
    EXPECT_FALSE(Access::Recording(f));
    EXPECT_TRUE(FileExists(Entry(a, ".ini")));
    EXPECT_EQ(Access::ImageName(f), a);
}

TEST_F(AlbumTest, DeletingAnEntry) {
    TMainForm& f = MakeForms();
    const std::string a = ImportAt("a.bmp", 1);
    // The last entry cannot be deleted: no question.
    dialogs.clear();
    Select(a);
    AlbumUi().DelBitBtn->click();
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(FileExists(Entry(a, ".bmp")));

    const std::string b = ImportAt("b.bmp", 2);
    const std::string c = ImportAt("c.bmp", 3);
    std::ofstream(Entry(a, ".ini")) << "[EKI]\r\nRYOU=4\r\n";
    dialogs.clear();
    beeps.clear();
    answers = {mrNo};
    Select(a);
    AlbumUi().DelBitBtn->click();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, a + "\r\nアルバムから削除しますか?");
    EXPECT_EQ(dialogs[0].type, mtConfirmation);
    EXPECT_EQ(dialogs[0].buttons, mbYesNo);
    EXPECT_EQ(beeps, std::vector<uint32_t>{32});
    EXPECT_EQ(Names().size(), 3u);

    // Another entry than the open one: its four files go, the player is untouched.
    answers = {mrYes};
    Select(a);
    AlbumUi().DelBitBtn->click();
    for (const char* ext : {".bmp", ".msk", ".thu", ".ini"})
        EXPECT_FALSE(FileExists(Entry(a, ext))) << ext;
    EXPECT_EQ(Names(), (std::vector<std::string>{c, b}));
    EXPECT_EQ(AlbumUi().AlbumListBox->ItemIndex(), -1);
    EXPECT_EQ(Access::ImageName(f), c);

    // The open entry: the first listed opens, and nothing is saved for the deleted one.
    Group("RyouRadioGroup").SetItemIndex(0);
    answers = {mrYes};
    Select(c);
    AlbumUi().DelBitBtn->click();
    EXPECT_FALSE(FileExists(Entry(c, ".ini")));
    EXPECT_FALSE(FileExists(Entry(c, ".bmp")));
    EXPECT_EQ(Names(), std::vector<std::string>{b});
    EXPECT_EQ(Access::ImageName(f), b);
    EXPECT_EQ(Access::Mode(f), 1);

    // Not while the mask editor is open.
    ImportAt("d.bmp", 4);
    Access::Mode(f) = 2;
    dialogs.clear();
    Select(b);
    AlbumUi().DelBitBtn->click();
    EXPECT_TRUE(dialogs.empty());
}
