// Picture import into the album, and the album window: listing, drawing, opening, deleting.
#include "AlbumFixture.h"
#include "common/BitmapUtils.h"
#include "common/Qmlib2002.h"
#include "platform/forms/ControlCanvas.h"
#include "platform/rtl/Exceptions.h"

#include <QPainter>
#include <QScrollBar>
#include <QTest>

TEST_F(AlbumTest, ImportWritesTheEntryAndPlaysIt) {
    TMainForm& f = MakeForms();
    f.EkiChangeBitBtnClick();
    Access::Form(f).RTrackBar->SetPosition(7);
    const auto picture = Pattern(401, 400);
    picture->SaveToFile(Dir() + "face.small.BMP");
    f.WMDropFiles(Dir() + "face.small.BMP");

    const std::string name = "MX20240131120059_face.small";
    EXPECT_EQ(Access::ImageName(f), name);
    EXPECT_EQ(f.windowTitle().toStdString(), name);
    EXPECT_EQ(AlbumFiles(),
              (std::vector<std::string>{name + ".bmp", name + ".msk", name + ".thu"}));
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry(name, ".bmp")), *picture));
    auto skin = Solid(401, 400, 0, 0, 0);
    skin->SetPixelFormat(pf8bit);
    TMainForm::FillMaskBitmap(*skin, ptHada);
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry(name, ".msk")), *skin));
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry(name, ".thu")), *ResampleBitmap(*picture, 100, 100)));
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text.rfind("画像ファイルをアルバムにコピーしました.\r\n次回", 0), 0u);
    EXPECT_EQ(beeps, std::vector<uint32_t>{64});

    // Playing from the centre with a new entry's options, no filter and the same sprite.
    EXPECT_EQ(Access::Mode(f), mdPlaying);
    EXPECT_EQ(Access::PosX(f), 200);
    EXPECT_EQ(Access::PosY(f), 200);
    EXPECT_EQ(Options(), (std::vector<int>{3, 1, 1, 0, 1, 0}));
    EXPECT_EQ(Bars(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Access::EkiNo(f), 1);
    EXPECT_TRUE(SamePixels(Access::Screen(f), *picture));
    EXPECT_TRUE(SamePixels(Access::Base(f), *picture));
    EXPECT_EQ(Access::MaskView(f).Width(), 401);
    EXPECT_EQ(Names(), std::vector<std::string>{name});

    // Within the same second the entry is overwritten, not doubled.
    Solid(30, 10, 1, 2, 3)->SaveToFile(Dir() + "face.small.BMP");
    f.WMDropFiles(Dir() + "face.small.BMP");
    EXPECT_EQ(AlbumFiles().size(), 3u);
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry(name, ".bmp")), *Solid(30, 10, 1, 2, 3)));
}

TEST_F(AlbumTest, PngAndJpegPicturesGoThroughTheirDecoders) {
    TMainForm& f = MakeForms();
    const std::string png = std::string(MV_TESTDATA_DIR) + "/pngsuite/png/basn2c08.png";
    fs::copy_file(png, Dir() + "FACE.PNG");
    f.WMDropFiles(Dir() + "FACE.PNG");
    TBitmap decoded;
    ASSERT_TRUE(LoadPNGToBitmap(png, decoded));
    EXPECT_TRUE(SamePixels(*LoadBmp(Entry("MX20240131120059_FACE", ".bmp")), decoded));

    At(58);
    WriteJpeg(Dir() + "face.Jpeg", 37, 29);
    f.WMDropFiles(Dir() + "face.Jpeg");
    EXPECT_EQ(Access::ImageName(f), "MX20240131120058_face");
    const TBitmap& jpeg = Access::Image(f);
    ASSERT_EQ(jpeg.Width(), 37);
    for (int y = 0; y < 29; ++y)
        for (int i = 0; i < 37 * 3; ++i)
            ASSERT_NEAR(jpeg.ScanLine(y)[i], Smooth(i / 3, y, 2 - i % 3), 4);
}

