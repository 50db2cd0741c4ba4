#include "MV_M/JxAvi.h"

#include "MV_M/Temporaries.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Progress.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// The progress window of the re-compression in progress, and its abort status.
std::unique_ptr<TProgressWindow> SaveProgressForm;
int32_t SaveAbortStatus = 0;

// The low word of the platform's user-abort error code.
constexpr int32_t SaveAbortRequested = 0x40C6;

constexpr uint32_t ChooseFlags = ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE;
constexpr uint32_t SaveOptionsFlags =
    ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW;
constexpr uint32_t UncompressedQuality = 10000;
constexpr char StreamName[] = "VIDEO";

// A stream list: the video stream and at most 15 audio streams.
constexpr size_t MaxRebuildStreams = 16;

// A frame sample's size is a 32-bit signed count in the stream calls.
constexpr int64_t MaxFrameBytes = std::numeric_limits<int32_t>::max();

int64_t FrameBufferSize(uint16_t width, uint16_t height, uint16_t bitDepth) {
    // The width is rounded up to four pixels, not to four bytes.
    return (static_cast<int64_t>(width) + 3) / 4 * 4 * height * (bitDepth / 8);
}

// An uncompressed sample is the picture's rows, each padded to four bytes, and nothing more:
// players place the rows from the sample's end.
uint32_t FrameImageSize(uint16_t width, uint16_t height, uint16_t bitDepth) {
    return BitmapRowBytes(width, bitDepth) * height;
}

} // namespace

TJxAvi::TJxAvi(QWidget* owner)
    : FSaveOptionsRef(&FSaveOptions), FOwner(owner),
      FCreateFileFailedText("ＡＶＩファイルを作成できませんでした."),
      FCreateStreamFailedText("ストリームを作成できませんでした."),
      FOpenFileFailedText("ＡＶＩファイルを開けませんでした."),
      FOpenStreamFailedText("ストリームを開けませんでした."),
      FSaveAbortedText("圧縮ＡＶＩファイル作成を中断しました."),
      FRebuildFailedText("ＡＶＩファイルを再構成出来ませんでした."),
      FSeqStartFailedText("フレームシーケンス圧縮のリソースが初期化出来ません."),
      FSeqFrameFailedText("フレームシーケンス圧縮が出来ませんでした."), FAbortText("中断"),
      FProgressCaption("進行状況"), FProgressText("圧縮ＡＶＩファイル作成中..."),
      FVideoText("映像"), FChooseTitle("ＡＶＩ圧縮方式選択"),
      FWriteFailedText("ＡＶＩファイルに書き込めませんでした.") {}

// A movie still open is finished as written, so that neither the file nor the services leak.
TJxAvi::~TJxAvi() {
    if (!FWriting) return;
    ReleaseCompressor();
    AVIStreamRelease(FAviStream);
    AVIFileRelease(FAviFile);
    AVIFileExit();
}

void TJxAvi::SetFrameRate(int32_t value) {
    constexpr int32_t MaxFrameRate = 30;
    FFrameRate = std::clamp(value, 1, MaxFrameRate);
}

void TJxAvi::SetBitDepth(uint16_t value) {
    FBitDepth = value == 16 || value == 24 ? value : 16;
}

FOURCC TJxAvi::MakeFourCC(char a, char b, char c, char d) {
    return mmioFOURCC(a, b, c, d);
}

bool TJxAvi::CompressingWhileWriting() const {
    return FCompress && FPreCompress && FSeqCompVars.fccHandler != comptypeDIB;
}

void TJxAvi::ResetCompVars() {
    FSeqCompVars = COMPVARS{};
    FSeqCompVars.cbSize = sizeof(COMPVARS);
    FSeqCompVars.dwFlags = ICMF_COMPVARS_VALID;
    FSeqCompVars.fccHandler = comptypeDIB;
    FSeqCompVars.lKey = 0;
    FSeqCompVars.lDataRate = 0;
    FSeqCompVars.lQ = ICQUALITY_DEFAULT;
}

