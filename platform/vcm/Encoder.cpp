#include "platform/vcm/Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

namespace vcm {

void AvDeleter::operator()(AVCodecContext* p) const {
    avcodec_free_context(&p);
}
void AvDeleter::operator()(AVFrame* p) const {
    av_frame_free(&p);
}
void AvDeleter::operator()(AVPacket* p) const {
    av_packet_free(&p);
}
void AvDeleter::operator()(SwsContext* p) const {
    sws_freeContext(p);
}

namespace {

constexpr int BitsRgb555 = 16, BitsBgr = 24;
// The trial: frames small enough to try every encoder quickly, a multiple of 16 both ways.
constexpr int TrialWidth = 64, TrialHeight = 48, TrialFrames = 2;
// Quality 0..10000 onto an MPEG-style quantiser 31..1 and onto a constant rate factor 51..0.
constexpr int QualityMax = 10000;
constexpr int QscaleWorst = 31;
constexpr int CrfWorst = 51;
constexpr int BitsPerKilobyte = 1024 * 8;
constexpr int Vp8CeilingBitsPerPixel = 4;
// Larger frames than any encoder here takes; keeps every size product far from overflow.
constexpr int MaxSide = 16384;

AVPixelFormat SourceFormat(const BITMAPINFOHEADER& input) {
    return input.biBitCount == BitsRgb555 ? AV_PIX_FMT_RGB555LE : AV_PIX_FMT_BGR24;
}

Fourcc RiffTag(AVCodecID id) {
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_tag(tables, id);
}

// The encoder's pixel format that loses least from Source, among those libswscale writes.
AVPixelFormat BestPixelFormat(const AVCodec& codec, AVPixelFormat source) {
    if (codec.pix_fmts == nullptr) return AV_PIX_FMT_NONE;
    std::vector<AVPixelFormat> usable;
    for (const AVPixelFormat* f = codec.pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (sws_isSupportedOutput(*f) > 0) usable.push_back(*f);
    if (usable.empty()) return AV_PIX_FMT_NONE;
    usable.push_back(AV_PIX_FMT_NONE);
    return avcodec_find_best_pix_fmt_of_list(usable.data(), source, 0, nullptr);
}

// What players, browsers and hardware decoders expect of a lossy encoder: 4:2:0, as the first
// of the encoder's own list names it (full-range yuvj420p for Motion JPEG, yuv420p elsewhere).
AVPixelFormat PlayableFormat(const AVCodec& codec) {
    const AVCodecDescriptor* info = avcodec_descriptor_get(codec.id);
    if (info == nullptr || !(info->props & AV_CODEC_PROP_LOSSY) || codec.pix_fmts == nullptr)
        return AV_PIX_FMT_NONE;
    for (const AVPixelFormat* f = codec.pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if ((*f == AV_PIX_FMT_YUV420P || *f == AV_PIX_FMT_YUVJ420P) &&
            sws_isSupportedOutput(*f) > 0)
            return *f;
    return AV_PIX_FMT_NONE;
}

// Lossless codec fed full 8-bit RGB: 24-bit frames come back unchanged.
bool GivesExactPixels(const AVCodec& codec, AVPixelFormat format) {
    const AVCodecDescriptor* codecInfo = avcodec_descriptor_get(codec.id);
    const AVPixFmtDescriptor* formatInfo = av_pix_fmt_desc_get(format);
    if (codecInfo == nullptr || formatInfo == nullptr) return false;
    if (!(codecInfo->props & AV_CODEC_PROP_LOSSLESS) || (codecInfo->props & AV_CODEC_PROP_LOSSY))
        return false;
    if (!(formatInfo->flags & AV_PIX_FMT_FLAG_RGB) || (formatInfo->flags & AV_PIX_FMT_FLAG_PAL))
        return false;
    for (int i = 0; i < 3; ++i)
        if (formatInfo->comp[i].depth < 8) return false;
    return true;
}

// The AVI tag must lead readers back to this very codec (H.263+ would be read as H.263).
bool IsCandidateCodec(const AVCodec& codec) {
    constexpr int excluded = AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_EXPERIMENTAL;
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    const Fourcc tag = RiffTag(codec.id);
    return av_codec_is_encoder(&codec) && codec.type == AVMEDIA_TYPE_VIDEO &&
           !(codec.capabilities & excluded) && tag != 0 &&
           av_codec_get_id(tables, tag) == codec.id && avcodec_find_decoder(codec.id) != nullptr;
}

// A DIB frame with some detail in it, so that every encoder has real work to try.
std::vector<uint8_t> TrialFrame(const BITMAPINFOHEADER& header, int index) {
    const int stride = DibStride(header);
    std::vector<uint8_t> bits(static_cast<size_t>(stride) * header.biHeight);
    for (int y = 0; y < header.biHeight; ++y)
        for (int x = 0; x < stride; ++x)
            bits[static_cast<size_t>(y) * stride + x] =
                static_cast<uint8_t>(x * 5 + y * 3 + index * 17);
    return bits;
}

// The encoder gives one packet for each frame at once, and ffmpeg's decoder reads them back.
// Handler: the FOURCC it writes.
bool PassesTrial(const Candidate& candidate, int bitCount, Fourcc& handler) {
    BITMAPINFOHEADER header;
    header.biWidth = TrialWidth;
    header.biHeight = TrialHeight;
    header.biBitCount = static_cast<uint16_t>(bitCount);
    auto encoder = Encoder::Open(candidate, header, Settings{});
    if (!encoder) return false;
    auto decoder = Decoder::Open(encoder->OutputFormat());
    if (!decoder) return false;
    std::vector<uint8_t> picture;
    for (int i = 0; i < TrialFrames; ++i) {
        const uint8_t* data = nullptr;
        int32_t size = 0;
        bool key = false;
        const auto bits = TrialFrame(header, i);
        if (!encoder->Compress(bits.data(), i == 0, data, size, key)) return false;
        if (i == 0 && !key) return false;
        if (!decoder->Decode(data, size, picture)) return false;
    }
    handler = encoder->OutputHeader().biCompression;
    return encoder->Drain();
}

std::vector<Candidate> TrialCandidates(int bitCount) {
    // Encoders that fail a trial explain why on stderr; nothing there is for our users.
    av_log_set_level(AV_LOG_QUIET);
    const AVPixelFormat source = bitCount == BitsRgb555 ? AV_PIX_FMT_RGB555LE : AV_PIX_FMT_BGR24;
    std::vector<Candidate> found;
    void* iterator = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&iterator)) {
        // One encoder per codec: the first that works (libavcodec lists its own first).
        const bool codecTaken = std::any_of(found.begin(), found.end(), [&](const Candidate& c) {
            return c.codec->id == codec->id;
        });
        if (codecTaken || !IsCandidateCodec(*codec)) continue;
        Candidate candidate;
        candidate.codec = codec;
        candidate.name = codec->name;
        candidate.longName = codec->long_name != nullptr ? codec->long_name : codec->name;
        candidate.fallbackFormat = BestPixelFormat(*codec, source);
        if (candidate.fallbackFormat == AV_PIX_FMT_NONE) continue;
        const AVPixelFormat playable = PlayableFormat(*codec);
        candidate.pixelFormat = playable != AV_PIX_FMT_NONE ? playable : candidate.fallbackFormat;
        candidate.exact =
            GivesExactPixels(*codec, static_cast<AVPixelFormat>(candidate.pixelFormat));
        if (!PassesTrial(candidate, bitCount, candidate.fccHandler)) continue;
        const bool taken = std::any_of(found.begin(), found.end(), [&](const Candidate& c) {
            return c.fccHandler == candidate.fccHandler;
        });
        if (!taken) found.push_back(candidate);
    }
    return found;
}

// Encoders refuse some frame sizes (standard sizes only, multiples of 4...) when opened.
std::vector<Candidate> CandidatesForSize(const std::vector<Candidate>& all,
                                         const BITMAPINFOHEADER& input) {
    std::vector<Candidate> fit;
    for (const Candidate& c : all)
        if (Encoder::Open(c, input, Settings{})) fit.push_back(c);
    return fit;
}

struct CandidateCache {
    std::mutex lock;
    std::map<int, std::vector<Candidate>> byBitCount;
    std::map<std::tuple<int, int, int>, std::vector<Candidate>> bySize;
};

CandidateCache& Cache() {
    static CandidateCache cache;
    return cache;
}

// Bytes libswscale may read past the end of a source row: its SIMD readers take whole blocks
// of pixels (a few dozen at most), so a kilobyte leaves room for any of them.
constexpr size_t ReadPastRow = 1024;

// Bottom-up rows: start at the last row and walk back. libswscale reads a little past the end
// of each row, which within the frame is the next row in memory, but past the last row in
// memory (the top of the picture) lie bytes that are not the caller's: the frame is converted
// from a copy in Rows with room behind it. (Converting only the rows near the end from a copy,
// as a slice of their own, would copy less but rounds the rows around the cut differently.)
void ScaleDib(SwsContext* scaler, const BITMAPINFOHEADER& input, const void* bits,
              std::vector<uint8_t>& rows, uint8_t* const target[], const int targetStrides[]) {
    const int stride = DibStride(input);
    const size_t bytes = static_cast<size_t>(stride) * input.biHeight;
    rows.resize(bytes + ReadPastRow);
    std::memcpy(rows.data(), bits, bytes);
    const uint8_t* const source[] = {rows.data() + bytes - stride};
    const int sourceStrides[] = {-stride};
    sws_scale(scaler, source, sourceStrides, 0, input.biHeight, target, targetStrides);
}

bool NewFrameBuffer(AVFrame& frame, int format, int width, int height) {
    av_frame_unref(&frame);
    frame.format = format;
    frame.width = width;
    frame.height = height;
    return av_frame_get_buffer(&frame, 0) >= 0;
}

void CopyFrameSettings(AVCodecContext& context, const Settings& settings) {
    context.time_base = AVRational{std::max(settings.scale, 1), std::max(settings.rate, 1)};
    context.framerate = AVRational{context.time_base.den, context.time_base.num};
}

} // namespace

bool IsSupportedInput(const BITMAPINFOHEADER& input) {
    return input.biCompression == BI_RGB && input.biWidth > 0 && input.biHeight > 0 &&
           (input.biBitCount == BitsRgb555 || input.biBitCount == BitsBgr) &&
           input.biWidth <= MaxSide && input.biHeight <= MaxSide;
}

int DibStride(const BITMAPINFOHEADER& input) {
    return (input.biWidth * input.biBitCount + 31) / 32 * 4;
}

namespace {

const std::vector<Candidate>& TriedCandidates(CandidateCache& cache, int bits) {
    auto all = cache.byBitCount.find(bits);
    if (all == cache.byBitCount.end())
        all = cache.byBitCount.emplace(bits, TrialCandidates(bits)).first;
    return all->second;
}

} // namespace

std::vector<Candidate> AllCandidates(int bitCount) {
    if (bitCount != BitsRgb555 && bitCount != BitsBgr) return {};
    CandidateCache& cache = Cache();
    const std::lock_guard guard(cache.lock);
    return TriedCandidates(cache, bitCount);
}

std::vector<Candidate> Candidates(const BITMAPINFOHEADER& input) {
    if (!IsSupportedInput(input)) return {};
    CandidateCache& cache = Cache();
    const std::lock_guard guard(cache.lock);
    const int bits = input.biBitCount;
    const auto& all = TriedCandidates(cache, bits);
    const auto key = std::make_tuple(bits, input.biWidth, input.biHeight);
    auto fit = cache.bySize.find(key);
    if (fit == cache.bySize.end())
        fit = cache.bySize.emplace(key, CandidatesForSize(all, input)).first;
    return fit->second;
}

std::optional<Candidate> FindCandidate(const BITMAPINFOHEADER& input, Fourcc handler) {
    const auto list = Candidates(input);
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const Candidate& c) { return c.fccHandler == handler; });
    if (it == list.end()) return std::nullopt;
    return *it;
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<Encoder> Encoder::Open(const Candidate& candidate, const BITMAPINFOHEADER& input,
                                       const Settings& settings) {
    if (candidate.codec == nullptr || !IsSupportedInput(input)) return nullptr;
    // Sizes that an encoder cannot take in 4:2:0 keep the fuller format. x264 refuses odd
    // sizes (and leaks a little on every refusal), so it is not asked.
    const int fallback = candidate.fallbackFormat;
    const bool hasFallback = fallback >= 0 && fallback != candidate.pixelFormat;
    const bool odd = input.biWidth % 2 != 0 || input.biHeight % 2 != 0;
    const bool evenOnly = candidate.name == "libx264";
    std::unique_ptr<Encoder> encoder(new Encoder);
    if (!(odd && evenOnly && hasFallback) &&
        encoder->Start(candidate, candidate.pixelFormat, input, settings))
        return encoder;
    if (!hasFallback) return nullptr;
    encoder.reset(new Encoder);
    if (encoder->Start(candidate, fallback, input, settings)) return encoder;
    return nullptr;
}

