// The window: its start state, the options, the logo, the movie loop's states and controls,
// stopping, failures while making, running the movie and deleting the frames.
#include "Harness.h"
#include "common/Qmlib2002.h"

#include <QGuiApplication>
#include <QStatusBar>
#include <QTest>
#include <fstream>
#include <sys/stat.h>
#include <tuple>

namespace {

const char* const DoneSuffix = " : 完了.";
const char* const Finishing = "AVI ファイル再構成中...";
const char* const NothingMade = "ファイル出力を中断しました.";
const char* const RunQuestion =
    "現在作成したファイルを実行しますか?\r\n(実行後プレイヤーが起動するまでしばらくお待ちください)";

// What the window's controls show, enabled ones in upper case.
std::string Enabled(Ui::TMainForm& ui) {
    std::string s;
    const std::pair<char, QWidget*> controls[] = {
        {'c', ui.CompressCheckBox}, {'p', ui.PreCompressCheckBox}, {'l', ui.LoadBitBtn},
        {'m', ui.MakeBitBtn},       {'s', ui.StopBitBtn},          {'r', ui.SakuseiBitBtn},
        {'d', ui.DelBitBtn},        {'g', ui.SizeRadioGroup},      {'w', ui.AVIWidthEdit},
        {'h', ui.AVIHeightEdit},    {'o', ui.LogoCheckBox}};
    for (const auto& [letter, widget] : controls)
        s += widget->isEnabled() ? static_cast<char>(std::toupper(letter)) : letter;
    return s;
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

class WindowTest : public MovieMakerTest {
protected:
    // A listed folder of Count frames of W x H and the target movie path answered.
    std::string Listed3(int count = 3, int w = 8, int h = 6) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i)
            names.push_back(Format("%.4d", i) + ".bmp");
        const std::string folder = Frames("take", names, w, h);
        form->ScanFrameFolder(folder);
        fileAnswer = Dir() + "movie.avi";
        dialogs.clear();
        beeps.clear();
        return folder;
    }
    void Make() { Ui().MakeBitBtn->click(); }
};

