#include "platform/vcm/AviSave.h"

#include "platform/vcm/ChooseDialog.h"
#include "platform/vcm/Encoder.h"
#include "platform/vcm/Vcm.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string OptionsTitle = "圧縮オプション";
constexpr int32_t BytesPerKilobyte = 1024;
constexpr int32_t PercentDone = 100;

// Releases a stream or file handle when the save step ends, however it ends.
struct StreamRelease {
    void operator()(TAviStream* s) const { AVIStreamRelease(s); }
};
struct FileRelease {
    void operator()(TAviFile* f) const { AVIFileRelease(f); }
};
using StreamHandle = std::unique_ptr<TAviStream, StreamRelease>;
using FileHandle = std::unique_ptr<TAviFile, FileRelease>;

HRESULT ReadFormat(PAVISTREAM stream, Bytes& format) {
    int32_t size = 0;
    HRESULT r = AVIStreamReadFormat(stream, AVIStreamStart(stream), nullptr, &size);
    if (r != AVIERR_OK) return r;
    if (size <= 0) return AVIERR_NODATA;
    format.assign(static_cast<size_t>(size), 0);
    return AVIStreamReadFormat(stream, AVIStreamStart(stream), format.data(), &size);
}

// The frame format of a video stream, when it is one the compressors take.
bool InputHeader(const Bytes& format, BITMAPINFOHEADER& header) {
    if (format.size() < sizeof header) return false;
    std::memcpy(&header, format.data(), sizeof header);
    return vcm::IsSupportedInput(header);
}

// Samples from Position: Samples of them (AVISTREAMREAD_CONVENIENT: a convenient block).
HRESULT ReadBlock(PAVISTREAM stream, int32_t position, int32_t samples, Bytes& block,
                  int32_t& count) {
    int32_t bytes = 0;
    HRESULT r = AVIStreamRead(stream, position, samples, nullptr, 0, &bytes, &count);
    if (r != AVIERR_OK) return r;
    if (bytes < 0 || count <= 0) return AVIERR_FILEREAD;
    block.assign(static_cast<size_t>(bytes), 0);
    return AVIStreamRead(stream, position, count, block.data(), bytes, &bytes, &count);
}

// The percentage handed to the callback over all streams of the save.
class Progress {
public:
    Progress(AVISAVECALLBACK callback, int64_t total) : callback_(callback), total_(total) {}
    // False when the callback asks to stop.
    bool Report() const {
        const int64_t percent = total_ > 0 ? done_ * PercentDone / total_ : PercentDone;
        return callback_ == nullptr || callback_(static_cast<int32_t>(percent)) == 0;
    }
    void Advance(int64_t samples) { done_ += samples; }

private:
    AVISAVECALLBACK callback_;
    int64_t total_;
    int64_t done_ = 0;
};

// The user's options in the compressor's settings (see platform/vcm/Encoder.cpp).
// The quality of a record the dialog has filled; a record it has not (all zero, as the movie
// maker's first one is) would otherwise ask for the lowest quality, 0.
int32_t QualityOf(const AVICOMPRESSOPTIONS& options) {
    if (!(options.dwFlags & AVICOMPRESSF_VALID)) return ICQUALITY_DEFAULT;
    return std::clamp(static_cast<int32_t>(options.dwQuality), ICQUALITY_DEFAULT, ICQUALITY_HIGH);
}

vcm::Settings SettingsOf(const AVICOMPRESSOPTIONS& options, const AVISTREAMINFO& info) {
    vcm::Settings settings;
    settings.quality = QualityOf(options);
    if (options.dwFlags & AVICOMPRESSF_KEYFRAMES)
        settings.keyFrameEvery =
            static_cast<int32_t>(std::min<uint32_t>(options.dwKeyFrameEvery, INT32_MAX));
    if (options.dwFlags & AVICOMPRESSF_DATARATE)
        settings.dataRate = static_cast<int32_t>(options.dwBytesPerSecond / BytesPerKilobyte);
    settings.rate = static_cast<int32_t>(std::min<uint32_t>(info.dwRate, INT32_MAX));
    settings.scale = static_cast<int32_t>(std::min<uint32_t>(info.dwScale, INT32_MAX));
    return settings;
}

bool Compresses(const AVISTREAMINFO& info, const AVICOMPRESSOPTIONS* options) {
    return info.fccType == streamtypeVIDEO && options != nullptr && options->fccHandler != 0 &&
           options->fccHandler != comptypeDIB;
}

// One stream of the source and its copy in the new file.
class StreamSave {
public:
    StreamSave(PAVISTREAM source, const AVICOMPRESSOPTIONS* options)
        : source_(source), options_(options) {}

