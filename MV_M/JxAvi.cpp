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
constexpr char TemporaryExtension[] = "_.avi";

// A stream list: the video stream and at most 15 audio streams.
constexpr size_t MaxRebuildStreams = 16;

// A frame sample's size is a 32-bit signed count in the stream calls.
constexpr int64_t MaxFrameBytes = std::numeric_limits<int32_t>::max();

int64_t FrameBufferSize(uint16_t width, uint16_t height, uint16_t bitDepth) {
    // The width is rounded up to four pixels, not to four bytes.
    return (static_cast<int64_t>(width) + 3) / 4 * 4 * height * (bitDepth / 8);
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
    FBufferSize = static_cast<uint32_t>(bufferSize);
    FWriteFailed = false;

    ResetCompVars();
    if (FCompress && FPreCompress && !ChooseCompressor()) {
        FDrawBitmap.reset();
        return false;
    }

    if (FileExists(FFileName)) DeleteFile(FFileName);
    RemoveAbandonedTemporaries(ExtractFilePath(FFileName));
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
        written =
            AVIStreamWrite(FAviStream, frame, 1, FBuffer.data(), static_cast<int32_t>(FBufferSize),
                           AVIIF_KEYFRAME, &samplesWritten, &bytesWritten);
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
    // A movie whose index or headers did not reach the disk is not whole either.
    if (AVIFileFinish(FAviFile) != AVIERR_OK) FailWrite();
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

// movie.avi -> movie_.avi; a file of the user's own under that name is neither overwritten nor
// deleted: movie_2_.avi, movie_3_.avi, ... are tried instead.
std::string TJxAvi::TemporaryName() const {
    std::string name = ChangeFileExt(FFileName, TemporaryExtension);
    for (int n = 2; FileExists(name); ++n)
        name = ChangeFileExt(FFileName, "_" + std::to_string(n) + TemporaryExtension);
    return name;
}

void TJxAvi::Recompress() {
    auto releaseAll = [this] {
        AVISaveOptionsFree(1, &FSaveOptionsRef);
        AVIStreamRelease(FAviStream);
        AVIFileRelease(FAviFile);
        FAviStream = nullptr;
        FAviFile = nullptr;
    };
    if (AVIFileOpen(&FAviFile, FFileName, OF_READ) != AVIERR_OK || FAviFile == nullptr) {
        FAviFile = nullptr;
        AVISaveOptionsFree(1, &FSaveOptionsRef);
        AVIFileExit();
        WarningBox(FOpenFileFailedText);
        return;
    }
    if (AVIFileGetStream(FAviFile, &FAviStream, streamtypeVIDEO, 0) != AVIERR_OK ||
        FAviStream == nullptr) {
        FAviStream = nullptr;
        AVIFileRelease(FAviFile);
        FAviFile = nullptr;
        AVIFileExit();
        WarningBox(FVideoText + FOpenStreamFailedText);
        return;
    }
    FSaveOptions.fccType = streamtypeVIDEO;
    FSaveOptions.fccHandler = comptypeDIB;
    FSaveOptionsRef = &FSaveOptions;
    AVISaveOptions(FOwner, SaveOptionsFlags, 1, &FAviStream, &FSaveOptionsRef);
    if (FSaveOptions.fccHandler == comptypeDIB) {
        releaseAll();
        AVIFileExit();
        return;
    }

    const std::string temporary = TemporaryName();
    SaveAbortStatus = 0;
    SaveProgressForm = ShowProgressWindow({FProgressCaption, FProgressText, FAbortText},
                                          [this] { AbortSaveClick(nullptr); });
    HRESULT result = AVIERR_OK;
    {
        const TTemporaryFile noted(temporary);
        result =
            AVISaveV(temporary, nullptr, SaveProgressCallback, 1, &FAviStream, &FSaveOptionsRef);
        SaveProgressForm.reset();
        releaseAll();
        // The uncompressed movie goes only for a compressed one written whole.
        if (result != AVIERR_OK)
            DeleteFile(temporary);
        else if (!ReplaceMovie(temporary))
            result = AVIERR_FILEWRITE;
    }
    if (result != AVIERR_OK) WarningBox(FSaveAbortedText);
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
    if (AVIFileOpen(&FAviFile, FFileName, OF_READWRITE) != AVIERR_OK || FAviFile == nullptr) {
        FAviFile = nullptr;
        AVIFileExit();
        WarningBox(FOpenFileFailedText);
        return;
    }
    std::array<PAVISTREAM, MaxRebuildStreams> streams{};
    size_t count = 0;
    auto releaseSource = [&] {
        for (size_t i = 0; i < count; ++i)
            AVIStreamRelease(streams[i]);
        AVIFileRelease(FAviFile);
        FAviFile = nullptr;
        AVIFileExit();
    };
    if (AVIFileGetStream(FAviFile, &streams[0], streamtypeVIDEO, 0) != AVIERR_OK ||
        streams[0] == nullptr) {
        releaseSource();
        WarningBox(FVideoText + FOpenStreamFailedText);
        return;
    }
    count = 1;
    for (int32_t j = 0; skipAudio >= 0 && count < MaxRebuildStreams; ++j) {
        if (j == skipAudio) continue;
        if (AVIFileGetStream(FAviFile, &streams[count], streamtypeAUDIO, j) != AVIERR_OK ||
            streams[count] == nullptr)
            break;
        ++count;
    }

    const std::string temporary = TemporaryName();
    PAVIFILE target = nullptr;
    if (AVIFileOpen(&target, temporary, OF_WRITE | OF_CREATE) != AVIERR_OK || target == nullptr) {
        releaseSource();
        WarningBox(FCreateFileFailedText);
        return;
    }
    const TTemporaryFile noted(temporary);
    bool copied = true;
    for (size_t i = 0; i < count && copied; ++i)
        copied = AVIStreamCopy(streams[i], target) == AVIERR_OK;
    copied = AVIFileFinish(target) == AVIERR_OK && copied;
    AVIFileRelease(target);
    releaseSource();
    // The movie is replaced only by a copy written whole; a cut-short copy goes.
    if (!copied) DeleteFile(temporary);
    if (!copied || !ReplaceMovie(temporary)) WarningBox(FRebuildFailedText);
}

bool TJxAvi::ReplaceMovie(const std::string& temporary) const {
    // One step, so the movie is never missing.
    if (std::rename(temporary.c_str(), FFileName.c_str()) == 0) return true;
    DeleteFile(temporary);
    return false;
}
