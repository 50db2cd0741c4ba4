// The PNG reader and writer: one datastream from a stream into a bitmap of 1, 4, 8, 16 or 24
// bits, or from a bitmap of 1 to 32 bits into a stream, with an optional 8-bit alpha bitmap
// (255 minus alpha) and the ancillary data the picture keeps.
#pragma once

#include "common/KRLStream.h"
#include "common/KRLZLIB.h"
#include "platform/rtl/Exceptions.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class EKRLPNG : public Exception {
public:
    using Exception::Exception;
};

namespace KRLPNGMsg {
inline constexpr const char* NotPNG = "PNG LoadStream: Not PNG Format";
inline constexpr const char* TwoIHDR = "Read Header(PNG): appear two IHDR";
inline constexpr const char* ColorType = "Read Header(PNG): Error ColorType";
inline constexpr const char* Compression = "Read Header(PNG): not support Compression";
inline constexpr const char* Filter = "Read Header(PNG): not supprt Filter";
inline constexpr const char* Interlace = "Read Header(PNG): not interlace type";
inline constexpr const char* GrayBitDepth = "Read Header(PNG): Error Bitdepth";
inline constexpr const char* GrayAlpha = "Read Header(PNG): not Use AlphaChannel";
inline constexpr const char* BitDepth = "Read Header(PNG): Error BitDepth";
inline constexpr const char* ImageSize = "Read Header(PNG): Error Image Size";
inline constexpr const char* Zlib = "PNG LoadStream: Error ZLIB";
inline constexpr const char* ReadError = "Read Image (PNG): Read Error";
inline constexpr const char* IDATSize = "Write PNG Param: Err IDAT Size(min:256  max:100000)";
inline constexpr const char* WriteError = "Write Image (PNG): Write Error";
} // namespace KRLPNGMsg

inline constexpr int32_t MinIDATSize = 256;
inline constexpr int32_t MaxIDATSize = 100000;

// The tIME record as the picture holds it.
struct TKRLPNGTime {
    uint16_t Year = 0;
    uint8_t Month = 0;
    uint8_t Day = 0;
    uint8_t Hour = 0;
    uint8_t Minute = 0;
    uint8_t Second = 0;
    friend bool operator==(const TKRLPNGTime&, const TKRLPNGTime&) = default;
};

// cHRM in file order: white x, white y, red x, red y, green x, green y, blue x, blue y (x 100000).
using TKRLPNGChromaticities = std::array<uint32_t, 8>;
// gIFg as it stands in the file.
using TKRLPNGGifExtension = std::array<uint8_t, 4>;

// The row hook: Row (RowBytes bytes, no filter byte) may be changed in place.
using TKRLPNGRowEvent = std::function<void(TObject* sender, uint8_t* row, int32_t rowBytes,
                                           int32_t rowIndex, const std::string& key)>;
using TKRLPNGKeyEvent = std::function<void(TObject* sender, std::string& key)>;

// The system clock's UTC time as a tIME record.
void GetUTCTime(TKRLPNGTime& time);
// Tests replace the clock; an empty function restores the system clock.
void SetUTCTimeOverride(std::function<void(TKRLPNGTime& time)> clock);

// Rows counted by the progress of the image data: all rows of all Adam7 passes the height
// allows, whatever the width.
int64_t TotalRows(int32_t interlaced, int64_t height);

class TKRLPNGReadStream : public TKRLCustomGraphicReadStream {
public:
    TKRLPNGReadStream();

    void ReadImage() override;
    void SetupBitmap() override;

    // Options, set before reading.
    bool FVerifySignature = true;
    bool FAllowGrayPalette = false;
    bool FSBIT16Bit = false;
    std::string FGivenKey;
    TKRLPNGKeyEvent OnKeyRequest;
    TKRLPNGRowEvent OnReadRow;
    TBitmap* FAlphaBitmap = nullptr;
    TKRLPNGTime* FTimeTarget = nullptr;
    TKRLPNGChromaticities* FPrimariesTarget = nullptr;
    TKRLPNGGifExtension* FGIFTarget = nullptr;

