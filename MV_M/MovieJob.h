// The making of a movie without its window: the frame list and the rule that finds the frames of
// a folder, the fitting of every frame to the movie size with its work bitmap, the logo and its
// fade, and the movie loop over the AVI writer. The window fills a job's settings from its
// controls when a movie starts and follows the loop through TMovieEvents.
#pragma once

#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TJxAvi;

// The frame files of Folder (which ends with a delimiter): every file named by a four-digit
// number and ".bmp", ".jpeg", ".jpg" or ".png", letters in any case, as full paths of their
// real names, ordered by number, then by extension in that order. One directory listing.
std::vector<std::string> FrameFiles(const std::string& Folder);

struct TMovieSize {
    int32_t Width = 0;
    int32_t Height = 0;
};

struct TMovieSettings {
    // False ("original size"): frames go to the writer as loaded, and it stretches them.
    bool FitFrames = true;
    TMovieSize Size;
    bool Logo = false;
};

// What the loop asks of and tells its window, in the loop's order for each frame.
class TMovieEvents {
public:
    virtual ~TMovieEvents() = default;
    // The short wait before each frame, with the window's pending messages let through.
    virtual void BetweenFrames() = 0;
    virtual bool StopRequested() = 0;
    // The frame bitmap holds frame Index as loaded, before fitting.
    virtual void FrameLoaded(int Index) = 0;
    virtual void FrameWritten(int Index, int Count) = 0;
};

enum class TMovieOutcome { Complete, Stopped, WriteFailed };

class TMovieJob {
public:
    TMovieJob();

    // The frames of the movie, in order.
    const std::vector<std::string>& Frames() const { return FFrames; }
    void SetFrames(std::vector<std::string> Frames) { FFrames = std::move(Frames); }
    // Lists the frames of Folder (with its trailing delimiter). OnNumber sees each of the frame
    // numbers 0 to 9999 in turn, after the files of that number were listed.
    void ScanFrameFolder(const std::string& Folder, const std::function<void(int)>& OnNumber);

    // The current frame: the preview shows it, the loop loads, fits and marks every frame in it.
    TBitmap& Frame() { return *FFrameBitmap; }
    const TBitmap& Frame() const { return *FFrameBitmap; }
    TBitmap& Logo() { return *FLogoBitmap; }
    TBitmap& Work() { return *FWorkBitmap; }

    // Makes Picture exactly W x H: centred on black, shrunk keeping its aspect when larger.
    void FitToFrameSize(int32_t W, int32_t H, TBitmap& Picture);
    // The area-average resampler into a bitmap the caller holds; Dest and Src differ.
    static void ResampleInto(TBitmap& Dest, const TBitmap& Src, int32_t NewWidth,
                             int32_t NewHeight);
    // The logo half over the frame's top-left corner, then fading out frame by frame.
    void ApplyLogo(TBitmap& Picture);

    // Every frame in turn into Writer, which is open. The logo's fade starts afresh. A frame
    // that cannot be read raises; the frames written before it stay with the writer.
    TMovieOutcome Run(const TMovieSettings& Settings, TJxAvi& Writer, TMovieEvents& Events);

private:
    std::vector<std::string> FFrames;
    // Kept for the window's life: a movie's frames reuse their memory.
    std::unique_ptr<TBitmap> FFrameBitmap;
    std::unique_ptr<TBitmap> FLogoBitmap;
    std::unique_ptr<TBitmap> FWorkBitmap;
    int32_t FLogoStep = 0;
};