bool Encoder::Start(const Candidate& candidate, int pixelFormat, const BITMAPINFOHEADER& input,
                    const Settings& settings) {
    input_ = input;
    context_.reset(avcodec_alloc_context3(candidate.codec));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!context_ || !frame_ || !packet_) return false;
    const auto format = static_cast<AVPixelFormat>(pixelFormat);
    context_->width = input.biWidth;
    context_->height = input.biHeight;
    context_->pix_fmt = format;
    context_->thread_count = 1; // frame threads would hold packets back
    ApplySettings(settings);
    ApplySpeed(candidate);
    if (avcodec_open2(context_.get(), candidate.codec, nullptr) < 0) return false;

    if (!NewFrameBuffer(*frame_, format, input.biWidth, input.biHeight)) return false;
    // From RGB, libswscale halves the chroma by averaging pairs of pixels as it reads them; at
    // an odd width the last pair takes the pixel beyond the row (its padding and the next row),
    // so such widths read every pixel's chroma and filter it down like the rows.
    const int oddWidth = input.biWidth % 2 != 0 ? SWS_FULL_CHR_H_INP : 0;
    scaler_.reset(sws_getContext(input.biWidth, input.biHeight, SourceFormat(input), input.biWidth,
                                 input.biHeight, format, SWS_BICUBIC | oddWidth, nullptr, nullptr,
                                 nullptr));
    if (!scaler_) return false;
    BuildOutputFormat(candidate, input);
    return true;
}