    HRESULT Prepare() {
        HRESULT r = AVIStreamInfo(source_, &info_, sizeof info_);
        if (r == AVIERR_OK) r = ReadFormat(source_, format_);
        return r;
    }
    int64_t Length() const { return std::max(AVIStreamLength(source_), 0); }

    HRESULT Save(PAVIFILE file, Progress& progress) {
        if (!Compresses(info_, options_)) return CopyBlocks(file, progress);
        HRESULT r = OpenEncoder();
        if (r != AVIERR_OK) return r;
        AVISTREAMINFO target = info_;
        target.dwLength = 0;
        target.dwSuggestedBufferSize = 0;
        target.fccHandler = options_->fccHandler;
        target.dwQuality = static_cast<uint32_t>(QualityOf(*options_));
        const Bytes targetFormat = encoder_->OutputFormat();
        PAVISTREAM created = nullptr;
        r = AVIFileCreateStream(file, &created, target);
        if (r != AVIERR_OK) return r;
        const StreamHandle stream(created);
        r = AVIStreamSetFormat(created, AVIStreamStart(source_), targetFormat.data(),
                               static_cast<int32_t>(targetFormat.size()));
        if (r != AVIERR_OK) return r;
        return CompressFrames(created, progress);
    }

private:
    HRESULT OpenEncoder() {
        if (!InputHeader(format_, input_)) return AVIERR_UNSUPPORTED;
        const auto candidate = vcm::FindCandidate(input_, options_->fccHandler);
        if (!candidate) return AVIERR_NOCOMPRESSOR;
        encoder_ = vcm::Encoder::Open(*candidate, input_, SettingsOf(*options_, info_));
        return encoder_ ? AVIERR_OK : AVIERR_COMPRESSOR;
    }

    HRESULT CompressFrames(PAVISTREAM target, Progress& progress) {
        const size_t frameBytes = static_cast<size_t>(vcm::DibStride(input_)) * input_.biHeight;
        const int32_t start = AVIStreamStart(source_), end = start + AVIStreamLength(source_);
        Bytes sample;
        for (int32_t position = start; position < end; ++position) {
            if (!progress.Report()) return AVIERR_USERABORT;
            int32_t count = 0;
            HRESULT r = ReadBlock(source_, position, 1, sample, count);
            if (r != AVIERR_OK) return r;
            // A short sample is completed with black rows rather than read past its end.
            sample.resize(std::max(sample.size(), frameBytes), 0);
            const uint8_t* data = nullptr;
            int32_t size = 0;
            bool key = false;
            if (!encoder_->Compress(sample.data(), false, data, size, key))
                return AVIERR_COMPRESSOR;
            r = AVIStreamWrite(target, position, 1, data, size, key ? AVIIF_KEYFRAME : 0, nullptr,
                               nullptr);
            if (r != AVIERR_OK) return r;
            progress.Advance(1);
        }
        return AVIERR_OK;
    }

    // Without a compressor the samples go over as they are, key-frame flags and all. The
    // percentage is reported before each block, as while compressing.
    HRESULT CopyBlocks(PAVIFILE file, Progress& progress) {
        int64_t left = Length();
        if (left > 0 && !progress.Report()) return AVIERR_USERABORT;
        return AVIStreamCopy(source_, file, [&](int32_t samples) {
            progress.Advance(samples);
            left -= samples;
            return left <= 0 || progress.Report();
        });
    }

    PAVISTREAM source_;
    const AVICOMPRESSOPTIONS* options_;
    AVISTREAMINFO info_;
    Bytes format_;
    BITMAPINFOHEADER input_;
    std::unique_ptr<vcm::Encoder> encoder_;
};

// The dialog over one video stream: its compressors, and its first frame for the preview.
vcm::ChooseContext ContextFor(PAVISTREAM stream, uint32_t flags, const AVICOMPRESSOPTIONS& options,
                              Bytes& previewFrame) {
    vcm::ChooseContext context;
    context.title = OptionsTitle;
    context.flags = flags;
    context.initial.fccHandler = options.fccHandler;
    context.initial.quality = QualityOf(options);
    context.initial.keyFrameEvery = static_cast<int32_t>(options.dwKeyFrameEvery);
    context.initial.dataRate = static_cast<int32_t>(options.dwBytesPerSecond / BytesPerKilobyte);
    Bytes format;
    BITMAPINFOHEADER input;
    if (ReadFormat(stream, format) != AVIERR_OK || !InputHeader(format, input)) return context;
    context.compressors = ICCompressorList(input);
    int32_t count = 0;
    const size_t frameBytes = static_cast<size_t>(vcm::DibStride(input)) * input.biHeight;
    if ((flags & ICMF_CHOOSE_PREVIEW) &&
        ReadBlock(stream, AVIStreamStart(stream), 1, previewFrame, count) == AVIERR_OK) {
        previewFrame.resize(std::max(previewFrame.size(), frameBytes), 0);
        context.preview = input;
        context.previewBits = previewFrame.data();
    }
    return context;
}