TEST_F(WindowTest, StartsWithTheDesignedControlsAndWriter) {
    fs::create_directories(Dir() + "record");
    TMainForm& f = MakeForm();
    Ui::TMainForm& ui = Ui();
    EXPECT_EQ(f.windowTitle().toStdString(), "Morvane M (動画 AVI 作成)");
    const std::pair<QWidget*, const char*> texts[] = {
        {ui.CompressCheckBox, "非圧縮 AVI 作成後に圧縮"},
        {ui.PreCompressCheckBox, "直接 圧縮AVI を作成"},
        {ui.LoadBitBtn, "連番画像指定 (&O)"},
        {ui.MakeBitBtn, "作成 (&M)"},
        {ui.StopBitBtn, "中止 (&S)"},
        {ui.SakuseiBitBtn, "作成ファイルを実行 (&R)"},
        {ui.DelBitBtn, "画像の削除 (&D)"},
        {ui.AVIWidthEdit, "352"},
        {ui.XLabel, "x"},
        {ui.AVIHeightEdit, "240"},
        {ui.LogoCheckBox, "ロゴを使用する"},
        {ui.SakuseiLabel, "[ここに作成先 AVI のパスが表示されます]"}};
    for (const auto& [control, text] : texts)
        EXPECT_EQ(control->property("text").toString().toStdString(), text);
    EXPECT_EQ(std::tuple(ui.CompressCheckBox->isChecked(), ui.PreCompressCheckBox->isChecked(),
                         ui.LogoCheckBox->isChecked()),
              std::tuple(true, false, false));
    EXPECT_EQ(ui.SizeRadioGroup->title().toStdString(), "AVI サイズ (&S)");
    EXPECT_EQ(ui.SizeRadioGroup->Items(),
              QStringList({"320x200", "640x480", "720x480", "オリジナル", "指定"}));
    EXPECT_EQ(ui.SizeRadioGroup->ItemIndex(), 1);
    EXPECT_EQ(ui.FileListBox->Count(), 0);
    // Rows hold the desktop font whole; the size edits show five digits.
    EXPECT_EQ(ui.FileListBox->ItemHeight(), std::max(12, ui.FileListBox->fontMetrics().height()));
    for (QLineEdit* edit : {ui.AVIWidthEdit, ui.AVIHeightEdit})
        EXPECT_GT(edit->width(), edit->fontMetrics().horizontalAdvance("65535") + 4);
    EXPECT_LE(ui.AVIHeightEdit->geometry().right(), f.width());
    EXPECT_EQ(ui.StatusBar->currentMessage().toStdString(), "Version 1.1");
    EXPECT_EQ(Enabled(ui), "CPLmsrdGwhO");
    EXPECT_EQ(ui.Image->geometry(), QRect(8, 8, 105, 105));
    EXPECT_EQ(ui.SizeRadioGroup->geometry(), QRect(296, 27, 113, 86));
    EXPECT_EQ(ui.Image->Picture().Bitmap().Width(), 105);
    EXPECT_TRUE(ui.Image->Stretch());

    // The writer as the window holds it: the component's values but for 24 bits.
    const TJxAvi& w = Access::Of(f).Writer;
    EXPECT_EQ(std::tuple(w.Width(), w.Height(), w.Compress(), w.PreCompress(), w.FrameRate(),
                         w.BitDepth()),
              std::tuple(320, 240, true, false, 30, 24));
    EXPECT_EQ(Access::Of(f).Save.DefaultExt, "avi");
    EXPECT_EQ(Access::Of(f).Save.FileName, "MVX_Movie");
    EXPECT_EQ(Access::Of(f).Save.Filter, "AVI ファイル (*.avi)|*.avi");
    EXPECT_EQ(Access::Of(f).Open.InitialDir, Dir() + "record");
    EXPECT_EQ(Access::Of(f).Open.Filter,
              "画像ファイル (*.bmp;*png;*.jpg;*.jpeg)|*.bmp;*png;*.jpg;*.jpeg|PNG "
              "(*.png)|*.png|JPEG イメージファイル (*.jpg)|*.jpg|JPEG イメージファイル "
              "(*.jpeg)|*.jpeg|BMP (*.bmp)|*.bmp");
}

TEST_F(WindowTest, OptionsReachTheWriterAndTheEdits) {
    TMainForm& f = MakeForm();
    Ui().CompressCheckBox->click();
    Ui().PreCompressCheckBox->click();
    EXPECT_FALSE(Access::Of(f).Writer.Compress());
    EXPECT_TRUE(Access::Of(f).Writer.PreCompress());
    Ui().SizeRadioGroup->SetItemIndex(4);
    EXPECT_EQ(Enabled(Ui()).substr(8, 2), "WH");
    Ui().SizeRadioGroup->SetItemIndex(3);
    EXPECT_EQ(Enabled(Ui()).substr(8, 2), "wh");
}

TEST_F(WindowTest, LogoIsLoadedBesideTheProgramOrReportedMissing) {
    TMainForm& f = MakeForm();
    Ui().LogoCheckBox->click();
    EXPECT_FALSE(Ui().LogoCheckBox->isChecked());
    EXPECT_EQ(beeps, std::vector<uint32_t>{MB_ICONASTERISK});
    EXPECT_EQ(Texts(),
              std::vector<std::string>{Dir() + "avi_logo.bmp\r\nファイルが見つかりません."});

    // A logo that cannot be read is reported and not used.
    std::ofstream(Dir() + "avi_logo.bmp") << "not a bitmap";
    Ui().LogoCheckBox->click();
    EXPECT_FALSE(Ui().LogoCheckBox->isChecked());
    ASSERT_EQ(Texts().size(), 2u);
    EXPECT_EQ(dialogs.back().type, mtError);

    fs::remove(Dir() + "avi_logo.bmp");
    fs::copy_file(std::string(MV_SOURCE_DIR) + "/assets/avi_logo.bmp", Dir() + "avi_logo.bmp");
    Ui().LogoCheckBox->click();
    EXPECT_TRUE(Ui().LogoCheckBox->isChecked());
    EXPECT_EQ(Access::Of(f).Logo.PixelFormat(), pf24bit);
    EXPECT_EQ(Access::Of(f).Logo.Width() * 1000 + Access::Of(f).Logo.Height(), 160040);
    EXPECT_EQ(Texts().size(), 2u);
}

