// Between the PNG codec and zlib: image data inflated one filtered row at a time, raw rows
// filtered and deflated into IDAT-sized buffers, and the five PNG row filters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <zlib.h>

inline constexpr int32_t InflateInBufferSize = 32768;
// Output buffer sizes outside 1 .. DeflateBufferLimit - 1 fall back to the default.
inline constexpr int32_t DeflateDefaultBufferSize = 32768;
inline constexpr int32_t DeflateBufferLimit = 262144;
inline constexpr int ZlibMemLevel = 8;
inline constexpr int ZlibWindowBits = 15;

enum TPNGFilterType : uint8_t { ftNone = 0, ftSub = 1, ftUp = 2, ftAverage = 3, ftPaeth = 4 };

// zlib's allocation goes through the program's heap, failing cleanly with null.
voidpf KRLZAlloc(voidpf opaque, uInt items, uInt size);
void KRLZFree(voidpf opaque, voidpf address);

// The predictor of the Paeth filter: left, then above, then upper-left on ties. Comparing
// 3 x upper-left - (left + above) with the smaller and the larger of left and above gives the
// same choice as the three distances, in fewer steps that depend on the left byte, and with no
// branch to mispredict on photographs.
constexpr uint8_t PaethPredictor(int left, int above, int upperLeft) {
    const int threshold = 3 * upperLeft - (left + above);
    const int low = left < above ? left : above;
    const int high = left < above ? above : left;
    const int notLow = high <= threshold ? low : upperLeft;
    return static_cast<uint8_t>(threshold <= low ? high : notLow);
}

// Yields the image data one unfiltered row at a time. The reader owns Row and PriorRow (each
// the filter-type byte, then the row), sets RowBytes and BitsPerPixel per pass and exchanges
// the two after each row; Refill supplies compressed input.
struct TInflateRows {
    TInflateRows() = default;
    TInflateRows(const TInflateRows&) = delete;
    TInflateRows& operator=(const TInflateRows&) = delete;
    ~TInflateRows();

    void* Owner = nullptr;
    z_stream Stream{};
    std::unique_ptr<uint8_t[]> InBuffer;
    int32_t InBufferSize = 0;
    // Sets Stream's next_in and avail_in and answers 0, or answers non-zero to end the data.
    std::function<int32_t(TInflateRows&)> Refill;
    int32_t RowBytes = 0;
    uint8_t* Row = nullptr;
    uint8_t* PriorRow = nullptr;
    int32_t BitsPerPixel = 0;
};

// 0, or -1 when the buffer or zlib cannot be set up.
int32_t InflateRowsInit(TInflateRows& ctx);
// Fills Row with the next row and unfilters it; negative on failure.
int32_t ReadRow(TInflateRows& ctx);
// The last zlib result, or the refill result that stopped it; negative on failure.
int32_t InflateBytes(TInflateRows& ctx, uint8_t* dest, uint32_t count);
// 0, or -1 for an unknown filter type.
int32_t UnfilterRow(TInflateRows& ctx);
void InflateRowsReset(TInflateRows& ctx);
// Harmless when nothing is held.
void InflateRowsEnd(TInflateRows& ctx);

// Filters each raw row (fixed or adaptive choice) and deflates it; every full output buffer
// goes to Flush, the writer's IDAT chunk. The writer owns Row, PriorRow (raw rows, no filter
// byte), Filtered, Trial (filter byte, then the row) and the 256-counter Histogram, sets
// RowBytes per pass and exchanges Row and PriorRow after each row.
struct TDeflateRows {
    TDeflateRows() = default;
    TDeflateRows(const TDeflateRows&) = delete;
    TDeflateRows& operator=(const TDeflateRows&) = delete;
    ~TDeflateRows();

    void* Owner = nullptr;
    z_stream Stream{};
    std::unique_ptr<uint8_t[]> OutBuffer;
    int32_t OutBufferSize = 0;
    // Emits the first OutBufferSize - avail_out bytes of OutBuffer; non-zero stops compressing.
    std::function<int32_t(TDeflateRows&)> Flush;
    // Bytes of a filtered row, the filter-type byte included.
    int32_t RowBytes = 0;
    uint8_t* Row = nullptr;
    uint8_t* PriorRow = nullptr;
    int32_t BitsPerPixel = 0;
    // 0 adaptive, 1 None, 2 Sub, 3 Up, 4 Average, 5 Paeth, above 5 None; low byte only.
    int32_t FilterMode = 0;
    // The writer's source depth; only the adaptive choice looks at it.
    int32_t SourceBits = 0;
    uint8_t* Filtered = nullptr;
    uint8_t* Trial = nullptr;
    uint32_t* Histogram = nullptr;
};

// 0, or -1 when the buffer or zlib cannot be set up. Level -1 is zlib's default.
int32_t DeflateRowsInit(TDeflateRows& ctx, int32_t level, int32_t bufferSize);
// Chooses the filter and compresses the row; negative on failure.
int32_t WriteRow(TDeflateRows& ctx);
// The last zlib result, or the non-zero Flush result that stopped it.
int32_t DeflateBytes(TDeflateRows& ctx, const uint8_t* data, uint32_t count);
// Ends the compressed data and flushes the last, shorter buffer: 0, -1 when deflate fails,
// or the non-zero Flush result.
int32_t DeflateRowsFinish(TDeflateRows& ctx);
// Harmless when nothing is held.
void DeflateRowsEnd(TDeflateRows& ctx);
// Fills Filtered from Row and PriorRow by the filter mode.
void ChooseFilter(TDeflateRows& ctx);
// Higher is better; -1 means take this filter at once.
int32_t FilterScore(TDeflateRows& ctx, const uint8_t* buffer);