    // Results.
    int32_t FImageType = -1;
    bool FHasAlpha = false;
    bool FGray = false;
    int32_t FInterlace = 0;
    bool FGrayAlphaPalette = false;
    std::string FKey;
    double FGamma = 0;
    uint32_t FSigBits = 0;
    TColor FBackground = -1;
    TColor FTransparent = -1;
    std::array<uint8_t, 256> FPaletteAlpha{};

private:
    // Chunks met so far.
    static constexpr uint32_t sbHeader = 1;
    static constexpr uint32_t sbImage = 2;
    static constexpr uint32_t sbEnd = 4;
    static constexpr uint32_t sbPalette = 8;
    static constexpr uint32_t sbPrivate = 16;
    // A palette tRNS until the first IDAT decides what it becomes.
    static constexpr TColor PaletteTRNSPending = 0x01FFFFFF;

    using TRowConverter = const uint8_t* (TKRLPNGReadStream::*)();
    using TPlacer = void (TKRLPNGReadStream::*)(uint8_t* line, const uint8_t* row);

    // Chunks.
    void ReadChunks();
    void ReadChunkHeader();
    bool TakeChunkBytes(int32_t count);
    void SkipChunkRest();
    bool BeforeImage() const;
    bool BeforePalette() const;
    void ReadIHDR();
    void ReadPLTE();
    void ReadIDAT();
    void ReadIEND();
    void ReadbKGD();
    void ReadcHRM();
    void ReadgAMA();
    void ReadgIFg();
    void ReadpHYs();
    void ReadsBIT();
    void ReadtEXt();
    void ReadtIME();
    void ReadtRNS();
    void ReadtpNG();
    int32_t RefillIDAT(TInflateRows& ctx);
    TColor ReadGraySample();
    TColor ReadRGBSamples();
    void ResolvePaletteTransparency();
    void ApplyTransparency();

    // Rows.
    void SelectRowConverter();
    void CheckImageSize() const;
    void CheckImageData() const;
    void AllocRowBuffers();
    void FillUnreachedRows();
    void FreeRowBuffers();
    void ReadRows();
    void ReadPass(int32_t pass, int32_t width, int32_t height, int32_t& rowCount);
    void MakeAlphaFromPalette();

    const uint8_t* RowAsIs();
    const uint8_t* Expand2To4();
    const uint8_t* Gray16To8();
    const uint8_t* GrayAlpha8To8();
    const uint8_t* GrayAlpha16To8();
    const uint8_t* RGB8ToBGR();
    const uint8_t* RGB16ToBGR();
    const uint8_t* RGBA8ToBGR();
    const uint8_t* RGBA16ToBGR();
    const uint8_t* RGB8To565();
    const uint8_t* RGBA8To565();

    void CopyRow(uint8_t* line, const uint8_t* row);
    void CopyAlphaRow(uint8_t* line, const uint8_t* row);
    void PlaceBits1(uint8_t* line, const uint8_t* row);
    void PlaceBits4(uint8_t* line, const uint8_t* row);
    void PlaceBits8(uint8_t* line, const uint8_t* row);
    void PlaceBits16(uint8_t* line, const uint8_t* row);
    void PlaceBits24(uint8_t* line, const uint8_t* row);
    void PlaceAlphaPass(uint8_t* line, const uint8_t* row);

    // Chunk state.
    TInflateRows FInflate;
    int32_t FRemaining = 0;
    uint32_t FTypeCode = 0;
    uint32_t FSeen = 0;
    int32_t FHeaderDepth = 0;

    // Row state.
    TRowConverter FRowConverter = nullptr;
    TPlacer FPlace = nullptr;
    TPlacer FPlaceAlpha = nullptr;
    bool FConverterAlpha = false;
    int32_t FRawBits = 0;
    int32_t FLastPass = 0;
    int32_t FPassWidth = 0;
    int32_t FTargetRowBytes = 0;
    int32_t FDirectBytes = 0;
    int32_t FAlphaRowBytes = 0;
    int32_t FPassX = 0;
    int32_t FPassXStep = 1;
    int32_t FAlphaX = 0;
    int32_t FAlphaXStep = 1;
    std::unique_ptr<uint8_t[]> FRowBlock;
    uint8_t* FOutRow = nullptr;
    uint8_t* FAlphaRow = nullptr;
    TBitmap* FAlphaTarget = nullptr;
    bool FAlphaFromPalette = false;
    // Rows of a plain image placed so far; the rest get the fill rows when reading ends early.
    int32_t FRowsPlaced = 0;
    std::vector<uint8_t> FAlphaFillRow;
};

