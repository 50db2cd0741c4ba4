// Buffered big-endian reading and writing for the PNG codec, with progress reported in phases.
// Short data does not raise here: it sets a sticky failure flag that the codec tests.
#pragma once

#include "platform/classes/Classes.h"
#include "platform/graphics/Bitmap.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr int32_t KRLStreamBufferSize = 65536;
// Blocks at least this long bypass the write buffer.
inline constexpr int32_t KRLDirectWriteSize = 65520;
inline constexpr int32_t MacBinaryHeaderSize = 128;

// Progress as integer percents: 0 at the start, 100 at the end, and in between phases that
// each take a share of what is left of 99 per cent.
struct TKRLProgressBlock {
    int32_t ProgressBase = 0;
    int32_t ProgressLast = 0;
    int32_t PhaseShare = 0;
    int32_t ProgressLeft = 0;
    int64_t PhaseTotal = 1;
    int32_t PhaseMode = 0;

    void Begin();
    void BeginPhase(int64_t total, int32_t percent);
    // True when Base + Advance is a new, larger percent; it is then the last one reported.
    bool Advance(int64_t advance);
};

class TKRLCustomReadStream : public TObject {
public:
    TKRLCustomReadStream() = default;
    TKRLCustomReadStream(const TKRLCustomReadStream&) = delete;
    TKRLCustomReadStream& operator=(const TKRLCustomReadStream&) = delete;
    ~TKRLCustomReadStream() override = default;

    // True asks the reading to stop.
    virtual bool Progress(int32_t percent);

    // Length of 0 or less: to the end of the source.
    void BeginRead(TStream& source, int64_t length);
    // Leaves the source just after the bytes used.
    void EndRead();

    uint8_t ReadByte();
    uint16_t ReadWordBE();
    uint32_t ReadLongBE();
    void ReadBlock(void* dest, int32_t count);
    void Skip(int32_t count);

    void BeginProgress();
    // Mode 0: by bytes read (Total is ignored); mode 1: by a count the caller reports.
    void BeginProgressPhase(int32_t mode, int64_t total, int32_t percent);
    void UpdateProgress(int64_t value);
    void EndProgress();

    int64_t Available() const { return available_; }
    int64_t Consumed() const { return consumed_; }
    // Bytes that may still be read.
    int64_t Remaining() const { return available_ - consumed_; }
    int32_t ProgressLast() const { return progress_.ProgressLast; }

    bool Stopped = false;
    bool Failed = false;
    bool CheckMacBinary = false;
    bool MacBinaryFound = false;

protected:
    TKRLProgressBlock progress_;
    int64_t PhaseStart = 0;
    int64_t PhaseCount = 0;

private:
    bool Want(int64_t count);
    bool BlockWanted(int32_t count);
    void Fill(int32_t keep);
    const uint8_t* Take(int32_t count);

    int64_t available_ = 0;
    int64_t consumed_ = 0;
    const uint8_t* cursor_ = nullptr;
    int64_t inBuffer_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
    int64_t startPosition_ = 0;
    TStream* source_ = nullptr;
};

class TKRLCustomGraphicReadStream : public TKRLCustomReadStream {
public:
    TKRLCustomGraphicReadStream();

    bool Progress(int32_t percent) override;
    virtual void ReadImage() = 0;
    // Prepares Target from Width, Height, BitsPerPixel and the palette buffer.
    virtual void SetupBitmap();

    // Bitmap none reads only the header.
    void ReadFromStream(TBitmap* bitmap, TStream& source, int64_t length);

    // 256 colour-table entries, made on first use and freed after each read.
    RGBQUAD* PaletteBuffer();
    bool HasPaletteBuffer() const { return paletteBuffer_ != nullptr; }
    void FreePaletteBuffer() { paletteBuffer_.reset(); }

    std::string Comment;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BitsPerPixel = 0;
    int32_t BitDepth = 0;
    int32_t PaletteCount = 0;
    int32_t PhysUnit = 0;
    uint32_t PixelsPerUnitX = 0;
    uint32_t PixelsPerUnitY = 0;
    TBitmap* Target = nullptr;
    std::string ProgressText;
    bool NoTarget = false;

protected:
    // Set by a reader that writes every byte of every row it reaches: the target is then not
    // cleared first, and TargetFillRow holds what a cleared row would hold, for the rest.
    bool OverwriteTarget = false;
    std::vector<uint8_t> TargetFillRow;

private:
    std::unique_ptr<std::array<RGBQUAD, 256>> paletteBuffer_;
};

class TKRLCustomWriteStream : public TObject {
public:
    TKRLCustomWriteStream();
    TKRLCustomWriteStream(const TKRLCustomWriteStream&) = delete;
    TKRLCustomWriteStream& operator=(const TKRLCustomWriteStream&) = delete;
    ~TKRLCustomWriteStream() override = default;

    virtual bool Progress(int32_t percent);

    void BeginWrite(TStream& destination);
    void WriteBlock(const void* data, int32_t count);
    void WriteLongBE(uint32_t value);
    void FlushBuffer();
    void FlushPending();

    void BeginProgress();
    // The mode is always by count here.
    void BeginProgressPhase(int32_t mode, int64_t total, int32_t percent);
    void UpdateProgress(int64_t value);
    void EndProgress();

    int64_t Written() const { return written_; }
    int32_t InBuffer() const { return inBuffer_; }
    int32_t ProgressLast() const { return progress_.ProgressLast; }

    bool Stopped = false;
    std::string ProgressText;

protected:
    TKRLProgressBlock progress_;
    TStream* Destination = nullptr;

private:
    int32_t inBuffer_ = 0;
    int64_t written_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
    uint8_t* cursor_ = nullptr;
};

class TKRLCustomGraphicWriteStream : public TKRLCustomWriteStream {
public:
    bool Progress(int32_t percent) override;
    virtual void WriteImage() = 0;
    void WriteToStream(TBitmap& bitmap, TStream& destination);

    TBitmap* Source = nullptr;
};

TPixelFormat PixelFormatFromBits(int32_t bits);