// The user's settings in the encoder's own terms:
// - key frame every N frames: the group-of-pictures length N (also its minimum, which some
//   encoders take as their key-frame interval), and every N-th frame is sent as a key frame;
// - data rate D kilobytes per second: an average bit rate of D x 8192 bits per second, also the
//   maximum rate over a one-second buffer; the quality is then left to the rate control;
// - quality Q (0..10000) without a data rate: encoders with a constant rate factor get
//   crf = 51 x (10000 - Q) / 10000 and no bit rate (x264, x265, VP8/VP9, AV1); all others a
//   fixed quantiser 1 + 30 x (10000 - Q) / 10000 (MPEG-style 1..31: MJPG, FMP4, MP42/MP43...),
//   which lossless encoders and those without a quality setting ignore. Q = -1 is the
//   dialog's default of 75 for every encoder (crf 12, quantiser 8), so the slider left alone
//   gives what it shows; libavcodec's default of a 200 kbit/s rate would starve full-size
//   frames, and each library's own default would differ from the slider.
// No encoder may hold frames back: no B-frames, and look-ahead switched off where it exists.
void Encoder::ApplySettings(const Settings& settings) {
    AVCodecContext& c = *context_;
    CopyFrameSettings(c, settings);
    keyFrameEvery_ = settings.keyFrameEvery;
    c.max_b_frames = 0;
    av_opt_set(c.priv_data, "tune", "zerolatency", 0);
    av_opt_set_int(c.priv_data, "lag-in-frames", 0, 0);
    if (settings.keyFrameEvery > 0) c.gop_size = c.keyint_min = settings.keyFrameEvery;
    if (settings.dataRate > 0) {
        c.bit_rate = static_cast<int64_t>(settings.dataRate) * BitsPerKilobyte;
        c.rc_max_rate = c.bit_rate;
        c.rc_buffer_size = static_cast<int>(std::min<int64_t>(c.bit_rate, INT32_MAX));
        // Starting a quarter full keeps the first frames near the rate.
        c.rc_initial_buffer_occupancy = c.rc_buffer_size / 4;
        return;
    }
    const bool hasCrf = av_opt_find(c.priv_data, "crf", nullptr, 0, 0) != nullptr;
    const int32_t quality = settings.quality < 0 ? DefaultQuality : settings.quality;
    const int64_t lack = QualityMax - std::min(quality, QualityMax);
    if (hasCrf) {
        // VP8's constant quality still keeps to a bit rate, 256 kbit/s unless given one: a
        // ceiling that frames at any quality stay under leaves it to the crf.
        c.bit_rate = c.codec_id == AV_CODEC_ID_VP8
                         ? static_cast<int64_t>(c.width) * c.height * Vp8CeilingBitsPerPixel *
                               c.time_base.den / std::max(c.time_base.num, 1)
                         : 0;
        av_opt_set_double(c.priv_data, "crf", static_cast<double>(CrfWorst * lack / QualityMax), 0);
        return;
    }
    c.flags |= AV_CODEC_FLAG_QSCALE;
    c.global_quality = static_cast<int>(FF_QP2LAMBDA * (1 + (QscaleWorst - 1) * lack / QualityMax));
}