TEST_F(WindowTest, WholeMakeGoesThroughTheStatesAndOffersTheMovie) {
    TMainForm& f = MakeForm();
    f.show();
    Listed3();
    EXPECT_EQ(Enabled(Ui()), "CPLMsrdGwhO");
    std::vector<std::string> making;
    std::vector<std::string> statuses;
    onSleep = [&](uint32_t ms) {
        making.push_back(Enabled(Ui()));
        statuses.push_back(Ui().StatusBar->currentMessage().toStdString());
        if (ms == 3000) {
            EXPECT_EQ(FileSize(Dir() + "movie.avi"), 0) << "the placeholder is written first";
            EXPECT_FALSE(f.close());
            EXPECT_TRUE(f.isVisible());
        }
    };
    // The re-compression's compressor is chosen before the movie is finished, and only then
    // does the status bar say it is.
    std::string atCompressor;
    SetDialogAnswerer([&](const DialogRequest& r) {
        if (r.kind == DialogRequest::ChooseCompressor)
            atCompressor = Ui().StatusBar->currentMessage().toStdString();
        return Answer(r);
    });
    std::vector<std::string> shown;
    QObject::connect(Ui().StatusBar, &QStatusBar::messageChanged,
                     [&](const QString& text) { shown.push_back(text.toStdString()); });
    answers = {mrOk, mrYes};
    compressors = {TJxAvi::MakeFourCC('M', 'J', 'P', 'G')};
    Make();
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "mjpeg,640,480,3");
    EXPECT_EQ(atCompressor, "AVI  ファイル出力中...(3/3)");
    EXPECT_EQ(std::vector(shown.end() - 3, shown.end()),
              (std::vector<std::string>{"AVI  ファイル出力中...(3/3)", Finishing,
                                        Dir() + "movie.avi" + DoneSuffix}));
    EXPECT_EQ(sleeps, (std::vector<uint32_t>{3000, 1, 1, 1}));
    for (const std::string& state : making)
        EXPECT_EQ(state, "cplmSrdgwho");
    EXPECT_EQ(statuses, (std::vector<std::string>{Dir() + "movie.avi", Dir() + "movie.avi",
                                                  "AVI  ファイル出力中...(1/3)",
                                                  "AVI  ファイル出力中...(2/3)"}));
    EXPECT_EQ(Enabled(Ui()), "CPLMsRDGwhO");
    EXPECT_EQ(Ui().SakuseiLabel->text().toStdString(), Dir() + "movie.avi");
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), Dir() + "movie.avi" + DoneSuffix);
    EXPECT_EQ(Access::Of(f).Writer.FileName(), Dir() + "movie.avi");
    EXPECT_EQ(Access::Of(f).Writer.Width() * 1000 + Access::Of(f).Writer.Height(), 640480);
    ASSERT_EQ(dialogs.size(), 4u);
    EXPECT_EQ(dialogs[0].text,
              "AVI ファイルを作成する場所を指定してください.\r\n\r\n■ご注意ください\r\n使用 "
              "Codec によっては、作成先のパスに『日本語のフォルダ名』があると、構築に失敗する場合"
              "があるようです.\r\nできるだけ半角英数の短い名前のパスに保存することをオススメします."
              "\r\n(圧縮 AVI の作成はご使用のマシンの機能を使うため、未保証になります)");
    EXPECT_EQ(dialogs[0].type, mtInformation);
    EXPECT_EQ(dialogs[1].kind, DialogRequest::SaveFile);
    EXPECT_EQ(dialogs[1].fileName, "MVX_Movie");
    EXPECT_EQ(dialogs[1].defaultExt, "avi");
    EXPECT_EQ(dialogs[2].kind, DialogRequest::ChooseCompressor) << "the re-compression";
    EXPECT_EQ(dialogs[3].text, RunQuestion);
    EXPECT_EQ(beeps, (std::vector<uint32_t>{MB_ICONASTERISK, MB_ICONQUESTION}));
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0].verb, "Open");
    EXPECT_EQ(shell[0].file, Dir() + "movie.avi");
    EXPECT_EQ(shell[0].showCommand, SW_SHOW);
    // The last frame as fitted stays in the frame bitmap and the preview shows it as loaded.
    EXPECT_EQ(Access::Of(f).Frame.Width() * 1000 + Access::Of(f).Frame.Height(), 640480);
    EXPECT_TRUE(SamePixels(Ui().Image->Picture().Bitmap(), *Pattern(8, 6, 3)));
    EXPECT_TRUE(f.close());
}

