// The libavcodec side of the compression manager: which encoders can write AVI frames from
// our DIB rows (found by trying them once and cached), and one encoder session that turns
// bottom-up DIB frames into one packet each.
#pragma once

#include "platform/graphics/Dib.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace vcm {

// Owners of libav objects.
struct AvDeleter {
    void operator()(AVCodecContext* p) const;
    void operator()(AVFrame* p) const;
    void operator()(AVPacket* p) const;
    void operator()(SwsContext* p) const;
};
template <class T>
using AvPtr = std::unique_ptr<T, AvDeleter>;

using Fourcc = uint32_t;

// An encoder that passed the trial: its FOURCC in AVI files and the pixel format it is fed.
struct Candidate {
    const AVCodec* codec = nullptr;
    std::string name;     // libavcodec's short name of the encoder
    std::string longName; // and its descriptive name
    Fourcc fccHandler = 0;
    int pixelFormat = -1;    // AVPixelFormat
    int fallbackFormat = -1; // for frame sizes that PixelFormat cannot take
    bool exact = false;      // gives back the very pixels of 24-bit frames
};

// The encoders that take frames of Input's bit count and size, in libavcodec's order, one per
// FOURCC. Built on first use for each bit count and size, then cached.
std::vector<Candidate> Candidates(const BITMAPINFOHEADER& input);
// Every encoder that takes frames of BitCount bits, whatever their size.
std::vector<Candidate> AllCandidates(int bitCount);
// The candidate with the FOURCC Handler for Input, if any.
std::optional<Candidate> FindCandidate(const BITMAPINFOHEADER& input, Fourcc handler);

// Every encoder's default quality: what ICQUALITY_DEFAULT gives, and where the dialog's slider
// starts.
inline constexpr int32_t DefaultQuality = 7500;

// How the user's settings reach the encoder (see Encoder.cpp for the mapping).
struct Settings {
    int32_t quality = -1;      // 0..10000, -1: the encoder's default
    int32_t keyFrameEvery = 0; // 0: the encoder's choice
    int32_t dataRate = 0;      // kilobytes per second, 0: no limit
    int32_t rate = 30;         // frames per second = Rate / Scale
    int32_t scale = 1;
};

// The input formats an encoder can be fed from: BI_RGB, bottom-up, 16 (RGB555) or 24 bits.
bool IsSupportedInput(const BITMAPINFOHEADER& input);
// Bytes of one DIB row (padded to four bytes).
int DibStride(const BITMAPINFOHEADER& input);

class Encoder {
public:
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Null when the encoder cannot be opened for Input with Settings.
    static std::unique_ptr<Encoder> Open(const Candidate& candidate, const BITMAPINFOHEADER& input,
                                         const Settings& settings);

    // The compressed stream's format: a BITMAPINFOHEADER (biSize counts the codec data that
    // follows it, as in an AVI stream format) with the codec data behind it.
    const std::vector<uint8_t>& OutputFormat() const { return outputFormat_; }
    const BITMAPINFOHEADER& OutputHeader() const;

    // Compresses one frame of DIB rows; ForceKey asks for a key frame. The packet stays
    // valid until the next call; false when the encoder failed or gave no packet.
    bool Compress(const void* bits, bool forceKey, const uint8_t*& data, int32_t& size, bool& key);
    // Ends the sequence; true when the encoder had no packet left over.
    bool Drain();

private:
    Encoder() = default;
    bool Start(const Candidate& candidate, int format, const BITMAPINFOHEADER& input,
               const Settings& settings);
    void ApplySpeed(const Candidate& candidate);
    void ApplySettings(const Settings& settings);
    void BuildOutputFormat(const Candidate& candidate, const BITMAPINFOHEADER& input);
    bool WritableFrame();

    AvPtr<AVCodecContext> context_;
    AvPtr<SwsContext> scaler_;
    AvPtr<AVFrame> frame_;
    AvPtr<AVPacket> packet_;
    BITMAPINFOHEADER input_;
    std::vector<uint8_t> rows_; // the caller's frame, copied with room to read past its end
    int64_t frameNumber_ = 0;
    int32_t keyFrameEvery_ = 0; // 0: where the encoder puts them
    std::vector<uint8_t> outputFormat_;
};

// Rows of a DIB in Input's format as top-down rows of Width x 3 bytes (blue, green, red).
std::vector<uint8_t> DibToBgr(const BITMAPINFOHEADER& input, const void* bits);
// One frame through Candidate and back, as the choose dialog previews it (Bgr as DibToBgr).
bool RoundTrip(const Candidate& candidate, const BITMAPINFOHEADER& input, const void* bits,
               const Settings& settings, std::vector<uint8_t>& bgr);

// A libavcodec decoder for what an Encoder wrote: the preview of the choose dialog and the
// trial of every candidate.
class Decoder {
public:
    // Format: an Encoder's OutputFormat (header and codec data). Null when there is no decoder.
    static std::unique_ptr<Decoder> Open(const std::vector<uint8_t>& format);
    // Decodes one packet into Bgr: top-down rows of Width x 3 bytes (blue, green, red); false
    // when the packet gave no picture of the format's size.
    bool Decode(const uint8_t* data, int32_t size, std::vector<uint8_t>& bgr);

private:
    Decoder() = default;
    AvPtr<AVCodecContext> context_;
    AvPtr<SwsContext> scaler_;
    AvPtr<AVFrame> frame_;
    AvPtr<AVPacket> packet_;
    int width_ = 0;
    int height_ = 0;
};

} // namespace vcm