namespace {

struct EncoderOption {
    const char* encoder;
    const char* name;
    const char* value;
};

// Frames become a movie while the user waits: the encoders with speed settings run in their
// fast modes, whose quality at the default setting stays close to their slow ones'.
constexpr EncoderOption SpeedOptions[] = {
    {"libaom-av1", "usage", "realtime"},
    {"libaom-av1", "cpu-used", "8"},
    {"libvpx", "deadline", "good"},
    {"libvpx", "cpu-used", "4"},
    {"libvpx-vp9", "deadline", "good"},
    {"libvpx-vp9", "cpu-used", "4"},
    {"cinepak", "max_strips", "1"},
    {"cinepak", "max_extra_cb_iterations", "0"},
    {"cinepak", "skip_empty_cb", "1"},
    {"zmbv", "compression_level", "1"}, // twice as fast for 7 % more bytes
};

} // namespace

void Encoder::ApplySpeed(const Candidate& candidate) {
    for (const EncoderOption& o : SpeedOptions)
        if (candidate.name == o.encoder)
            av_opt_set(context_.get(), o.name, o.value, AV_OPT_SEARCH_CHILDREN);
}

void Encoder::BuildOutputFormat(const Candidate& candidate, const BITMAPINFOHEADER& input) {
    const AVCodecContext& c = *context_;
    const int extra = c.extradata != nullptr ? std::max(c.extradata_size, 0) : 0;
    BITMAPINFOHEADER header;
    header.biSize = static_cast<uint32_t>(sizeof(BITMAPINFOHEADER) + extra);
    header.biWidth = input.biWidth;
    header.biHeight = input.biHeight;
    header.biBitCount = static_cast<uint16_t>(c.bits_per_coded_sample > 0 ? c.bits_per_coded_sample
                                                                          : input.biBitCount);
    header.biCompression = c.codec_tag != 0 ? c.codec_tag : RiffTag(candidate.codec->id);
    header.biSizeImage = static_cast<uint32_t>(
        (static_cast<int64_t>(input.biWidth) * input.biHeight * header.biBitCount + 7) / 8);
    outputFormat_.resize(header.biSize);
    std::memcpy(outputFormat_.data(), &header, sizeof header);
    if (extra > 0) std::memcpy(outputFormat_.data() + sizeof header, c.extradata, extra);
}

