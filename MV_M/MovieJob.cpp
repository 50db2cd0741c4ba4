#include "MV_M/MovieJob.h"

#include "MV_M/JxAvi.h"
#include "common/BitmapUtils.h"
#include "common/PictureFile.h"
#include "common/Qmlib2002.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/System.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <tuple>

namespace fs = std::filesystem;

namespace {

constexpr int FrameNumbers = 10000;
constexpr size_t NumberDigits = 4;
// The extensions of frame files, in the order the frames of one number are listed.
constexpr std::array<std::string_view, 4> FrameExtensions = {".bmp", ".jpeg", ".jpg", ".png"};
// The resampler's assertion names the window's unit, where the design keeps it.
const TAssertPlace ResampleIntoPlace{"main.cpp", 628};

// The logo fades out over the frames after the 64th: its level rises by 2 per frame.
constexpr int32_t LogoStepPerFrame = 2;
constexpr int32_t LogoHalfLevel = 128;
constexpr int32_t LogoGoneLevel = 256;

struct FrameName {
    int Number = 0;
    int Extension = 0;
    std::string Name;
    auto Key() const { return std::tie(Number, Extension, Name); }
};

// The frame number and extension rank of a file name, or false when it names no frame.
bool ParseFrameName(FrameName& frame) {
    const std::string& name = frame.Name;
    if (name.size() <= NumberDigits) return false;
    frame.Number = 0;
    for (size_t i = 0; i < NumberDigits; ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        frame.Number = frame.Number * 10 + (name[i] - '0');
    }
    const std::string_view rest = std::string_view(name).substr(NumberDigits);
    for (size_t e = 0; e < FrameExtensions.size(); ++e)
        if (SameText(rest, FrameExtensions[e])) {
            frame.Extension = static_cast<int>(e);
            return true;
        }
    return false;
}

std::vector<FrameName> ListFrames(const std::string& Folder) {
    std::vector<FrameName> found;
    std::error_code error;
    const fs::path folder = Folder.empty() ? fs::path(".") : fs::path(Folder);
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kindError;
        if (!it->is_regular_file(kindError)) continue;
        FrameName frame{.Name = it->path().filename().string()};
        if (ParseFrameName(frame)) found.push_back(std::move(frame));
    }
    std::sort(found.begin(), found.end(),
              [](const FrameName& a, const FrameName& b) { return a.Key() < b.Key(); });
    return found;
}

int32_t RoundedSide(long double side) {
    // A side that rounds to nothing keeps one pixel: the resampler needs at least one.
    return std::max<int32_t>(1, static_cast<int32_t>(Round(side)));
}

} // namespace

std::vector<std::string> FrameFiles(const std::string& Folder) {
    std::vector<std::string> paths;
    for (const FrameName& frame : ListFrames(Folder))
        paths.push_back(Folder + frame.Name);
    return paths;
}

TMovieJob::TMovieJob()
    : FFrameBitmap(std::make_unique<TBitmap>()), FLogoBitmap(std::make_unique<TBitmap>()),
      FWorkBitmap(std::make_unique<TBitmap>()) {
    FLogoBitmap->SetPixelFormat(pf24bit);
    FFrameBitmap->SetRecycling(true);
    FWorkBitmap->SetRecycling(true);
}

void TMovieJob::ScanFrameFolder(const std::string& Folder,
                                const std::function<void(int)>& OnNumber) {
    FFrames.clear();
    const std::vector<FrameName> found = ListFrames(Folder);
    auto next = found.begin();
    for (int n = 0; n < FrameNumbers; ++n) {
        for (; next != found.end() && next->Number == n; ++next)
            FFrames.push_back(Folder + next->Name);
        if (OnNumber) OnNumber(n);
    }
}

void TMovieJob::FitToFrameSize(int32_t W, int32_t H, TBitmap& Picture) {
    const int32_t w = Picture.Width();
    const int32_t h = Picture.Height();
    if (w == W && h == H) return;
    const bool fitsWidth = W >= w;
    const bool fitsHeight = H >= h;
    int32_t nw = w;
    int32_t nh = h;
    if (fitsWidth && fitsHeight) {
        FWorkBitmap->SetPixelFormat(pf24bit);
        FWorkBitmap->SetSize(w, h);
        FWorkBitmap->Canvas().Draw(0, 0, Picture);
    } else {
        const bool byWidth = fitsHeight || (!fitsWidth && h - H < w - W);
        if (byWidth) {
            nw = W;
            nh = RoundedSide(h * (static_cast<long double>(W) / w));
        } else {
            nh = H;
            nw = RoundedSide(w * (static_cast<long double>(H) / h));
        }
        // The same pixels as a new bitmap of the resampler, in the bitmap kept for the purpose.
        ResampleInto(*FWorkBitmap, Picture, nw, nh);
    }
    const int32_t x = W / 2 - nw / 2;
    const int32_t y = H / 2 - nh / 2;
    // Both sides at once: the size between two steps may be one no bitmap can have.
    Picture.SetSize(W, H);
    TCanvas& canvas = Picture.Canvas();
    canvas.Brush.Color = clBlack;
    canvas.Brush.Style = bsSolid;
    canvas.FillRect(Rect(0, 0, W, H));
    canvas.Draw(x, y, *FWorkBitmap);
}

void TMovieJob::ResampleInto(TBitmap& Dest, const TBitmap& Src, int32_t NewWidth,
                             int32_t NewHeight) {
    ResampleBitmapInto(Dest, Src, NewWidth, NewHeight, ResampleIntoPlace);
}

void TMovieJob::ApplyLogo(TBitmap& Picture) {
    if (FLogoStep >= LogoGoneLevel) return;
    FLogoStep += LogoStepPerFrame;
    const int32_t level = FLogoStep <= LogoHalfLevel ? LogoHalfLevel : FLogoStep;
    BlendBitmap24(0, 0, Picture, Picture, *FLogoBitmap, static_cast<uint16_t>(level));
}

TMovieOutcome TMovieJob::Run(const TMovieSettings& Settings, TJxAvi& Writer, TMovieEvents& Events) {
    FLogoStep = 0;
    const int count = static_cast<int>(FFrames.size());
    for (int i = 0; i < count; ++i) {
        Events.BetweenFrames();
        if (Events.StopRequested()) return TMovieOutcome::Stopped;
        LoadPictureFile(FFrames[i], *FFrameBitmap);
        Events.FrameLoaded(i);
        if (Settings.FitFrames)
            FitToFrameSize(Settings.Size.Width, Settings.Size.Height, *FFrameBitmap);
        if (Settings.Logo) ApplyLogo(*FFrameBitmap);
        // A frame the compressor refused is dropped and the next one tried; a frame that did
        // not reach the file ends the movie.
        if (!Writer.AddFrame(*FFrameBitmap) && Writer.WriteFailed())
            return TMovieOutcome::WriteFailed;
        Events.FrameWritten(i, count);
    }
    return TMovieOutcome::Complete;
}