TEST_F(WindowTest, StopEndsBeforeTheNextFrameAndTheMovieIsFinished) {
    MakeForm();
    Listed3(5);
    Ui().CompressCheckBox->click();
    int frames = 0;
    onSleep = [&](uint32_t ms) {
        if (ms == 1 && ++frames == 3) Ui().StopBitBtn->click();
    };
    answers = {mrOk, mrNo};
    Make();
    // Two frames, each the listed frame centred on black, as they were handed to the writer.
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,2");
    std::vector<uint8_t> fitted;
    TMovieJob job;
    for (int k = 1; k <= 2; ++k) {
        auto frame = Pattern(8, 6, k);
        job.FitToFrameSize(640, 480, *frame);
        for (int y = 0; y < 480; ++y)
            fitted.insert(fitted.end(), frame->ScanLine(y), frame->ScanLine(y) + 640 * 3);
    }
    EXPECT_TRUE(avitest::Decode(Dir() + "movie.avi", "v:0", "-f rawvideo -pix_fmt bgr24") ==
                fitted);
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), Dir() + "movie.avi" + DoneSuffix);
    EXPECT_TRUE(SamePixels(Ui().Image->Picture().Bitmap(), *Pattern(8, 6, 2)));
    EXPECT_EQ(Texts().back(), RunQuestion);
    EXPECT_TRUE(shell.empty());
    EXPECT_EQ(Enabled(Ui()), "CPLMsRDGwhO");
    // The next make starts afresh.
    frames = 10;
    answers = {mrOk, mrNo};
    Make();
    EXPECT_TRUE(SamePixels(Ui().Image->Picture().Bitmap(), *Pattern(8, 6, 5)));
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,5");
}

TEST_F(WindowTest, DropDuringMakingListsNothing) {
    TMainForm& f = MakeForm();
    const std::string folder = Listed3();
    const std::string other = Frames("other", {"0000.bmp"});
    onSleep = [&](uint32_t ms) {
        if (ms == 1) f.WMDropFiles(other + "0000.bmp");
    };
    answers = {mrOk, mrNo};
    Make();
    EXPECT_EQ(Listed().size(), 3u);
    EXPECT_EQ(Listed()[0], folder + "0000.bmp");
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,3");
}

TEST_F(WindowTest, SizeItemsGiveTheMovieSize) {
    TMainForm& f = MakeForm();
    const std::string folder = Frames("take", {"0000.bmp"}, 40, 30);
    Pattern(20, 10)->SaveToFile(folder + "0001.bmp");
    form->ScanFrameFolder(folder);
    Ui().CompressCheckBox->click();
    fileAnswer = Dir() + "movie.avi";
    auto movie = [&](int item) {
        Ui().SizeRadioGroup->SetItemIndex(item);
        answers = {mrOk, mrNo};
        Make();
        return Movie(Dir() + "movie.avi");
    };
    EXPECT_EQ(movie(0), "rawvideo,320,200,2");
    EXPECT_EQ(movie(2), "rawvideo,720,480,2");
    // The original size: the frame shown when Make is pressed, here the last one made as it was
    // read, not as it was fitted.
    EXPECT_EQ(movie(3), "rawvideo,20,10,2");
    Ui().FileListBox->SetItemIndex(0);
    EXPECT_EQ(movie(3), "rawvideo,40,30,2");
    EXPECT_EQ(Access::Of(f).Frame.Width(), 20) << "frames are not fitted to the original size";
    Ui().AVIWidthEdit->setText("abc");
    Ui().AVIHeightEdit->setText("100");
    EXPECT_EQ(movie(4), "rawvideo,640,100,2");
    EXPECT_EQ(Access::Of(f).Frame.Width() * 1000 + Access::Of(f).Frame.Height(), 640100);
    EXPECT_EQ(Ui().AVIWidthEdit->text().toStdString(), "abc");
    EXPECT_EQ(Enabled(Ui()).substr(8, 2), "WH");
}