const BITMAPINFOHEADER& Encoder::OutputHeader() const {
    return *reinterpret_cast<const BITMAPINFOHEADER*>(outputFormat_.data());
}

bool Encoder::Compress(const void* bits, bool forceKey, const uint8_t*& data, int32_t& size,
                       bool& key) {
    av_packet_unref(packet_.get());
    if (bits == nullptr || !WritableFrame()) return false;
    ScaleDib(scaler_.get(), input_, bits, rows_, frame_->data, frame_->linesize);
    const bool due = keyFrameEvery_ > 0 && frameNumber_ % keyFrameEvery_ == 0;
    frame_->pict_type = forceKey || due ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    frame_->pts = frameNumber_++;
    // Encoders with a fixed quantiser read it from each frame.
    if (context_->flags & AV_CODEC_FLAG_QSCALE) frame_->quality = context_->global_quality;
    if (avcodec_send_frame(context_.get(), frame_.get()) < 0) return false;
    if (avcodec_receive_packet(context_.get(), packet_.get()) < 0) return false;
    static constexpr uint8_t empty = 0;
    data = packet_->size > 0 ? packet_->data : &empty;
    size = packet_->size;
    key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    return true;
}

// A frame the encoder still holds is left to it; the next picture gets a fresh buffer (not a
// copy of the old one, which is overwritten anyway).
bool Encoder::WritableFrame() {
    if (av_frame_is_writable(frame_.get())) return true;
    return NewFrameBuffer(*frame_, frame_->format, frame_->width, frame_->height);
}