void ApplyChoice(const vcm::ChooseChoice& choice, uint32_t flags, AVICOMPRESSOPTIONS& options) {
    options.fccType = streamtypeVIDEO;
    options.fccHandler = choice.fccHandler;
    options.dwQuality = static_cast<uint32_t>(choice.quality);
    options.dwFlags |= AVICOMPRESSF_VALID;
    if (flags & ICMF_CHOOSE_KEYFRAME) {
        options.dwKeyFrameEvery = static_cast<uint32_t>(std::max(choice.keyFrameEvery, 0));
        options.dwFlags = choice.keyFrameEvery > 0 ? options.dwFlags | AVICOMPRESSF_KEYFRAMES
                                                   : options.dwFlags & ~AVICOMPRESSF_KEYFRAMES;
    }
    if (flags & ICMF_CHOOSE_DATARATE) {
        options.dwBytesPerSecond =
            static_cast<uint32_t>(std::max(choice.dataRate, 0)) * BytesPerKilobyte;
        options.dwFlags = choice.dataRate > 0 ? options.dwFlags | AVICOMPRESSF_DATARATE
                                              : options.dwFlags & ~AVICOMPRESSF_DATARATE;
    }
}

} // namespace

bool AVISaveOptions(QWidget* owner, uint32_t flags, int32_t streams, PAVISTREAM* streamList,
                    LPAVICOMPRESSOPTIONS* options) {
    if (streams <= 0 || streamList == nullptr || options == nullptr) return false;
    bool confirmed = true;
    for (int32_t i = 0; i < streams; ++i) {
        AVISTREAMINFO info;
        if (options[i] == nullptr || streamList[i] == nullptr ||
            AVIStreamInfo(streamList[i], &info, sizeof info) != AVIERR_OK ||
            info.fccType != streamtypeVIDEO)
            continue;
        Bytes previewFrame;
        const auto context = ContextFor(streamList[i], flags, *options[i], previewFrame);
        const auto choice = vcm::AskChooseCompressor(owner, context);
        if (!choice) {
            confirmed = false;
            continue;
        }
        const bool offered = std::any_of(
            context.compressors.begin(), context.compressors.end(),
            [&](const TCompressorInfo& c) { return c.fccHandler == choice->fccHandler; });
        if (choice->fccHandler == comptypeDIB || offered)
            ApplyChoice(*choice, flags, *options[i]);
        else
            confirmed = false;
    }
    return confirmed;
}

// The dialog keeps nothing in the records' format and parameter blocks: nothing to free.
HRESULT AVISaveOptionsFree(int32_t streams, LPAVICOMPRESSOPTIONS* options) {
    return streams >= 0 && (streams == 0 || options != nullptr) ? AVIERR_OK : AVIERR_BADPARAM;
}

HRESULT AVISaveV(const std::string& path, const void* /*handlerClass*/, AVISAVECALLBACK callback,
                 int32_t streams, PAVISTREAM* streamList, LPAVICOMPRESSOPTIONS* options) {
    if (streams <= 0 || streamList == nullptr) return AVIERR_BADPARAM;
    PAVIFILE opened = nullptr;
    const HRESULT r = AVIFileOpen(&opened, path, OF_WRITE | OF_CREATE);
    if (r != AVIERR_OK) return r;
    const FileHandle file(opened);
    return AVISaveV(opened, callback, streams, streamList, options);
}

HRESULT AVISaveV(PAVIFILE file, AVISAVECALLBACK callback, int32_t streams, PAVISTREAM* streamList,
                 LPAVICOMPRESSOPTIONS* options) {
    if (streams <= 0 || streamList == nullptr) return AVIERR_BADPARAM;
    std::vector<StreamSave> saves;
    int64_t total = 0;
    for (int32_t i = 0; i < streams; ++i) {
        if (streamList[i] == nullptr) return AVIERR_BADHANDLE;
        saves.emplace_back(streamList[i], options != nullptr ? options[i] : nullptr);
        const HRESULT r = saves.back().Prepare();
        if (r != AVIERR_OK) return r;
        total += saves.back().Length();
    }
    Progress progress(callback, total);
    HRESULT r = AVIERR_OK;
    for (StreamSave& save : saves) {
        r = save.Save(file, progress);
        if (r != AVIERR_OK) return r;
    }
    // Only a file finished whole is a saved one (a full disk shows here at the latest).
    r = AVIFileFinish(file);
    if (r != AVIERR_OK) return r;
    progress.Report(); // 100: the whole file is written, a late stop changes nothing
    return AVIERR_OK;
}