// The PNG writer: the source bitmap (1, 4 or 8 bits with a palette, or 15, 16, 24 or 32 bits),
// an accepted alpha bitmap and the settings the picture copies in, as one datastream.
class TKRLPNGWriteStream : public TKRLCustomGraphicWriteStream {
public:
    TKRLPNGWriteStream();
    ~TKRLPNGWriteStream() override;

    void WriteImage() override;

    // 256 to 100000, else EKRLPNG and the old size stays.
    void SetIDATSize(int32_t value);
    int32_t IDATSize() const { return FIDATSize; }

    // Length, type, data and CRC; ChunkType is the four letters as a big-endian number.
    void WriteChunk(uint32_t chunkType, const void* data, int32_t length);
    // A tEXt chunk; none for an empty text or a keyword of 80 bytes or more.
    void WriteText(const std::string& keyword, const std::string& text);
    // The grey sample of a colour at a source depth of Bits: 0/1, 0..15 or 0..255.
    static uint8_t ColorToGray(int32_t bits, TColor color);

    // Settings, copied in by the picture before writing.
    int32_t CompressionLevel = -1;
    int32_t FilterMode = 1;
    int32_t Interlaced = 0;
    bool GrayScale = false;
    TColor BackgroundColor = -1;
    TColor TransColor = -1;
    std::string Comment;
    double Gamma = 0;
    int32_t PhysUnit = 0;
    int32_t PixelsPerUnitX = 0;
    int32_t PixelsPerUnitY = 0;
    int32_t SignificantBits = 0;
    std::string RowKey;
    TKRLPNGRowEvent OnWriteRow;
    TBitmap* AlphaBitmap = nullptr;
    bool StampTime = true;
    const TKRLPNGTime* ModifiedTime = nullptr;
    const TKRLPNGChromaticities* Chromaticities = nullptr;
    const TKRLPNGGifExtension* GifExtension = nullptr;

private:
    using TConverter = void (TKRLPNGWriteStream::*)(const uint8_t* source, const uint8_t* alpha);

    // Chunks.
    void WriteIHDR();
    void WriteTIME();
    void WriteComment();
    void WriteTpNG();
    void WriteGIFg();
    void WriteGAMA();
    void WriteCHRM();
    void WriteSBIT();
    void WritePLTE();
    void WriteBKGD();
    void WriteTRNS();
    void WritePHYs();
    int32_t PaletteIndexOf(TColor color) const;
    int32_t GraySampleOf(TColor color) const;
    void WriteColorChunk(uint32_t chunkType, TColor color);

    // Rows.
    void WriteIDAT();
    void WritePass(int32_t x0, int32_t dx, int32_t y0, int32_t dy, int64_t& n);
    int32_t FlushIDAT(TDeflateRows& ctx);
    void ConvertRow(const uint8_t* source, const uint8_t* alpha);
    void SelectConverter();
    void BuildGrayTable();
    void AllocWriteRows();
    void FreeWriteRows();

    void CopySourceRow(const uint8_t* source, const uint8_t* alpha);
    void CopyInvertedRow(const uint8_t* source, const uint8_t* alpha);
    void CopyMappedNibbles(const uint8_t* source, const uint8_t* alpha);
    void GatherBits1(const uint8_t* source, const uint8_t* alpha);
    void GatherNibbles(const uint8_t* source, const uint8_t* alpha);
    void GatherBytes(const uint8_t* source, const uint8_t* alpha);
    template <bool Alpha>
    void MapIndexes(const uint8_t* source, const uint8_t* alpha);
    template <int Bits, bool Gray, bool Alpha>
    void ConvertColors(const uint8_t* source, const uint8_t* alpha);

    // The store behind IDATSize(), named as a property's field is.
    int32_t FIDATSize = 32768;

    // Per write.
    TBitmap* Alpha = nullptr;
    bool AlphaOut = false;
    bool GrayOut = false;
    int32_t SourceBits = 0;
    int32_t OutBits = 0;
    int32_t SourceStride = 0;
    TDeflateRows Deflate;

    // Rows of the current pass.
    std::unique_ptr<uint8_t[]> RowMemory;
    TConverter Converter = nullptr;
    int32_t PassWidth = 0;
    int32_t PassX0Units = 0;
    int32_t PassDXUnits = 1;
    int32_t PassX0 = 0;
    int32_t PassDX = 1;
    std::array<uint8_t, 256> GrayTable{};
};