bool TJxAvi::ChooseCompressor() {
    ResetCompVars();
    if (!ICCompressorChoose(FOwner, ChooseFlags, &FBitmapHeader, nullptr, &FSeqCompVars,
                            FChooseTitle))
        return false;
    if (FSeqCompVars.fccHandler == comptypeDIB) return true;
    if (!ICSeqCompressFrameStart(&FSeqCompVars, &FBitmapHeader)) {
        ICCompressorFree(&FSeqCompVars);
        ErrorBox(FSeqStartFailedText);
        return false;
    }
    FSeqStarted = true;
    return true;
}

void TJxAvi::ReleaseCompressor() {
    if (FSeqStarted) ICSeqCompressFrameEnd(&FSeqCompVars);
    FSeqStarted = false;
    ICCompressorFree(&FSeqCompVars);
}

bool TJxAvi::Open() {
    const int64_t bufferSize = FrameBufferSize(FWidth, FHeight, FBitDepth);
    if (bufferSize == 0 || bufferSize > MaxFrameBytes) {
        // No frame of this size fits a sample (or the picture is empty).
        WarningBox(FCreateFileFailedText);
        return false;
    }
    FDrawBitmap = std::make_unique<TBitmap>();
    FDrawBitmap->SetSize(FWidth, FHeight);

    FBitmapHeader = BITMAPINFOHEADER{};
    FBitmapHeader.biWidth = FWidth;
    FBitmapHeader.biHeight = FHeight;
    FBitmapHeader.biBitCount = FBitDepth;
    FBitmapHeader.biCompression = BI_RGB;
    FBitmapHeader.biSizeImage = FrameImageSize(FWidth, FHeight, FBitDepth);
    FBufferSize = static_cast<uint32_t>(bufferSize);
    FWriteFailed = false;

    ResetCompVars();
    if (FCompress && FPreCompress && !ChooseCompressor()) {
        FDrawBitmap.reset();
        return false;
    }

    if (FileExists(FFileName)) DeleteFile(FFileName);
    RemoveAbandonedTemporaries(FTemporaryJournal, ExtractFilePath(FFileName));
    AVIFileInit();
    if (AVIFileOpen(&FAviFile, FFileName, OF_WRITE | OF_CREATE) != AVIERR_OK ||
        FAviFile == nullptr) {
        FAviFile = nullptr;
        FailOpen(FCreateFileFailedText);
        return false;
    }
    FillStreamInfo();
    if (AVIFileCreateStream(FAviFile, &FAviStream, FStreamInfo) != AVIERR_OK ||
        FAviStream == nullptr) {
        FAviStream = nullptr;
        AVIFileRelease(FAviFile);
        FAviFile = nullptr;
        FailOpen(FVideoText + FCreateStreamFailedText);
        return false;
    }
    const std::vector<uint8_t> format = StreamFormat();
    AVIStreamSetFormat(FAviStream, 0, format.data(), static_cast<int32_t>(format.size()));
    // Zero-filled once: the bytes past the converted rows stay 0 in every sample.
    FBuffer.assign(FBufferSize, 0);
    FWriting = true;
    return true;
}

// The file is released already; what remains of a failed Open goes, then the warning.
void TJxAvi::FailOpen(const std::string& warning) {
    ReleaseCompressor();
    AVIFileExit();
    FDrawBitmap.reset();
    WarningBox(warning);
}

void TJxAvi::FillStreamInfo() {
    const bool compressing = CompressingWhileWriting();
    FStreamInfo = AVISTREAMINFO{};
    FStreamInfo.fccType = streamtypeVIDEO;
    FStreamInfo.fccHandler = compressing ? FSeqCompVars.fccHandler : 0;
    FStreamInfo.dwScale = 1;
    FStreamInfo.dwRate = static_cast<uint32_t>(FFrameRate);
    FStreamInfo.dwLength = 0;
    FStreamInfo.dwQuality =
        compressing ? static_cast<uint32_t>(FSeqCompVars.lQ) : UncompressedQuality;
    FStreamInfo.rcFrame = Rect(0, 0, FWidth, FHeight);
    std::memcpy(FStreamInfo.szName, StreamName, sizeof(StreamName));
}