TEST_F(AlbumTest, WhatIsNotImported) {
    TMainForm& f = MakeForms();
    for (const char* name : {"face.gif", "face.jpe", "face", "face.bmp.txt"})
        Pattern(10, 10)->SaveToFile(Dir() + name);
    // Any file of another kind still ends a recording.
    Access::Recording(f) = true;
    Access::Form(f).RokugaBitBtn->setText("0002");
    for (const char* name : {"face.gif", "face.jpe", "face", "face.bmp.txt", "missing.bmp"})
        Drop(Dir() + name);
    EXPECT_FALSE(Access::Recording(f));
    EXPECT_EQ(Access::Form(f).RokugaBitBtn->text().toStdString(), "録画");
    EXPECT_TRUE(AlbumFiles().empty());
    EXPECT_TRUE(dialogs.empty());

    // The mask editor open: nothing at all, not even the dialog or a recording stop.
    Pattern(10, 10)->SaveToFile(Dir() + "face.bmp");
    Access::Mode(f) = mdMaskEditing;
    Access::Recording(f) = true;
    Drop(Dir() + "face.bmp");
    f.LoadBitBtnClick();
    EXPECT_TRUE(AlbumFiles().empty());
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(Access::Recording(f));
}

TEST_F(AlbumTest, UnreadablePicturesLeaveTheAlbumAndThePictureAsTheyWere) {
    TMainForm& f = MakeForms();
    WriteBrokenPictures();
    // Nothing open yet: the failed PNG must not become an entry of an empty picture.
    Drop(Dir() + "broken.png");
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors()[0].rfind("PNG ファイル " + Dir() + "broken.png を読み込めません: ", 0), 0u);
    EXPECT_TRUE(AlbumFiles().empty());

    const std::string good = ImportAt("good.bmp", 1);
    const auto files = AlbumFiles();
    dialogs.clear();
    for (const char* name : {"broken.png", "broken.jpg", "broken.bmp"}) {
        At(static_cast<int>(dialogs.size()) + 10);
        Drop(Dir() + name);
    }
    ASSERT_EQ(Errors().size(), 3u);
    EXPECT_EQ(Errors()[2], "ビットマップファイル " + Dir() +
                               "broken.bmp を読み込めません: ビットマップイメージが不正です.");
    EXPECT_EQ(AlbumFiles(), files);
    EXPECT_EQ(Access::ImageName(f), good);
    EXPECT_TRUE(SamePixels(Access::Image(f), *Pattern(40, 30)));
}

TEST_F(AlbumTest, LoadButtonAsksForAPictureWithPreview) {
    TMainForm& f = MakeForms();
    Pattern(12, 8)->SaveToFile(Dir() + "face.bmp");
    std::string pick;
    SetDialogAnswerer([&](const DialogRequest& r) {
        dialogs.push_back(r);
        return DialogAnswer{mrOk, !pick.empty(), pick};
    });
    Access::Form(f).LoadBitBtn->click();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_TRUE(dialogs[0].picturePreview);
    EXPECT_EQ(dialogs[0].filter.rfind("すべてのファイル (*.jpg;*.jpeg;*.bmp;*.png)|", 0), 0u);
    EXPECT_EQ(Access::Mode(f), mdNoPicture);
    pick = Dir() + "face.bmp";
    Access::Form(f).LoadBitBtn->click();
    EXPECT_EQ(Access::ImageName(f), "MX20240131120059_face");
}