TEST_F(WindowTest, SizesTheWriterCannotHoldAreRefusedBeforeAnythingIsWritten) {
    MakeForm();
    Listed3();
    Ui().SizeRadioGroup->SetItemIndex(4);
    for (const auto& [w, h] : std::vector<std::pair<const char*, const char*>>{
             {"0", "100"}, {"100", "-4"}, {"65536", "10"}, {"10", "70000"}}) {
        Ui().AVIWidthEdit->setText(w);
        Ui().AVIHeightEdit->setText(h);
        dialogs.clear();
        Make();
        ASSERT_EQ(dialogs.size(), 1u) << w << "x" << h;
        EXPECT_EQ(dialogs[0].type, mtWarning);
        EXPECT_FALSE(fs::exists(Dir() + "movie.avi"));
        EXPECT_EQ(Enabled(Ui()), "CPLMsrdGWHO");
    }
    Ui().AVIWidthEdit->setText("65535");
    Ui().AVIHeightEdit->setText("1");
    answers = {mrOk, mrNo};
    Make();
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,65535,1,3");
}

TEST_F(WindowTest, EmptyListMakesNothing) {
    MakeForm();
    const std::string folder = Listed3();
    answers = {mrOk, mrNo, mrYes};
    Make();
    Ui().DelBitBtn->click();
    // The question names the folder and the count, and Enter answers No.
    EXPECT_EQ(Texts().back(),
              "連番画像リストのファイルを削除しますか?\r\n" + folder + "\r\n(3 ファイル)");
    EXPECT_EQ(dialogs.back().defaultButton, mbNo);
    EXPECT_FALSE(fs::exists(folder + "0000.bmp"));
    EXPECT_TRUE(Listed().empty());
    // The movie made before can still be run; nothing is previewed, nothing can be made.
    EXPECT_EQ(Enabled(Ui()), "CPLmsRdGwhO");
    EXPECT_TRUE(Ui().Image->Picture().Bitmap().Empty());
    // Another folder's frames can be made again, a folder of none cannot.
    form->ScanFrameFolder(Frames("other", {"0000.bmp"}));
    EXPECT_EQ(Enabled(Ui()), "CPLMsRdGwhO");
    form->ScanFrameFolder(folder);
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), "0 File.");
    EXPECT_EQ(Enabled(Ui()), "CPLmsRdGwhO");
    EXPECT_TRUE(Ui().Image->Picture().Bitmap().Empty());
}

TEST_F(WindowTest, DeletingAndRunningAskFirst) {
    MakeForm();
    const std::string folder = Listed3();
    answers = {mrOk, mrNo, mrNo};
    Make();
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,3");
    Ui().DelBitBtn->click();
    EXPECT_EQ(Listed().size(), 3u);
    EXPECT_TRUE(fs::exists(folder + "0002.bmp"));
    EXPECT_FALSE(Ui().DelBitBtn->isEnabled());
    // A desktop without a player says so.
    shellResult = SE_ERR_NOASSOC;
    const size_t boxes = dialogs.size();
    Ui().SakuseiBitBtn->click();
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(shell[0].file, Dir() + "movie.avi");
    ASSERT_EQ(dialogs.size(), boxes + 1);
    EXPECT_EQ(dialogs.back().type, mtInformation);
    EXPECT_NE(dialogs.back().text.find(Dir() + "movie.avi"), std::string::npos);
    // A movie that is gone is not run.
    fs::remove(Dir() + "movie.avi");
    Ui().SakuseiBitBtn->click();
    EXPECT_EQ(shell.size(), 1u);
}

