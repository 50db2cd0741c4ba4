// TJxAvi: a non-visual component that turns a sequence of pictures into one AVI file with a
// single video stream, uncompressed, compressed while writing, or re-compressed at closing.
// Failures are shown in message boxes of their own; nothing is raised to the caller.
#pragma once

#include "platform/avi/AviFile.h"
#include "platform/graphics/Dib.h"
#include "platform/vcm/AviSave.h"
#include "platform/vcm/Vcm.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;
class QWidget;
class TBitmap;
class TProgressWindow;

class TJxAvi {
public:
    // Owner: the window the component belongs to (may be null), the owner of its dialogs.
    explicit TJxAvi(QWidget* owner = nullptr);
    TJxAvi(const TJxAvi&) = delete;
    TJxAvi& operator=(const TJxAvi&) = delete;
    ~TJxAvi();

    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& value) { FFileName = value; }
    // Where temporaries are noted on file systems that cannot keep them unnamed (empty: nowhere).
    const std::string& TemporaryJournal() const { return FTemporaryJournal; }
    void SetTemporaryJournal(const std::string& value) { FTemporaryJournal = value; }
    uint16_t Width() const { return FWidth; }
    void SetWidth(uint16_t value) { FWidth = value; }
    uint16_t Height() const { return FHeight; }
    void SetHeight(uint16_t value) { FHeight = value; }
    bool Compress() const { return FCompress; }
    void SetCompress(bool value) { FCompress = value; }
    bool PreCompress() const { return FPreCompress; }
    void SetPreCompress(bool value) { FPreCompress = value; }
    int32_t FrameRate() const { return FFrameRate; }
    void SetFrameRate(int32_t value); // below 1 becomes 1, above 30 becomes 30
    uint16_t BitDepth() const { return FBitDepth; }
    void SetBitDepth(uint16_t value); // 16 and 24 are taken, anything else becomes 16

    // True when frames can now be added.
    bool Open();
    // False when the compressor failed on this frame (it is dropped) or the frame did not reach
    // the file (WriteFailed is then set).
    bool AddFrame(TBitmap& picture);
    // Finishes the movie; with Compress and not PreCompress, re-compresses it (not after a write
    // failed, nor a movie of no frames: those are left as they were finished).
    void Close();
    // A frame or the finishing of the file did not reach the disk; the one error box naming the
    // file has been shown. Set from then until the next Open.
    bool WriteFailed() const { return FWriteFailed; }
    // The frames written into the movie since Open.
    int32_t FrameCount() const { return static_cast<int32_t>(FStreamInfo.dwLength); }
    // Copies the video stream (and for SkipAudio >= 0 the audio streams but that one) into a
    // new file that replaces the old one.
    void Rebuild(int32_t skipAudio);

    void ResetCompVars();
    bool ChooseCompressor();
    static FOURCC MakeFourCC(char a, char b, char c, char d);

    // Progress of the re-compression: moves the bar, lets the window system run, and returns
    // the abort status (non-zero stops the save).
    static int32_t SaveProgressCallback(int32_t percent);
    void AbortSaveClick(QObject* sender);

private:
    std::string FFileName;
    std::string FTemporaryJournal;
    uint16_t FWidth = 320;
    uint16_t FHeight = 240;
    bool FCompress = true;
    bool FPreCompress = false;
    int32_t FFrameRate = 30;
    PAVIFILE FAviFile = nullptr;
    PAVISTREAM FAviStream = nullptr;
    AVISTREAMINFO FStreamInfo{};
    AVICOMPRESSOPTIONS FSaveOptions{};
    LPAVICOMPRESSOPTIONS FSaveOptionsRef = nullptr;
    BITMAPINFOHEADER FBitmapHeader{};
    std::unique_ptr<TBitmap> FDrawBitmap;
    uint32_t FBufferSize = 0;
    COMPVARS FSeqCompVars{};
    uint16_t FBitDepth = 16;
    QWidget* FOwner = nullptr;
    // The frame buffer, kept from Open to Close: the bytes past the converted rows stay 0.
    std::vector<uint8_t> FBuffer;
    // Between a successful Open and Close; and whether a compressor sequence runs in it.
    bool FWriting = false;
    bool FSeqStarted = false;
    bool FWriteFailed = false;

    // The component's texts.
    std::string FCreateFileFailedText;
    std::string FCreateStreamFailedText; // after FVideoText
    std::string FOpenFileFailedText;
    std::string FOpenStreamFailedText; // after FVideoText
    std::string FSaveAbortedText;
    std::string FRebuildFailedText;
    std::string FSeqStartFailedText;
    std::string FSeqFrameFailedText;
    std::string FAbortText;
    std::string FProgressCaption;
    std::string FProgressText;
    std::string FVideoText;
    std::string FChooseTitle;
    std::string FWriteFailedText; // after the file's path

    bool CompressingWhileWriting() const;
    void FillStreamInfo();
    std::vector<uint8_t> StreamFormat() const;
    void ReleaseCompressor();
    void FailOpen(const std::string& warning);
    void FailWrite();
    void Recompress();
    bool OpenMovieStream(uint32_t mode, PAVISTREAM& video);
    void ReleaseMovie();
    bool ReplaceByCopy(const std::function<HRESULT(PAVIFILE)>& write,
                       const std::function<void()>& releaseSource) const;
};
