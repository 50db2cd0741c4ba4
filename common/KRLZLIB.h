// Between the PNG codec and zlib: image data inflated one filtered row at a time, and the five
// PNG row filters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <zlib.h>

inline constexpr int32_t InflateInBufferSize = 32768;
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