// The frame header; compressed, the compressor's own output format, whose bit count decoders
// of 16-bit and palette formats go by and whose codec data some decoders cannot do without.
std::vector<uint8_t> TJxAvi::StreamFormat() const {
    const BITMAPINFOHEADER* out = FSeqCompVars.lpbiOut;
    if (CompressingWhileWriting() && out != nullptr && out->biSize >= sizeof(BITMAPINFOHEADER)) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(out);
        return {bytes, bytes + out->biSize};
    }
    BITMAPINFOHEADER header = FBitmapHeader;
    if (CompressingWhileWriting()) header.biCompression = FSeqCompVars.fccHandler;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    return {bytes, bytes + sizeof(header)};
}

bool TJxAvi::AddFrame(TBitmap& picture) {
    if (!FWriting) return false;
    const int width = FBitmapHeader.biWidth;
    const int height = FBitmapHeader.biHeight;
    FDrawBitmap->Canvas().StretchDraw(Rect(0, 0, width, height), picture);
    GetDIBits(*FDrawBitmap, 0, static_cast<uint32_t>(height), FBuffer.data(), FBitmapHeader,
              DIB_RGB_COLORS);

    const auto frame = static_cast<int32_t>(FStreamInfo.dwLength);
    int32_t samplesWritten = 0;
    int32_t bytesWritten = 0;
    HRESULT written = AVIERR_OK;
    if (FSeqStarted) {
        auto size = static_cast<int32_t>(FBufferSize);
        bool key = false;
        const void* data = ICSeqCompressFrame(&FSeqCompVars, 0, FBuffer.data(), &key, &size);
        if (data == nullptr) {
            ErrorBox(FSeqFrameFailedText);
            return false;
        }
        written = AVIStreamWrite(FAviStream, frame, 1, data, size, key ? AVIIF_KEYFRAME : 0,
                                 &samplesWritten, &bytesWritten);
    } else {
        written = AVIStreamWrite(FAviStream, frame, 1, FBuffer.data(),
                                 static_cast<int32_t>(FBitmapHeader.biSizeImage), AVIIF_KEYFRAME,
                                 &samplesWritten, &bytesWritten);
    }
    if (written != AVIERR_OK) {
        FailWrite();
        return false;
    }
    ++FStreamInfo.dwLength;
    return true;
}

// Once per movie: the frames after the first that failed fail the same way.
void TJxAvi::FailWrite() {
    if (FWriteFailed) return;
    FWriteFailed = true;
    ErrorBox(FFileName + "\r\n" + FWriteFailedText);
}

void TJxAvi::Close() {
    if (!FWriting) return;
    FWriting = false;
    FDrawBitmap.reset();
    FBuffer = {};
    ReleaseCompressor();
    // A movie whose index or headers did not reach the disk is not whole either; it keeps the
    // frames that could be finished.
    if (AVIFileFinish(FAviFile) != AVIERR_OK) {
        FailWrite();
        FStreamInfo.dwLength = static_cast<uint32_t>(std::max(AVIStreamLength(FAviStream), 0));
    }
    AVIStreamRelease(FAviStream);
    AVIFileRelease(FAviFile);
    FAviStream = nullptr;
    FAviFile = nullptr;
    // A movie of no frames is not offered for re-compression: the caller removes it.
    if (!FCompress || FPreCompress || FWriteFailed || FrameCount() == 0) {
        AVIFileExit();
        return;
    }
    Recompress();
}

// The movie's video stream, open for reading; false, with the warning shown, when it cannot be.
bool TJxAvi::OpenMovieStream(uint32_t mode, PAVISTREAM& video) {
    if (AVIFileOpen(&FAviFile, FFileName, mode) != AVIERR_OK || FAviFile == nullptr) {
        FAviFile = nullptr;
        WarningBox(FOpenFileFailedText);
        return false;
    }
    if (AVIFileGetStream(FAviFile, &video, streamtypeVIDEO, 0) != AVIERR_OK || video == nullptr) {
        video = nullptr;
        ReleaseMovie();
        WarningBox(FVideoText + FOpenStreamFailedText);
        return false;
    }
    return true;
}