TEST_F(AlbumTest, WindowListsThumbnailsNewestFirst) {
    TMainForm& f = MakeForms();
    EXPECT_EQ(album->windowTitle().toStdString(), "アルバム");
    EXPECT_EQ(album->size(), QSize(550, 400));
    const std::string a = ImportAt("a.bmp", 1);
    const std::string c = ImportAt("c.bmp", 3);
    const std::string b = ImportAt("b.bmp", 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{c, b, a}));
    EXPECT_EQ(AlbumUi().AlbumListBox->item(2)->text().toStdString(), "A");

    // Only thumbnails count, also without a picture; folders do not. Showing the window does
    // not refresh the list.
    fs::copy_file(Entry(a, ".thu"), Album() + "MX20200101000000_lone.thu");
    fs::copy_file(Entry(a, ".bmp"), Album() + "MX20300101000000_nothumb.bmp");
    fs::create_directory(Album() + "MX20300101000000_folder.thu");
    f.LibBitBtnClick();
    EXPECT_TRUE(album->isVisible());
    EXPECT_EQ(Names().size(), 3u);
    Select(b);
    album->RefreshAlbum();
    EXPECT_EQ(Names(), (std::vector<std::string>{c, b, a, "MX20200101000000_lone"}));
    EXPECT_EQ(AlbumUi().AlbumListBox->ItemIndex(), -1);
}

