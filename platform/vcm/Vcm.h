// The video compression manager: the video encoders of libavcodec that go into AVI files,
// the compressor choose dialog, and frame-sequence compression of 16- and 24-bit DIB frames.
#pragma once

#include "platform/avi/AviTypes.h"
#include "platform/graphics/Dib.h"

#include <cstdint>
#include <string>
#include <vector>

class QWidget;

inline constexpr FOURCC ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');

// COMPVARS flags.
inline constexpr uint32_t ICMF_COMPVARS_VALID = 0x01;

// Choose dialog flags.
inline constexpr uint32_t ICMF_CHOOSE_KEYFRAME = 0x01;
inline constexpr uint32_t ICMF_CHOOSE_DATARATE = 0x02;
inline constexpr uint32_t ICMF_CHOOSE_PREVIEW = 0x04;
inline constexpr uint32_t ICMF_CHOOSE_ALLCOMPRESSORS = 0x08;

inline constexpr int32_t ICQUALITY_LOW = 0;
inline constexpr int32_t ICQUALITY_HIGH = 10000;
inline constexpr int32_t ICQUALITY_DEFAULT = -1;

class TCompressor;
using HIC = TCompressor*;

// The compressor state of a frame sequence.
struct COMPVARS {
    int32_t cbSize = 0;
    uint32_t dwFlags = 0;
    HIC hic = nullptr; // the open compressor
    FOURCC fccType = 0;
    FOURCC fccHandler = 0; // comptypeDIB: no compressor
    BITMAPINFOHEADER* lpbiIn = nullptr;
    // The compressed frames' format from ICSeqCompressFrameStart until ICCompressorFree: the
    // header, whose biSize counts the codec data behind it, is the AVI stream format to write
    // (Huffyuv, Ut Video and Theora cannot be decoded without that codec data).
    BITMAPINFOHEADER* lpbiOut = nullptr;
    void* lpBitsOut = nullptr;
    void* lpBitsPrev = nullptr;
    int32_t lFrame = 0;
    int32_t lKey = 0;      // key frame every lKey frames; 0: the encoder's choice
    int32_t lDataRate = 0; // kilobytes per second; 0: no limit
    int32_t lQ = 0;        // 0..10000, ICQUALITY_DEFAULT: the encoder's default
    int32_t lKeyCount = 0;
    void* lpState = nullptr;
    int32_t cbState = 0;
};

// One compressor of the list.
struct TCompressorInfo {
    FOURCC fccHandler = 0;
    std::string name;        // as the dialog lists it
    std::string encoderName; // libavcodec's name of the encoder
};
// The compressors that take the given input format, in the dialog's order (by name).
std::vector<TCompressorInfo> ICCompressorList(const BITMAPINFOHEADER& input);

// Shows the choose dialog (through the dialogs facade) with Title; on confirmation fills
// Compvars (handler, quality, key-frame rate, data rate), opens the chosen compressor and
// returns True. StateData: with ICMF_CHOOSE_PREVIEW, a frame in Input's format to preview
// (otherwise unused). A cancelled dialog leaves Compvars as it was.
bool ICCompressorChoose(QWidget* owner, uint32_t flags, const BITMAPINFOHEADER* input,
                        const void* stateData, COMPVARS* compvars, const std::string& title);
// Starts a sequence of frames in the Input format; False when the compressor cannot.
bool ICSeqCompressFrameStart(COMPVARS* compvars, const BITMAPINFOHEADER* input);
// Compresses one frame; returns the compressed data (valid until the next call) and its size
// in Size, with Key set when the compressor made a key frame; null on failure.
const void* ICSeqCompressFrame(COMPVARS* compvars, uint32_t flags, const void* bits, bool* key,
                               int32_t* size);
void ICSeqCompressFrameEnd(COMPVARS* compvars);
// Closes the compressor that ICCompressorChoose opened; harmless when none is open.
void ICCompressorFree(COMPVARS* compvars);
