// The player from picture to recorded frames: in process through the window's own controls with
// a scripted clock, and once as the real program started headless in a program folder of its own.
#include "AlbumFixture.h"

#include <QProcess>
#include <QTest>

class EndToEndTest : public AlbumTest {};

TEST_F(EndToEndTest, ImportPaintSaveAndRecordEveryFrameAsShown) {
    TMainForm& f = MakeForms();
    Ui::TMainForm& ui = Access::Form(f);
    f.show();
    Pattern(120, 90)->SaveToFile(Dir() + "face.bmp");
    SetDialogAnswerer([&](const DialogRequest& r) {
        dialogs.push_back(r);
        return DialogAnswer{mrYes, r.kind == DialogRequest::OpenFile, Dir() + "face.bmp"};
    });
    auto click = [&](int x, int y) {
        keysDown = {VK_LBUTTON};
        QTest::mousePress(ui.Image, Qt::LeftButton, {}, QPoint(x, y));
        keysDown = {};
        QTest::mouseRelease(ui.Image, Qt::LeftButton, {}, QPoint(x, y));
    };
    ui.LoadBitBtn->click();
    const std::string name = Access::ImageName(f);

    // Hair across the picture at row 10, clothes filled in above it, saved.
    ui.MaskEditBitBtn->click();
    QTest::keyClick(&f, Qt::Key_Q);
    keysDown = {VK_LBUTTON};
    QTest::mousePress(ui.Image, Qt::LeftButton, {}, QPoint(0, 10));
    for (const int x : {1, 60, 119})
        QTest::mouseMove(ui.Image, QPoint(x, 10));
    keysDown = {};
    QTest::mouseRelease(ui.Image, Qt::LeftButton, {}, QPoint(119, 10));
    QTest::keyClick(&f, Qt::Key_D);
    QTest::keyClick(&f, Qt::Key_V);
    click(50, 3);
    ui.MaskEditBitBtn->click();
    ASSERT_EQ(Access::Mode(f), mdPlaying);
    const auto mask = LoadBmp(Entry(name, ".msk"));
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x)
            ASSERT_EQ(mask->ScanLine(y)[x], y < 9    ? ptFuku
                                            : y < 12 ? ptKami
                                                     : ptHada)
                << x << "," << y;

    // Recording while drops are shot by hand and by the automatic emission, which aims at the
    // pointer held over the clothes.
    ui.RokugaBitBtn->click();
    const std::string take = Access::RecordDir(f);
    const QPoint pointer = ui.Image->mapToGlobal(QPoint(40, 4));
    cursor = Point(pointer.x(), pointer.y());
    QTest::keyClick(&f, Qt::Key_1);
    std::vector<std::unique_ptr<TBitmap>> shown;
    for (int frame = 0; frame < 60; ++frame) {
        if (frame % 15 == 0) click(20 + frame, 5 + frame);
        clock += 40;
        TestApplication().DoIdle();
        shown.push_back(std::make_unique<TBitmap>());
        shown.back()->Assign(&Access::Screen(f));
    }
    ui.RokugaBitBtn->click();

    ASSERT_EQ(std::distance(fs::directory_iterator(take), fs::directory_iterator()), 60);
    int changes = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        ASSERT_TRUE(SamePixels(*LoadBmp(take + Format("%.4d", int(i)) + ".bmp"), *shown[i])) << i;
        changes += i > 0 && !SamePixels(*shown[i], *shown[i - 1]);
    }
    EXPECT_GT(changes, 50);
    // The drops ran by the saved mask: some drip on the clothes.
    bool onClothes = false;
    for (int i = 0; i < DropCount; ++i)
        onClothes |= Access::Drop(f, i).State == 2 && Access::Drop(f, i).Part == ptFuku;
    EXPECT_TRUE(onClothes);
    EXPECT_TRUE(Errors().empty());
}