TEST_F(AlbumTest, ItemShowsThumbnailFrameNameAndPath) {
    MakeForms();
    const std::string name = ImportAt("face.bmp", 5, 300, 200);
    fs::copy_file(Entry(name, ".thu"), Album() + "MXshort.thu");
    album->RefreshAlbum();
    auto draw = [&](int index, TOwnerDrawState state) {
        QImage image(600, 101, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        TControlCanvas canvas(painter);
        canvas.Brush.Color = RGB(255, 255, 230);
        album->AlbumListBoxDrawItem(canvas, index, Rect(0, 0, 600, 100), state);
        return image;
    };
    // Pixels in an area: blue ones of the caption, grey ones of the path.
    auto count = [](const QImage& image, QRect area, bool blue) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                n += blue ? c.blue() > 200 && c.red() < 90
                          : c.red() < 160 && c.red() == c.green() && c.red() == c.blue();
            }
        return n;
    };
    const QRect caption(104, 2, 300, 24), path(124, 32, 470, 20);

    const QImage item = draw(1, 0);
    const TColor t = LoadBmp(Entry(name, ".thu"))->PixelColor(37, 61);
    EXPECT_EQ(item.pixelColor(37, 61), QColor(GetRValue(t), GetGValue(t), GetBValue(t)));
    // The frame right of and below the thumbnail, without end points.
    for (QPoint p : {QPoint(100, 0), QPoint(100, 99), QPoint(0, 100), QPoint(99, 100)})
        EXPECT_EQ(item.pixelColor(p), QColor(102, 102, 102)) << p.x() << "," << p.y();
    EXPECT_EQ(item.pixelColor(100, 100), QColor(Qt::white));
    EXPECT_EQ(item.pixelColor(590, 95), QColor(255, 255, 230));
    EXPECT_GT(count(item, caption, true), 20);
    EXPECT_GT(count(item, path, false), 20);
    EXPECT_EQ(count(item, QRect(110, 0, 480, 1), false), 0);
    // Focused and selected: a dotted frame around the text area.
    EXPECT_GT(count(draw(1, odFocused | odSelected), QRect(110, 0, 480, 1), false), 100);
    // A name of 17 characters or fewer has no caption but still a path and a thumbnail.
    const QImage shortName = draw(0, 0);
    EXPECT_EQ(count(shortName, caption, true), 0);
    EXPECT_GT(count(shortName, path, false), 20);
    EXPECT_EQ(shortName.pixelColor(100, 50), QColor(102, 102, 102));
    // A thumbnail that is not a bitmap raises.
    std::ofstream(Album() + "MXshort.thu", std::ios::trunc) << "junk";
    EXPECT_THROW(draw(0, 0), EInvalidGraphic);

    // Selected: the texts in the highlight's text colour, readable on the highlight.
    QImage selected(600, 101, QImage::Format_RGB32);
    {
        QPainter painter(&selected);
        TControlCanvas canvas(painter);
        canvas.Brush.Color = RGB(48, 140, 198);
        canvas.Font.Color = RGB(255, 255, 255);
        album->AlbumListBoxDrawItem(canvas, 1, Rect(0, 0, 600, 100), odSelected);
    }
    int white = 0, blue = 0;
    for (const QRect& area : {caption, path})
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = selected.pixelColor(x, y);
                white += c.red() > 230;
                blue += c.blue() > 240 && c.red() < 30;
            }
    EXPECT_GT(white, 60);
    EXPECT_EQ(blue, 0);

    // The list paints its items this way.
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
    ui.ImageScrollBox->resize(50, 50);
    ui.ImageScrollBox->horizontalScrollBar()->setValue(20);
    Access::Drops(f).EmitDrops(10, 10, 0, 0, 0, 3);

    Open(a);
    EXPECT_TRUE(FileExists(Entry(b, ".ini")));
    EXPECT_EQ(Access::ImageName(f), a);
    EXPECT_EQ(f.windowTitle().toStdString(), a);
    EXPECT_EQ(Access::Mode(f), mdPlaying);
    EXPECT_TRUE(SamePixels(Access::Screen(f), *Pattern(64, 48)));
    EXPECT_EQ(Access::Mask(f).PixelFormat(), pf8bit);
    EXPECT_EQ(Access::PosX(f), 32);
    EXPECT_EQ(ui.ImageScrollBox->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(Access::Drop(f, 0).State, 0);
    EXPECT_EQ(Options()[0], 3);

    // Double click and Enter open as the button does; the same entry again is reloaded.
    album->show();
    Select(b);
    const QRect r = AlbumUi().AlbumListBox->visualItemRect(AlbumUi().AlbumListBox->item(0));
    QTest::mouseDClick(AlbumUi().AlbumListBox->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(Access::ImageName(f), b);
    EXPECT_TRUE(FileExists(Entry(a, ".ini")));
    EXPECT_EQ(Options()[0], 4);
    Access::Trace(f).Canvas().SetPixels(1, 1, clRed);
    Select(b);
    QTest::keyClick(AlbumUi().AlbumListBox, Qt::Key_Return);
    EXPECT_TRUE(SamePixels(Access::Trace(f), Access::Image(f)));

    // Esc anywhere in the window closes it.
    QTest::keyClick(AlbumUi().OpenBitBtn, Qt::Key_Escape);
    EXPECT_FALSE(album->isVisible());
    // Nothing opens in the mask editor or without a selection.
    Access::Mode(f) = mdMaskEditing;
    Open(a);
    Access::Mode(f) = mdPlaying;
    Open("none");
    EXPECT_EQ(Access::ImageName(f), b);

    // A thumbnail without its picture: the file error, and the earlier steps stay done.
    fs::copy_file(Entry(a, ".thu"), Album() + "MX20200101000000_lone.thu");
    album->RefreshAlbum();
    fs::remove(Entry(b, ".ini"));
    Access::Recording(f) = true;
    dialogs.clear();
    Open("MX20200101000000_lone");
    EXPECT_EQ(Errors(), std::vector<std::string>{"ファイル " + Album() +
                                                 "MX20200101000000_lone.bmp は開けません."});
    EXPECT_FALSE(Access::Recording(f));
    EXPECT_TRUE(FileExists(Entry(b, ".ini")));
    EXPECT_EQ(Access::ImageName(f), b);
}

TEST_F(AlbumTest, AMaskThatDoesNotFitItsPictureIsFittedOnOpening) {
    TMainForm& f = MakeForms();
    const std::string a = ImportAt("a.bmp", 1, 40, 30);
    const std::string b = ImportAt("b.bmp", 2, 20, 20);
    // a's mask replaced by a smaller one painted with eyes.
    TBitmap small;
    small.SetWidth(10);
    small.SetHeight(8);
    small.SetPixelFormat(pf8bit);
    TMainForm::FillMaskBitmap(small, ptMe);
    small.SaveToFile(Entry(a, ".msk"));

    Open(a);
    const TBitmap& mask = Access::Mask(f);
    ASSERT_EQ(mask.Width(), 40);
    ASSERT_EQ(mask.Height(), 30);
    EXPECT_EQ(mask.PixelFormat(), pf8bit);
    EXPECT_EQ(mask.ScanLine(7)[9], ptMe);
    EXPECT_EQ(mask.ScanLine(7)[10], ptHada);
    EXPECT_EQ(mask.ScanLine(29)[0], ptHada);

    // A missing mask: the error box, and the open entry stays whole.
    fs::remove(Entry(b, ".msk"));
    dialogs.clear();
    Open(b);
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Access::ImageName(f), a);
    EXPECT_EQ(Access::Image(f).Width(), 40);
    EXPECT_EQ(Access::Mask(f).Width(), 40);
}