TEST_F(WindowTest, FailureWhileMakingIsReportedOnceAndTheWindowRecovers) {
    TMainForm& f = MakeForm();
    f.show();
    const std::string folder = Listed3();
    std::ofstream(folder + "0001.bmp", std::ios::trunc) << "broken";
    answers = {mrOk};
    Make();
    ASSERT_EQ(Texts().size(), 2u);
    EXPECT_EQ(dialogs.back().type, mtError);
    EXPECT_EQ(Enabled(Ui()), "CPLMsRDGwhO");
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,1") << "the frames so far";
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), Dir() + "movie.avi" + DoneSuffix);

    // A target that cannot be written: nothing was opened.
    fileAnswer = Dir() + "missing/movie.avi";
    Ui().DelBitBtn->setEnabled(false);
    Ui().SakuseiBitBtn->setEnabled(false);
    dialogs.clear();
    answers = {mrOk};
    Make();
    ASSERT_EQ(Texts().size(), 2u);
    EXPECT_EQ(dialogs.back().type, mtError);
    EXPECT_EQ(Enabled(Ui()), "CPLMsrdGwhO");
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), NothingMade);
    EXPECT_TRUE(f.close());
}

TEST_F(WindowTest, ListClickPreviewsThePicture) {
    MakeForm();
    Listed3();
    Ui().FileListBox->SetItemIndex(2);
    EXPECT_TRUE(SamePixels(Access::Of(*form).Frame, *Pattern(8, 6, 3)));
    EXPECT_TRUE(SamePixels(Ui().Image->Picture().Bitmap(), *Pattern(8, 6, 3)));
}

TEST_F(WindowTest, CompressionFollowsTheFirstBoxAndACancelledChoiceEndsTheMake) {
    MakeForm();
    Listed3(2);
    // Only "compress directly": the movie is written uncompressed, no dialog asks.
    Ui().CompressCheckBox->click();
    Ui().PreCompressCheckBox->click();
    answers = {mrOk, mrNo};
    Make();
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,2");
    EXPECT_EQ(dialogs.size(), 3u);

    // Both: the compressor is chosen first, and every frame goes through it.
    Ui().CompressCheckBox->click();
    compressors = {TJxAvi::MakeFourCC('M', 'J', 'P', 'G')};
    answers = {mrOk, mrNo};
    Make();
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "mjpeg,640,480,2");

    // A cancelled choice: the plain message, no question, nothing left at the target.
    dialogs.clear();
    beeps.clear();
    Ui().DelBitBtn->setEnabled(false);
    Ui().SakuseiBitBtn->setEnabled(false);
    answers = {mrOk};
    Make();
    EXPECT_EQ(Texts().back(), "ファイル出力を中断しました.");
    EXPECT_EQ(dialogs.back().type, mtCustom);
    EXPECT_EQ(beeps, std::vector<uint32_t>{MB_ICONASTERISK});
    EXPECT_FALSE(fs::exists(Dir() + "movie.avi"));
    EXPECT_EQ(Enabled(Ui()), "CPLMsrdGwhO");
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), NothingMade);
}

