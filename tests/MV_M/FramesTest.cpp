// The frame folder scan and the fitting of frames to the movie size.
#include "Harness.h"
#include "common/BitmapUtils.h"
#include "platform/rtl/Exceptions.h"
#include "platform/win/MMSystem.h"

#include <QDropEvent>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>
#include <fstream>
#include <random>

class ScanTest : public MovieMakerTest {};

TEST_F(ScanTest, ListsNumberedFramesInOrderPassingOverGaps) {
    MakeForm();
    const std::string folder = Frames("take", {"0003.bmp", "0000.bmp", "0001.bmp"}, 12, 9);
    // The status bar tells the number reached while the scan runs, at most every 40 ms: here
    // the clock moves 1 ms each time it is read, so the count is shown a few hundred times.
    std::vector<std::string> shown;
    QObject::connect(Ui().StatusBar, &QStatusBar::messageChanged,
                     [&](const QString& text) { shown.push_back(text.toStdString()); });
    uint32_t clock = 0;
    SetTimeGetTimeOverride([&] { return clock++; });
    form->ScanFrameFolder(folder);
    SetTimeGetTimeOverride({});
    ASSERT_GT(shown.size(), 100u);
    ASSERT_LT(shown.size(), 1000u);
    EXPECT_EQ(shown[0], "連番調査中...(0)");
    for (size_t i = 1; i + 1 < shown.size(); ++i)
        ASSERT_LT(std::stoi(shown[i - 1].substr(shown[i - 1].find('(') + 1)),
                  std::stoi(shown[i].substr(shown[i].find('(') + 1)));
    EXPECT_EQ(Listed(), (std::vector<std::string>{folder + "0000.bmp", folder + "0001.bmp",
                                                  folder + "0003.bmp"}));
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), "3 File.");
    EXPECT_TRUE(Ui().MakeBitBtn->isEnabled());
    // The first frame is loaded and previewed.
    EXPECT_TRUE(SamePixels(Access::Of(*form).Frame, *Pattern(12, 9, 2)));
    EXPECT_TRUE(SamePixels(Ui().Image->Picture().Bitmap(), *Pattern(12, 9, 2)));
}

TEST_F(ScanTest, OneNumberInEveryExtensionAndLetterCaseByRealName) {
    MakeForm();
    const std::string folder =
        Frames("take", {"0001.png", "0001.JPG", "0001.bmp", "0001.jpeg", "0000.BMP", "0002.Png"});
    form->ScanFrameFolder(folder);
    EXPECT_EQ(Listed(), (std::vector<std::string>{folder + "0000.BMP", folder + "0001.bmp",
                                                  folder + "0001.jpeg", folder + "0001.JPG",
                                                  folder + "0001.png", folder + "0002.Png"}));
}

TEST_F(ScanTest, NamesThatAreNoFrameNumberAreNeverListed) {
    MakeForm();
    form->ScanFrameFolder(Frames("listed", {"0000.bmp"}));
    const std::string folder = Frames("take", {"5.bmp", "00005.bmp", "10000.bmp", "0005.gif",
                                               "0005.bmp.bak", "abcd.bmp", "0005", "-001.bmp"});
    fs::create_directories(folder + "0006.bmp");
    form->ScanFrameFolder(folder);
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(Ui().StatusBar->currentMessage().toStdString(), "0 File.");
    // Nothing listed: no frame before it stays in the preview, nothing can be made.
    EXPECT_TRUE(Ui().Image->Picture().Bitmap().Empty());
    EXPECT_EQ(form->State(), TWindowState::Start);
    EXPECT_FALSE(Ui().MakeBitBtn->isEnabled());
    // A missing folder lists nothing either.
    form->ScanFrameFolder(Dir() + "missing/");
    EXPECT_TRUE(Listed().empty());
}

TEST_F(ScanTest, PickedOrDroppedFileNamesOnlyItsFolder) {
    MakeForm();
    const std::string first = Frames("first", {"0000.bmp", "0001.bmp"});
    const std::string second = Frames("second", {"0000.bmp"});
    fileAnswer = second + "0000.bmp";
    Ui().LoadBitBtn->click();
    ASSERT_EQ(Texts(DialogRequest::OpenFile).size(), 1u);
    EXPECT_TRUE(dialogs[0].picturePreview);
    EXPECT_EQ(Listed(), std::vector<std::string>{second + "0000.bmp"});

    // Three files dropped: the folder of the first, which need be no frame.
    std::ofstream(first + "notes.txt") << "x";
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(first + "notes.txt")),
                  QUrl::fromLocalFile(QString::fromStdString(second + "0000.bmp")),
                  QUrl::fromLocalFile(QString::fromStdString(Dir()))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &drop);
    EXPECT_EQ(Listed(), (std::vector<std::string>{first + "0000.bmp", first + "0001.bmp"}));
}

TEST_F(ScanTest, UnreadableFirstFrameIsReportedAndDoesNotEnableMaking) {
    MakeForm();
    const std::string folder = Frames("take", {"0001.bmp"});
    std::ofstream(folder + "0000.bmp") << "not a bitmap";
    Guarded([&] { form->WMDropFiles(folder + "0001.bmp"); });
    EXPECT_EQ(Listed().size(), 2u);
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_EQ(dialogs[0].type, mtError);
    EXPECT_FALSE(Ui().MakeBitBtn->isEnabled());
}

// --- Fitting