bool Encoder::Drain() {
    av_packet_unref(packet_.get());
    if (avcodec_send_frame(context_.get(), nullptr) < 0) return false;
    return avcodec_receive_packet(context_.get(), packet_.get()) == AVERROR_EOF;
}

std::vector<uint8_t> DibToBgr(const BITMAPINFOHEADER& input, const void* bits) {
    if (!IsSupportedInput(input) || bits == nullptr) return {};
    const int width = input.biWidth, height = input.biHeight;
    AvPtr<SwsContext> scaler(sws_getContext(width, height, SourceFormat(input), width, height,
                                            AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr,
                                            nullptr));
    if (!scaler) return {};
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3), rows;
    uint8_t* const target[] = {bgr.data()};
    const int targetStrides[] = {width * 3};
    ScaleDib(scaler.get(), input, bits, rows, target, targetStrides);
    return bgr;
}

bool RoundTrip(const Candidate& candidate, const BITMAPINFOHEADER& input, const void* bits,
               const Settings& settings, std::vector<uint8_t>& bgr) {
    const auto encoder = Encoder::Open(candidate, input, settings);
    if (!encoder) return false;
    const auto decoder = Decoder::Open(encoder->OutputFormat());
    const uint8_t* data = nullptr;
    int32_t size = 0;
    bool key = false;
    return decoder && encoder->Compress(bits, true, data, size, key) &&
           decoder->Decode(data, size, bgr);
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<Decoder> Decoder::Open(const std::vector<uint8_t>& format) {
    if (format.size() < sizeof(BITMAPINFOHEADER)) return nullptr;
    BITMAPINFOHEADER header;
    std::memcpy(&header, format.data(), sizeof header);
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    const AVCodec* codec = avcodec_find_decoder(av_codec_get_id(tables, header.biCompression));
    if (codec == nullptr || header.biWidth <= 0 || header.biHeight == 0) return nullptr;
    std::unique_ptr<Decoder> decoder(new Decoder);
    decoder->context_.reset(avcodec_alloc_context3(codec));
    decoder->frame_.reset(av_frame_alloc());
    decoder->packet_.reset(av_packet_alloc());
    if (!decoder->context_ || !decoder->frame_ || !decoder->packet_) return nullptr;
    AVCodecContext& c = *decoder->context_;
    c.width = decoder->width_ = header.biWidth;
    c.height = decoder->height_ = std::abs(header.biHeight);
    c.codec_tag = header.biCompression;
    c.bits_per_coded_sample = header.biBitCount;
    c.thread_count = 1;
    const size_t extra = format.size() - sizeof header;
    if (extra > 0) {
        c.extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
        if (c.extradata == nullptr) return nullptr;
        std::memcpy(c.extradata, format.data() + sizeof header, extra);
        c.extradata_size = static_cast<int>(extra);
    }
    if (avcodec_open2(&c, codec, nullptr) < 0) return nullptr;
    return decoder;
}

bool Decoder::Decode(const uint8_t* data, int32_t size, std::vector<uint8_t>& bgr) {
    // An empty packet repeats the picture before it.
    if (size == 0) return !bgr.empty();
    if (av_new_packet(packet_.get(), size) < 0) return false;
    if (size > 0) std::memcpy(packet_->data, data, size);
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent < 0 || avcodec_receive_frame(context_.get(), frame_.get()) < 0) return false;
    const AVFrame& f = *frame_;
    const bool fits = f.width == width_ && f.height == height_;
    if (fits) {
        scaler_.reset(sws_getCachedContext(
            scaler_.release(), f.width, f.height, static_cast<AVPixelFormat>(f.format), f.width,
            f.height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    }
    if (!fits || !scaler_) {
        av_frame_unref(frame_.get());
        return false;
    }
    bgr.resize(static_cast<size_t>(width_) * height_ * 3);
    uint8_t* const target[] = {bgr.data()};
    const int strides[] = {width_ * 3};
    sws_scale(scaler_.get(), f.data, f.linesize, 0, f.height, target, strides);
    av_frame_unref(frame_.get());
    return true;
}

} // namespace vcm