TEST_F(WindowTest, ListClicksDropsAndPreviewsAsAUserMeetsThem) {
    TMainForm& f = MakeForm();
    f.show();
    const std::string folder = Listed3(3, 40, 30);
    // After a make the frame bitmap holds the highlighted row's frame as fitted; clicking the row
    // reloads the file.
    Ui().FileListBox->SetItemIndex(2);
    answers = {mrOk, mrNo};
    Make();
    ASSERT_EQ(Access::Of(f).Frame.Width(), 640);
    const QRect row = Ui().FileListBox->visualItemRect(Ui().FileListBox->item(2));
    QTest::mouseClick(Ui().FileListBox->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_TRUE(SamePixels(Access::Of(f).Frame, *Pattern(40, 30, 3)));
    Ui().SizeRadioGroup->SetItemIndex(3);
    answers = {mrOk, mrNo};
    Make();
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,40,30,3");

    // A dropped folder lists that folder, not its parent.
    f.WMDropFiles(Dir() + "take");
    EXPECT_EQ(Listed().size(), 3u);
    EXPECT_EQ(Listed()[0], folder + "0000.bmp");

    // A first frame that cannot be read leaves no other folder's frame in the preview.
    const std::string broken = Frames("broken", {"0000.bmp"});
    std::ofstream(broken + "0000.bmp", std::ios::trunc) << "broken";
    EXPECT_ANY_THROW(f.WMDropFiles(broken + "0000.bmp"));
    EXPECT_TRUE(Ui().Image->Picture().Bitmap().Empty());
}

TEST_F(WindowTest, TheTargetIsNeverWrittenThroughALinkAndTheWaitShowsABusyWindow) {
    TMainForm& f = MakeForm();
    f.show();
    Listed3();
    std::ofstream(Dir() + "keep.txt") << "the user's";
    fs::create_symlink(Dir() + "keep.txt", Dir() + "movie.avi");
    bool busy = false;
    onSleep = [&](uint32_t ms) {
        if (ms == 3000)
            busy = QGuiApplication::overrideCursor() != nullptr &&
                   QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
    };
    answers = {mrOk, mrNo};
    Make();
    EXPECT_TRUE(busy);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(FileSize(Dir() + "keep.txt"), 10);
    EXPECT_FALSE(fs::is_symlink(Dir() + "movie.avi"));
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,3");
    // A dangling link: its missing target is not made.
    fs::remove(Dir() + "movie.avi");
    fs::create_symlink(Dir() + "gone/movie.avi", Dir() + "movie.avi");
    answers = {mrOk, mrNo};
    Make();
    EXPECT_FALSE(fs::exists(Dir() + "gone"));
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,3");
}

TEST_F(WindowTest, CancelledTargetWritesNothingAndChangesNothing) {
    MakeForm();
    Listed3();
    fileAnswer.clear();
    const QString status = Ui().StatusBar->currentMessage();
    const QString label = Ui().SakuseiLabel->text();
    Make();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].kind, DialogRequest::SaveFile);
    EXPECT_TRUE(sleeps.empty());
    EXPECT_FALSE(fs::exists(Dir() + "movie.avi"));
    EXPECT_EQ(Ui().StatusBar->currentMessage(), status);
    EXPECT_EQ(Ui().SakuseiLabel->text(), label);
    EXPECT_EQ(form->State(), TWindowState::Listed);
    EXPECT_EQ(Enabled(Ui()), "CPLMsrdGwhO");
}

TEST_F(WindowTest, StopQueuedWhileMakingIsSeenBetweenFramesAndTheMovieIsRebuilt) {
    MakeForm();
    Listed3();
    Ui().CompressCheckBox->click();
    // Stop is clicked from the event queue once the first frame is written: only the loop's
    // message processing lets it through.
    QObject::connect(
        Ui().StatusBar, &QStatusBar::messageChanged, form.get(), [&](const QString& s) {
            if (s.endsWith("(1/3)"))
                QMetaObject::invokeMethod(
                    Ui().StopBitBtn, [this] { Ui().StopBitBtn->click(); }, Qt::QueuedConnection);
        });
    ino_t written = 0;
    onSleep = [&](uint32_t ms) {
        if (ms == 1 && written == 0) written = Inode(Dir() + "movie.avi");
    };
    answers = {mrOk, mrNo};
    Make();
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,1");
    // The rebuild's copy has replaced the file that was written.
    EXPECT_NE(written, 0u);
    EXPECT_NE(Inode(Dir() + "movie.avi"), written);
    EXPECT_FALSE(fs::exists(Dir() + "movie_.avi"));
}