// The real executable, played by the input plugin of tests/MV_X/driver: a dropped picture,
// at least four frames recorded, a stroke of hair painted and saved, the window closed.
TEST(RealProgramTest, ImportsRecordsPaintsSavesAndCloses) {
    char pattern[] = "/tmp/mvx_program_XXXXXX";
    const std::string dir = std::string(::mkdtemp(pattern)) + "/";
    fs::copy_file(MV_X_PROGRAM, dir + "mv_x"); // ExeDir follows links: a copy
    fs::permissions(dir + "mv_x", fs::perms::owner_all);
    fs::copy(MV_X_SPRITES, dir + "ekiimg");
    const auto picture = Pattern(120, 90);
    picture->SaveToFile(dir + "face.bmp");

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_PLUGIN_PATH", MV_X_PLUGINS);
    env.insert("QT_QPA_GENERIC_PLUGINS", QString::fromStdString("mvxdriver:" + dir + "face.bmp"));
    if (!env.contains("LSAN_OPTIONS"))
        env.insert("LSAN_OPTIONS", QString("suppressions=%1/tests/lsan.supp").arg(MV_SOURCE_DIR));
    program.setProcessEnvironment(env);
    program.start(QString::fromStdString(dir + "mv_x"), {});
    ASSERT_TRUE(program.waitForFinished(120000));
    const std::string log = FileText(dir + "driver.log");
    ASSERT_EQ(program.exitCode(), 0) << log << program.readAllStandardError().toStdString();
    // Every box the user saw, in order, and nothing else.
    const std::string boxes[] = {"box: 画像ファイルをアルバムにコピーしました.|",
                                 "box: 録画ファイルを以下のフォルダに保存します.|" + dir +
                                     "record/",
                                 "box: 編集した意味画像を保存します.|よいでしょうか?"};
    size_t at = 0;
    for (const std::string& box : boxes)
        EXPECT_NE(at = log.find(box, at), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '|'), 6) << log;
    EXPECT_TRUE(log.ends_with("step: saved\n")) << log;

    // The entry, its settings written at close, and the stroke of hair in its mask.
    std::vector<std::string> album;
    for (const auto& e : fs::directory_iterator(dir + "album"))
        album.push_back(e.path().filename().string());
    std::sort(album.begin(), album.end());
    ASSERT_EQ(album.size(), 5u);
    const std::string entry = dir + "album/" + ChangeFileExt(album[0], "");
    EXPECT_EQ(album[4], "system.ini");
    EXPECT_TRUE(SamePixels(*LoadBmp(entry + ".bmp"), *picture));
    const auto mask = LoadBmp(entry + ".msk");
    for (const TPoint p :
         {Point(12, 10), Point(20, 9), Point(30, 11), Point(30, 18), Point(31, 25)})
        EXPECT_EQ(mask->ScanLine(p.Y)[p.X], ptKami) << p.X << "," << p.Y;
    for (const TPoint p : {Point(9, 10), Point(20, 13), Point(33, 18), Point(30, 28), Point(0, 0)})
        EXPECT_EQ(mask->ScanLine(p.Y)[p.X], ptHada) << p.X << "," << p.Y;

    // One recording of whole frames numbered from 0000: the picture with the emission spot
    // at its centre, as no drop was shot.
    std::vector<fs::path> takes(fs::directory_iterator(dir + "record"), fs::directory_iterator());
    ASSERT_EQ(takes.size(), 1u);
    const int frames =
        int(std::distance(fs::directory_iterator(takes[0]), fs::directory_iterator()));
    EXPECT_GE(frames, 4);
    for (int i = 0; i < frames; ++i) {
        const auto frame = LoadBmp(takes[0].string() + "/" + Format("%.4d", i) + ".bmp");
        ASSERT_EQ(frame->PixelFormat(), pf24bit);
        ASSERT_EQ(frame->Width() * 1000 + frame->Height(), 120090);
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x) {
                const bool spot = x >= 60 && x < 92 && y >= 45 && y < 77;
                ASSERT_TRUE(spot || frame->PixelColor(x, y) == picture->PixelColor(x, y))
                    << x << "," << y << " of frame " << i;
            }
        EXPECT_EQ(frame->PixelColor(60 + 15, 45 + 10), RGB(255, 0, 0));
    }
    fs::remove_all(dir);
}