TEST_F(AlbumTest, DeletingAnEntry) {
    TMainForm& f = MakeForms();
    const std::string a = ImportAt("a.bmp", 1);
    dialogs.clear();
    // The last entry cannot be deleted: no question.
    Select(a);
    AlbumUi().DelBitBtn->click();
    EXPECT_TRUE(dialogs.empty());

    const std::string b = ImportAt("b.bmp", 2);
    const std::string c = ImportAt("c.bmp", 3);
    std::ofstream(Entry(a, ".ini")) << "[EKI]\r\nRYOU=4\r\n";
    dialogs.clear();
    beeps.clear();
    answers = {mrNo, mrYes};
    Select(a);
    AlbumUi().DelBitBtn->click();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, a + "\r\nアルバムから削除しますか?");
    EXPECT_EQ(dialogs[0].buttons, mbYesNo);
    EXPECT_EQ(beeps, std::vector<uint32_t>{32});
    EXPECT_EQ(Names().size(), 3u);
    // Yes: the four files go; the player keeps the open entry.
    Select(a);
    AlbumUi().DelBitBtn->click();
    for (const char* ext : {".bmp", ".msk", ".thu", ".ini"})
        EXPECT_FALSE(FileExists(Entry(a, ext))) << ext;
    EXPECT_EQ(Names(), (std::vector<std::string>{c, b}));
    EXPECT_EQ(AlbumUi().AlbumListBox->ItemIndex(), -1);
    EXPECT_EQ(Access::ImageName(f), c);

    // The open entry: the first listed opens, and nothing is saved for the deleted one.
    answers = {mrYes};
    Select(c);
    AlbumUi().DelBitBtn->click();
    EXPECT_FALSE(FileExists(Entry(c, ".ini")));
    EXPECT_EQ(Names(), std::vector<std::string>{b});
    EXPECT_EQ(Access::ImageName(f), b);

    // Not while the mask editor is open.
    ImportAt("d.bmp", 4);
    Access::Mode(f) = mdMaskEditing;
    dialogs.clear();
    Select(b);
    AlbumUi().DelBitBtn->click();
    EXPECT_TRUE(dialogs.empty());
}

// A damaged mask (on opening) and a damaged thumbnail (when the list paints it) name the file.
TEST_F(AlbumTest, DamagedMaskAndThumbnailBoxesNameTheFile) {
    MakeForms();
    const std::string a = ImportAt("a.bmp", 1);
    const std::string b = ImportAt("b.bmp", 2);
    const auto invalid = [&](const std::string& file) {
        return "ビットマップファイル " + file + " を読み込めません: ビットマップイメージが不正です";
    };
    std::ofstream(Entry(a, ".msk"), std::ios::trunc) << "BM junk";
    dialogs.clear();
    Open(a);
    EXPECT_EQ(Errors(), std::vector<std::string>{invalid(Entry(a, ".msk")) + "."});
    EXPECT_EQ(Access::ImageName(*form), b);

    std::ofstream(Entry(a, ".thu"), std::ios::trunc) << "BM junk";
    QImage image(600, 101, QImage::Format_RGB32);
    QPainter painter(&image);
    TControlCanvas canvas(painter);
    try {
        album->AlbumListBoxDrawItem(canvas, 1, Rect(0, 0, 600, 100), 0);
        ADD_FAILURE() << "painted";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), invalid(Entry(a, ".thu")));
    }
}