namespace {

struct FitCase {
    int w, h, W, H;
    int nw, nh, x, y;
};

// Picture after fitting: black but for Inner placed at (X, Y), cut at the edges.
void ExpectPlaced(const TBitmap& picture, int W, int H, const TBitmap& inner, int x, int y) {
    ASSERT_EQ(picture.Width(), W);
    ASSERT_EQ(picture.Height(), H);
    for (int py = 0; py < H; ++py) {
        const uint8_t* row = picture.ScanLine(py);
        for (int px = 0; px < W; ++px) {
            const int ix = px - x;
            const int iy = py - y;
            const bool in = ix >= 0 && iy >= 0 && ix < inner.Width() && iy < inner.Height();
            for (int c = 0; c < 3; ++c) {
                const int want = in ? inner.ScanLine(iy)[3 * ix + c] : 0;
                ASSERT_EQ(row[3 * px + c], want) << px << "," << py;
            }
        }
    }
}

} // namespace

class FitTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitTest, PlacesFrameAtItsSizeAndOffset) {
    const FitCase c = GetParam();
    TMovieJob job;
    const auto source = Pattern(c.w, c.h);
    TBitmap picture;
    picture.Assign(source.get());
    job.FitToFrameSize(c.W, c.H, picture);
    const bool shrunk = c.nw != c.w || c.nh != c.h;
    const auto inner = shrunk ? ResampleBitmap(*source, c.nw, c.nh) : Pattern(c.w, c.h);
    ExpectPlaced(picture, c.W, c.H, *inner, c.x, c.y);
    if (c.w != c.W || c.h != c.H) {
        EXPECT_TRUE(SamePixels(job.Work(), *inner)) << "the work bitmap keeps the fit";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FitTest,
    ::testing::Values(
        FitCase{640, 480, 640, 480, 640, 480, 0, 0},
        FitCase{300, 200, 640, 480, 300, 200, 170, 140},
        FitCase{800, 300, 640, 480, 640, 240, 0, 120},
        FitCase{500, 600, 640, 480, 400, 480, 120, 0},
        FitCase{1024, 600, 640, 480, 640, 375, 0, 53}, FitCase{800, 600, 640, 480, 640, 480, 0, 0},
        FitCase{700, 1400, 640, 480, 240, 480, 200, 0},
        // 12.5 rounds to the even 12; drawn at y = -1, cut at both edges.
        FitCase{200, 25, 100, 10, 100, 12, 0, -1}, FitCase{321, 241, 640, 480, 321, 241, 160, 120},
        // 0.32 of a row rounds to none: the frame keeps one row.
        FitCase{2000, 1, 640, 480, 640, 1, 0, 240}, FitCase{1, 2000, 640, 480, 1, 480, 320, 0},
        // Both sides 60 too large: the height is fitted.
        FitCase{700, 580, 640, 520, 628, 520, 6, 0},
        // 21 * (640 / 1792) is a hair under 7.5 in extended precision, so 7; in double, 7.5 and 8.
        FitCase{1792, 21, 640, 480, 640, 7, 0, 237}, FitCase{21, 1792, 480, 640, 7, 640, 237, 0}),
    [](const ::testing::TestParamInfo<FitCase>& param) {
        const FitCase& c = param.param;
        return Format("From%dx%dTo%dx%d", c.w, c.h, c.W, c.H);
    });

TEST(ResampleIntoTest, EqualsResampleBitmapWhateverDestHeld) {
    std::mt19937 random(11);
    auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int round = 0; round < 40; ++round) {
        const auto source = Pattern(draw(1, 90), draw(1, 90), round);
        const int nw = draw(1, 120);
        const int nh = draw(1, 120);
        TBitmap dest;
        dest.SetPixelFormat(round % 3 == 0 ? pf8bit : pf24bit);
        dest.SetSize(draw(0, 150), draw(0, 150));
        TMovieJob::ResampleInto(dest, *source, nw, nh);
        ASSERT_TRUE(SamePixels(dest, *ResampleBitmap(*source, nw, nh)))
            << source->Width() << "x" << source->Height() << " to " << nw << "x" << nh;
    }
}

TEST(ResampleIntoTest, NamesItsOwnPlaceForAnEmptySource) {
    const auto before = Pattern(5, 4);
    TBitmap dest;
    dest.Assign(before.get());
    TBitmap empty;
    empty.SetPixelFormat(pf24bit);
    empty.SetSize(0, 7);
    try {
        TMovieJob::ResampleInto(dest, empty, 3, 3);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Text(), "Assertion failure");
        EXPECT_EQ(e.FileName(), "main.cpp");
        EXPECT_EQ(e.Line(), 628);
    }
    EXPECT_TRUE(SamePixels(dest, *before));
}

// A bitmap is resized in one step wherever both sides change: a size between the old and the new
// one may be too large for any bitmap (2^31 bytes), while both ends fit.
TEST_F(MovieMakerTest, SizesThatFitWorkWhateverSizeCameBefore) {
    MakeForm();
    auto tall = Pattern(100, 11000);
    TMovieJob().FitToFrameSize(65535, 100, *tall);
    EXPECT_EQ(tall->Width() * 1000 + tall->Height(), 65535100);
    const std::string folder = Frames("tall", {"0000.bmp"}, 4, 60000);
    form->ScanFrameFolder(folder);
    const std::string wide = Frames("wide", {"0000.bmp"}, 59000, 4);
    form->ScanFrameFolder(wide);
    EXPECT_TRUE(SamePixels(Ui().Image->Picture().Bitmap(), *Pattern(59000, 4, 1)));
}