TEST_F(WindowTest, LogoOnlyWhileItsBoxIsTicked) {
    fs::copy_file(std::string(MV_SOURCE_DIR) + "/assets/avi_logo.bmp", Dir() + "avi_logo.bmp");
    MakeForm();
    Listed3(1);
    // The logo's corner of the first frame: black but for the logo.
    auto logoCorner = [&] {
        const auto movie =
            avitest::Decode(Dir() + "movie.avi", "v:0", "-f rawvideo -pix_fmt bgr24");
        size_t lit = 0;
        for (int y = 0; y < 40 && !movie.empty(); ++y)
            lit += std::count_if(movie.begin() + y * 640 * 3, movie.begin() + (y * 640 + 160) * 3,
                                 [](uint8_t b) { return b != 0; });
        return lit;
    };
    Ui().LogoCheckBox->click();
    Ui().LogoCheckBox->click();
    answers = {mrOk, mrNo};
    Make();
    EXPECT_EQ(logoCorner(), 0u) << "unticked: the logo stays loaded, unused";
    Ui().LogoCheckBox->click();
    answers = {mrOk, mrNo};
    Make();
    EXPECT_GT(logoCorner(), 1000u);
}

TEST_F(WindowTest, AMovieTheDiskCannotTakeEndsWithOneBoxAndOffersNothing) {
    MakeForm();
    Listed3(5);
    Ui().CompressCheckBox->click();
    // A disk of three frames: the fourth does not fit, and the index then needs the room of
    // the third.
    constexpr uintmax_t Frame = 640 * 480 * 3 + 8;
    SetFileWriteFailureOverride([&](const std::string& file) {
        std::error_code error;
        return file == Dir() + "movie.avi" && fs::file_size(file, error) > 3 * Frame;
    });
    answers = {mrOk};
    Make();
    SetFileWriteFailureOverride({});
    const std::vector<std::string> boxes = Texts();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], Dir() + "movie.avi\r\nＡＶＩファイルに書き込めませんでした.");
    EXPECT_EQ(dialogs.back().type, mtError);
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), Dir() + "movie.avi")
        << "the movie is named, not done";
    EXPECT_EQ(Enabled(Ui()), "CPLMsrdGwhO") << "neither running nor deleting is offered";
    EXPECT_EQ(Movie(Dir() + "movie.avi"), "rawvideo,640,480,2") << "the frames before it";
}

// Stopped before the first frame, the first frame unreadable, the disk full from the first
// frame: no movie is left, nothing is done or offered, no compressor is asked for.
TEST_F(WindowTest, AMakeThatWritesNoFrameLeavesNoMovie) {
    MakeForm();
    const std::string folder = Listed3();
    auto expectNothingMade = [&](const char* make, size_t boxes) {
        EXPECT_FALSE(fs::exists(Dir() + "movie.avi")) << make;
        EXPECT_EQ(Texts().size(), boxes) << make;
        EXPECT_TRUE(Texts(DialogRequest::ChooseCompressor).empty()) << make;
        EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), NothingMade) << make;
        EXPECT_EQ(Enabled(Ui()), "CPLMsrdGwhO") << make;
        dialogs.clear();
    };
    onSleep = [&](uint32_t ms) {
        if (ms == 3000) Ui().StopBitBtn->click();
    };
    answers = {mrOk};
    Make();
    expectNothingMade("stopped", 1);
    onSleep = {};

    fs::copy_file(folder + "0000.bmp", folder + "0000.keep");
    std::ofstream(folder + "0000.bmp", std::ios::trunc) << "broken";
    answers = {mrOk};
    Make();
    expectNothingMade("unreadable", 2);
    fs::copy_file(folder + "0000.keep", folder + "0000.bmp", fs::copy_options::overwrite_existing);

    SetFileWriteFailureOverride(
        [&](const std::string& file) { return file == Dir() + "movie.avi"; });
    answers = {mrOk};
    Make();
    SetFileWriteFailureOverride({});
    expectNothingMade("full disk", 2);
}