void TJxAvi::ReleaseMovie() {
    AVIStreamRelease(FAviStream);
    AVIFileRelease(FAviFile);
    FAviStream = nullptr;
    FAviFile = nullptr;
}

// Writes a copy of the movie through Write into a temporary beside it. The source is let go
// through ReleaseSource (once, however the copy went), and the copy then replaces the movie only
// when it was written and finished whole; otherwise it goes and the movie stays.
bool TJxAvi::ReplaceByCopy(const std::function<HRESULT(PAVIFILE)>& write,
                           const std::function<void()>& releaseSource) const {
    TTemporaryFile temporary(FFileName, FTemporaryJournal);
    PAVIFILE copy = nullptr;
    HRESULT result = temporary.Created() ? AVIFileCreate(&copy, temporary.File(), temporary.Name())
                                         : AVIERR_FILEOPEN;
    if (result == AVIERR_OK) result = write(copy);
    if (copy != nullptr) {
        if (const HRESULT finished = AVIFileFinish(copy); result == AVIERR_OK) result = finished;
        AVIFileRelease(copy);
    }
    releaseSource();
    return result == AVIERR_OK && temporary.ReplaceMovie();
}

void TJxAvi::Recompress() {
    if (!OpenMovieStream(OF_READ, FAviStream)) {
        AVISaveOptionsFree(1, &FSaveOptionsRef);
        AVIFileExit();
        return;
    }
    FSaveOptions.fccType = streamtypeVIDEO;
    FSaveOptions.fccHandler = comptypeDIB;
    FSaveOptionsRef = &FSaveOptions;
    AVISaveOptions(FOwner, SaveOptionsFlags, 1, &FAviStream, &FSaveOptionsRef);
    // Cancelled or full frames: the uncompressed movie stays without a word.
    bool saved = true;
    if (FSaveOptions.fccHandler != comptypeDIB) {
        SaveAbortStatus = 0;
        SaveProgressForm = ShowProgressWindow({FProgressCaption, FProgressText, FAbortText},
                                              [this] { AbortSaveClick(nullptr); });
        saved = ReplaceByCopy(
            [this](PAVIFILE copy) {
                return AVISaveV(copy, SaveProgressCallback, 1, &FAviStream, &FSaveOptionsRef);
            },
            [this] {
                SaveProgressForm.reset();
                ReleaseMovie();
            });
    }
    AVISaveOptionsFree(1, &FSaveOptionsRef);
    ReleaseMovie();
    if (!saved) WarningBox(FSaveAbortedText);
    AVIFileExit();
}

int32_t TJxAvi::SaveProgressCallback(int32_t percent) {
    if (SaveProgressForm != nullptr) SaveProgressForm->SetPosition(percent);
    ProcessMessages();
    return SaveAbortStatus;
}

void TJxAvi::AbortSaveClick(QObject* /*sender*/) {
    SaveAbortStatus = SaveAbortRequested;
}

void TJxAvi::Rebuild(int32_t skipAudio) {
    AVIFileInit();
    std::array<PAVISTREAM, MaxRebuildStreams> streams{};
    if (!OpenMovieStream(OF_READWRITE, streams[0])) {
        AVIFileExit();
        return;
    }
    size_t count = 1;
    for (int32_t j = 0; skipAudio >= 0 && count < MaxRebuildStreams; ++j) {
        if (j == skipAudio) continue;
        if (AVIFileGetStream(FAviFile, &streams[count], streamtypeAUDIO, j) != AVIERR_OK ||
            streams[count] == nullptr)
            break;
        ++count;
    }
    const bool rebuilt = ReplaceByCopy(
        [&](PAVIFILE copy) {
            HRESULT result = AVIERR_OK;
            for (size_t i = 0; i < count && result == AVIERR_OK; ++i)
                result = AVIStreamCopy(streams[i], copy);
            return result;
        },
        [&] {
            for (size_t i = 0; i < count; ++i)
                AVIStreamRelease(streams[i]);
            AVIFileRelease(FAviFile);
            FAviFile = nullptr;
        });
    AVIFileExit();
    if (!rebuilt) WarningBox(FRebuildFailedText);
}
